// Which real file a path or an open stream is: device and inode on POSIX,
// volume and file index on Windows. Spellings, links and path lengths do
// not matter; only the file they reach does.
#pragma once

#include <cstdint>
#include <cstdio>

namespace bankstitcher {

enum class FileKind {
    missing,  // the path names no file
    unknown,  // the file could not be examined
    regular,
    device,   // a device (or a Windows pipe): never taken for another file
    other,    // a pipe, socket or directory
};

struct FileIdentity {
    FileKind kind;
    std::uint64_t volume;
    std::uint64_t index;
};

// The file a path names, looked up without opening its contents; errno
// tells why when the kind is unknown.
FileIdentity identify_path(const char* path);

// The file an open stream reads or writes.
FileIdentity identify_stream(std::FILE* stream);

// True when both name one file that is not a device: the null device may
// be input and output at once, and so may a terminal.
bool same_file(const FileIdentity& a, const FileIdentity& b);

// Like same_file, but for two open files, where not being able to tell
// counts as the same: the safe answer before reading from one of them.
bool may_be_same_open_file(const FileIdentity& a, const FileIdentity& b);

}  // namespace bankstitcher
