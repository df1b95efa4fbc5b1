// A small model of the cartridge image, written from the image rules alone,
// that the tool's output is checked against.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace testing_support {

struct DataFile {
    std::string path;  // as passed on the command line
    std::string bytes;
};

struct ModelRun {
    std::string image;               // the whole image, padded
    std::vector<std::string> lines;  // everything a successful run prints
};

// "address A (page >P)" for the bank that starts at image offset `at`.
inline std::string position(std::size_t at) {
    char text[64];
    std::snprintf(text, sizeof text, "address %zX (page >%04zX)", at, 0x6000 + at / 4096);
    return text;
}

inline ModelRun model_run(const std::string& out_path, const std::string& program,
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
            image += (header + file.bytes.substr(at, 8064)).append(8192 - 128, '\0').substr(0, 8192);
        }
        run.lines.push_back("- ending " + position(image.size()));
    }

    std::size_t padded = 8192;
    while (padded < image.size()) padded *= 2;
    if (padded > image.size()) run.lines.push_back("Padding to " + std::to_string(padded / 1024) + "k");
    if (padded > (2u << 20)) run.lines.push_back("* Warning - 2MB is max cartridge board so far.");
    if (padded > (32u << 20)) {
        run.lines.push_back("* Warning - 32MB is max posible with current bank switch.");
    }
    if (padded > image.size()) {
        const std::string credit = "Made with bankstitcher by Zorpe - zorpe.example/cartridge - ";
        std::string bank = header;
        for (std::size_t k = 128; k < 8192; ++k) bank += credit[k % 60];
        while (image.size() < padded) image += bank;
    }
    run.lines.push_back("Finished writing '" + out_path + "'.");
    run.image = image;
    return run;
}

}  // namespace testing_support
