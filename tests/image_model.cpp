#include "image_model.h"

#include <iomanip>
#include <sstream>

namespace testing_support {
namespace {

const std::string kCredit = "Made with bankstitcher by Zorpe - zorpe.example/cartridge - ";

std::string hex(std::size_t value, int width) {
    std::ostringstream text;
    text << std::uppercase << std::hex << std::setfill('0') << std::setw(width) << value;
    return text.str();
}

// The "address (page)" part of a progress line for an image of `size` bytes.
std::string position(std::size_t size) {
    return "address " + hex(size, 0) + " (page >" + hex(0x6000 + 2 * (size / 8192), 4) + ")";
}

}  // namespace

ModelRun model_run(const std::string& out_path, const std::string& program,
                   const std::vector<DataFile>& data) {
    ModelRun run;
    std::string image = program.substr(0, 8192);
    image.resize(8192, '\0');
    const std::string header = image.substr(0, 128);
    if (program.size() > 8192) {
        run.lines.push_back("Warning - program file may be too large - only 8192 bytes read!");
    }

    for (const DataFile& file : data) {
        run.lines.push_back("Opened data file '" + file.path + "'");
        run.lines.push_back("- starting " + position(image.size()));
        for (std::size_t at = 0; at < file.bytes.size(); at += 8064) {
            std::string bank = header + file.bytes.substr(at, 8064);
            bank.resize(8192, '\0');
            image += bank;
        }
        run.lines.push_back("- ending " + position(image.size()));
    }

    std::size_t padded = 8192;
    while (padded < image.size()) {
        padded *= 2;
    }
    if (padded > image.size()) {
        run.lines.push_back("Padding to " + std::to_string(padded / 1024) + "k");
        if (padded > (2u << 20)) {
            run.lines.push_back("* Warning - 2MB is max cartridge board so far.");
        }
        if (padded > (32u << 20)) {
            run.lines.push_back("* Warning - 32MB is max posible with current bank switch.");
        }
        std::string bank = header;
        for (std::size_t k = 128; k < 8192; ++k) {
            bank += kCredit[k % kCredit.size()];
        }
        while (image.size() < padded) {
            image += bank;
        }
    }
    run.lines.push_back("Finished writing '" + out_path + "'.");
    run.image = image;
    return run;
}

}  // namespace testing_support
