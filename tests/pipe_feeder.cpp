// Windows test helper: serves one named pipe while it runs a command.
//   pipe_feeder NAME TEXT COMMAND [ARGUMENTS...]
// Makes the pipe \\.\pipe\NAME with a single instance, starts the command,
// writes TEXT to the first client that connects, and ends with the
// command's status (125 when the helper itself fails).
#include <windows.h>

#include <cstring>
#include <string>

namespace {

// A POSIX path as Wine's drive Z: reaches it; any other path as it is.
std::string windows_path(std::string path) {
    if (path.empty() || path[0] != '/') return path;
    for (char& c : path) c = c == '/' ? '\\' : c;
    return "Z:" + path;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return 125;
    const std::string name = std::string("\\\\.\\pipe\\") + argv[1];
    HANDLE pipe = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_BYTE | PIPE_WAIT, 1, 65536, 65536, 0, nullptr);
    OVERLAPPED connect{};
    connect.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (pipe == INVALID_HANDLE_VALUE || connect.hEvent == nullptr) return 125;
    std::string command;
    for (int i = 3; i < argc; ++i) {
        command += (i > 3 ? " \"" : "\"") + (i == 3 ? windows_path(argv[i]) : argv[i]) + "\"";
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return 125;
    }
    // The first client, if one connects before the command ends, gets the text.
    const bool pending = !ConnectNamedPipe(pipe, &connect) && GetLastError() == ERROR_IO_PENDING;
    const HANDLE waits[] = {connect.hEvent, process.hProcess};
    if (!pending || WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) {
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
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 125;
    GetExitCodeProcess(process.hProcess, &status);
    return static_cast<int>(status);
}
