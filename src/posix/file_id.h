// Which file an identity names on POSIX: its device and inode, or for a
// block device its device number alone, since every node of one block
// device reaches the same disk.
#pragma once

#include <cstdint>

namespace bankstitcher {

struct FileId {
    std::uint64_t device = 0;  // st_dev; 0 for a block device
    std::uint64_t inode = 0;   // st_ino, or a block device's st_rdev
};

// True when both ids name one file.
inline bool same_id(const FileId& a, const FileId& b) {
    return a.device == b.device && a.inode == b.inode;
}

}  // namespace bankstitcher
