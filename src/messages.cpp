#include "messages.h"

#include "message_routing.h"

namespace bankstitcher {

Status report_start_failed(int fd, int code) {
    say_on(fd == 2 ? stdout : stderr,
           "Failed to open the null device on closed descriptor %d, code %d\n", fd, code);
    return kStatusStartFailed;
}

void print_usage() {
    say("bankstitcher <outfile> <program> <data1> <data2> <data3> ...\n");
    say("Program is padded to 8k, then banks are appended.\n");
    say("First 128 bytes of program is copied to each bank\n");
    say("to handle startup.\n");
}

void print_version() { say("bankstitcher %s\n", BANKSTITCHER_VERSION); }

Status report_output_open_failed(int code) {
    return fail(kStatusOutputOpenFailed, "Failed to open outfile, code %d\n", code);
}

Status report_output_is_input(const char* path) {
    return fail(kStatusOutputOpenFailed, "Failed to open outfile, it is also the input file %s\n",
                path);
}

Status report_program_open_failed(int code) {
    return fail(kStatusProgramOpenFailed, "Failed to open program file, code %d\n", code);
}

Status report_program_read_failed(int code) {
    return fail(kStatusReadFailed, "Failed to read program file, code %d\n", code);
}

Status report_program_changed() {
    return fail(kStatusReadFailed, "Failed to read program file, it changed while it was read\n");
}

void report_program_too_large(std::size_t bytes_read) {
    say("Warning - program file may be too large - only %d bytes read!\n",
        static_cast<int>(bytes_read));
}

Status report_data_open_failed(const char* path, int code) {
    return fail(kStatusDataOpenFailed, "Failed to open data file %s, code %d\n", path, code);
}

void report_data_opened(const char* path) { say("Opened data file '%s'\n", path); }

void report_data_start(std::int32_t address, std::uint32_t page) {
    say("- starting address %X (page >%04X)\n", static_cast<unsigned>(address), page);
}

void report_data_end(std::int32_t address, std::uint32_t page) {
    say("- ending address %X (page >%04X)\n", static_cast<unsigned>(address), page);
}

Status report_data_read_failed(const char* path, int code) {
    return fail(kStatusReadFailed, "Failed to read data file %s, code %d\n", path, code);
}

Status report_data_changed(const char* path) {
    return fail(kStatusReadFailed, "Failed to read data file %s, it changed while it was read\n",
                path);
}

Status report_image_too_large(const char* path) {
    return fail(kStatusImageTooLarge, "Failed to append data file %s, image would exceed 1GB\n",
                path);
}

void report_padding(std::int32_t padded_size) {
    say("Padding to %dk\n", static_cast<int>(padded_size / 1024));
}

void report_past_board_size() { say("* Warning - 2MB is max cartridge board so far.\n"); }

void report_past_bank_switch_size() {
    say("* Warning - 32MB is max posible with current bank switch.\n");
}

Status report_write_failed(int code) {
    return fail(kStatusWriteFailed, "Failed to write outfile, code %d\n", code);
}

Status report_output_removed() {
    return fail(kStatusWriteFailed, "Failed to write outfile, it was removed during the run\n");
}

void report_finished(const char* path) { say("Finished writing '%s'.\n", path); }

}  // namespace bankstitcher
