// Whole successful runs: image bytes and printed lines against the model.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>

#include "image_model.h"
#include "tool_harness.h"

using namespace testing_support;

namespace {

constexpr std::size_t kChunk = 8064;

// How a row's run differs from one that writes a new output from its inputs.
enum class Twist {
    none,
    over_longer_image,  // the output already holds a longer file
    // Large: zeros from sparse files into the null device, and only the
    // lines compared, which are all that such a size changes.
    lines_only,
    through_dangling_link,  // the output is a link to a file not there yet
};

struct LayoutCase {
    const char* name;
    std::size_t program_size;
    std::vector<std::pair<std::string, std::size_t>> data;  // path, size
    const char* out_path = "out.bin";
    Twist twist = Twist::none;
    const char* held = "";  // "MODE PATH": Windows' file_holder holds PATH so for the run
};

void PrintTo(const LayoutCase& c, std::ostream* out) { *out << c.name; }

const LayoutCase kLayoutCases[] = {
    {"EmptyProgramGivesZeroHeader", 0, {{"a.dat", 300}}},
    {"ProgramOfExactlyOneBankHasNoWarning", 8192, {{"a.dat", 10}}},
    {"ProgramOverOneBankWarnsAndDropsTheRest", 8193, {{"a.dat", 10}}},
    {"ProgramWellOverOneBankWarnsAndDropsTheRest", 9000, {{"a.dat", 10}}},
    {"EmptyDataFileAddsNoBank", 100, {{"empty.dat", 0}}},
    {"DataOfOneChunkIsOneBank", 100, {{"a.dat", kChunk}}},
    {"DataOneByteOverAChunkSpillsIntoASecondBank", 100, {{"a.dat", kChunk + 1}}},
    {"EachDataFileStartsANewBank", 100, {{"a.dat", 100}, {"b.dat", 100}}},
    {"SamePathTwiceIsAppendedTwice", 64, {{"a.dat", 9000}, {"b.dat", 5}, {"a.dat", 9000}}},
    {"FiveBanksPadToEight", 200, {{"a.dat", 4 * kChunk}}},
    {"SixteenDataBanks", 200, {{"a.dat", 16 * kChunk}}},
    {"PaddedToExactly2MiBDoesNotWarn", 200, {{"a.dat", 200 * kChunk}}},
    {"PaddedPast2MiBWarnsOnce", 200, {{"a.dat", 256 * kChunk}}},
    {"PaddedToExactly32MiBWarnsOnlyFor2MiB", 200, {{"a.dat", 2048 * kChunk}}, "", Twist::lines_only},
    {"PaddedPast32MiBWarnsTwice", 200, {{"a.dat", 4096 * kChunk}}, "", Twist::lines_only},
    {"PowerOfTwoPast2MiBWarnsWithoutPadding", 200, {{"a.dat", 511 * kChunk}}},
    {"PathsWithPercentSignsPrintAsPassed", 30, {{"100%d%s.dat", 50}}, "out%s%n.bin"},
    {"AddressesWithHexLettersPrintInUpperCase", 100, {{"a.dat", 4 * kChunk}, {"b.dat", 10}}},
    {"OverwritesALongerExistingImage", 100, {{"a.dat", 10}}, "out.bin", Twist::over_longer_image},
    {"CreatesTheFileADanglingLinkNames", 100, {{"a.dat", 10}}, "sub/out.bin",
     Twist::through_dangling_link},
    // An input another program reads, letting others only read it, is read.
    {"InputThatAnotherProgramReadsSharingReadAlone", 100, {{"a.dat", 10}}, "out.bin", Twist::none,
     "read a.dat"},
    {"NamesInAnyScriptAreUsedAsTyped", 30,
     {{"\u0100data.bin", 50}, {"\u65e5\u672c\U0001F600.dat", 60}, {"..\uff0fx.dat", 70}},
     "\u0100out.bin"},
};

class ImageLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(ImageLayout, MatchesTheModel) {
    const LayoutCase& c = GetParam();
    const bool lines_only = c.twist == Twist::lines_only;
    const bool through_link = c.twist == Twist::through_dangling_link;
    if (through_link && testing_windows_build()) GTEST_SKIP() << "a POSIX case";
    const std::string held = c.held;
    if (!held.empty() && !testing_windows_build()) GTEST_SKIP() << "a Windows holder";
    ScratchDir dir;
    const std::string program = pattern_bytes(c.program_size, 1);
    dir.write("prog.bin", program);
    std::map<std::string, std::string> files;
    std::vector<DataFile> data;
    const std::string out_path = lines_only ? null_device() : c.out_path;
    std::vector<std::string> args = {out_path, "prog.bin"};
    for (const auto& [path, size] : c.data) {
        if (files.count(path) == 0) {
            files[path] = lines_only ? std::string(size, '\0')
                                       : pattern_bytes(size, static_cast<unsigned>(files.size() + 2));
            dir.write(path, lines_only ? "" : files[path]);
            fs::resize_file(dir.path / path, size);
        }
        data.push_back({path, files[path]});
        args.push_back(path);
    }
    if (c.twist == Twist::over_longer_image) dir.write(c.out_path, std::string(1 << 20, 'x'));
    if (through_link) {  // relative to the link's own directory
        fs::create_directories((dir.path / c.out_path).parent_path());
        fs::create_symlink("made.bin", dir.path / c.out_path);
    }
    const ModelRun expected = model_run(out_path, program, data);
    RunSetup setup;
    if (!held.empty()) setup.launcher = file_holder(held);
    const ToolResult result = run_tool(dir, args, setup);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.lines, expected.lines);
    if (lines_only) return;
    EXPECT_EQ(first_difference(dir.read(c.out_path), expected.image), "");
    // A new image: read and write for all, less the umask.
    if (!testing_windows_build() && c.twist != Twist::over_longer_image) {
        const mode_t mask = umask(0);
        umask(mask);
        EXPECT_EQ(fs::status(dir.path / c.out_path).permissions(), fs::perms(0666 & ~mask));
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, ImageLayout, ::testing::ValuesIn(kLayoutCases),
                         [](const auto& test) { return std::string(test.param.name); });

// Figures worked out by hand, so that a fault shared by model and tool
// cannot pass unseen. The worked example: a 100-byte program and 20000 bytes
// of data fill four banks.
TEST(ImageLayoutByHand, WorkedExamplePrintsTheseLinesAndZeroFillsTheLastBank) {
    ScratchDir dir;
    dir.write("prog.bin", pattern_bytes(100, 1));
    dir.write("level.dat", pattern_bytes(20000, 2));
    const ToolResult result = run_tool(dir, {"cart.bin", "prog.bin", "level.dat"});
    EXPECT_EQ(result.lines, (std::vector<std::string>{
                                "Opened data file 'level.dat'", "- starting address 2000 (page >6002)",
                                "- ending address 8000 (page >6008)", "Finished writing 'cart.bin'."}));
    const std::string image = dir.read("cart.bin");
    ASSERT_EQ(image.size(), 0x8000u);
    EXPECT_EQ(image.substr(3 * 8192 + 128, 3872), pattern_bytes(20000, 2).substr(2 * 8064));
    EXPECT_EQ(image.substr(3 * 8192 + 128 + 3872), std::string(8192 - 128 - 3872, '\0'));
}

TEST(ImageLayoutByHand, PaddingBankIsHeaderThenCreditAnchoredAtByteZero) {
    ScratchDir dir;
    dir.write("prog.bin", pattern_bytes(200, 1));
    dir.write("a.dat", pattern_bytes(8065, 2));
    const ToolResult result = run_tool(dir, {"cart.bin", "prog.bin", "a.dat", "a.dat"});
    EXPECT_EQ(result.lines.at(6), "Padding to 64k");
    const std::string image = dir.read("cart.bin");
    ASSERT_EQ(image.size(), 65536u);
    const std::string pad = image.substr(5 * 8192, 8192);
    EXPECT_EQ(pad.substr(0, 128), image.substr(0, 128));
    EXPECT_EQ(pad.substr(128, 26), "h bankstitcher by Zorpe - ");  // 128 mod 60 = 8
    EXPECT_EQ(pad.substr(8192 - 8), "y Zorpe ");                   // ends on character 31
    EXPECT_EQ(image.substr(6 * 8192), pad + pad);
}

}  // namespace
