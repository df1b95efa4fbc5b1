// How runs end: usage, open failures, an output that is also an input, read
// and write failures and the 1 GiB bound, each with its lines and status.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <tuple>

#include "image_model.h"
#include "tool_harness.h"

using namespace testing_support;

namespace {

using Lines = std::vector<std::string>;

// errno as the platform's C runtime numbers it.
std::string code(int linux_code, int windows_code) {
    return std::to_string(testing_windows_build() ? windows_code : linux_code);
}
std::string null_device() { return testing_windows_build() ? "NUL" : "/dev/null"; }
// Whether the tool can open this device: Windows has none of them, and not
// every POSIX system has each.
bool has_device(const char* path) { return !testing_windows_build() && fs::exists(path); }
const std::string kProgram = pattern_bytes(300, 1);
const std::string kData = pattern_bytes(8065, 2);  // two banks

ScratchDir& with_inputs(ScratchDir& dir) {
    dir.write("prog.bin", kProgram);
    dir.write("d.dat", kData);
    dir.write("old.bin", "an old image");
    fs::create_directory(dir.path / "sub");
    fs::create_symlink("loop.bin", dir.path / "loop.bin");
    return dir;
}

// Every file and directory below `root`, to tell that a run created nothing.
std::set<std::string> listing(const fs::path& root) {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        names.insert(entry.path().lexically_relative(root).string());
    }
    return names;
}

// A path to `name` in the current directory, spelled over 260 characters long.
std::string long_spelling(const std::string& name) {
    std::string path;
    for (int i = 0; i < 140; ++i) path += testing_windows_build() ? ".\\" : "./";
    return path + name;
}

TEST(RunOutcome, FewerThanThreeArgumentsPrintUsageAndCreateNothing) {
    const Lines usage = {"bankstitcher <outfile> <program> <data1> <data2> <data3> ...",
                         "Program is padded to 8k, then banks are appended.",
                         "First 128 bytes of program is copied to each bank", "to handle startup."};
    const std::vector<std::tuple<Lines, int, Lines>> cases = {  // arguments, status, lines
        {{}, 255, usage},
        {{"out.bin"}, 255, usage},
        {{"out.bin", "prog.bin"}, 255, usage},
        {{"--help"}, 0, usage},
        {{"--version"}, 0, {std::string("bankstitcher ") + BANKSTITCHER_VERSION}},
        {{"--version", "prog.bin"}, 255, usage},
        {{"-h"}, 255, usage},
    };
    for (const auto& [args, status, lines] : cases) {
        SCOPED_TRACE(args.empty() ? "no arguments" : args[0]);
        ScratchDir dir;
        const ToolResult result = run_tool(with_inputs(dir), args);
        EXPECT_EQ(result.status, status);
        EXPECT_EQ(result.lines, lines);
        EXPECT_FALSE(fs::exists(dir.path / "out.bin"));
    }
}

struct EarlyEnd {
    const char* name;
    Lines args;
    Lines lines;
    int status;
    std::optional<std::string> left;  // the output file left behind, if any
    bool locked = false;        // another run holds the output
    bool unprivileged = false;  // file permissions bind the tool, even run by root
    bool posix_only = false;    // not for the Windows build
};

// A spelling of `name` in the current directory longer than Linux's PATH_MAX.
std::string past_path_max(const std::string& name) {
    std::string path;
    for (int i = 0; i < 2100; ++i) path += testing_windows_build() ? ".\\" : "./";
    return path + name;
}

// Holds a lock on the whole file, as a run writing it does, while it lives.
struct WholeFileLock {
    int fd;
    explicit WholeFileLock(const fs::path& path) : fd(open(path.c_str(), O_RDWR)) {
        struct flock whole {};
        whole.l_type = F_WRLCK;
        if (fd < 0 || fcntl(fd, F_SETLK, &whole) != 0) throw std::runtime_error("no lock");
    }
    ~WholeFileLock() { close(fd); }
};

