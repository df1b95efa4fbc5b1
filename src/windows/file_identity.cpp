// Files identified through Windows handles.
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstring>

#include "file_identity.h"
#include "handle_identity.h"
#include "windows_file.h"

namespace bankstitcher {

// A file with no file id (a device or a pipe) is a character device.
FileIdentity identify_handle(HANDLE file) {
    const DWORD type = GetFileType(file);
    if (type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) {
        return {FileKind::character_device};
    }
    if (type != FILE_TYPE_DISK) {
        errno = EBADF;
        return {FileKind::unknown};
    }
    // FileIdInfo also answers for a standard handle that Wine inherited from a
    // POSIX shell, where GetFileInformationByHandle fails.
    FILE_ID_INFO id;
    if (GetFileInformationByHandleEx(file, FileIdInfo, &id, sizeof id)) {
        // Without the standard information, a file counts as a regular file of
        // no known size, which the run bounds as it reads it.
        FILE_STANDARD_INFO standard{};
        GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard);
        FileIdentity identity{standard.Directory ? FileKind::directory : FileKind::regular};
        std::memcpy(&identity.id.index, id.FileId.Identifier, 8);
        std::memcpy(&identity.id.index_high, id.FileId.Identifier + 8, 8);
        identity.id.volume = id.VolumeSerialNumber;
        identity.id.volume_known = id.VolumeSerialNumber != 0;
        identity.size = static_cast<std::uint64_t>(standard.EndOfFile.QuadPart);
        FILE_BASIC_INFO basic{};
        GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic);
        identity.modified = static_cast<std::uint64_t>(basic.LastWriteTime.QuadPart);
        return identity;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) {
        errno = errno_for(GetLastError());
        return {FileKind::unknown};
    }
    const bool directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    FileIdentity identity{directory ? FileKind::directory : FileKind::regular,
                          {info.dwVolumeSerialNumber,
                           (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow}};
    identity.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    identity.modified = (std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                        info.ftLastWriteTime.dwLowDateTime;
    return identity;
}

FileIdentity identify_path(const char* path) {
    if (names_pipe_or_device(path)) {
        return {FileKind::character_device};
    }
    const wchar_t* wide = wide_path(path);
    if (wide == nullptr) {
        return {FileKind::unknown};
    }
    HANDLE file = CreateFileW(wide, FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        errno = errno_for(GetLastError());
        return {FileKind::unknown};
    }
    const FileIdentity identity = identify_handle(file);
    CloseHandle(file);
    return identity;
}

FileIdentity identify_stream(std::FILE* stream) {
    const intptr_t handle = _get_osfhandle(_fileno(stream));
    if (handle == -2) {
        return {FileKind::character_device};  // a standard stream with no handle: output goes nowhere
    }
    if (handle == -1) {
        errno = EBADF;
        return {FileKind::unknown};
    }
    return identify_handle(reinterpret_cast<HANDLE>(handle));
}

}  // namespace bankstitcher
