// A small model of the cartridge image, written from the image rules alone,
// that the tool's output is checked against.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct DataFile {
    std::string path;    // as passed on the command line
    std::string bytes;
};

struct ModelRun {
    std::string image;
    std::vector<std::string> lines;  // everything a successful run prints
};

// The image and messages of a successful run over these inputs.
ModelRun model_run(const std::string& out_path, const std::string& program,
                   const std::vector<DataFile>& data);

}  // namespace testing_support
