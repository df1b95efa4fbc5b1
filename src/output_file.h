// The output file's life before the first bank: opened without truncation,
// locked against a second run, and truncated only once every input has been
// shown not to be it; or closed again, and removed if this run created it.
#pragma once

#include <cstdio>

#include "file_identity.h"

namespace bankstitcher {

// Opens `path` for writing, creating it if it is missing but never
// truncating it; `created` tells whether this call made the file. nullptr
// (with errno) when it cannot be opened.
std::FILE* open_output(const char* path, bool& created);

enum class OutputLock { taken, held_by_another_run, failed };

// Takes a lock on a regular output for the rest of the run; errno says why
// when it is not taken. File systems without locks go unlocked.
OutputLock lock_output(std::FILE* output, const FileIdentity& identity);

// Cuts a regular output to nothing; false (with errno) when that fails.
bool truncate_output(std::FILE* output, const FileIdentity& identity);

// Closes an output the run refused, and removes it when this run created it
// and `path` does not name another file by now; errno is kept.
void discard_output(std::FILE* output, const char* path, bool created,
                    const FileIdentity& identity);

}  // namespace bankstitcher
