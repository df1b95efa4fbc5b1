// Writes bank 0 from the program file and the data banks of each data file.
#pragma once

#include <cstdint>
#include <cstdio>

#include "exit_status.h"
#include "image/image.h"

namespace bankstitcher {

// Writes one whole bank from the bank buffer; reports a failed write.
Status write_bank(Image& image);

// Reads the open program file, saves the startup header, writes bank 0;
// `consumed` counts the bytes taken from the file (at most one bank and one
// byte more).
Status write_program_bank(Image& image, std::FILE* program, std::uint64_t& consumed);

// Prints the starting line and appends the data banks of one open data
// file; `consumed` counts the bytes read from it.
Status write_data_file(Image& image, std::FILE* data, const char* path,
                       std::uint64_t& consumed);

}  // namespace bankstitcher
