// How runs end: usage, open failures, an output that is also an input, read
// and write failures and the 1 GiB bound, each with its lines and status.
#include <gtest/gtest.h>

#include <unistd.h>

#include <functional>

#include "image_model.h"
#include "tool_harness.h"

using namespace testing_support;

namespace {

const std::vector<std::string> kUsage = {
    "bankstitcher <outfile> <program> <data1> <data2> <data3> ...",
    "Program is padded to 8k, then banks are appended.",
    "First 128 bytes of program is copied to each bank",
    "to handle startup.",
};

// errno as the platform's C runtime numbers it.
int code(int linux_code, int windows_code) {
    return testing_windows_build() ? windows_code : linux_code;
}

std::string null_device() { return testing_windows_build() ? "NUL" : "/dev/null"; }

TEST(RunOutcome, FewerThanThreeArgumentsPrintUsageAndCreateNothing) {
    const std::vector<std::vector<std::string>> arg_lists = {{}, {"out.bin"}, {"out.bin", "p"}};
    for (const auto& args : arg_lists) {
        ScratchDir dir;
        dir.write("p", "program");
        const ToolResult result = run_tool(dir, args);
        EXPECT_EQ(result.status, shell_status(-1)) << args.size() << " arguments";
        EXPECT_EQ(result.lines, kUsage);
        EXPECT_FALSE(dir.exists("out.bin"));
    }
}

// A run that ends early: its setup, arguments, lines, status and what it
// leaves behind as the output file (a model image, or nothing at all).
struct EarlyEnd {
    const char* name;
    std::function<void(const ScratchDir&)> setup;
    std::vector<std::string> args;
    std::vector<std::string> lines;
    int status;
    std::function<std::string()> left_output;  // nullptr: no output file
};

std::string prog() { return pattern_bytes(300, 1); }
std::string data(std::size_t size) { return pattern_bytes(size, 2); }

// The image holding bank 0 and the banks of `files`, unpadded.
std::string unpadded(const std::vector<DataFile>& files) {
    std::string image = model_run("o", prog(), files).image;
    std::size_t banks = 1;
    for (const DataFile& file : files) {
        banks += (file.bytes.size() + 8063) / 8064;
    }
    return image.substr(0, banks * 8192);
}

void with_inputs(const ScratchDir& dir) {
    dir.write("prog.bin", prog());
    dir.write("d.dat", data(8065));
}

std::vector<EarlyEnd> early_ends() {
    return {
        {"OutputNotOpened", with_inputs, {"no/such/dir/out.bin", "prog.bin", "d.dat"},
         {"Failed to open outfile, code " + std::to_string(code(2, 2))}, 1, nullptr},
        {"OutputIsADirectory", [](const ScratchDir& d) { with_inputs(d); mkdir(d.at("sub").c_str(), 0700); },
         {"sub", "prog.bin", "d.dat"},
         {"Failed to open outfile, code " + std::to_string(code(21, 13))}, 1, nullptr},
        {"ProgramMissingLeavesEmptyOutput", with_inputs, {"out.bin", "nope.bin", "d.dat"},
         {"Failed to open program file, code 2"}, 2, [] { return std::string(); }},
        {"SecondDataFileMissingKeepsEarlierBanksUnpadded", with_inputs,
         {"out.bin", "prog.bin", "d.dat", "nope.dat", "d.dat"},
         {"Opened data file 'd.dat'", "- starting address 2000 (page >6002)",
          "- ending address 6000 (page >6006)", "Failed to open data file nope.dat, code 2"},
         3, [] { return unpadded({{"d.dat", data(8065)}}); }},
    };
}

TEST(RunOutcome, EarlyEndsPrintTheirLineAndStatusAndKeepWhatWasWritten) {
    for (const EarlyEnd& c : early_ends()) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        c.setup(dir);
        const ToolResult result = run_tool(dir, c.args);
        EXPECT_EQ(result.lines, c.lines);
        EXPECT_EQ(result.status, c.status);
        if (c.left_output) {
            EXPECT_EQ(first_difference(dir.read(c.args[0]), c.left_output()), "");
        } else {
            EXPECT_FALSE(dir.exists("out.bin"));
        }
    }
}

// The output names an existing file that is also an input: nothing is
// opened, so the input survives.
struct SameFileCase {
    const char* name;
    std::vector<std::string> args;  // run from the directory "work"
    std::string named;              // the input the message names
};

TEST(RunOutcome, OutputThatIsAlsoAnInputIsRefusedAndLeftUntouched) {
    const std::vector<SameFileCase> cases = {
        {"ProgramSpelledDifferently", {"prog.bin", "./prog.bin", "d.dat"}, "./prog.bin"},
        {"DataThroughParentDirectory", {"out.bin", "prog.bin", "d.dat", "../work/out.bin"},
         "../work/out.bin"},
        {"HardLinkToTheOutput", {"out.bin", "prog.bin", "link.bin"}, "link.bin"},
        {"FirstOfSeveralIsNamed", {"out.bin", "prog.bin", "link.bin", "out.bin"}, "link.bin"},
    };
    for (const SameFileCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir root;
        ASSERT_EQ(mkdir(root.at("work").c_str(), 0700), 0);
        const std::string work = "work/";
        root.write(work + "prog.bin", prog());
        root.write(work + "d.dat", data(100));
        root.write(work + "out.bin", "precious");
        ASSERT_EQ(link(root.at(work + "out.bin").c_str(), root.at(work + "link.bin").c_str()), 0);

        const ToolResult result = run_tool(root, c.args, "work");
        EXPECT_EQ(result.lines,
                  std::vector<std::string>{"Failed to open outfile, it is also the input file " + c.named});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(root.read(work + "out.bin"), "precious");
        EXPECT_EQ(root.read(work + "prog.bin"), prog());
    }
}

