// The output file through POSIX descriptors: created exclusively or opened
// without truncation, locked with fcntl, unlinked by name.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "output_file.h"

namespace bankstitcher {

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
    return output.identity.kind != FileKind::block_device || fsync(fileno(output.stream)) == 0;
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

}  // namespace bankstitcher
