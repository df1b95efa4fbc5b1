#include "output_file.h"

#include <cerrno>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace bankstitcher {

#ifdef _WIN32

namespace {

HANDLE handle_of(std::FILE* stream) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

}  // namespace

std::FILE* open_output(const char* path, bool& created) {
    const wchar_t* wide = wide_path(path);
    if (wide == nullptr) {
        return nullptr;
    }
    // The same sharing as the C runtime's fopen, so that a shell's redirection
    // to this file still works; a second run is kept out by the lock instead.
    HANDLE file = CreateFileW(wide, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        errno = errno_for(GetLastError());
        return nullptr;
    }
    created = GetLastError() != ERROR_ALREADY_EXISTS;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
    if (fd == -1) {
        CloseHandle(file);
        errno = EMFILE;
        return nullptr;
    }
    std::FILE* stream = _fdopen(fd, "wb");
    if (stream == nullptr) {
        const int code = errno;
        _close(fd);
        errno = code;
    }
    return stream;
}

OutputLock lock_output(std::FILE* output, const FileIdentity& identity) {
    if (identity.kind != FileKind::regular) {
        return OutputLock::taken;
    }
    // Windows locks keep other handles out of the locked bytes, so the lock is
    // on one byte far past any image, which only another run asks for.
    OVERLAPPED far_byte{};
    far_byte.OffsetHigh = 0x40000000;
    if (LockFileEx(handle_of(output), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                   &far_byte)) {
        return OutputLock::taken;
    }
    const DWORD error = GetLastError();
    errno = errno_for(error);
    if (error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION) {
        return OutputLock::taken;  // no locks on this file system
    }
    return error == ERROR_LOCK_VIOLATION ? OutputLock::held_by_another_run : OutputLock::failed;
}

bool truncate_output(std::FILE* output, const FileIdentity& identity) {
    if (identity.kind != FileKind::regular || SetEndOfFile(handle_of(output))) {
        return true;
    }
    errno = errno_for(GetLastError());
    return false;
}

void discard_output(std::FILE* output, const char* path, bool created,
                    const FileIdentity& identity) {
    const int code = errno;
    std::fclose(output);
    // Windows removes no open file, so the file is closed first; a device or a
    // pipe is never created.
    const wchar_t* wide = created && identity.kind != FileKind::device ? wide_path(path) : nullptr;
    if (wide != nullptr) {
        DeleteFileW(wide);
    }
    errno = code;
}

#else

std::FILE* open_output(const char* path, bool& created) {
    constexpr int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY;
    int fd = open(path, flags | O_EXCL, 0666);
    created = fd >= 0;
    if (fd < 0 && errno == EEXIST) {
        fd = open(path, flags, 0666);
    }
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* stream = fdopen(fd, "wb");
    if (stream == nullptr) {
        const int code = errno;
        if (created) {
            unlink(path);
        }
        close(fd);
        errno = code;
    }
    return stream;
}

OutputLock lock_output(std::FILE* output, const FileIdentity& identity) {
    if (identity.kind != FileKind::regular) {
        return OutputLock::taken;
    }
    struct flock whole_file {};  // from byte 0 (SEEK_SET) to the end, whatever it grows to
    whole_file.l_type = F_WRLCK;
    if (fcntl(fileno(output), F_SETLK, &whole_file) == 0) {
        return OutputLock::taken;
    }
    // Some network file systems have no locks at all; the run goes on there.
    if (errno == ENOLCK || errno == EOPNOTSUPP || errno == ENOSYS) {
        return OutputLock::taken;
    }
    const bool held = errno == EAGAIN || errno == EACCES;
    return held ? OutputLock::held_by_another_run : OutputLock::failed;
}

bool truncate_output(std::FILE* output, const FileIdentity& identity) {
    return identity.kind != FileKind::regular || ftruncate(fileno(output), 0) == 0;
}

void discard_output(std::FILE* output, const char* path, bool created,
                    const FileIdentity& identity) {
    const int code = errno;
    // Only the file this run made goes, not one that has taken its name since;
    // one that could not be examined was made by this run a moment ago.
    if (created &&
        (identity.kind == FileKind::unknown || same_file(identify_path(path), identity))) {
        unlink(path);
    }
    std::fclose(output);
    errno = code;
}

#endif

}  // namespace bankstitcher
