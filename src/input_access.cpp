#include "input_access.h"

#include <cerrno>

#ifdef _WIN32
#include <cstdio>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace bankstitcher {

#ifdef _WIN32

int why_unreadable(const char* path, const FileIdentity& file) {
    if (file.kind == FileKind::directory) {
        return EACCES;  // as the C runtime's fopen says of a directory
    }
    if (file.kind != FileKind::regular) {
        return 0;
    }
    std::FILE* stream = std::fopen(path, "rb");
    if (stream == nullptr) {
        return errno;
    }
    std::fclose(stream);
    return 0;
}

#else

int why_unreadable(const char* path, const FileIdentity& file) {
    switch (file.kind) {
        case FileKind::directory:
            return EISDIR;  // it opens, but reading it fails so
        case FileKind::socket:
            return ENXIO;  // as opening it fails
        case FileKind::regular: {
            // Opened as the run opens it, so that it fails, or waits on a
            // lease another process holds, just as the run's open would.
            const int fd = open(path, O_RDONLY | O_NOCTTY | O_CLOEXEC);
            if (fd < 0) {
                return errno;
            }
            close(fd);  // nothing was read or written: its result tells nothing
            return 0;
        }
        default:
            return faccessat(AT_FDCWD, path, R_OK, AT_EACCESS) == 0 ? 0 : errno;
    }
}

#endif

}  // namespace bankstitcher
