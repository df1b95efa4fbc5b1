#include "run.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "file_identity.h"
#include "image/bank_writer.h"
#include "image/image.h"
#include "image/padder.h"
#include "input_access.h"
#include "message_routing.h"
#include "messages.h"
#include "output_file.h"
#include "standard_streams.h"

namespace bankstitcher {
namespace {

// Stream buffers many banks long turn a system call per bank into one per
// 16 banks, on the way in and on the way out. They are static: on the
// failure paths the output is flushed at process exit, after run() returns.
constexpr std::size_t kStreamBufferSize = 128 * 1024;  // 16 banks
char output_buffer[kStreamBufferSize];
char input_buffer[kStreamBufferSize];  // shared: one input is open at a time

// Gives a stream one of the fixed stream buffers; on failure it keeps its
// default buffer, which works too.
void use_buffer(std::FILE* stream, char* buffer) {
    std::setvbuf(stream, buffer, _IOFBF, kStreamBufferSize);
}

// What the run does with one kind of input, the program file or a data
// file: its lines, how many banks it fills, and how it is written.
struct InputKind {
    Status (*open_failed)(const char* path, int code);
    Status (*read_failed)(const char* path, int code);
    Status (*changed)(const char* path);
    std::uint64_t (*banks)(std::uint64_t size);
    std::uint64_t read_at_most;  // bytes, of a file that has more
    // Writes its banks, with their lines; `consumed` counts the bytes taken.
    Status (*write)(Image& image, std::FILE* stream, const char* path, std::uint64_t& consumed);
};

// Bank 0: the first 8192 bytes of the program, and one byte more to tell
// that there was more.
const InputKind kProgramFile = {
    [](const char*, int code) { return report_program_open_failed(code); },
    [](const char*, int code) { return report_program_read_failed(code); },
    [](const char*) { return report_program_changed(); },
    [](std::uint64_t) -> std::uint64_t { return 1; },
    kBankSize + 1,
    [](Image& image, std::FILE* stream, const char*, std::uint64_t& consumed) {
        return write_program_bank(image, stream, consumed);
    },
};

// Data banks, for the whole of the file.
const InputKind kDataFile = {
    report_data_open_failed,
    report_data_read_failed,
    report_data_changed,
    data_banks,
    UINT64_MAX,
    [](Image& image, std::FILE* stream, const char* path, std::uint64_t& consumed) {
        report_data_opened(path);
        return write_data_file(image, stream, path, consumed);
    },
};

// Checks one input (see check_inputs), adding its banks to `banks`.
Status check_input(const char* path, const InputKind& kind, const FileIdentity& output_file,
                   std::uint64_t& banks) {
    const FileIdentity found = identify_path(path);
    if (found.kind == FileKind::unknown) {
        return kind.open_failed(path, errno);
    }
    if (same_file(found, output_file)) {
        return report_output_is_input(path);
    }
    const int error = read_error(path, found);
    if (error != 0) {
        return kind.open_failed(path, error);
    }
    banks += kind.banks(found.size);
    return banks > kMaxBanks ? report_image_too_large(path) : kStatusOk;
}

// Checks every input, in command-line order, before the output loses a
// byte; the first that fails ends the run with its own failure. An input
// fails when it is missing, or cannot be looked up and so cannot be shown
// not to be the output; when it is the output; when it cannot be read (a
// directory, a socket, a file the user may not read); and a data file fails
// when the banks of the regular files so far cannot fit the image. Streams
// count no banks here: the run bounds them as it reads them.
Status check_inputs(int argc, char** argv, const FileIdentity& output_file) {
    std::uint64_t banks = 0;
    Status status = check_input(argv[2], kProgramFile, output_file, banks);
    for (int i = 3; i < argc && status == kStatusOk; ++i) {
        status = check_input(argv[i], kDataFile, output_file, banks);
    }
    return status;
}

// Closes a refused output, removing it if this run created it, and returns
// the refusal's status.
Status refuse(const OutputFile& output, Status status) {
    discard_output(output);
    return status;
}

// Opens the output (argument 1) without truncating it, so that no link or
// rename in between can make it an input, locks it, checks every input
// against the file that is open, and only then truncates it. The failure is
// said before a refused output is removed, so that its code is the cause's.
Status open_checked_output(int argc, char** argv, OutputFile& output) {
    if (!open_output(argv[1], output)) {
        return report_output_open_failed(errno);
    }
    if (output.identity.kind == FileKind::unknown) {
        return refuse(output, report_output_open_failed(errno));
    }
    keep_messages_out_of(output.identity);
    const OutputLock lock = lock_output(output);
    if (lock == OutputLock::held_by_another_run) {
        return report_output_open_failed(errno);  // that run's file: left as it is
    }
    if (lock == OutputLock::failed) {
        return refuse(output, report_output_open_failed(errno));
    }
    const Status status = check_inputs(argc, argv, output.identity);
    if (status != kStatusOk) {
        return refuse(output, status);
    }
    if (!truncate_output(output)) {
        return refuse(output, report_output_open_failed(errno));
    }
    return kStatusOk;
}

// Opens an input with the shared input buffer, and checks it once more as
// the file that is open: one that has become the output since the check, or
// that cannot be examined, is not read. nullptr when it is not to be read.
std::FILE* open_input(const char* path, const InputKind& kind, const FileIdentity& output_file,
                      FileIdentity& identity, Status& status) {
    std::FILE* stream = std::fopen(path, "rb");
    if (stream == nullptr) {
        status = kind.open_failed(path, errno);
        return nullptr;
    }
    use_buffer(stream, input_buffer);
    identity = identify_stream(stream);
    if (identity.kind == FileKind::unknown) {
        status = kind.read_failed(path, errno);
        std::fclose(stream);
        return nullptr;
    }
    if (same_file(identity, output_file)) {
        // Left open until the process ends: closing any descriptor of the
        // output would drop the run's lock on it before its last bytes are
        // flushed at exit.
        status = report_output_is_input(path);
        return nullptr;
    }
    keep_messages_out_of(identity);
    return stream;
}

// Fails a regular input that was written while the run read it, so that no
// image mixes two versions of a file: its size or modification time is not
// what it was when it was opened, or the run took other than it should
// from it. Streams have no size.
Status check_unchanged(const char* path, const InputKind& kind, std::FILE* stream,
                       const FileIdentity& opened, std::uint64_t consumed) {
    if (opened.kind != FileKind::regular) {
        return kStatusOk;
    }
    const FileIdentity now = identify_stream(stream);
    if (now.kind == FileKind::unknown) {
        return kind.read_failed(path, errno);
    }
    if (!contents_changed(opened, now) && consumed == std::min(opened.size, kind.read_at_most)) {
        return kStatusOk;
    }
    return kind.changed(path);
}

// Opens one input, writes its banks into the image, checks that it did not
// change meanwhile, and closes it.
Status write_input(Image& image, const char* path, const InputKind& kind,
                   const FileIdentity& output_file) {
    FileIdentity opened{FileKind::unknown};
    Status status = kStatusOk;
    std::FILE* stream = open_input(path, kind, output_file, opened, status);
    if (stream == nullptr) {
        return status;
    }
    std::uint64_t consumed;  // set by the bank writer
    status = kind.write(image, stream, path, consumed);
    if (status == kStatusOk) {
        status = check_unchanged(path, kind, stream, opened, consumed);
    }
    std::fclose(stream);
    return status;
}

// Closes the finished output. A failed final flush or sync is a failed
// write, and so is an image whose file has lost its name meanwhile. The flush comes first
// and apart because some C runtimes' fclose (Wine's among them) returns
// success after a failed flush.
Status close_output(const OutputFile& output) {
    if (std::fflush(output.stream) != 0 || !sync_output(output)) {
        return report_write_failed(errno);
    }
    if (!output_has_name(output)) {
        return errno != 0 ? report_write_failed(errno) : report_output_removed();
    }
    if (std::fclose(output.stream) != 0) {
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
    start_message_routing();
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

    static Image image;  // large; it lives for the whole run, like the streams
    OutputFile output;
    Status status = open_checked_output(argc, argv, output);
    if (status != kStatusOk) {
        return status;
    }
    image.output = output.stream;
    use_buffer(output.stream, output_buffer);

    // Bank 0 from the program, then the data files in order, then the padding.
    status = write_input(image, argv[2], kProgramFile, output.identity);
    for (int i = 3; i < argc && status == kStatusOk; ++i) {
        status = write_input(image, argv[i], kDataFile, output.identity);
        if (status == kStatusOk) {
            report_data_end(image.address, image.page);
        }
    }
    if (status == kStatusOk) {
        status = pad_image(image);
    }
    if (status == kStatusOk) {
        status = close_output(output);
    }
    if (status != kStatusOk) {
        return status;
    }
    report_finished(argv[1]);
    return finish_messages();
}

}  // namespace bankstitcher
