#include "file_identity.h"

#include <cerrno>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace bankstitcher {
namespace {

#ifdef _WIN32

// The identity of an open handle; a file with no file index (a device or a
// pipe) is a device.
FileIdentity identify_handle(HANDLE file) {
    const DWORD type = GetFileType(file);
    if (type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) {
        return {FileKind::device, 0, 0};
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (type != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info)) {
        return {FileKind::unknown, 0, 0};
    }
    const bool directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return {directory ? FileKind::other : FileKind::regular, info.dwVolumeSerialNumber,
            (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

#else

FileIdentity identify_stat(const struct stat& info) {
    FileKind kind = FileKind::other;
    if (S_ISREG(info.st_mode)) {
        kind = FileKind::regular;
    } else if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) {
        kind = FileKind::device;
    }
    return {kind, static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

#endif

}  // namespace

#ifdef _WIN32

FileIdentity identify_path(const char* path) {
    // The C runtime opens a path through the same code page conversion and
    // the same wide-character call, so this reaches the file fopen reaches,
    // long paths included. Static: the longest path Windows takes.
    static wchar_t wide[32768];
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide, sizeof wide / sizeof wide[0]) == 0) {
        errno = ENAMETOOLONG;
        return {FileKind::unknown, 0, 0};
    }
    HANDLE file = CreateFileW(wide, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return {FileKind::missing, 0, 0};
        }
        errno = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ? EACCES : EINVAL;
        return {FileKind::unknown, 0, 0};
    }
    const FileIdentity identity = identify_handle(file);
    CloseHandle(file);
    return identity;
}

FileIdentity identify_stream(std::FILE* stream) {
    const intptr_t handle = _get_osfhandle(_fileno(stream));
    if (handle == -1 || handle == -2) {
        return {FileKind::unknown, 0, 0};
    }
    return identify_handle(reinterpret_cast<HANDLE>(handle));
}

#else

FileIdentity identify_path(const char* path) {
    struct stat info {};
    if (stat(path, &info) != 0) {
        const bool missing = errno == ENOENT || errno == ENOTDIR;
        return {missing ? FileKind::missing : FileKind::unknown, 0, 0};
    }
    return identify_stat(info);
}

FileIdentity identify_stream(std::FILE* stream) {
    struct stat info {};
    if (fstat(fileno(stream), &info) != 0) {
        return {FileKind::unknown, 0, 0};
    }
    return identify_stat(info);
}

#endif

bool same_file(const FileIdentity& a, const FileIdentity& b) {
    const bool comparable = a.kind == FileKind::regular || a.kind == FileKind::other;
    return comparable && a.kind == b.kind && a.volume == b.volume && a.index == b.index;
}

bool may_be_same_open_file(const FileIdentity& a, const FileIdentity& b) {
    return a.kind == FileKind::unknown || b.kind == FileKind::unknown || same_file(a, b);
}

}  // namespace bankstitcher
