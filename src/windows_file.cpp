#include "windows_file.h"

#ifdef _WIN32

#include <cerrno>

namespace bankstitcher {

const wchar_t* wide_path(const char* path) {
    // The C runtime opens a path through the same code page conversion and
    // the same wide-character calls, so this reaches the file fopen reaches,
    // long paths included. Static: the longest path Windows takes.
    static wchar_t wide[32768];
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide, sizeof wide / sizeof wide[0]) == 0) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    return wide;
}

bool names_pipe_or_device(const char* path) {
    const auto separator = [](char c) { return c == '\\' || c == '/'; };
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (!(separator(path[0]) && separator(path[1]) && path[2] == '.' && separator(path[3]))) {
        return false;
    }
    const char* name = path + 4;
    const bool on_a_drive = letter(name[0]) && name[1] == ':' && separator(name[2]) && name[3] != '\0';
    return !on_a_drive;
}

int errno_for(unsigned long windows_error) {
    switch (windows_error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT:
            return EACCES;
        case ERROR_TOO_MANY_OPEN_FILES:
            return EMFILE;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_INVALID_HANDLE:
            return EBADF;
        default:
            return EINVAL;
    }
}

}  // namespace bankstitcher

#endif
