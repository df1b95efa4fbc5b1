#include "file_identity.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <windows.h>

#include "windows_file.h"
#else
#include <sys/stat.h>
#endif

namespace bankstitcher {
#ifdef _WIN32

// A file with no file id (a device or a pipe) is a device.
FileIdentity identify_handle(HANDLE file) {
    const DWORD type = GetFileType(file);
    if (type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) {
        return {FileKind::device};
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
        std::memcpy(&identity.index, id.FileId.Identifier, 8);
        std::memcpy(&identity.index_high, id.FileId.Identifier + 8, 8);
        identity.volume = id.VolumeSerialNumber;
        identity.volume_known = id.VolumeSerialNumber != 0;
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
                          info.dwVolumeSerialNumber,
                          (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
    identity.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    identity.modified = (std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                        info.ftLastWriteTime.dwLowDateTime;
    return identity;
}

FileIdentity identify_path(const char* path) {
    if (names_pipe_or_device(path)) {
        return {FileKind::device};
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
        return {FileKind::device};  // a standard stream with no handle: output goes nowhere
    }
    if (handle == -1) {
        errno = EBADF;
        return {FileKind::unknown};
    }
    return identify_handle(reinterpret_cast<HANDLE>(handle));
}

#else

namespace {

FileIdentity identify_stat(const struct stat& info) {
    // Every node of one block device reaches the same disk.
    if (S_ISBLK(info.st_mode)) {
        return {FileKind::disk, 0, static_cast<std::uint64_t>(info.st_rdev)};
    }
    FileIdentity identity{FileKind::other, static_cast<std::uint64_t>(info.st_dev),
                          static_cast<std::uint64_t>(info.st_ino)};
    if (S_ISREG(info.st_mode)) {
        identity.kind = FileKind::regular;
        identity.size = static_cast<std::uint64_t>(info.st_size);
#ifdef __APPLE__
        const struct timespec modified = info.st_mtimespec;
#else
        const struct timespec modified = info.st_mtim;
#endif
        identity.modified = static_cast<std::uint64_t>(modified.tv_sec) * 1000000000u +
                            static_cast<std::uint64_t>(modified.tv_nsec);
    } else if (S_ISCHR(info.st_mode)) {
        identity.kind = FileKind::device;
    } else if (S_ISDIR(info.st_mode)) {
        identity.kind = FileKind::directory;
    } else if (S_ISSOCK(info.st_mode)) {
        identity.kind = FileKind::socket;
    }
    return identity;
}

}  // namespace

FileIdentity identify_path(const char* path) {
    struct stat info {};
    if (stat(path, &info) != 0) {
        return {FileKind::unknown};
    }
    return identify_stat(info);
}

FileIdentity identify_stream(std::FILE* stream) {
    struct stat info {};
    if (fstat(fileno(stream), &info) != 0) {
        return {FileKind::unknown};
    }
    return identify_stat(info);
}

#endif

bool same_file(const FileIdentity& a, const FileIdentity& b) {
    const bool comparable = a.kind != FileKind::unknown && a.kind != FileKind::device;
    const bool same_volume = a.volume == b.volume || !a.volume_known || !b.volume_known;
    return comparable && a.kind == b.kind && same_volume && a.index == b.index &&
           a.index_high == b.index_high;
}

bool contents_changed(const FileIdentity& before, const FileIdentity& after) {
    return before.size != after.size || before.modified != after.modified;
}

bool may_be_same_open_file(const FileIdentity& a, const FileIdentity& b) {
    return a.kind == FileKind::unknown || b.kind == FileKind::unknown || same_file(a, b);
}

}  // namespace bankstitcher
