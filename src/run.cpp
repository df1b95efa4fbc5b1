#include "run.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "file_identity.h"
#include "image/bank_writer.h"
#include "image/image.h"
#include "image/padder.h"
#include "messages.h"
#include "standard_streams.h"

namespace bankstitcher {
namespace {

// Stream buffers many banks long turn a system call per bank into one per
// few dozen banks, on the way in and on the way out. They are static: on the
// failure paths the output is flushed at process exit, after run() returns.
constexpr std::size_t kStreamBufferSize = 128 * 1024;  // 16 banks
char output_buffer[kStreamBufferSize];
char input_buffer[kStreamBufferSize];  // shared: one input is open at a time

// Opens a file stream with one of the fixed stream buffers; nullptr if the
// file cannot be opened.
std::FILE* open_stream(const char* path, const char* mode, char* buffer) {
    std::FILE* stream = std::fopen(path, mode);
    if (stream != nullptr) {
        // On failure the stream keeps its default buffer, which works too.
        std::setvbuf(stream, buffer, _IOFBF, kStreamBufferSize);
    }
    return stream;
}

// Returns the first input (program, then data files) that is the existing
// output file under another spelling or link, or nullptr when none is.
// Inputs that cannot be looked up are not refused here: they either fail
// to open, or are compared with the output once open.
const char* input_that_is(const FileIdentity& output, int argc, char** argv) {
    for (int i = 2; i < argc; ++i) {
        if (same_file(identify_path(argv[i]), output)) {
            return argv[i];
        }
    }
    return nullptr;
}

// Opens an input with the shared input buffer. `output` is the open output:
// an input that turns out to be that same file is closed unread and
// reported through `is_output`.
std::FILE* open_input(const char* path, const FileIdentity& output, bool& is_output) {
    std::FILE* input = open_stream(path, "rb", input_buffer);
    is_output = input != nullptr && may_be_same_open_file(identify_stream(input), output);
    if (is_output) {
        std::fclose(input);
        return nullptr;
    }
    return input;
}

// Closes the finished output; a failed final flush is a failed write. The
// flush comes first and apart because some C runtimes' fclose (Wine's among
// them) returns success after a failed flush.
Status close_output(std::FILE* output) {
    if (std::fflush(output) != 0 || std::fclose(output) != 0) {
        return report_write_failed(errno);
    }
    return kStatusOk;
}

}  // namespace

int run(int argc, char** argv) {
    if (!prepare_standard_streams()) {
        return kStatusMessagesFailed;
    }
    // One argument is never a run, so these two take no command line away.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        print_version();
        return finish_messages();
    }
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        print_usage();
        return finish_messages();
    }
    if (argc < 4) {
        print_usage();
        return kStatusUsage;
    }
    const char* out_path = argv[1];

    // Truncating the output would destroy an input before it is read, so it
    // is looked up first; if it exists but cannot be examined, it is not
    // opened at all. Messages printed before it is open keep out of it too.
    const FileIdentity existing = identify_path(out_path);
    if (existing.kind == FileKind::unknown) {
        return report_output_open_failed(errno);
    }
    keep_messages_out_of(existing);
    if (const char* input = input_that_is(existing, argc, argv)) {
        return report_output_is_input(input);
    }

    // Touching the stream buffers up front keeps resident memory the same
    // for a tiny image and a huge one.
    std::memset(output_buffer, 0, sizeof output_buffer);
    std::memset(input_buffer, 0, sizeof input_buffer);

    // The image writer is large; it lives for the whole run, like the streams.
    static ImageWriter image;
    image.output = open_stream(out_path, "wb", output_buffer);
    if (image.output == nullptr) {
        return report_output_open_failed(errno);
    }
    // The output may only now exist, or a link may have changed: from here
    // on, inputs are compared with the file that is open.
    const FileIdentity output = identify_stream(image.output);
    keep_messages_out_of(output);

    bool is_output = false;
    std::FILE* program = open_input(argv[2], output, is_output);
    if (program == nullptr) {
        return is_output ? report_output_is_input(argv[2]) : report_program_open_failed(errno);
    }
    Status status = write_program_bank(image, program);
    if (status != kStatusOk) {
        return status;
    }

    for (int i = 3; i < argc; ++i) {
        const char* path = argv[i];
        std::FILE* data = open_input(path, output, is_output);
        if (data == nullptr) {
            return is_output ? report_output_is_input(path) : report_data_open_failed(path, errno);
        }
        report_data_opened(path);
        status = write_data_file(image, data, path);
        std::fclose(data);
        if (status != kStatusOk) {
            return status;
        }
        report_data_end(image.address, image.page);
    }

    status = pad_image(image);
    if (status != kStatusOk) {
        return status;
    }
    status = close_output(image.output);
    if (status != kStatusOk) {
        return status;
    }
    report_finished(out_path);
    return finish_messages();
}

}  // namespace bankstitcher
