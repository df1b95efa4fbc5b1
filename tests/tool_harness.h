// Runs the real bankstitcher binary in a scratch directory and captures
// what it prints, its exit status and the files it leaves.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct ToolResult {
    int status;                       // exit status as the shell sees it (0..255)
    std::vector<std::string> lines;   // standard output, one entry per line
    std::string stderr_text;
};

// A fresh directory that is removed with everything in it when destroyed.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    std::string at(const std::string& name) const { return path_ + "/" + name; }
    void write(const std::string& name, const std::string& bytes) const;
    std::string read(const std::string& name) const;
    bool exists(const std::string& name) const;
    std::vector<std::string> names() const;

private:
    std::string path_;
};

// Runs the tool with `args`, its working directory set to `dir` (or to the
// directory `subdir` inside it).
ToolResult run_tool(const ScratchDir& dir, const std::vector<std::string>& args,
                    const std::string& subdir = "");

// True when the binary under test is the Windows build running under Wine.
bool testing_windows_build();

// The exit status a shell sees for a status returned from main.
int shell_status(int status);

// Deterministic bytes that differ from file to file and from offset to offset.
std::string pattern_bytes(std::size_t size, unsigned seed);

// Reports where two images first differ instead of dumping megabytes.
std::string first_difference(const std::string& actual, const std::string& expected);

}  // namespace testing_support
