// The output file through Windows handles: opened with the C runtime's
// sharing, locked on one far byte, deleted through a handle of its own.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>

#include "handle_identity.h"
#include "output_file.h"
#include "windows_file.h"

namespace bankstitcher {

namespace {

// The Windows handle under a stream.
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
    output.made = created && output.identity.kind != FileKind::character_device ? path : nullptr;
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

}  // namespace bankstitcher
