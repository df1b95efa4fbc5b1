// Tells whether the output path names a file that is also an input.
#pragma once

namespace bankstitcher {

// True when `output` is an existing regular file and `input` is that same
// file, under whatever spelling or link. Devices are never the same file.
bool is_same_regular_file(const char* output, const char* input);

}  // namespace bankstitcher
