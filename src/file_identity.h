// Which real file a path or an open stream is: device and inode on POSIX,
// volume and file id on Windows, the device number for a block device (the
// platform's own file_id.h says how).
// Spellings, links and path lengths do not matter; only the file they reach
// does.
#pragma once

#include <cstdint>
#include <cstdio>

#include "file_id.h"  // the platform's FileId and same_id

namespace bankstitcher {

enum class FileKind {
    unknown,           // no file could be examined: none is there, or it cannot be looked up
    regular,
    block_device,      // a disk: one file, known by its device number
    character_device,  // (or a Windows pipe or device): many may use it at once, so it is
                       // never taken for another file
    directory,
    socket,            // a named socket: it exists, but opening it fails
    fifo,              // a FIFO, or another file read as a stream
};

struct FileIdentity {
    FileKind kind;
    FileId id{};                 // which file it is, where the kind has one
    std::uint64_t size = 0;      // in bytes; counted for regular files only
    std::uint64_t modified = 0;  // when its contents last changed, in the system's own units
};

// The file a path names, looked up without opening its contents; errno
// tells why when the kind is unknown (ENOENT: the path names no file). A Windows pipe or device
// name is not looked up at all (opening it would take a pipe's connection):
// it is a device until the run checks it through its open handle.
FileIdentity identify_path(const char* path);

// The file an open stream reads or writes; errno tells why when unknown.
FileIdentity identify_stream(std::FILE* stream);

// True when both name one file that is not a character device: the null
// device may be input and output at once, and so may a terminal.
bool same_file(const FileIdentity& a, const FileIdentity& b);

// True when a regular file's size or modification time differs between two
// looks at it: it was written between them.
bool contents_changed(const FileIdentity& before, const FileIdentity& after);

// Like same_file, but for two open files, where not being able to tell
// counts as the same: the safe answer before reading from one of them.
bool may_be_same_open_file(const FileIdentity& a, const FileIdentity& b);

}  // namespace bankstitcher
