// The standard streams on Windows: the console shows UTF-8.
#include <windows.h>

#include <cstdlib>

#include "standard_streams.h"

namespace bankstitcher {

namespace {

UINT console_code_page = 0;  // the console's own, given back at exit

// Gives the console its own code page back.
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

}  // namespace bankstitcher
