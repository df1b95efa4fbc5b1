// Writes bank 0 from the program file and the data banks of each data file.
#pragma once

#include "exit_status.h"
#include "image/image.h"

namespace bankstitcher {

// Writes one whole bank from the bank buffer; reports a failed write.
Status write_bank(ImageWriter& image);

// Reads the open program file, saves the startup header, writes bank 0.
Status write_program_bank(ImageWriter& image, std::FILE* program);

// Prints the starting line and appends the data banks of one open data file.
Status write_data_file(ImageWriter& image, std::FILE* data, const char* path);

}  // namespace bankstitcher
