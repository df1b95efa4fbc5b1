// Every line the tool prints, and the stream it goes to. Messages go to
// standard output, or to standard error when the image itself is written
// there. A message that cannot be written is remembered, so that a run that
// would otherwise succeed ends by saying so.
#pragma once

#include <cstdint>

#include "file_identity.h"
#include "image/image.h"

namespace bankstitcher {

// Keeps every later message out of the output file: when standard output
// writes to it they go to standard error, and when that does too, nowhere.
void keep_messages_out_of(const FileIdentity& output);

// Flushes the messages; if any could not be written, says so on standard
// error and returns kStatusMessagesFailed, else kStatusOk.
Status finish_messages();

void print_usage();
void print_version();

Status report_output_open_failed(int code);
Status report_output_is_input(const char* path);
Status report_program_open_failed(int code);
Status report_program_read_failed(int code);
void report_program_too_large(std::size_t bytes_read);
Status report_data_open_failed(const char* path, int code);
void report_data_opened(const char* path);
void report_data_start(std::int32_t address, std::uint32_t page);
void report_data_end(std::int32_t address, std::uint32_t page);
Status report_data_read_failed(const char* path, int code);
Status report_image_too_large(const char* path);
void report_padding(std::int32_t padded_size);
void report_board_too_small();
void report_bank_switch_too_small();
Status report_write_failed(int code);
void report_finished(const char* path);

}  // namespace bankstitcher
