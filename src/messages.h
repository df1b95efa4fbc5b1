// Every line the tool prints, and the stream it goes to. Messages go to
// standard output, or to standard error when standard output is a file the
// run reads or writes. A message that cannot be written is remembered, so
// that a run that would otherwise succeed ends by saying so.
#pragma once

#include <cstdint>

#include "exit_status.h"
#include "file_identity.h"

namespace bankstitcher {

// Keeps every later message out of `file`, the output or an input: when
// standard output writes to it they go to standard error, and when that does
// too, nowhere. A standard stream that cannot be identified is never written
// to once any file is known. A file that is missing or cannot be examined
// changes nothing.
void keep_messages_out_of(const FileIdentity& file);

// Flushes the messages; if any could not be written, says so on standard
// error and returns kStatusMessagesFailed, else kStatusOk.
Status finish_messages();

// Says, on a standard stream that works, that the closed descriptor `fd`
// could not be filled.
Status report_start_failed(int fd, int code);

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