TEST(RunOutcome, EarlyEndsPrintTheirLineAndStatusAndKeepWhatWasWritten) {
    const bool windows = testing_windows_build();
    const std::string banks_of_d = model_run("", kProgram, {{"d.dat", kData}}).unpadded;
    const Lines after_d = {"Opened data file 'd.dat'", "- starting address 2000 (page >6002)",
                           "- ending address 6000 (page >6006)"};
    const auto then = [](Lines lines, const Lines& more) {
        lines.insert(lines.end(), more.begin(), more.end());
        return lines;
    };
    const std::string long_old = past_path_max("old.bin");
    const std::string is_long_old = "Failed to open outfile, it is also the input file " + long_old;
    const std::vector<EarlyEnd> cases = {
        {"OutputNotOpened", {"no/dir/out.bin", "prog.bin", "d.dat"},
         {"Failed to open outfile, code 2"}, 1, std::nullopt},
        {"OutputIsADirectory", {"sub", "prog.bin", "d.dat"},
         {"Failed to open outfile, code " + code(21, 13)}, 1, std::nullopt},
        {"OutputIsASymbolicLinkLoop", {"loop.bin", "prog.bin", "d.dat"},
         {"Failed to open outfile, code 40"}, 1, std::nullopt, false, false, true},
        {"ProgramMissingLeavesEmptyOutput", {"out.bin", "nope.bin", "d.dat"},
         {"Failed to open program file, code 2"}, 2, ""},
        {"DataFileMissingKeepsEarlierBanksUnpadded", {"out.bin", "prog.bin", "d.dat", "nope", "d.dat"},
         then(after_d, {"Failed to open data file nope, code 2"}), 3, banks_of_d},
        // Windows refuses to open a directory at all; Linux opens it and fails to read.
        {"DirectoryAsProgram", {"out.bin", "sub", "d.dat"},
         {windows ? "Failed to open program file, code 13" : "Failed to read program file, code 21"},
         windows ? 2 : 4, ""},
        {"DirectoryAsData", {"out.bin", "prog.bin", "d.dat", "sub"},
         windows ? then(after_d, {"Failed to open data file sub, code 13"})
                 : then(after_d, {"Opened data file 'sub'", "- starting address 6000 (page >6006)",
                                  "Failed to read data file sub, code 21"}),
         windows ? 3 : 4, banks_of_d},
        // An output this run created is removed again when an input is it.
        {"NewOutputNamedAsProgram", {"new.bin", "new.bin", "d.dat"},
         {"Failed to open outfile, it is also the input file new.bin"}, 1, std::nullopt},
        {"NewOutputNamedAsData", {"new.bin", "prog.bin", "d.dat", "new.bin", "d.dat"},
         {"Failed to open outfile, it is also the input file new.bin"}, 1, std::nullopt},
        {"ExistingOutputAndMissingData", {"old.bin", "prog.bin", "nope"},
         {"Failed to open data file nope, code 2"}, 3, model_run("", kProgram, {}).unpadded},
        // An input that cannot be looked up might be the output, which stays as
        // it was. Windows looks such a spelling up, and finds the output.
        {"ProgramPastPathMax", {"old.bin", long_old, "d.dat"},
         {windows ? is_long_old : "Failed to open program file, code 36"}, windows ? 1 : 2,
         "an old image"},
        {"DataPastPathMax", {"old.bin", "prog.bin", "d.dat", long_old},
         {windows ? is_long_old : "Failed to open data file " + long_old + ", code 36"},
         windows ? 1 : 3, "an old image"},
        {"DataInADirectoryNobodyMaySearch", {"old.bin", "prog.bin", "locked/x.dat"},
         {"Failed to open data file locked/x.dat, code 13"}, 3, "an old image", false, true, true},
        {"OutputThatAnotherRunWrites", {"old.bin", "prog.bin", "d.dat"},
         {"Failed to open outfile, code " + code(11, 13)}, 1, "an old image", true},
    };
    for (const EarlyEnd& c : cases) {
        if (c.posix_only && windows) continue;
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const std::set<std::string> before = listing(with_inputs(dir).path);
        if (c.unprivileged) {  // a directory that not even its owner may search
            fs::create_directory(dir.path / "locked");
            dir.write("locked/x.dat", kData);
            fs::permissions(dir.path / "locked", fs::perms::owner_read | fs::perms::owner_write);
        }
        std::optional<WholeFileLock> lock;
        if (c.locked) lock.emplace(dir.path / "old.bin");
        RunSetup setup;
        setup.unprivileged = c.unprivileged;
        const ToolResult result = run_tool(dir, c.args, setup);
        EXPECT_EQ(result.lines, c.lines);
        EXPECT_EQ(result.errors, Lines{});  // a failure that standard output took is said once
        EXPECT_EQ(result.status, c.status);
        if (c.left) {
            EXPECT_EQ(first_difference(dir.read(c.args[0]), *c.left), "");
        } else {
            EXPECT_EQ(listing(dir.path), before);
        }
        if (c.unprivileged) fs::permissions(dir.path / "locked", fs::perms::owner_all);
    }
}