TEST(RunOutcome, DeviceAsOutputIsNotRefusedEvenWhenAlsoAnInput) {
    ScratchDir dir;
    dir.write("prog.bin", prog());
    const std::string null = null_device();
    const ToolResult result = run_tool(dir, {null, "prog.bin", null});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.lines, model_run(null, prog(), {{null, ""}}).lines);
}

TEST(RunOutcome, DirectoryAsDataFileIsAReadFailure) {
    ScratchDir dir;
    dir.write("prog.bin", prog());
    dir.write("d.dat", data(100));
    ASSERT_EQ(mkdir(dir.at("sub").c_str(), 0700), 0);
    const ToolResult result = run_tool(dir, {"out.bin", "prog.bin", "d.dat", "sub", "d.dat"});
    std::vector<std::string> lines = {"Opened data file 'd.dat'",
                                      "- starting address 2000 (page >6002)",
                                      "- ending address 4000 (page >6004)"};
    if (testing_windows_build()) {
        // The Windows runtime refuses to open a directory as a file at all.
        lines.push_back("Failed to open data file sub, code 13");
        EXPECT_EQ(result.status, 3);
    } else {
        lines.insert(lines.end(), {"Opened data file 'sub'", "- starting address 4000 (page >6004)",
                                   "Failed to read data file sub, code 21"});
        EXPECT_EQ(result.status, 4);
    }
    EXPECT_EQ(result.lines, lines);
    EXPECT_EQ(first_difference(dir.read("out.bin"), unpadded({{"d.dat", data(100)}})), "");
}

TEST(RunOutcome, DirectoryAsProgramIsAReadFailureWithoutBankZero) {
    ScratchDir dir;
    ASSERT_EQ(mkdir(dir.at("sub").c_str(), 0700), 0);
    dir.write("d.dat", data(100));
    const ToolResult result = run_tool(dir, {"out.bin", "sub", "d.dat"});
    if (testing_windows_build()) {
        EXPECT_EQ(result.lines, std::vector<std::string>{"Failed to open program file, code 13"});
        EXPECT_EQ(result.status, 2);
    } else {
        EXPECT_EQ(result.lines, std::vector<std::string>{"Failed to read program file, code 21"});
        EXPECT_EQ(result.status, 4);
    }
    EXPECT_EQ(dir.read("out.bin"), "");
}

TEST(RunOutcome, FullDiskIsAWriteFailureWithoutClosingLine) {
    if (testing_windows_build()) {
        GTEST_SKIP() << "Windows has no always-full device";
    }
    // Small and large images: the failure may surface at a bank or at close.
    for (const std::size_t size : {std::size_t{10}, std::size_t{300} * 8064}) {
        ScratchDir dir;
        dir.write("prog.bin", prog());
        dir.write("d.dat", data(size));
        const ToolResult result = run_tool(dir, {"/dev/full", "prog.bin", "d.dat"});
        EXPECT_EQ(result.status, 5);
        ASSERT_FALSE(result.lines.empty());
        EXPECT_EQ(result.lines.back(), "Failed to write outfile, code 28");
        for (const std::string& line : result.lines) {
            EXPECT_EQ(line.find("Finished"), std::string::npos);
        }
    }
}

TEST(RunOutcome, EndlessDataFileStopsAtOneGibibyte) {
    if (testing_windows_build()) {
        GTEST_SKIP() << "Windows has no endless device";
    }
    ScratchDir dir;
    dir.write("prog.bin", prog());
    const ToolResult result = run_tool(dir, {"/dev/null", "prog.bin", "/dev/zero"});
    EXPECT_EQ(result.lines, (std::vector<std::string>{
                                "Opened data file '/dev/zero'",
                                "- starting address 2000 (page >6002)",
                                "Failed to append data file /dev/zero, image would exceed 1GB"}));
    EXPECT_EQ(result.status, 6);
}

TEST(RunOutcome, ImageOfExactlyOneGibibyteIsValidAndOneByteMoreIsNot) {
    const std::size_t fills_image = std::size_t{131071} * 8064;
    for (const std::size_t size : {fills_image, fills_image + 1}) {
        ScratchDir dir;
        dir.write("prog.bin", prog());
        dir.write("big.dat", "");
        ASSERT_EQ(truncate(dir.at("big.dat").c_str(), static_cast<off_t>(size)), 0);  // sparse
        const ToolResult result = run_tool(dir, {null_device(), "prog.bin", "big.dat"});
        ASSERT_GE(result.lines.size(), 3u);
        if (size == fills_image) {
            EXPECT_EQ(result.lines[2], "- ending address 40000000 (page >46000)");
            EXPECT_EQ(result.lines.back(), "Finished writing '" + null_device() + "'.");
            EXPECT_EQ(result.status, 0);
        } else {
            EXPECT_EQ(result.lines[2], "Failed to append data file big.dat, image would exceed 1GB");
            EXPECT_EQ(result.status, 6);
        }
    }
}

}  // namespace
