// Whether an input can be read, asked of POSIX without reading from it.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "input_access.h"

namespace bankstitcher {

int read_error(const char* path, const FileIdentity& file) {
    switch (file.kind) {
        case FileKind::directory:
            return EISDIR;  // it opens, but reading it fails so
        case FileKind::socket:
            return ENXIO;  // as Linux's open says of it
        case FileKind::regular: {
            // Opened for reading, so that it fails, or waits on a lease
            // another process holds, just as the run's open will. (The
            // flags are not the run's: the fault sweep tells the two opens
            // apart by them.)
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

}  // namespace bankstitcher
