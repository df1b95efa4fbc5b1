// Windows test helper: holds a file as another program may hold it while
// it runs a command.
//   file_holder MODE PATH COMMAND [ARGUMENTS...]
// MODE "read": PATH is open for reading, sharing read access alone, so
// that no handle may write it; "map": PATH is mapped into memory, so that
// its size cannot change. Ends with the command's status (125 when the
// helper itself fails).
#include <windows.h>

#include <cstring>

#include "windows_command.h"

int main(int argc, char** argv) {
    if (argc < 4) return 125;
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
