#include "image/bank_writer.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "messages.h"

namespace bankstitcher {

Status write_bank(Image& image) {
    if (std::fwrite(image.bank, 1, kBankSize, image.output) != kBankSize) {
        return report_write_failed(errno);
    }
    return kStatusOk;
}

Status write_program_bank(Image& image, std::FILE* program, std::uint64_t& consumed) {
    const std::size_t got = std::fread(image.bank, 1, kBankSize, program);
    std::memset(image.bank + got, 0, kBankSize - got);  // a short program is zero-filled
    // One byte more tells a file of exactly one bank from a longer one.
    const int extra = std::fgetc(program);
    consumed = got + (extra != EOF ? 1 : 0);
    if (std::ferror(program)) {
        return report_program_read_failed(errno);
    }
    if (extra != EOF) {
        report_program_too_large(kBankSize);
    }

    std::memcpy(image.header, image.bank, kHeaderSize);
    const Status status = write_bank(image);
    image.address = kFirstDataAddress;
    image.page = kFirstDataPage;
    return status;
}

Status write_data_file(Image& image, std::FILE* data, const char* path,
                       std::uint64_t& consumed) {
    report_data_start(image.address, image.page);
    consumed = 0;
    while (!std::feof(data)) {
        std::memcpy(image.bank, image.header, kHeaderSize);
        const std::size_t got = std::fread(image.bank + kHeaderSize, 1, kDataAreaSize, data);
        if (std::ferror(data)) {
            return report_data_read_failed(path, errno);
        }
        // A read that exactly consumed the file leaves EOF unset; the next
        // read yields nothing and must not produce a bank of zeros.
        if (got == 0) {
            break;
        }
        consumed += got;
        if (image.address >= kMaxImageSize) {
            return report_image_too_large(path);
        }
        std::memset(image.bank + kHeaderSize + got, 0, kDataAreaSize - got);  // short chunk
        const Status status = write_bank(image);
        if (status != kStatusOk) {
            return status;
        }
        image.page += kPageStep;
        image.address += static_cast<std::int32_t>(kBankSize);
    }
    return kStatusOk;
}

}  // namespace bankstitcher
