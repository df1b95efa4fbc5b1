// Whether an input can be read, asked of Windows without reading from it.
#include <cerrno>
#include <cstdio>

#include "input_access.h"

namespace bankstitcher {

int read_error(const char* path, const FileIdentity& file) {
    if (file.kind == FileKind::directory) {
        return EACCES;  // as the C runtime's fopen says of a directory
    }
    if (file.kind != FileKind::regular) {
        return 0;  // a pipe or a device: checked as the run opens it
    }
    std::FILE* stream = std::fopen(path, "rb");
    if (stream == nullptr) {
        return errno;
    }
    std::fclose(stream);
    return 0;
}

}  // namespace bankstitcher
