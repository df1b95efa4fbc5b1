// The cartridge image: bank sizes, and the record of the image being
// written, which the bank writer and the padder share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace bankstitcher {

constexpr std::size_t kBankSize = 8192;
constexpr std::size_t kHeaderSize = 128;                   // startup header
constexpr std::size_t kDataAreaSize = kBankSize - kHeaderSize;  // 8064
constexpr std::int32_t kFirstDataAddress = 0x2000;         // after bank 0
constexpr std::uint32_t kFirstDataPage = 0x6002;           // page of bank 1
constexpr std::uint32_t kPageStep = 2;
// The image never grows past 131072 banks, so addresses and padded sizes
// stay far inside a signed 32-bit value.
constexpr std::int32_t kMaxImageSize = 1 << 30;
constexpr std::uint64_t kMaxBanks = std::uint64_t{kMaxImageSize} / kBankSize;  // 131072

// The data banks of a data file of `bytes` bytes: one per data area or part
// of one, none for an empty file.
constexpr std::uint64_t data_banks(std::uint64_t bytes) {
    return (bytes + kDataAreaSize - 1) / kDataAreaSize;
}

// The image being written: where it goes, the bank being built, and where
// the next data bank starts. It lives for the whole run.
struct Image {
    std::FILE* output;
    unsigned char bank[kBankSize];       // the bank being built
    unsigned char header[kHeaderSize];   // bytes 0..127 of bank 0
    std::int32_t address;                // image offset of the next data bank
    std::uint32_t page;                  // page of the bank at `address`
};

}  // namespace bankstitcher
