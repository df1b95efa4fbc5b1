#include "run.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "image/bank_writer.h"
#include "image/image.h"
#include "image/padder.h"
#include "same_file.h"

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

// Prints the usage text; it names the tool by its fixed name.
void print_usage() {
    std::printf("bankstitcher <outfile> <program> <data1> <data2> <data3> ...\n");
    std::printf("Program is padded to 8k, then banks are appended.\n");
    std::printf("First 128 bytes of program is copied to each bank\n");
    std::printf("to handle startup.\n");
}

// Returns the first input (program, then data files) that is the output
// file itself, or nullptr when none is.
const char* input_that_is_output(int argc, char** argv) {
    for (int i = 2; i < argc; ++i) {
        if (is_same_regular_file(argv[1], argv[i])) {
            return argv[i];
        }
    }
    return nullptr;
}

// Closes the finished output; a failed final flush is a failed write.
Status close_output(std::FILE* output) {
    if (std::fclose(output) != 0) {
        return report_write_failure();
    }
    return kStatusOk;
}

}  // namespace

int run(int argc, char** argv) {
    if (argc < 4) {
        print_usage();
        return kStatusUsage;
    }
    const char* out_path = argv[1];

    // Truncating the output would destroy an input before it is read.
    if (const char* input = input_that_is_output(argc, argv)) {
        std::printf("Failed to open outfile, it is also the input file %s\n", input);
        return kStatusOutputOpenFailed;
    }

    // Touching the stream buffers up front keeps resident memory the same
    // for a tiny image and a huge one.
    std::memset(output_buffer, 0, sizeof output_buffer);
    std::memset(input_buffer, 0, sizeof input_buffer);

    // The image writer is large; it lives for the whole run, like the streams.
    static ImageWriter image;
    image.output = open_stream(out_path, "wb", output_buffer);
    if (image.output == nullptr) {
        std::printf("Failed to open outfile, code %d\n", errno);
        return kStatusOutputOpenFailed;
    }

    std::FILE* program = open_stream(argv[2], "rb", input_buffer);
    if (program == nullptr) {
        std::printf("Failed to open program file, code %d\n", errno);
        return kStatusProgramOpenFailed;
    }
    Status status = write_program_bank(image, program);
    if (status != kStatusOk) {
        return status;
    }

    for (int i = 3; i < argc; ++i) {
        const char* path = argv[i];
        std::FILE* data = open_stream(path, "rb", input_buffer);
        if (data == nullptr) {
            std::printf("Failed to open data file %s, code %d\n", path, errno);
            return kStatusDataOpenFailed;
        }
        std::printf("Opened data file '%s'\n", path);
        status = write_data_file(image, data, path);
        std::fclose(data);
        if (status != kStatusOk) {
            return status;
        }
        report_data_file_end(image);
    }

    status = pad_image(image);
    if (status != kStatusOk) {
        return status;
    }
    status = close_output(image.output);
    if (status != kStatusOk) {
        return status;
    }
    std::printf("Finished writing '%s'.\n", out_path);
    return kStatusOk;
}

}  // namespace bankstitcher
