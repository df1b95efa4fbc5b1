// Files identified by stat and fstat.
#include <sys/stat.h>

#include "file_identity.h"

namespace bankstitcher {
namespace {

// The identity of the file `info` describes.
FileIdentity identify_stat(const struct stat& info) {
    if (S_ISBLK(info.st_mode)) {
        return {FileKind::block_device, {0, static_cast<std::uint64_t>(info.st_rdev)}};
    }
    FileIdentity identity{FileKind::fifo, {static_cast<std::uint64_t>(info.st_dev),
                                           static_cast<std::uint64_t>(info.st_ino)}};
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
        identity.kind = FileKind::character_device;
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

}  // namespace bankstitcher
