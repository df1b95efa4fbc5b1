// Windows path names: their conversion, and whether one names a pipe or a
// device; and the C runtime's error numbers.
#include "windows_file.h"

#include <windows.h>

#include <cerrno>
#include <cwchar>
#include <cwctype>

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

namespace {

// True when `name` begins with `prefix` (lower case), in any letter case.
bool starts_with(const wchar_t* name, const wchar_t* prefix) {
    for (; *prefix != L'\0'; ++name, ++prefix) {
        if (std::towlower(*name) != *prefix) {
            return false;
        }
    }
    return true;
}

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

bool names_pipe_or_device(const char* path) {
    const wchar_t* wide = wide_path(path);
    if (wide == nullptr || !(is_separator(wide[0]) && is_separator(wide[1]) &&
                             (wide[2] == L'.' || wide[2] == L'?') && is_separator(wide[3]))) {
        return false;  // not in the device namespace: a name like any other
    }
    // Windows passes \\?\ names on as they are, and normalises every other
    // one first: separators, doubled separators, "." and "..", which may climb
    // out of \\.\pipe\ onto a drive. Static: the longest path Windows takes.
    static wchar_t full[32768];
    const wchar_t* name = wide;
    if (!(wide[0] == L'\\' && wide[1] == L'\\' && wide[2] == L'?' && wide[3] == L'\\')) {
        const DWORD length = GetFullPathNameW(wide, sizeof full / sizeof full[0], full, nullptr);
        if (length == 0 || length >= sizeof full / sizeof full[0]) {
            return true;  // cannot tell: it is not opened to look, which could take a pipe
        }
        name = full;
    }
    name += 4;  // past \\.\ or \\?\, which the normalised name keeps
    const wchar_t drive = static_cast<wchar_t>(name[0] | 0x20);
    const bool on_a_drive = drive >= L'a' && drive <= L'z' && name[1] == L':' && is_separator(name[2]);
    const bool on_a_share_or_volume = starts_with(name, L"unc\\") ||
                                      (starts_with(name, L"volume{") && std::wcschr(name, L'\\'));
    const bool named_pipe = starts_with(name, L"pipe\\") ||
                            starts_with(name, L"globalroot\\device\\namedpipe\\");
    const bool elsewhere_in_the_object_space = starts_with(name, L"globalroot\\") && !named_pipe;
    return !(on_a_drive || on_a_share_or_volume || elsewhere_in_the_object_space);
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
