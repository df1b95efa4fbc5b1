// Windows test helper: holds a file as another program may hold it while
// it runs a command.
//   file_holder MODE PATH COMMAND [ARGUMENTS...]
// MODE "read": PATH is open for reading, sharing read access alone, so
// that no handle may write it; "map": PATH is mapped into memory, so that
// its size cannot change; "retime": the command writes to the pipe
// \\.\pipe\retime, and once 16 KiB have come through, PATH is given
// another last-write time while the command, held by the pipe, is still
// reading whatever comes after. Ends with the command's status (125 when
// the helper itself fails).
#include <windows.h>

#include <cstring>

#include "windows_command.h"

// Reads `count` bytes from `pipe` (opened for overlapped use, `io` its
// record), or all it sends when `count` is 0; false when it sends fewer.
static bool drain(HANDLE pipe, OVERLAPPED& io, DWORD count) {
    char buffer[4096];
    DWORD got = 0;
    for (DWORD total = 0; count == 0 || total < count; total += got) {
        const DWORD want = count == 0 || count - total > sizeof buffer ? sizeof buffer : count - total;
        ResetEvent(io.hEvent);
        const bool read = ReadFile(pipe, buffer, want, nullptr, &io) || GetLastError() == ERROR_IO_PENDING;
        if (!read || !GetOverlappedResult(pipe, &io, &got, TRUE) || got == 0) return count == 0;
    }
    return true;
}

// Serves \\.\pipe\retime to the command as its output, and gives `path`
// another last-write time 16 KiB into it. A command that ends unconnected
// ends the wait for it.
static int retime(const char* path, char** command) {
    HANDLE pipe = CreateNamedPipeA("\\\\.\\pipe\\retime", PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
    OVERLAPPED connect{};
    connect.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    PROCESS_INFORMATION process{};
    if (pipe == INVALID_HANDLE_VALUE || connect.hEvent == nullptr ||
        !windows_helper::start_command(command, process)) {
        return 125;
    }
    const bool connected = windows_helper::wait_for_client(pipe, connect, process);
    const FILETIME early_2002{0x41648000, 0x01c19257};
    HANDLE file = CreateFileA(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool served = connected && drain(pipe, connect, 16384) && file != INVALID_HANDLE_VALUE &&
                        SetFileTime(file, nullptr, nullptr, &early_2002) && drain(pipe, connect, 0);
    CloseHandle(pipe);
    const int status = windows_helper::wait_command(process);
    return served ? status : 125;
}

int main(int argc, char** argv) {
    if (argc < 4) return 125;
    if (std::strcmp(argv[1], "retime") == 0) return retime(argv[2], argv + 3);
    const bool map = std::strcmp(argv[1], "map") == 0;
    HANDLE file = CreateFileA(argv[2], map ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                              map ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 125;
    if (map) {
        HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, 0, nullptr);
        if (mapping == nullptr || MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0) == nullptr) {
            return 125;
        }
    }
    PROCESS_INFORMATION process{};
    if (!windows_helper::start_command(argv + 3, process)) return 125;
    return windows_helper::wait_command(process);
}
