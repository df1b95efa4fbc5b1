// Windows test helper: serves one named pipe while it runs a command.
//   pipe_feeder NAME TEXT COMMAND [ARGUMENTS...]
// Makes the pipe \\.\pipe\NAME with a single instance, starts the command,
// writes TEXT to the first client that connects, and ends with the
// command's status (125 when the helper itself fails).
#include <windows.h>

#include <cstring>
#include <string>

#include "windows_command.h"

int main(int argc, char** argv) {
    if (argc < 4) return 125;
    const std::string name = std::string("\\\\.\\pipe\\") + argv[1];
    HANDLE pipe = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_BYTE | PIPE_WAIT, 1, 65536, 65536, 0, nullptr);
    OVERLAPPED connect{};
    connect.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (pipe == INVALID_HANDLE_VALUE || connect.hEvent == nullptr) return 125;
    PROCESS_INFORMATION process{};
    if (!windows_helper::start_command(argv + 3, process)) return 125;
    // The first client, if one connects before the command ends, gets the text.
    if (windows_helper::wait_for_client(pipe, connect, process)) {
        DWORD written = 0;
        OVERLAPPED write{};
        write.hEvent = connect.hEvent;
        ResetEvent(connect.hEvent);
        if (WriteFile(pipe, argv[2], static_cast<DWORD>(std::strlen(argv[2])), nullptr, &write) ||
            GetLastError() == ERROR_IO_PENDING) {
            GetOverlappedResult(pipe, &write, &written, TRUE);
        }
        FlushFileBuffers(pipe);
    }
    CloseHandle(pipe);
    return windows_helper::wait_command(process);
}
