#include "run.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "file_identity.h"
#include "image/bank_writer.h"
#include "image/image.h"
#include "image/padder.h"
#include "messages.h"
#include "output_file.h"
#include "standard_streams.h"

namespace bankstitcher {
namespace {

// Stream buffers many banks long turn a system call per bank into one per
// few dozen banks, on the way in and on the way out. They are static: on the
// failure paths the output is flushed at process exit, after run() returns.
constexpr std::size_t kStreamBufferSize = 128 * 1024;  // 16 banks
char output_buffer[kStreamBufferSize];
char input_buffer[kStreamBufferSize];  // shared: one input is open at a time

// Gives a stream one of the fixed stream buffers; on failure it keeps its
// default buffer, which works too.
void use_buffer(std::FILE* stream, char* buffer) {
    std::setvbuf(stream, buffer, _IOFBF, kStreamBufferSize);
}

enum class InputOpen { ok, open_failed, unreadable, is_output };

// Returns the position of the first input (program, then data files) that
// is the open output under another spelling or link (`why` is is_output), or
// that cannot be looked up and so cannot be shown not to be it (open_failed,
// with errno). 0 when every input is safe to open. A missing input is safe
// here: it fails to open in its turn.
int unsafe_input(const FileIdentity& output, int argc, char** argv, InputOpen& why) {
    for (int i = 2; i < argc; ++i) {
        const FileIdentity found = identify_path(argv[i]);
        if (found.kind == FileKind::unknown || same_file(found, output)) {
            why = found.kind == FileKind::unknown ? InputOpen::open_failed : InputOpen::is_output;
            return i;
        }
    }
    return 0;
}

// Opens an input with the shared input buffer into `input`. `output` is the
// open output: an input that turns out to be that same file, or that cannot
// be examined once open, is closed unread (errno says why it failed).
InputOpen open_input(const char* path, const FileIdentity& output, std::FILE*& input) {
    input = std::fopen(path, "rb");
    if (input == nullptr) {
        return InputOpen::open_failed;
    }
    use_buffer(input, input_buffer);
    const FileIdentity identity = identify_stream(input);
    const int code = errno;
    if (identity.kind != FileKind::unknown && !same_file(identity, output)) {
        keep_messages_out_of(identity);
        return InputOpen::ok;
    }
    std::fclose(input);
    errno = code;
    return identity.kind == FileKind::unknown ? InputOpen::unreadable : InputOpen::is_output;
}

// Reports why the input at `position` (2 for the program) cannot be used,
// with errno, and returns the run's status.
Status report_unusable_input(InputOpen how, int position, const char* path) {
    const int code = errno;
    const bool program = position == 2;
    switch (how) {
        case InputOpen::is_output:
            return report_output_is_input(path);
        case InputOpen::unreadable:
            return program ? report_program_read_failed(code) : report_data_read_failed(path, code);
        default:
            return program ? report_program_open_failed(code) : report_data_open_failed(path, code);
    }
}

// Opens the output (argument 1) without truncating it, as `output`, and
// identifies the file that is open as `identity`, so that no link or rename
// in between can make it an input. It is locked, compared with every input,
// and truncated only once no input can be it. A refused output that this run
// created is removed again; one that another run holds is left to it.
Status open_checked_output(int argc, char** argv, std::FILE*& output, FileIdentity& identity) {
    const char* path = argv[1];
    bool created = false;
    output = open_output(path, created);
    if (output == nullptr) {
        return report_output_open_failed(errno);
    }
    // The output is refused: closed, and removed if this run made it.
    const auto refuse = [&] { discard_output(output, path, created, identity); };
    identity = identify_stream(output);
    if (identity.kind == FileKind::unknown) {
        refuse();
        return report_output_open_failed(errno);
    }
    keep_messages_out_of(identity);
    const OutputLock lock = lock_output(output, identity);
    if (lock != OutputLock::taken) {
        if (lock == OutputLock::failed) {
            refuse();
        }
        return report_output_open_failed(errno);
    }
    InputOpen why = InputOpen::ok;
    if (const int i = unsafe_input(identity, argc, argv, why)) {
        refuse();
        return report_unusable_input(why, i, argv[i]);
    }
    if (!truncate_output(output, identity)) {
        refuse();
        return report_output_open_failed(errno);
    }
    return kStatusOk;
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
    const int unfilled = prepare_standard_streams();
    if (unfilled >= 0) {
        return report_start_failed(unfilled, errno);
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
    // No message may land in a file the run reads or writes, not even one
    // printed before that file is open.
    for (int i = 1; i < argc; ++i) {
        keep_messages_out_of(identify_path(argv[i]));
    }

    // Touching the stream buffers up front keeps resident memory the same
    // for a tiny image and a huge one.
    std::memset(output_buffer, 0, sizeof output_buffer);
    std::memset(input_buffer, 0, sizeof input_buffer);

    static ImageWriter image;  // large; it lives for the whole run, like the streams
    FileIdentity output{FileKind::unknown};
    Status status = open_checked_output(argc, argv, image.output, output);
    if (status != kStatusOk) {
        return status;
    }
    use_buffer(image.output, output_buffer);

    std::FILE* program = nullptr;
    const InputOpen program_open = open_input(argv[2], output, program);
    if (program_open != InputOpen::ok) {
        return report_unusable_input(program_open, 2, argv[2]);
    }
    status = write_program_bank(image, program);
    if (status != kStatusOk) {
        return status;
    }

    for (int i = 3; i < argc; ++i) {
        const char* path = argv[i];
        std::FILE* data = nullptr;
        const InputOpen data_open = open_input(path, output, data);
        if (data_open != InputOpen::ok) {
            return report_unusable_input(data_open, i, path);
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
    report_finished(argv[1]);
    return finish_messages();
}

}  // namespace bankstitcher