TEST(RunOutcome, OutputThatIsAlsoAnInputIsRefusedAndLeftUntouched) {
    const std::vector<std::pair<Lines, std::string>> cases = {  // args run in "work/", input named
        {{"prog.bin", "./prog.bin", "d.dat"}, "./prog.bin"},
        {{"out.bin", "prog.bin", "d.dat", "../work/out.bin"}, "../work/out.bin"},
        {{"out.bin", "prog.bin", "link.bin"}, "link.bin"},
        {{"out.bin", "prog.bin", "link.bin", "out.bin"}, "link.bin"},
        {{"out.bin", "prog.bin", "d.dat", "alias.bin"}, "alias.bin"},
        {{long_spelling("out.bin"), "prog.bin", "d.dat", "out.bin"}, "out.bin"},
    };
    for (const auto& [args, named] : cases) {
        SCOPED_TRACE(named);
        ScratchDir dir;
        const fs::path work = dir.path / "work";
        fs::create_directory(work);
        dir.write("work/prog.bin", kProgram);
        dir.write("work/d.dat", kData);
        dir.write("work/out.bin", "precious");
        fs::create_hard_link(work / "out.bin", work / "link.bin");
        fs::create_symlink("out.bin", work / "alias.bin");
        const ToolResult result = run_tool(work, args);
        EXPECT_EQ(result.lines, Lines{"Failed to open outfile, it is also the input file " + named});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(dir.read("work/out.bin"), "precious");
        EXPECT_EQ(dir.read("work/prog.bin"), kProgram);
    }
}

TEST(RunOutcome, DeviceAsOutputIsNotRefusedEvenWhenAlsoAnInput) {
    ScratchDir dir;
    const ToolResult result = run_tool(with_inputs(dir), {null_device(), "prog.bin", null_device()});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.lines, model_run(null_device(), kProgram, {{null_device(), ""}}).lines);
}

RunSetup stdout_to(const std::string& path, bool append = false) {
    RunSetup setup;
    setup.stdout_path = path;
    setup.stdout_append = append;
    return setup;
}

