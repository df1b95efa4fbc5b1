#include "same_file.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace bankstitcher {

#ifdef _WIN32

namespace {

// A file's identity on Windows: its volume and its index on that volume.
struct FileId {
    bool found;
    bool regular;
    DWORD volume;
    DWORD index_high;
    DWORD index_low;
};

// Looks up a file's identity without opening its contents for reading.
FileId file_id(const char* path) {
    FileId id{};
    HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return id;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(file, &info)) {
        id.found = true;
        id.regular = GetFileType(file) == FILE_TYPE_DISK &&
                     (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
        id.volume = info.dwVolumeSerialNumber;
        id.index_high = info.nFileIndexHigh;
        id.index_low = info.nFileIndexLow;
    }
    CloseHandle(file);
    return id;
}

}  // namespace

bool is_same_regular_file(const char* output, const char* input) {
    const FileId out = file_id(output);
    if (!out.found || !out.regular) {
        return false;
    }
    const FileId in = file_id(input);
    return in.found && in.volume == out.volume && in.index_high == out.index_high &&
           in.index_low == out.index_low;
}

#else

bool is_same_regular_file(const char* output, const char* input) {
    struct stat out {};
    struct stat in {};
    if (stat(output, &out) != 0 || !S_ISREG(out.st_mode)) {
        return false;
    }
    if (stat(input, &in) != 0) {
        return false;
    }
    return out.st_dev == in.st_dev && out.st_ino == in.st_ino;
}

#endif

}  // namespace bankstitcher
