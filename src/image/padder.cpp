#include "image/padder.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "image/bank_writer.h"
#include "messages.h"

namespace bankstitcher {
namespace {

// The credit line that fills every padding bank behind the startup header.
constexpr char kCredit[] = "Made with bankstitcher by Zorpe - zorpe.example/cartridge - ";
constexpr std::size_t kCreditLength = sizeof kCredit - 1;
static_assert(kCreditLength == 60, "the credit pattern is 60 characters long");

constexpr std::int32_t kBoardLimit = 2 * 1024 * 1024;        // largest board so far
constexpr std::int32_t kBankSwitchLimit = 32 * 1024 * 1024;  // bank-switch scheme

// The smallest 8192 * 2^k that is not below `address` (at most 1 GiB).
std::int32_t padded_size(std::int32_t address) {
    std::int32_t size = static_cast<std::int32_t>(kBankSize);
    while (size < address) {
        size *= 2;
    }
    return size;
}

}  // namespace

Status pad_image(Image& image) {
    const std::int32_t size = padded_size(image.address);
    const bool padding = size != image.address;
    if (padding) {
        report_padding(size);
    }
    // The warnings are about the image's size, whether or not it was padded.
    if (size > kBoardLimit) {
        report_past_board_size();
    }
    if (size > kBankSwitchLimit) {
        report_past_bank_switch_size();
    }
    if (!padding) {
        return kStatusOk;
    }

    // The pattern is anchored at byte 0, so the header hides its start.
    for (std::size_t k = 0; k < kBankSize; ++k) {
        image.bank[k] = static_cast<unsigned char>(kCredit[k % kCreditLength]);
    }
    std::memcpy(image.bank, image.header, kHeaderSize);

    for (std::int32_t at = image.address; at < size; at += static_cast<std::int32_t>(kBankSize)) {
        const Status status = write_bank(image);
        if (status != kStatusOk) {
            return status;
        }
    }
    return kStatusOk;
}

}  // namespace bankstitcher
