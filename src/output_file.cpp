#include "output_file.h"

#include <cerrno>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "windows_file.h"
#else
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#endif

namespace bankstitcher {

#ifdef _WIN32

namespace {

HANDLE handle_of(std::FILE* stream) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

}  // namespace

bool open_output(const char* path, OutputFile& output) {
    const wchar_t* wide = wide_path(path);
    if (wide == nullptr) {
        return false;
    }
    // The same sharing as the C runtime's fopen, so that a shell's redirection
    // to this file still works; a second run is kept out by the lock instead.
    HANDLE file = CreateFileW(wide, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        errno = errno_for(GetLastError());
        return false;
    }
    const bool created = GetLastError() != ERROR_ALREADY_EXISTS;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
    if (fd == -1) {
        CloseHandle(file);
        errno = EMFILE;
        return false;
    }
    output.stream = _fdopen(fd, "wb");
    if (output.stream == nullptr) {
        const int code = errno;
        _close(fd);
        errno = code;
        return false;
    }
    output.identity = identify_handle(file);
    // A pipe or a device is never created.
    output.made = created && output.identity.kind != FileKind::device ? path : nullptr;
    return true;
}

OutputLock lock_output(const OutputFile& output) {
    if (output.identity.kind != FileKind::regular) {
        return OutputLock::taken;
    }
    // Windows locks keep other handles out of the locked bytes, so the lock is
    // on one byte far past any image, which only another run asks for.
    OVERLAPPED far_byte{};
    far_byte.OffsetHigh = 0x40000000;
    if (LockFileEx(handle_of(output.stream), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                   1, 0, &far_byte)) {
        return OutputLock::taken;
    }
    const DWORD error = GetLastError();
    errno = errno_for(error);
    if (error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION) {
        return OutputLock::taken;  // no locks on this file system
    }
    return error == ERROR_LOCK_VIOLATION ? OutputLock::held_by_another_run : OutputLock::failed;
}

bool truncate_output(const OutputFile& output) {
    if (output.identity.kind != FileKind::regular || SetEndOfFile(handle_of(output.stream))) {
        return true;
    }
    errno = errno_for(GetLastError());
    return false;
}

void discard_output(const OutputFile& output) {
    std::fclose(output.stream);
    const wchar_t* wide = output.made != nullptr ? wide_path(output.made) : nullptr;
    if (wide == nullptr) {
        return;
    }
    // Windows removes no file that is open without leave to, so the run's
    // own handle is closed first. The name is opened again, and the file it
    // now names is deleted through that handle only if it is the file this
    // run made (or one it could not examine a moment ago).
    HANDLE file = CreateFileW(wide, DELETE | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    if (output.identity.kind == FileKind::unknown ||
        same_file(identify_handle(file), output.identity)) {
        FILE_DISPOSITION_INFO remove{TRUE};
        SetFileInformationByHandle(file, FileDispositionInfo, &remove, sizeof remove);
    }
    CloseHandle(file);
}

bool sync_output(const OutputFile& output) {
    // No Windows output is a disk: a handle with no file id is not identified.
    (void)output;
    return true;
}

bool output_has_name(const OutputFile& output) {
    if (output.identity.kind != FileKind::regular) {
        return true;
    }
    FILE_STANDARD_INFO info;
    if (!GetFileInformationByHandleEx(handle_of(output.stream), FileStandardInfo, &info,
                                      sizeof info)) {
        errno = errno_for(GetLastError());
        return false;
    }
    errno = 0;
    return !info.DeletePending && info.NumberOfLinks > 0;
}

#else

namespace {

constexpr int kOutputFlags = O_WRONLY | O_CLOEXEC | O_NOCTTY;

// The path at which a dangling symbolic link, or a chain of them, ends: the
// file a write through the link would create. False (with errno) when the
// chain cannot be followed to a missing file.
bool dangling_link_target(const char* path, char (&target)[PATH_MAX]) {
    if (std::strlen(path) >= sizeof target) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::strcpy(target, path);
    for (int hops = 0; hops < 40; ++hops) {  // as many as the kernel follows
        char link[PATH_MAX];
        const ssize_t length = readlink(target, link, sizeof link);
        if (length < 0) {
            return errno == ENOENT;  // nothing there: the end of the chain
        }
        // A relative link is relative to the directory that holds it.
        const char* slash = std::strrchr(target, '/');
        const std::size_t kept =
            link[0] == '/' || slash == nullptr ? 0 : static_cast<std::size_t>(slash - target) + 1;
        if (kept + static_cast<std::size_t>(length) >= sizeof target) {
            errno = ENAMETOOLONG;
            return false;
        }
        std::memcpy(target + kept, link, static_cast<std::size_t>(length));
        target[kept + static_cast<std::size_t>(length)] = '\0';
    }
    errno = ELOOP;
    return false;
}

// Opens an existing output; a dangling link's target is created, as a shell's
// redirection would, and `made` names it.
int open_existing(const char* path, const char*& made) {
    static char target[PATH_MAX];  // lives as long as the run, like `made`
    int fd = open(path, kOutputFlags);
    if (fd < 0 && errno == ENOENT && dangling_link_target(path, target)) {
        fd = open(target, kOutputFlags | O_CREAT | O_EXCL, 0666);
        made = fd >= 0 ? target : nullptr;
    }
    struct stat info {};
    if (fd >= 0 && made == nullptr && fstat(fd, &info) == 0 && S_ISBLK(info.st_mode)) {
        // A disk is opened again for this run alone: Linux then refuses one
        // that is mounted or that another run writes (EBUSY).
        const int exclusive = open(path, kOutputFlags | O_EXCL);
        const int code = errno;
        close(fd);
        fd = exclusive;
        errno = code;
    }
    return fd;
}

}  // namespace

bool open_output(const char* path, OutputFile& output) {
    int fd = open(path, kOutputFlags | O_CREAT | O_EXCL, 0666);
    if (fd >= 0) {
        output.made = path;
    } else if (errno == EEXIST) {
        fd = open_existing(path, output.made);
    }
    if (fd < 0) {
        return false;
    }
    output.stream = fdopen(fd, "wb");
    if (output.stream == nullptr) {
        const int code = errno;
        if (output.made != nullptr) {
            unlink(output.made);
        }
        close(fd);
        errno = code;
        return false;
    }
    output.identity = identify_stream(output.stream);
    return true;
}

OutputLock lock_output(const OutputFile& output) {
    if (output.identity.kind != FileKind::regular) {
        return OutputLock::taken;
    }
    struct flock whole_file {};  // from byte 0 (SEEK_SET) to the end, whatever it grows to
    whole_file.l_type = F_WRLCK;
    if (fcntl(fileno(output.stream), F_SETLK, &whole_file) == 0) {
        return OutputLock::taken;
    }
    // Some network file systems have no locks at all; the run goes on there.
    if (errno == ENOLCK || errno == EOPNOTSUPP || errno == ENOTSUP || errno == ENOSYS) {
        return OutputLock::taken;
    }
    const bool held = errno == EAGAIN || errno == EACCES;
    return held ? OutputLock::held_by_another_run : OutputLock::failed;
}

bool truncate_output(const OutputFile& output) {
    return output.identity.kind != FileKind::regular || ftruncate(fileno(output.stream), 0) == 0;
}

void discard_output(const OutputFile& output) {
    // Only the file this run made goes, not one that has taken its name since;
    // one that could not be examined was made by this run a moment ago.
    if (output.made != nullptr && (output.identity.kind == FileKind::unknown ||
                                   same_file(identify_path(output.made), output.identity))) {
        unlink(output.made);
    }
    std::fclose(output.stream);
}

bool sync_output(const OutputFile& output) {
    return output.identity.kind != FileKind::disk || fsync(fileno(output.stream)) == 0;
}

bool output_has_name(const OutputFile& output) {
    struct stat info {};
    if (output.identity.kind != FileKind::regular) {
        return true;
    }
    if (fstat(fileno(output.stream), &info) != 0) {
        return false;
    }
    errno = 0;
    return info.st_nlink > 0;
}

#endif

}  // namespace bankstitcher
