// Every line the tool prints, one function each. Those for a failure that
// ends the run return its exit status.
#pragma once

#include <cstddef>
#include <cstdint>

#include "exit_status.h"

namespace bankstitcher {

// Says, on a standard stream that works, that the closed descriptor `fd`
// could not be filled.
Status report_start_failed(int fd, int code);

void print_usage();
void print_version();

Status report_output_open_failed(int code);
Status report_output_is_input(const char* path);
Status report_program_open_failed(int code);
Status report_program_read_failed(int code);
Status report_program_changed();
void report_program_too_large(std::size_t bytes_read);
Status report_data_open_failed(const char* path, int code);
void report_data_opened(const char* path);
void report_data_start(std::int32_t address, std::uint32_t page);
void report_data_end(std::int32_t address, std::uint32_t page);
Status report_data_read_failed(const char* path, int code);
Status report_data_changed(const char* path);
Status report_image_too_large(const char* path);
void report_padding(std::int32_t padded_size);
void report_past_board_size();        // the image is past 2 MiB, the largest board
void report_past_bank_switch_size();  // past 32 MiB, all the bank switch reaches
Status report_write_failed(int code);
Status report_output_removed();
void report_finished(const char* path);

}  // namespace bankstitcher