TEST(RunOutcome, MessagesNeverLandInAFileTheRunReadsOrWrites) {
    const std::vector<DataFile> sixty(60, DataFile{"d.dat", kData});
    struct MessageCase {
        const char* name;
        std::string out_path;
        RunSetup setup;
        std::string image_path;  // where the image ends up
        bool posix_only;         // needs /dev/stdout, /dev/full or a POSIX pipe
        int status;
        Lines errors;            // expected on standard error; "*" for every message
    };
    RunSetup both_to_rom = stdout_to("rom.bin");
    both_to_rom.stderr_to_stdout = true;
    RunSetup errors_to_data = stdout_to("rom.bin");
    errors_to_data.stderr_path = "d.dat";
    RunSetup full_errors_to_data = stdout_to("/dev/full");
    full_errors_to_data.stderr_path = "d.dat";
    RunSetup image_out_full_errors = stdout_to("rom.bin");
    image_out_full_errors.stderr_path = "/dev/full";
    RunSetup no_reader = stdout_to("|");
    no_reader.pipe_reader_quits_after = 0;
    const std::vector<MessageCase> cases = {
        {"StandardOutputClosed", "out.bin", stdout_to("-"), "out.bin", false, 0, {}},
        {"ImageOnStandardOutput", "/dev/stdout", stdout_to("rom.bin"), "rom.bin", true, 0, {"*"}},
        {"ImageOnStandardOutputAndError", "/dev/stdout", both_to_rom, "rom.bin", true, 0, {}},
        {"StandardOutputIsTheOutputFile", "out.bin", stdout_to("out.bin"), "out.bin", false, 0, {"*"}},
        {"StandardOutputAppendsToADataFile", "out.bin", stdout_to("d.dat", true), "out.bin", false, 0,
         {"*"}},
        {"ImageOnStandardOutputErrorsAppendToADataFile", "/dev/stdout", errors_to_data, "rom.bin",
         true, 0, {}},
        {"MessagesToAFullDisk", "out.bin", stdout_to("/dev/full"), "out.bin", true, 7,
         {"Failed to write standard output, code 28"}},
        {"ImageOnStandardOutputMessagesToAFullDisk", "/dev/stdout", image_out_full_errors, "rom.bin",
         true, 7, {}},
        {"MessagesToAPipeWithNoReader", "out.bin", no_reader, "out.bin", true, 7,
         {"Failed to write standard output, code 32"}},
        {"MessagesToAFullDiskErrorsToADataFile", "out.bin", full_errors_to_data, "out.bin", true, 7,
         {}},
    };
    for (const MessageCase& c : cases) {
        if (c.posix_only && testing_windows_build()) continue;
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        std::vector<std::string> args = {c.out_path, "prog.bin"};
        for (const DataFile& file : sixty) args.push_back(file.path);
        const ToolResult result = run_tool(with_inputs(dir), args, c.setup);
        const ModelRun expected = model_run(c.out_path, kProgram, sixty);
        EXPECT_EQ(first_difference(dir.read(c.image_path), expected.image), "");
        EXPECT_EQ(dir.read("d.dat"), kData);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.errors, c.errors == Lines{"*"} ? expected.lines : c.errors);
    }
}

TEST(RunOutcome, WriteFailureAnywhereIsOneLastLineAndStatus5) {
    const std::string big = pattern_bytes(300 * 8064, 2);  // 301 banks, padded to 512
    const ModelRun expected = model_run("out.bin", kProgram, {{"big.dat", big}});
    const std::string failure = "Failed to write outfile, code " + code(27, 22);
    for (const rlim_t limit : {rlim_t{4096}, rlim_t{(1 << 20) + 100}, rlim_t{3 << 20},
                               rlim_t{(4 << 20) - 100}}) {
        SCOPED_TRACE(limit);
        ScratchDir dir;
        dir.write("prog.bin", kProgram);
        dir.write("big.dat", big);
        RunSetup setup;
        setup.file_size_limit = limit;
        ToolResult result = run_tool(dir, {"out.bin", "prog.bin", "big.dat"}, setup);
        EXPECT_EQ(result.status, 5);
        ASSERT_FALSE(result.lines.empty());
        EXPECT_EQ(result.lines.back(), failure);
        result.lines.pop_back();
        ASSERT_LT(result.lines.size(), expected.lines.size());
        EXPECT_TRUE(std::equal(result.lines.begin(), result.lines.end(), expected.lines.begin()));
        // What was written stays, and may end part way through a bank.
        EXPECT_EQ(dir.read("out.bin"), expected.image.substr(0, limit));
    }
}

TEST(RunOutcome, EveryDataFileIsClosedBeforeTheNext) {
    ScratchDir dir;
    dir.write("prog.bin", kProgram);
    dir.write("empty.dat", "");
    std::vector<std::string> args = {"out.bin", "prog.bin"};
    args.insert(args.end(), 2000, "empty.dat");
    RunSetup setup;
    setup.open_files_limit = 64;
    const ToolResult result = run_tool(dir, args, setup);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.lines.size(), 3 * 2000 + 1u);
}

