// The output file's life apart from the banks written to it: opened without
// truncation, locked against a second run, truncated only once every input
// has been shown not to be it, or closed again and removed if this run
// created it; and at the end, checked to still have a name.
#pragma once

#include <cstdio>

#include "file_identity.h"

namespace bankstitcher {

struct OutputFile {
    std::FILE* stream = nullptr;
    FileIdentity identity{FileKind::unknown};  // the file that is open
    const char* made = nullptr;  // the path of the file this run created, if it did
};

// Opens `path` for writing, creating it if it is missing (also at the end of
// a dangling symbolic link) but never truncating it, and identifies the file
// that is open; a block device is opened for this run alone. False (with
// errno) when it cannot be opened.
bool open_output(const char* path, OutputFile& output);

enum class OutputLock { taken, held_by_another_run, failed };

// Takes a lock on a regular output for the rest of the run; errno says why
// when it is not taken. File systems without locks go unlocked.
OutputLock lock_output(const OutputFile& output);

// Cuts a regular output to nothing; false (with errno) when that fails.
bool truncate_output(const OutputFile& output);

// Closes an output the run refused, and removes it when this run created it
// and it is still the file the run made.
void discard_output(const OutputFile& output);

// Hands what was written to a block device output to the device itself,
// so that a device that fails its writes late fails the run; false (with
// errno) when that fails. A regular file is left to its file system, as
// cp and linkers leave it.
bool sync_output(const OutputFile& output);

// False when a regular output has no name left (it or its directory was
// removed while the run wrote it), with errno 0, or when that cannot be
// told, with errno.
bool output_has_name(const OutputFile& output);

}  // namespace bankstitcher
