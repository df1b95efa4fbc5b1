// Which file an identity names on Windows: its volume's serial number and
// its file id on that volume.
#pragma once

#include <cstdint>

namespace bankstitcher {

struct FileId {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;       // the file id, or the low half of a 128-bit one
    std::uint64_t index_high = 0;  // the high half of a 128-bit file id
    // Windows names no volume (0) for a handle inherited from a POSIX shell
    // under Wine; such a file is compared by its id alone.
    bool volume_known = true;
};

// True when both ids name one file.
inline bool same_id(const FileId& a, const FileId& b) {
    const bool same_volume = a.volume == b.volume || !a.volume_known || !b.volume_known;
    return same_volume && a.index == b.index && a.index_high == b.index_high;
}

}  // namespace bankstitcher