TEST(RunOutcome, ImageThatCannotBeWrittenEndsWithOneFailureLine) {
    if (testing_windows_build()) GTEST_SKIP() << "needs /dev/full, /dev/stdout and POSIX pipes";
    RunSetup reader_quits = stdout_to("|");
    reader_quits.pipe_reader_quits_after = 8192;
    struct WriteCase {
        const char* name;
        std::string out_path;
        RunSetup setup;
        std::size_t data_size;
        bool said_on_stderr;  // the lines are on standard error, not standard output
        std::string failure;
    };
    const std::vector<WriteCase> cases = {
        {"FullDiskAtTheFinalFlush", "/dev/full", {}, 10, false, "Failed to write outfile, code 28"},
        {"FullDiskAtABank", "/dev/full", {}, 300 * 8064, false, "Failed to write outfile, code 28"},
        {"FullDiskForImageAndMessages", "/dev/full", stdout_to("/dev/full"), 10, true,
         "Failed to write outfile, code 28"},
        {"PipeWhoseReaderQuits", "/dev/stdout", reader_quits, 300 * 8064, true,
         "Failed to write outfile, code 32"},
    };
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        dir.write("prog.bin", kProgram);
        dir.write("d.dat", pattern_bytes(c.data_size, 2));
        const ToolResult result = run_tool(dir, {c.out_path, "prog.bin", "d.dat"}, c.setup);
        EXPECT_EQ(result.status, 5);
        const Lines& said = c.said_on_stderr ? result.errors : result.lines;
        ASSERT_FALSE(said.empty());
        EXPECT_EQ(said.back(), c.failure);
        for (const std::string& line : said) EXPECT_NE(line.rfind("Finished", 0), 0u);
    }
}

TEST(RunOutcome, ClosedDescriptorThatCannotBeFilledStopsTheRunBeforeAnyFile) {
    if (testing_windows_build()) GTEST_SKIP() << "Windows has no descriptors to fill";
    if (!tool_emulator().empty()) GTEST_SKIP() << "the emulator needs descriptors of its own";
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the sanitizer runtime needs descriptors of its own; the plain build runs this";
#endif
    // Descriptor 0 is filled; the next closed one cannot be, and the line
    // goes to the standard stream that is open.
    for (const int closed : {1, 2}) {
        SCOPED_TRACE(closed);
        ScratchDir dir;
        RunSetup setup = stdout_to(closed == 1 ? "-" : "");
        setup.stderr_path = closed == 2 ? "-" : "";
        setup.stdin_closed = true;
        setup.open_files_limit = 1;
        const ToolResult result = run_tool(with_inputs(dir), {"out.bin", "prog.bin", "d.dat"}, setup);
        EXPECT_EQ(result.status, 8);
        const Lines& said = closed == 1 ? result.errors : result.lines;
        ASSERT_FALSE(said.empty());
        EXPECT_EQ(said[0], "Failed to open the null device on closed descriptor " +
                               std::to_string(closed) + ", code 24");
        EXPECT_FALSE(fs::exists(dir.path / "out.bin"));
    }
}

TEST(RunOutcome, EndlessDataFileStopsAtOneGibibyte) {
    if (!has_device("/dev/zero")) GTEST_SKIP() << "no endless device /dev/zero";
    ScratchDir dir;
    dir.write("prog.bin", kProgram);
    const ToolResult result = run_tool(dir, {"/dev/null", "prog.bin", "/dev/zero"});
    EXPECT_EQ(result.lines, (Lines{"Opened data file '/dev/zero'", "- starting address 2000 (page >6002)",
                                   "Failed to append data file /dev/zero, image would exceed 1GB"}));
    EXPECT_EQ(result.status, 6);
}

TEST(RunOutcome, ImageOfExactlyOneGibibyteIsValidAndOneByteMoreIsNot) {
    const std::size_t fills_image = std::size_t{131071} * 8064;
    for (const std::size_t size : {fills_image, fills_image + 1}) {
        ScratchDir dir;
        dir.write("prog.bin", kProgram);
        dir.write("big.dat", "");
        fs::resize_file(dir.path / "big.dat", size);  // sparse: reads as zeros
        const ToolResult result = run_tool(dir, {null_device(), "prog.bin", "big.dat"});
        ASSERT_GE(result.lines.size(), 3u);
        if (size == fills_image) {
            EXPECT_EQ(result.lines[2], "- ending address 40000000 (page >46000)");
            EXPECT_EQ(result.status, 0);
        } else {
            EXPECT_EQ(result.lines[2], "Failed to append data file big.dat, image would exceed 1GB");
            EXPECT_EQ(result.status, 6);
        }
    }
}

}  // namespace
