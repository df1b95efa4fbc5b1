// Comparing identities: the same on every platform, given its same_id.
#include "file_identity.h"

namespace bankstitcher {

bool same_file(const FileIdentity& a, const FileIdentity& b) {
    const bool comparable = a.kind != FileKind::unknown && a.kind != FileKind::character_device;
    return comparable && a.kind == b.kind && same_id(a.id, b.id);
}

bool contents_changed(const FileIdentity& before, const FileIdentity& after) {
    return before.size != after.size || before.modified != after.modified;
}

bool may_be_same_open_file(const FileIdentity& a, const FileIdentity& b) {
    return a.kind == FileKind::unknown || b.kind == FileKind::unknown || same_file(a, b);
}

}  // namespace bankstitcher
