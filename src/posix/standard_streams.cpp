// The standard streams on POSIX: closed descriptors filled, and the signals
// that would end a run half way turned into failed writes.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "standard_streams.h"

namespace bankstitcher {

int prepare_standard_streams() {
    // A reader that went away or a file-size limit must not end the run half
    // way: the write fails instead, and the run says so.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
            continue;
        }
        // open() takes the lowest free descriptor, which is this one.
        const int null_fd = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (null_fd != fd) {
            if (null_fd >= 0) {
                close(null_fd);
                errno = EBADF;
            }
            return fd;
        }
    }
    return -1;
}

}  // namespace bankstitcher
