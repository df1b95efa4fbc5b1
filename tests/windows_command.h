// Windows test helpers: start the command a helper runs beside the tool,
// and wait for its status.
#pragma once

#include <windows.h>

#include <string>

namespace windows_helper {

// A POSIX path as Wine's drive Z: reaches it; any other path as it is.
inline std::string windows_path(std::string path) {
    if (path.empty() || path[0] != '/') return path;
    for (char& c : path) c = c == '/' ? '\\' : c;
    return "Z:" + path;
}

// Starts `argv[0] argv[1] ...` (up to a null), the first word as a Windows
// path; false when it cannot be started.
inline bool start_command(char** argv, PROCESS_INFORMATION& process) {
    std::string command = "\"" + windows_path(argv[0]) + "\"";
    for (char** arg = argv + 1; *arg != nullptr; ++arg) command += " \"" + std::string(*arg) + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    return CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                          &startup, &process) != 0;
}

// Waits until a client connects to `pipe` (made for overlapped use, `io`
// with an event of its own) or the started command ends; true once one
// connected.
inline bool wait_for_client(HANDLE pipe, OVERLAPPED& io, const PROCESS_INFORMATION& process) {
    const bool pending = !ConnectNamedPipe(pipe, &io) && GetLastError() == ERROR_IO_PENDING;
    const HANDLE waits[] = {io.hEvent, process.hProcess};
    return !pending || WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0;
}

// Waits for a started command to end; its status, or 125.
inline int wait_command(const PROCESS_INFORMATION& process) {
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 125;
    GetExitCodeProcess(process.hProcess, &status);
    return static_cast<int>(status);
}

}  // namespace windows_helper
