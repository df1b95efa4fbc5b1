#include "standard_streams.h"

#ifdef _WIN32
#include <windows.h>

#include <cstdlib>
#else
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#endif

namespace bankstitcher {

#ifdef _WIN32

namespace {

UINT console_code_page = 0;  // the console's own, given back at exit

void restore_console_code_page() { SetConsoleOutputCP(console_code_page); }

}  // namespace

// The C runtime marks a standard handle that was closed at start as a
// device of its own, so no file it opens later can take that slot. Paths
// and messages are UTF-8 (the application manifest sets the code page);
// a console must be told to show them so, and gets its own back at exit.
int prepare_standard_streams() {
    console_code_page = GetConsoleOutputCP();
    if (console_code_page != 0 && console_code_page != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
        std::atexit(restore_console_code_page);
    }
    return -1;
}

#else

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

#endif

}  // namespace bankstitcher
