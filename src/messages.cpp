#include "messages.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>

namespace bankstitcher {
namespace {

// Set when that stream writes to a file the run reads or writes, or when it
// cannot be told whether it does.
bool stdout_excluded = false;
bool stderr_excluded = false;
int first_write_error = 0;  // errno of the first message not written, or 0
// The files the standard streams write to. Plain variables, not function
// statics, whose guarded start would bring in the C++ runtime library.
bool streams_identified = false;
FileIdentity stdout_identity{FileKind::unknown};
FileIdentity stderr_identity{FileKind::unknown};

// Standard output, or standard error when standard output is excluded;
// nullptr when both are: then messages are dropped.
std::FILE* message_stream() {
    if (!stdout_excluded) {
        return stdout;
    }
    return stderr_excluded ? nullptr : stderr;
}

void remember_write_error() {
    if (first_write_error == 0) {
        first_write_error = errno != 0 ? errno : EIO;
    }
}

// Prints one message on `stream`, unless it is nullptr; the format is
// always one of the fixed texts below, never a path.
void vsay(std::FILE* stream, const char* format, std::va_list args) {
    if (stream != nullptr && std::vfprintf(stream, format, args) < 0) {
        remember_write_error();
    }
}

#ifdef __GNUC__
__attribute__((format(printf, 2, 3)))
#endif
void say_on(std::FILE* stream, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    vsay(stream, format, args);
    va_end(args);
}

// Prints one message on the message stream.
#ifdef __GNUC__
__attribute__((format(printf, 1, 2)))
#endif
void say(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    vsay(message_stream(), format, args);
    va_end(args);
}

// Prints the last line of a failed run. When it cannot reach standard
// output, it goes to standard error too, so that the failure is never silent.
#ifdef __GNUC__
__attribute__((format(printf, 2, 3)))
#endif
Status fail(Status status, const char* format, ...) {
    std::va_list args;
    std::va_list again;
    va_start(args, format);
    va_copy(again, args);
    std::FILE* stream = message_stream();
    vsay(stream, format, args);
    if (stream != nullptr && std::fflush(stream) != 0) {
        remember_write_error();
    }
    if (first_write_error != 0 && stream == stdout && !stderr_excluded) {
        vsay(stderr, format, again);
    }
    va_end(again);
    va_end(args);
    return status;
}

}  // namespace

void keep_messages_out_of(const FileIdentity& file) {
    // The standard streams are identified once, before the first file.
    if (!streams_identified) {
        stdout_identity = identify_stream(stdout);
        stderr_identity = identify_stream(stderr);
        streams_identified = true;
    }
    if (file.kind == FileKind::missing || file.kind == FileKind::unknown) {
        return;
    }
    stdout_excluded = stdout_excluded || may_be_same_open_file(stdout_identity, file);
    stderr_excluded = stderr_excluded || may_be_same_open_file(stderr_identity, file);
}

Status finish_messages() {
    std::FILE* stream = message_stream();
    if (stream != nullptr && std::fflush(stream) != 0) {
        remember_write_error();
    }
    if (first_write_error == 0) {
        return kStatusOk;
    }
    // Said on standard error, unless that is a file the run reads or writes.
    say_on(stderr_excluded ? nullptr : stderr, "Failed to write standard output, code %d\n",
           first_write_error);
    return kStatusMessagesFailed;
}

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

Status report_image_too_large(const char* path) {
    return fail(kStatusImageTooLarge, "Failed to append data file %s, image would exceed 1GB\n",
                path);
}

void report_padding(std::int32_t padded_size) {
    say("Padding to %dk\n", static_cast<int>(padded_size / 1024));
}

void report_board_too_small() { say("* Warning - 2MB is max cartridge board so far.\n"); }

void report_bank_switch_too_small() {
    say("* Warning - 32MB is max posible with current bank switch.\n");
}

Status report_write_failed(int code) {
    return fail(kStatusWriteFailed, "Failed to write outfile, code %d\n", code);
}

void report_finished(const char* path) { say("Finished writing '%s'.\n", path); }

}  // namespace bankstitcher
