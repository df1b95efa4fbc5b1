#include "message_routing.h"

#include <cerrno>
#include <cstdarg>

namespace bankstitcher {
namespace {

// The files the standard streams write to.
FileIdentity stdout_identity{FileKind::unknown};
FileIdentity stderr_identity{FileKind::unknown};
// Set when that stream writes to a file the run reads or writes, or when it
// cannot be told whether it does.
bool stdout_excluded = false;
bool stderr_excluded = false;
int first_write_error = 0;  // errno of the first message not written, or 0

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

BANKSTITCHER_PRINTF(2, 0)
void vsay(std::FILE* stream, const char* format, std::va_list args) {
    if (stream != nullptr && std::vfprintf(stream, format, args) < 0) {
        remember_write_error();
    }
}

void flush(std::FILE* stream) {
    if (stream != nullptr && std::fflush(stream) != 0) {
        remember_write_error();
    }
}

}  // namespace

void start_message_routing() {
    stdout_identity = identify_stream(stdout);
    stderr_identity = identify_stream(stderr);
}

void keep_messages_out_of(const FileIdentity& file) {
    if (file.kind == FileKind::unknown) {
        return;
    }
    stdout_excluded = stdout_excluded || may_be_same_open_file(stdout_identity, file);
    stderr_excluded = stderr_excluded || may_be_same_open_file(stderr_identity, file);
}

void say_on(std::FILE* stream, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    vsay(stream, format, args);
    va_end(args);
}

void say(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    vsay(message_stream(), format, args);
    va_end(args);
}

Status fail(Status status, const char* format, ...) {
    std::va_list args;
    std::va_list again;
    va_start(args, format);
    va_copy(again, args);
    std::FILE* stream = message_stream();
    vsay(stream, format, args);
    flush(stream);
    if (first_write_error != 0 && stream == stdout && !stderr_excluded) {
        vsay(stderr, format, again);
    }
    va_end(again);
    va_end(args);
    return status;
}

Status finish_messages() {
    flush(message_stream());
    if (first_write_error == 0) {
        return kStatusOk;
    }
    // Said on standard error, unless that is a file the run reads or writes.
    say_on(stderr_excluded ? nullptr : stderr, "Failed to write standard output, code %d\n",
           first_write_error);
    return kStatusMessagesFailed;
}

}  // namespace bankstitcher
