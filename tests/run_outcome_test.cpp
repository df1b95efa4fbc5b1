// How runs end: usage, open failures, an output that is also an input, read
// and write failures and the 1 GiB bound, each with its lines and status.
#include <fcntl.h>
#include <gtest/gtest.h>
#ifdef __linux__
#include <sys/mount.h>
#include <sys/syscall.h>
#endif
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <set>
#include <tuple>
#include <utility>

#include "image_model.h"
#include "tool_harness.h"

using namespace testing_support;

namespace {

using Lines = std::vector<std::string>;

// The number of the error named `windows` in the Windows C runtime.
int windows_number(int windows) {
    switch (windows) {
        case ENOENT: return 2;
        case EIO: return 5;
        case ENXIO: return 6;
        case EAGAIN: return 11;
        case EACCES: return 13;
        case EBUSY: return 16;
        case EISDIR: return 21;
        case EINVAL: return 22;
        case EMFILE: return 24;
        case EFBIG: return 27;
        case ENOSPC: return 28;
        case EPIPE: return 32;
        case ENAMETOOLONG: return 38;
        case ELOOP: return 114;
        default: throw std::logic_error("no Windows number for error " + std::to_string(windows));
    }
}
// An error as the tool's C runtime numbers it: the one named `posix` on
// this system, or `windows` in the Windows C runtime.
std::string code(int posix, int windows) {
    return std::to_string(testing_windows_build() ? windows_number(windows) : posix);
}
std::string code(int name) { return code(name, name); }
// Whether the tool can open this device: Windows has none of them, and not
// every POSIX system has each.
bool has_device(const char* path) { return !testing_windows_build() && fs::exists(path); }
// Why a row that writes to `/dev/full` cannot run here, or "".
std::string why_no_full_device(const std::string& out_path, const RunSetup& setup) {
    const bool uses = out_path == "/dev/full" || setup.out.path == "/dev/full" ||
                      setup.err.path == "/dev/full";
    return uses && !fs::exists("/dev/full") ? "this system has no /dev/full" : "";
}
const std::string kProgram = pattern_bytes(300, 1);
const std::string kData = pattern_bytes(8065, 2);  // two banks
const std::string kOld = "an old image";

// A file of `size` zeros that takes no disk space.
void write_sparse(const ScratchDir& dir, const std::string& name, std::uint64_t size) {
    dir.write(name, "");
    fs::resize_file(dir.path / name, size);
}

// Makes the program, a data file and an old image in `dir`, and those of
// the tables' other files that a word of `args` names.
ScratchDir& with_inputs(ScratchDir& dir, const Lines& args = {}) {
    dir.write("prog.bin", kProgram);
    dir.write("d.dat", kData);
    dir.write("old.bin", kOld);
    const auto named = [&args](const char* name) {
        return std::any_of(args.begin(), args.end(), [name](const std::string& arg) {
            return arg.find(name) != std::string::npos;
        });
    };
    if (named("sub")) fs::create_directory(dir.path / "sub");
    if (named("loop.bin")) fs::create_symlink("loop.bin", dir.path / "loop.bin");
    if (named("dangling.bin")) fs::create_symlink("made.bin", dir.path / "dangling.bin");
    if (named("noread.bin")) {
        dir.write("noread.bin", kProgram);
        fs::permissions(dir.path / "noread.bin", fs::perms::none);
    }
    if (named("big.dat")) write_sparse(dir, "big.dat", 600 << 20);
    if (named("locked/")) {
        fs::create_directory(dir.path / "locked");
        dir.write("locked/x.dat", kData);
    }
    if (named("noread.fifo") && mkfifo((dir.path / "noread.fifo").c_str(), 0) != 0) {
        throw std::runtime_error("no FIFO");
    }
    if (!named("sock")) return dir;
    // A named socket: a file that exists but opens as no stream.
    sockaddr_un socket_name{};
    socket_name.sun_family = AF_UNIX;
    const std::string socket_path = (dir.path / "sock").string();
    std::strncpy(socket_name.sun_path, socket_path.c_str(), sizeof socket_name.sun_path - 1);
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    if (bind(sock, reinterpret_cast<sockaddr*>(&socket_name), sizeof socket_name) != 0) {
        throw std::runtime_error("no socket");
    }
    close(sock);
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

// A path to `name` in the current directory, spelled `hops` directories
// ("./") long: 140 are past Windows' old 260 characters, 2100 past Linux's
// PATH_MAX.
std::string spelled_long(const std::string& name, int hops) {
    std::string path;
    for (int i = 0; i < hops; ++i) path += testing_windows_build() ? ".\\" : "./";
    return path + name;
}

// Names each row of a table after its `name`.
template <typename Row>
std::string row_name(const ::testing::TestParamInfo<Row>& info) {
    return info.param.name;
}

struct UsageCase {
    const char* name;
    Lines args;
    int status;
    bool version = false;  // kVersionLine: the version line, not the usage text
};
constexpr bool kVersionLine = true;
void PrintTo(const UsageCase& c, std::ostream* out) { *out << c.name; }

class Usage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(Usage, PrintsItsTextAndCreatesNothing) {
    const UsageCase& c = GetParam();
    const Lines usage = {"bankstitcher <outfile> <program> <data1> <data2> <data3> ...",
                         "Program is padded to 8k, then banks are appended.",
                         "First 128 bytes of program is copied to each bank", "to handle startup."};
    ScratchDir dir;
    const ToolResult result = run_tool(with_inputs(dir), c.args);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.lines,
              c.version ? Lines{std::string("bankstitcher ") + BANKSTITCHER_VERSION} : usage);
    EXPECT_FALSE(fs::exists(dir.path / "out.bin"));
}

const UsageCase kUsageCases[] = {
    {"NoArguments", {}, 255},
    {"OneArgument", {"out.bin"}, 255},
    {"TwoArguments", {"out.bin", "prog.bin"}, 255},
    {"Help", {"--help"}, 0},
    {"Version", {"--version"}, 0, kVersionLine},
    {"VersionWithMoreArguments", {"--version", "prog.bin"}, 255},
    {"UnknownOption", {"-h"}, 255},
};
INSTANTIATE_TEST_SUITE_P(RunOutcome, Usage, ::testing::ValuesIn(kUsageCases), row_name<UsageCase>);

// `text` with "<work>" (or "<a:work>") replaced by the Windows path of
// `dir`, as Wine's drive Z: (or a:, see start_wine.sh) reaches it.
std::string at_windows_path(std::string text, const fs::path& dir) {
    std::string path = dir.string();
    std::replace(path.begin(), path.end(), '/', '\\');
    for (const auto& [token, drive] : {std::pair<std::string, std::string>{"<work>", "Z:"},
                                       {"<a:work>", "a:"}}) {
        const std::size_t at = text.find(token);
        if (at != std::string::npos) text.replace(at, token.size(), drive + path);
    }
    return text;
}

// Where a row of a table runs: a POSIX case needs /dev/full, /dev/stdout,
// a POSIX pipe or a FIFO; a Windows case is a spelling of Windows' own.
enum class Runs { anywhere, posix_only, windows_only };

// What an early end's row asks beyond its command line, any of them or'd.
enum EarlyEndNeeds : unsigned {
    kLocked = 1,        // another run holds the output
    kUnprivileged = 2,  // file permissions bind the tool, even run by root
    // Not for the Windows build: a POSIX file, or rights that Wine's server,
    // which opens files for the tool, does not give up.
    kPosixOnly = 4,
    // Run again with an output not there yet: the run ends before its first
    // byte, so an old output stays as it was and a new one is not made.
    kEitherOutput = 8,
    kWindowsOnly = 16,  // a spelling of Windows' own; "<work>" is the run's directory
};

struct EarlyEnd {
    const char* name;
    Lines args;
    Lines lines;
    int status;
    std::optional<std::string> left;  // the output file left behind, if any
    unsigned needs = 0;               // EarlyEndNeeds
    std::string fault = "";           // an strace fault injected into the run
    std::string held = "";  // "MODE PATH": Windows' file_holder holds PATH so for the run
};
void PrintTo(const EarlyEnd& c, std::ostream* out) { *out << c.name; }

// A row whose file another process holds as the run goes (see file_holder).
EarlyEnd held_by(std::string holder, EarlyEnd row) {
    row.held = std::move(holder);
    return row;
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

Lines then(Lines lines, const Lines& more) {
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

class EarlyEnds : public ::testing::TestWithParam<EarlyEnd> {};

TEST_P(EarlyEnds, PrintTheirLineAndStatusAndKeepWhatWasWritten) {
    const EarlyEnd& c = GetParam();
    const bool unprivileged = (c.needs & kUnprivileged) != 0;
    if ((c.needs & kPosixOnly) && testing_windows_build()) GTEST_SKIP() << "a POSIX case";
    if (unprivileged && !can_run_unprivileged()) GTEST_SKIP() << "root cannot drop its rights here";
    if (!c.fault.empty() && !why_no_fault_injection().empty()) {
        GTEST_SKIP() << why_no_fault_injection();
    }
    if (!c.held.empty() && !testing_windows_build()) GTEST_SKIP() << "a Windows holder";
    if ((c.needs & kWindowsOnly) && !testing_windows_build()) {
        GTEST_SKIP() << "a spelling of Windows' own";
    }
    ScratchDir dir;
    with_inputs(dir, c.args);
    const std::set<std::string> before = listing(dir.path);
    const fs::path locked = dir.path / "locked";
    if (unprivileged && fs::exists(locked)) {  // a directory that not even its owner may search
        fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_write);
    }
    std::optional<WholeFileLock> lock;
    if (c.needs & kLocked) lock.emplace(dir.path / "old.bin");
    RunSetup setup;
    setup.unprivileged = unprivileged;
    if (!c.fault.empty()) setup.wrapper = {"strace", "-qq", "-o", "/dev/null", "-e", "inject=" + c.fault};
    if (!c.held.empty()) setup.launcher = file_holder(c.held);
    Lines args = c.args;
    Lines lines = c.lines;
    for (std::string& text : args) text = at_windows_path(text, dir.path);
    for (std::string& text : lines) text = at_windows_path(text, dir.path);
    const ToolResult result = run_tool(dir, args, setup);
    if (unprivileged && fs::exists(locked)) fs::permissions(locked, fs::perms::owner_all);
    EXPECT_EQ(result.lines, lines);
    EXPECT_EQ(result.errors, Lines{});  // a failure that standard output took is said once
    EXPECT_EQ(result.status, c.status);
    if (c.left) {
        EXPECT_EQ(first_difference(dir.read(c.args[0]), *c.left), "");
    }
    if (c.fault.empty()) {  // no other file is made, unless a fault kept the run from removing it
        EXPECT_EQ(listing(dir.path), before);
    }
    if (c.needs & kEitherOutput) {
        args[0] = "new.bin";
        const ToolResult again = run_tool(dir, args, setup);
        EXPECT_EQ(again.lines, lines);
        EXPECT_EQ(again.status, c.status);
        EXPECT_EQ(listing(dir.path), before);
    }
}

const bool windows = testing_windows_build();
const std::string long_old = spelled_long("old.bin", 2100);
const std::string is_long_old = "Failed to open outfile, it is also the input file " + long_old;

const EarlyEnd kEarlyEnds[] = {
    {"OutputNotOpened", {"no/dir/out.bin", "prog.bin", "d.dat"},
     {"Failed to open outfile, code " + code(ENOENT)}, 1, std::nullopt},
    {"OutputIsADirectory", {"sub", "prog.bin", "d.dat"},
     {"Failed to open outfile, code " + code(EISDIR, EACCES)}, 1, std::nullopt},
    {"OutputIsASymbolicLinkLoop", {"loop.bin", "prog.bin", "d.dat"},
     {"Failed to open outfile, code " + code(ELOOP)}, 1, std::nullopt, kPosixOnly},
    // A missing input ends the run before the output is touched; one this
    // run created is removed again.
    {"EmptyProgramNameIsMissing", {"old.bin", "", "d.dat"},
     {"Failed to open program file, code " + code(ENOENT)}, 2, kOld},
    {"ProgramMissingCreatesNothing", {"out.bin", "nope.bin", "d.dat"},
     {"Failed to open program file, code " + code(ENOENT)}, 2, std::nullopt},
    {"DataFileMissingCreatesNothing", {"out.bin", "prog.bin", "d.dat", "nope", "d.dat"},
     {"Failed to open data file nope, code " + code(ENOENT)}, 3, std::nullopt},
    {"ProgramAndOutputSwappedKeepsTheProgram", {"prog.bin", "out.bin", "d.dat"},
     {"Failed to open program file, code " + code(ENOENT)}, 2, kProgram},
    {"ExistingOutputAndMissingDataKeepsTheOutput", {"old.bin", "prog.bin", "nope"},
     {"Failed to open data file nope, code " + code(ENOENT)}, 3, kOld},
    // So does an input that cannot be read, with the code its open (on Linux,
    // for a directory, its read) gives, and data that cannot fit the image.
    {"DirectoryAsProgram", {"old.bin", "sub", "d.dat"},
     {"Failed to open program file, code " + code(EISDIR, EACCES)}, 2, kOld, kEitherOutput},
    {"DirectoryAsDataWithATrailingSlash", {"old.bin", "prog.bin", "d.dat", "sub/"},
     {"Failed to open data file sub/, code " + code(EISDIR, EACCES)}, 3, kOld, kEitherOutput},
    {"SocketAsData", {"old.bin", "prog.bin", "d.dat", "sock"},
     {"Failed to open data file sock, code " + code(ENXIO)}, 3, kOld, kEitherOutput | kPosixOnly},
    {"ProgramNobodyMayRead", {"old.bin", "noread.bin", "d.dat"},
     {"Failed to open program file, code " + code(EACCES)}, 2, kOld,
     kEitherOutput | kUnprivileged | kPosixOnly},
    {"DataNobodyMayRead", {"old.bin", "prog.bin", "d.dat", "noread.bin"},
     {"Failed to open data file noread.bin, code " + code(EACCES)}, 3, kOld,
     kEitherOutput | kUnprivileged | kPosixOnly},
    {"FifoNobodyMayRead", {"old.bin", "prog.bin", "d.dat", "noread.fifo"},
     {"Failed to open data file noread.fifo, code " + code(EACCES)}, 3, kOld,
     kEitherOutput | kUnprivileged | kPosixOnly},
    {"DataPastTheImageBound", {"old.bin", "prog.bin", "big.dat", "./big.dat", "d.dat"},
     {"Failed to append data file ./big.dat, image would exceed 1GB"}, 6, kOld, kEitherOutput},
    // An output this run created is removed again when an input is it,
    // also when the run created it through a dangling link.
    {"NewOutputNamedAsProgram", {"new.bin", "new.bin", "d.dat"},
     {"Failed to open outfile, it is also the input file new.bin"}, 1, std::nullopt},
    {"NewOutputNamedAsData", {"new.bin", "prog.bin", "d.dat", "new.bin", "d.dat"},
     {"Failed to open outfile, it is also the input file new.bin"}, 1, std::nullopt},
    {"NewOutputThroughADanglingLink", {"dangling.bin", "prog.bin", "d.dat", "made.bin"},
     {"Failed to open outfile, it is also the input file made.bin"}, 1, std::nullopt, kPosixOnly},
    // The refusal says its own cause, whatever the removal that follows does.
    {"RemovalThatFailsKeepsTheCause", {"new.bin", "prog.bin", "nope"},
     {"Failed to open data file nope, code " + code(ENOENT)}, 3, "", kPosixOnly,
     "unlink,unlinkat:error=EACCES"},
    // An input that cannot be looked up might be the output, which stays as
    // it was. Windows looks such a spelling up, and finds the output.
    {"ProgramPastPathMax", {"old.bin", long_old, "d.dat"},
     {windows ? is_long_old : "Failed to open program file, code " + code(ENAMETOOLONG)}, windows ? 1 : 2,
     kOld},
    {"DataPastPathMax", {"old.bin", "prog.bin", "d.dat", long_old},
     {windows ? is_long_old : "Failed to open data file " + long_old + ", code " + code(ENAMETOOLONG)},
     windows ? 1 : 3, kOld},
    {"DataInADirectoryNobodyMaySearch", {"old.bin", "prog.bin", "locked/x.dat"},
     {"Failed to open data file locked/x.dat, code " + code(EACCES)}, 3, kOld,
     kUnprivileged | kPosixOnly},
    // An old output whose size cannot change (another program maps it) is
    // refused as it is cut, and kept whole.
    held_by("map old.bin", {"OutputThatAnotherProgramMaps", {"old.bin", "prog.bin", "d.dat"},
                            {"Failed to open outfile, code " + code(EINVAL)}, 1, kOld}),
    // A name through the object namespace is a file to look up: Wine finds
    // none there (real Windows finds old.bin), and old.bin stays whole.
    {"ThroughTheObjectNamespaceOntoADrive",
     {"old.bin", "prog.bin", "d.dat", "\\\\?\\GLOBALROOT\\??\\<work>\\old.bin"},
     {"Failed to open data file \\\\?\\GLOBALROOT\\??\\<work>\\old.bin, code " + code(ENOENT)}, 3,
     kOld, kWindowsOnly},
    {"OutputThatAnotherRunWrites", {"old.bin", "prog.bin", "d.dat"},
     {"Failed to open outfile, code " + code(EAGAIN, EACCES)}, 1, kOld, kLocked},
};
INSTANTIATE_TEST_SUITE_P(RunOutcome, EarlyEnds, ::testing::ValuesIn(kEarlyEnds), row_name<EarlyEnd>);

struct SameFileCase {
    const char* name;
    Lines args;  // run in "work/"; "<work>" stands for its Windows path (Z:\...)
    std::string named;  // the input named in the refusal
    Runs runs = Runs::anywhere;
};

void PrintTo(const SameFileCase& c, std::ostream* out) { *out << c.name; }

class OutputThatIsAlsoAnInput : public ::testing::TestWithParam<SameFileCase> {};

TEST_P(OutputThatIsAlsoAnInput, IsRefusedAndLeftUntouched) {
    const SameFileCase& c = GetParam();
    if (c.runs == Runs::windows_only && !testing_windows_build()) {
        GTEST_SKIP() << "a spelling of Windows' own";
    }
    ScratchDir dir;
    const fs::path work = dir.path / "work";
    fs::create_directory(work);
    dir.write("work/prog.bin", kProgram);
    dir.write("work/d.dat", kData);
    dir.write("work/out.bin", "precious");
    fs::create_hard_link(work / "out.bin", work / "link.bin");
    fs::create_symlink("out.bin", work / "alias.bin");
    Lines args = c.args;
    for (std::string& arg : args) arg = at_windows_path(arg, work);
    const ToolResult result = run_tool(work, args);
    EXPECT_EQ(result.lines, Lines{"Failed to open outfile, it is also the input file " +
                                  at_windows_path(c.named, work)});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(dir.read("work/out.bin"), "precious");
    EXPECT_EQ(dir.read("work/prog.bin"), kProgram);
}

const SameFileCase kSameFileCases[] = {
    {"OutputAsProgram", {"prog.bin", "./prog.bin", "d.dat"}, "./prog.bin"},
    {"OutputAsDataThroughItsDirectory", {"out.bin", "prog.bin", "d.dat", "../work/out.bin"},
     "../work/out.bin"},
    {"HardLink", {"out.bin", "prog.bin", "link.bin"}, "link.bin"},
    {"FirstOfTwoNamesIsSaid", {"out.bin", "prog.bin", "link.bin", "out.bin"}, "link.bin"},
    {"SymbolicLink", {"out.bin", "prog.bin", "d.dat", "alias.bin"}, "alias.bin"},
    {"LongSpellingOfTheOutput", {spelled_long("out.bin", 140), "prog.bin", "d.dat", "out.bin"},
     "out.bin"},
    // In the device namespace, the plain file, as Windows normalises it.
    {"OutputAsDataInTheDeviceNamespace", {"out.bin", "prog.bin", "d.dat", "\\\\.\\<work>\\out.bin"},
     "\\\\.\\<work>\\out.bin", Runs::windows_only},
    {"OnTheFirstDriveLetterInTheDeviceNamespace", {"out.bin", "prog.bin", "\\\\.\\<a:work>\\out.bin"},
     "\\\\.\\<a:work>\\out.bin", Runs::windows_only},
    {"DoubledSeparatorInTheDeviceNamespace", {"out.bin", "prog.bin", "d.dat", "\\\\.\\\\<work>\\out.bin"},
     "\\\\.\\\\<work>\\out.bin", Runs::windows_only},
    {"OutOfThePipeFolderOntoADrive", {"out.bin", "\\\\.\\pipe\\..\\<work>\\out.bin", "d.dat"},
     "\\\\.\\pipe\\..\\<work>\\out.bin", Runs::windows_only},
};
INSTANTIATE_TEST_SUITE_P(RunOutcome, OutputThatIsAlsoAnInput, ::testing::ValuesIn(kSameFileCases),
                         row_name<SameFileCase>);

TEST(RunOutcome, DeviceAsOutputIsNotRefusedEvenWhenAlsoAnInput) {
    ScratchDir dir;
    const ToolResult result = run_tool(with_inputs(dir), {null_device(), "prog.bin", null_device()});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.lines, model_run(null_device(), kProgram, {{null_device(), ""}}).lines);
}

#ifdef __linux__
// Whether a started run has ended (it is not reaped here).
bool has_ended(pid_t process) {
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(process), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
           info.si_pid != 0;
}

// Whether a process waits in a write to its standard output (some C
// libraries flush a stream with writev).
bool waits_writing_stdout(pid_t process) {
    std::ifstream call("/proc/" + std::to_string(process) + "/syscall");
    long number = -1;
    std::string descriptor;
    call >> number >> descriptor;
    return (number == SYS_write || number == SYS_writev) && descriptor == "0x1";
}

// The process that holds a lock on any byte of `path`, or 0.
pid_t lock_holder(const fs::path& path) {
    const int fd = open(path.c_str(), O_RDONLY);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    const bool asked = fd >= 0 && fcntl(fd, F_GETLK, &lock) == 0;
    close(fd);
    return asked && lock.l_type != F_UNLCK ? lock.l_pid : 0;
}
#endif

// A data file that becomes the output while the run reads the one before it
// is refused, and the output stays locked to the end of the run: no second
// run may write it before this run's buffered bytes reach it at exit. A full
// pipe on standard output holds the run at its refusal.
TEST(RunOutcome, InputThatBecomesTheOutputKeepsTheOutputLockedToTheEnd) {
#ifndef __linux__
    GTEST_SKIP() << "reads where the run waits from Linux's /proc";
#else
    if (testing_windows_build()) GTEST_SKIP() << "a Windows lock ends with its own handle alone";
    if (!tool_emulator().empty()) GTEST_SKIP() << "the emulator's system calls are not the tool's";
    if (!fs::exists("/proc/self/syscall")) GTEST_SKIP() << "this kernel shows no process's system call";
    ScratchDir dir;
    dir.write("prog.bin", kProgram);
    dir.write("b.dat", kData);
    ASSERT_EQ(mkfifo((dir.path / "d.dat").c_str(), 0600), 0);
    int messages[2];
    ASSERT_EQ(pipe2(messages, O_CLOEXEC), 0);
    ASSERT_EQ(fcntl(messages[1], F_SETFL, O_NONBLOCK), 0);  // the run opens the pipe anew
    const std::string filler(4096, 'x');
    while (write(messages[1], filler.data(), filler.size()) > 0) {
    }
    RunSetup setup;
    setup.out = to_file("/dev/fd/" + std::to_string(messages[1]));
    const StartedTool run = start_run(dir.path, {"out.bin", "prog.bin", "d.dat", "b.dat"}, setup);
    int feed = -1;  // opens once the run reads d.dat
    while ((feed = open((dir.path / "d.dat").c_str(), O_WRONLY | O_NONBLOCK)) < 0 &&
           !has_ended(run.process)) {
        usleep(1000);
    }
    fs::rename(dir.path / "out.bin", dir.path / "b.dat");
    close(feed);
    while (!waits_writing_stdout(run.process) && !has_ended(run.process)) usleep(1000);
    const pid_t holder = lock_holder(dir.path / "b.dat");
    close(messages[1]);
    const std::string said = read_pipe(messages[0], std::string::npos);
    close(messages[0]);
    const ToolResult result = finish_run(dir.path, run);
    EXPECT_EQ(holder, run.process);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(split_lines(said).back(),
              "Failed to open outfile, it is also the input file b.dat");
#endif
}

// A refused output is removed only while its name still names the file the
// run made: a file that has taken the name since stays. The helper opens the
// output and discards it as a refused run does, and waits in between.
TEST(RunOutcome, RefusedOutputWhoseNameAnotherFileTookIsNotRemoved) {
    const std::string probe = testing_windows_build() ? "discard_probe.exe" : "discard_probe";
    if (!fs::exists(beside_tool(probe))) {
        GTEST_SKIP() << "no " << probe << " beside the tool";
    }
    ScratchDir dir;
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    fcntl(go[1], F_SETFD, FD_CLOEXEC);
    RunSetup setup;
    setup.helper = probe;
    setup.out = to_pipe();
    setup.stdin_from = go[0];
    const StartedTool run = start_run(dir.path, {"out.bin"}, setup);
    close(go[0]);
    read_pipe(run.reader, 1);  // "open": the output is made and open
    close(run.reader);
    fs::rename(dir.path / "out.bin", dir.path / "made.bin");
    dir.write("out.bin", "another file");
    EXPECT_EQ(write(go[1], "\n", 1), 1);
    close(go[1]);
    EXPECT_EQ(finish_run(dir.path, run).status, 0);
    EXPECT_EQ(dir.read("out.bin"), "another file");
}

struct PipeCase {
    const char* name;
    const char* prefix;  // of the pipe's name, as the command line spells it
};
void PrintTo(const PipeCase& c, std::ostream* out) { *out << c.name; }

class WindowsNamedPipe : public ::testing::TestWithParam<PipeCase> {};

// However it is spelled, a pipe is never opened to be looked up, which
// would take its one connection: the run reads what its server sends.
TEST_P(WindowsNamedPipe, IsReadAsOneDataFile) {
    if (!testing_windows_build()) GTEST_SKIP() << "named pipes of this kind are Windows'";
    const fs::path feeder = beside_tool("pipe_feeder.exe");
    if (!fs::exists(feeder)) GTEST_SKIP() << "no pipe_feeder.exe beside the tool";
    ScratchDir dir;
    dir.write("prog.bin", kProgram);
    const std::string name = "bankstitcher-test-" + std::to_string(getpid());
    const std::string pipe = GetParam().prefix + name;
    RunSetup setup;
    setup.launcher = {feeder.string(), name, "level data"};
    const ToolResult result = run_tool(dir, {"out.bin", "prog.bin", pipe}, setup);
    const ModelRun expected = model_run("out.bin", kProgram, {{pipe, "level data"}});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.lines, expected.lines);
    EXPECT_EQ(first_difference(dir.read("out.bin"), expected.image), "");
}

const PipeCase kPipeCases[] = {
    {"InTheDeviceNamespace", "\\\\.\\pipe\\"},
    {"InAnyLetterCase", "\\\\.\\PIPE\\"},
    {"WithForwardSlashes", "//./pipe/"},
    {"PassedOnAsItIs", "\\\\?\\pipe\\"},
    {"ThroughTheObjectNamespace", "\\\\?\\GLOBALROOT\\Device\\NamedPipe\\"},
};
INSTANTIATE_TEST_SUITE_P(RunOutcome, WindowsNamedPipe, ::testing::ValuesIn(kPipeCases),
                         row_name<PipeCase>);

// Two file systems whose first files share an inode number, mounted while
// the object lives (as root on Linux).
struct TwoFileSystems {
    fs::path first, second;
    bool mounted = false;
    explicit TwoFileSystems(const fs::path& root) : first(root / "one"), second(root / "two") {
#ifdef __linux__
        fs::create_directory(first);
        fs::create_directory(second);
        mounted = mount("tmpfs", first.c_str(), "tmpfs", 0, "size=1m") == 0;
        if (mounted && mount("tmpfs", second.c_str(), "tmpfs", 0, "size=1m") != 0) {
            umount(first.c_str());
            mounted = false;
        }
#endif
    }
    ~TwoFileSystems() {
#ifdef __linux__
        if (mounted) umount(first.c_str()), umount(second.c_str());
#endif
    }
};

// Wine gives every file under one drive letter one volume serial, so for
// the Windows build each file system gets a drive letter of its own while
// the object lives: x: and y:. Wine's services learn of drives as they
// start, so Wine starts again as tests/start_wine.sh starts it, with
// nothing of the test's open.
struct DriveLetters {
    fs::path devices = fs::path(setting("WINEPREFIX", (setting("HOME", "") + "/.wine").c_str())) /
                       "dosdevices";
    DriveLetters(const fs::path& x, const fs::path& y) {
        fs::remove(devices / "x:");  // left by a run that ended before its destructor
        fs::remove(devices / "y:");
        fs::create_directory_symlink(x, devices / "x:");
        fs::create_directory_symlink(y, devices / "y:");
        const std::string restart =
            std::string(BANKSTITCHER_WINESERVER) + " -k; " + BANKSTITCHER_WINESERVER + " -w; " +
            BANKSTITCHER_WINESERVER + " -p; setarch \"$(uname -m)\" -R " + tool_emulator() +
            " wineboot --restart";
        if (std::system(("(" + restart + ") </dev/null >/dev/null 2>&1").c_str()) != 0) {
            throw std::runtime_error("Wine did not start again");
        }
    }
    ~DriveLetters() {
        fs::remove(devices / "x:");
        fs::remove(devices / "y:");
    }
};

TEST(RunOutcome, FilesWithOneInodeNumberOnTwoFileSystemsAreDifferentFiles) {
    ScratchDir dir;
    TwoFileSystems mounts(dir.path);
    if (!mounts.mounted) GTEST_SKIP() << "mounting a tmpfs needs root on Linux";
    dir.write("prog.bin", kProgram);
    dir.write("one/out.bin", "an old image");
    dir.write("two/d.dat", kData);
    struct stat out {}, data {};
    if (stat((mounts.first / "out.bin").c_str(), &out) != 0 ||
        stat((mounts.second / "d.dat").c_str(), &data) != 0 || out.st_ino != data.st_ino) {
        GTEST_SKIP() << "this kernel's tmpfs numbers its first files apart";
    }
    std::optional<DriveLetters> drives;
    if (testing_windows_build()) {
        dir.write("one/.windows-serial", "1111aaaa\n");  // where Wine reads a drive's serial
        dir.write("two/.windows-serial", "2222bbbb\n");
        drives.emplace(mounts.second, mounts.first);
    }
    const std::string out_path = drives ? "y:\\out.bin" : "one/out.bin";
    const std::string data_path = drives ? "x:\\d.dat" : "two/d.dat";
    const ToolResult result = run_tool(dir, {out_path, "prog.bin", data_path});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.lines, model_run(out_path, kProgram, {{data_path, kData}}).lines);
}

enum class DiskTwist {
    messages_to_disk,  // standard output writes the disk too
    alias_as_data,     // another node of the disk is named as a data file
    held,              // something else has the disk open exclusively
    fails_late,        // the disk takes writes, then fails them as it writes its cache back
};

struct DiskCase {
    const char* name;
    DiskTwist twist;
    Lines lines;              // standard output; "*" for every message of a run, on standard error
    int status;
};
void PrintTo(const DiskCase& c, std::ostream* out) { *out << c.name; }

class Disk : public ::testing::TestWithParam<DiskCase> {};

TEST_P(Disk, IsOneFileWhereverItIsNamed) {
    const DiskCase& c = GetParam();
    ScratchDir dir;
    LoopDisk disk(dir.path / "backing");
    if (disk.path.empty()) GTEST_SKIP() << "needs root and a loop device (losetup) on Linux";
    dir.write("prog.bin", kProgram);
    dir.write("d.dat", kData);
    struct stat node {};
    if (stat(disk.path.c_str(), &node) != 0 ||
        mknod((dir.path / "alias").c_str(), S_IFBLK | 0600, node.st_rdev) != 0) {
        FAIL() << "no second node for " << disk.path;
    }
    const bool fails_late = c.twist == DiskTwist::fails_late;
    if (fails_late && !disk.fail_late()) GTEST_SKIP() << "no immutable files (chattr +i) here";
    const int held = c.twist == DiskTwist::held ? open(disk.path.c_str(), O_RDONLY | O_EXCL) : -1;
    RunSetup setup;
    if (c.twist == DiskTwist::messages_to_disk) setup.out = to_file(disk.path);
    Lines args = {disk.path, "prog.bin", "d.dat"};
    if (c.twist == DiskTwist::alias_as_data) args.push_back("alias");
    const ToolResult result = run_tool(dir, args, setup);
    if (held >= 0) close(held);
    const ModelRun expected = model_run(disk.path, kProgram, {{"d.dat", kData}});
    EXPECT_EQ(result.status, c.status);
    if (c.lines == Lines{"*"}) {
        EXPECT_EQ(result.errors, expected.lines);
        EXPECT_EQ(first_difference(disk.read(expected.image.size()), expected.image), "");
    } else {
        EXPECT_EQ(result.lines, c.lines);
        if (!fails_late) {
            EXPECT_EQ(disk.read(8), std::string(8, '\0'));  // the run wrote nothing
        }
    }
}

const DiskCase kDiskCases[] = {
    {"MessagesKeepOutOfTheImage", DiskTwist::messages_to_disk, {"*"}, 0},
    {"AnotherNodeOfTheOutputIsRefusedAsAnInput", DiskTwist::alias_as_data,
     {"Failed to open outfile, it is also the input file alias"}, 1},
    {"DiskThatSomethingElseHoldsIsRefused", DiskTwist::held,
     {"Failed to open outfile, code " + code(EBUSY)}, 1},
    {"DiskThatFailsItsWritesLateFailsTheRun", DiskTwist::fails_late,
     {"Opened data file 'd.dat'", "- starting address 2000 (page >6002)",
      "- ending address 6000 (page >6006)", "Padding to 32k", "Failed to write outfile, code " + code(EIO)},
     5},
};
INSTANTIATE_TEST_SUITE_P(RunOutcome, Disk, ::testing::ValuesIn(kDiskCases), row_name<DiskCase>);

struct MessageCase {
    const char* name;
    std::string out_path;
    RunSetup setup;
    std::string image_path;  // where the image ends up
    Runs runs;
    int status;
    Lines errors;            // expected on standard error; "*" for every message
};
void PrintTo(const MessageCase& c, std::ostream* out) { *out << c.name; }

RunSetup with_out(Stream out, Stream err = {}, bool err_to_out = false) {
    RunSetup setup;
    setup.out = std::move(out);
    setup.err = std::move(err);
    setup.err_to_out = err_to_out;
    return setup;
}

class Messages : public ::testing::TestWithParam<MessageCase> {};

TEST_P(Messages, NeverLandInAFileTheRunReadsOrWrites) {
    const MessageCase& c = GetParam();
    if (c.runs == Runs::posix_only && testing_windows_build()) GTEST_SKIP() << "a POSIX case";
    const std::string no_full_device = why_no_full_device(c.out_path, c.setup);
    if (!no_full_device.empty()) GTEST_SKIP() << no_full_device;
    // Sixty data files, the last of them one that standard output may append to.
    std::vector<DataFile> data(59, DataFile{"d.dat", kData});
    data.push_back({"late.dat", kData});
    ScratchDir dir;
    dir.write("late.dat", kData);
    std::vector<std::string> args = {c.out_path, "prog.bin"};
    for (const DataFile& file : data) args.push_back(file.path);
    const ToolResult result = run_tool(with_inputs(dir), args, c.setup);
    const ModelRun expected = model_run(c.out_path, kProgram, data);
    EXPECT_EQ(first_difference(dir.read(c.image_path), expected.image), "");
    EXPECT_EQ(dir.read("d.dat"), kData);
    EXPECT_EQ(dir.read("late.dat"), kData);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.errors, c.errors == Lines{"*"} ? expected.lines : c.errors);
}

const MessageCase kMessageCases[] = {
    {"StandardOutputClosed", "out.bin", with_out(closed_stream()), "out.bin", Runs::anywhere, 0, {}},
    {"ImageOnStandardOutput", "/dev/stdout", with_out(to_file("rom.bin")), "rom.bin",
     Runs::posix_only, 0, {"*"}},
    {"ImageOnStandardOutputAndError", "/dev/stdout", with_out(to_file("rom.bin"), {}, true),
     "rom.bin", Runs::posix_only, 0, {}},
    {"StandardOutputIsTheOutputFile", "out.bin", with_out(to_file("out.bin")), "out.bin",
     Runs::anywhere, 0, {"*"}},
    {"StandardOutputAppendsToADataFile", "out.bin", with_out(to_file("d.dat", true)), "out.bin",
     Runs::anywhere, 0, {"*"}},
    {"StandardOutputAppendsToTheLastDataFile", "out.bin", with_out(to_file("late.dat", true)),
     "out.bin", Runs::anywhere, 0, {"*"}},
    {"ImageOnStandardOutputErrorsAppendToADataFile", "/dev/stdout",
     with_out(to_file("rom.bin"), to_file("d.dat", true)), "rom.bin", Runs::posix_only, 0, {}},
    {"MessagesToAFullDisk", "out.bin", with_out(to_file("/dev/full")), "out.bin", Runs::posix_only,
     7, {"Failed to write standard output, code " + code(ENOSPC)}},
    {"ImageOnStandardOutputMessagesToAFullDisk", "/dev/stdout",
     with_out(to_file("rom.bin"), to_file("/dev/full")), "rom.bin", Runs::posix_only, 7, {}},
    {"MessagesToAPipeWithNoReader", "out.bin", with_out(to_pipe(0)), "out.bin", Runs::posix_only, 7,
     {"Failed to write standard output, code " + code(EPIPE)}},
    {"MessagesToAFullDiskErrorsToADataFile", "out.bin",
     with_out(to_file("/dev/full"), to_file("d.dat", true)), "out.bin", Runs::posix_only, 7, {}},
};
INSTANTIATE_TEST_SUITE_P(RunOutcome, Messages, ::testing::ValuesIn(kMessageCases),
                         row_name<MessageCase>);

enum class Said { on_stdout, on_stderr };  // where a run's lines are

struct WriteCase {
    const char* name;
    std::string out_path;
    RunSetup setup;
    std::size_t data_size;
    Runs runs;
    Said said;
    std::string failure;
    std::size_t kept = std::string::npos;  // the bytes of the image that reach the file
};
void PrintTo(const WriteCase& c, std::ostream* out) { *out << c.name; }

RunSetup size_limit(rlim_t bytes) {
    RunSetup setup;
    setup.file_size_limit = bytes;
    return setup;
}

// A data file written through a FIFO by a writer that removes the output
// while the run waits for the data, once the run has made it: Wine opens the
// FIFO as it looks the input up, before the output is there.
RunSetup output_removed_meanwhile() {
    RunSetup setup;
    setup.wrapper = {"sh", "-c",
                     "(exec 3>d.dat; until [ -e out.bin ]; do sleep 0.01; done; rm out.bin; "
                     "echo data >&3) & exec \"$@\"", "sh"};
    return setup;
}

class WriteFailure : public ::testing::TestWithParam<WriteCase> {};

TEST_P(WriteFailure, EndsWithOneFailureLineAndStatus5) {
    const WriteCase& c = GetParam();
    if (c.runs == Runs::posix_only && testing_windows_build()) GTEST_SKIP() << "a POSIX case";
    const std::string no_full_device = why_no_full_device(c.out_path, c.setup);
    if (!no_full_device.empty()) GTEST_SKIP() << no_full_device;
    const bool fifo = !c.setup.wrapper.empty();  // the one wrapper here feeds d.dat through a FIFO
    const std::string data = fifo ? "data\n" : pattern_bytes(c.data_size, 2);
    ScratchDir dir;
    dir.write("prog.bin", kProgram);
    if (fifo) {
        if (mkfifo((dir.path / "d.dat").c_str(), 0600) != 0) FAIL() << "no FIFO";
    } else {
        dir.write("d.dat", data);
    }
    ToolResult result = run_tool(dir, {c.out_path, "prog.bin", "d.dat"}, c.setup);
    const ModelRun expected = model_run(c.out_path, kProgram, {{"d.dat", data}});
    EXPECT_EQ(result.status, 5);
    Lines& said = c.said == Said::on_stderr ? result.errors : result.lines;
    ASSERT_FALSE(said.empty());
    EXPECT_EQ(said.back(), c.failure);
    said.pop_back();
    // The lines before it are those of a whole run, cut short of its end;
    // but Wine reads a FIFO's data as nothing.
    if (fifo && testing_windows_build()) return;
    ASSERT_LT(said.size(), expected.lines.size());
    EXPECT_TRUE(std::equal(said.begin(), said.end(), expected.lines.begin()));
    // What was written stays, and may end part way through a bank.
    if (c.kept != std::string::npos) {
        EXPECT_EQ(dir.read(c.out_path), expected.image.substr(0, c.kept));
    }
}

const std::string kFileTooLarge = "Failed to write outfile, code " + code(EFBIG, EINVAL);
const std::string kDiskFull = "Failed to write outfile, code " + code(ENOSPC);

const WriteCase kWriteCases[] = {
    {"FileSizeLimitInBankZero", "out.bin", size_limit(4096), 300 * 8064, Runs::anywhere,
     Said::on_stdout, kFileTooLarge, 4096},
    {"FileSizeLimitInADataBank", "out.bin", size_limit((1 << 20) + 100), 300 * 8064, Runs::anywhere,
     Said::on_stdout, kFileTooLarge, (1 << 20) + 100},
    {"FileSizeLimitInThePadding", "out.bin", size_limit(3 << 20), 300 * 8064, Runs::anywhere,
     Said::on_stdout, kFileTooLarge, 3 << 20},
    {"FileSizeLimitInTheLastBank", "out.bin", size_limit((4 << 20) - 100), 300 * 8064,
     Runs::anywhere, Said::on_stdout, kFileTooLarge, (4 << 20) - 100},
    {"FullDiskAtTheFinalFlush", "/dev/full", {}, 10, Runs::posix_only, Said::on_stdout, kDiskFull},
    {"FullDiskAtABank", "/dev/full", {}, 300 * 8064, Runs::posix_only, Said::on_stdout, kDiskFull},
    {"FullDiskForImageAndMessages", "/dev/full", with_out(to_file("/dev/full")), 10,
     Runs::posix_only, Said::on_stderr, kDiskFull},
    {"PipeWhoseReaderQuits", "/dev/stdout", with_out(to_pipe(8192)), 300 * 8064, Runs::posix_only,
     Said::on_stderr, "Failed to write outfile, code " + code(EPIPE)},
    {"OutputRemovedWhileTheRunWaits", "out.bin", output_removed_meanwhile(), 0, Runs::anywhere,
     Said::on_stdout, "Failed to write outfile, it was removed during the run"},
};
INSTANTIATE_TEST_SUITE_P(RunOutcome, WriteFailure, ::testing::ValuesIn(kWriteCases),
                         row_name<WriteCase>);

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

class ClosedDescriptor : public ::testing::TestWithParam<int> {};

TEST_P(ClosedDescriptor, ThatCannotBeFilledStopsTheRunBeforeAnyFile) {
    if (testing_windows_build()) GTEST_SKIP() << "Windows has no descriptors to fill";
    if (!tool_emulator().empty()) GTEST_SKIP() << "the emulator needs descriptors of its own";
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the sanitizer runtime needs descriptors of its own; the plain build runs this";
#endif
    // Descriptor 0 is filled; the next closed one cannot be, and the line
    // goes to a standard stream that is open. Descriptor 0 itself cannot be
    // kept from being filled by a limit, since the loader needs descriptors:
    // the tool's open of the null device is failed instead.
    const int closed = GetParam();
    if (closed == 0 && !why_no_fault_injection().empty()) GTEST_SKIP() << why_no_fault_injection();
    ScratchDir dir;
    RunSetup setup;
    setup.stdin_closed = true;
    if (closed == 0) {
        setup.wrapper = {"strace", "-qq", "-o", "/dev/null", "-P", "/dev/null",
                         "-e", "inject=openat:error=EMFILE"};
    } else {
        (closed == 1 ? setup.out : setup.err) = closed_stream();
        setup.open_files_limit = 1;
    }
    const ToolResult result = run_tool(with_inputs(dir), {"out.bin", "prog.bin", "d.dat"}, setup);
    EXPECT_EQ(result.status, 8);
    const Lines& said = closed == 2 ? result.lines : result.errors;
    ASSERT_FALSE(said.empty());
    EXPECT_EQ(said[0], "Failed to open the null device on closed descriptor " +
                           std::to_string(closed) + ", code " + code(EMFILE));
    EXPECT_FALSE(fs::exists(dir.path / "out.bin"));
}

INSTANTIATE_TEST_SUITE_P(RunOutcome, ClosedDescriptor, ::testing::Values(0, 1, 2),
                         [](const auto& row) { return "Descriptor" + std::to_string(row.param); });

TEST(RunOutcome, EndlessDataFileStopsAtOneGibibyte) {
    if (!has_device("/dev/zero")) GTEST_SKIP() << "no endless device /dev/zero";
    ScratchDir dir;
    dir.write("prog.bin", kProgram);
    const ToolResult result = run_tool(dir, {"/dev/null", "prog.bin", "/dev/zero"});
    EXPECT_EQ(result.lines, (Lines{"Opened data file '/dev/zero'", "- starting address 2000 (page >6002)",
                                   "Failed to append data file /dev/zero, image would exceed 1GB"}));
    EXPECT_EQ(result.status, 6);
}

struct LargeCase {
    const char* name;
    std::uint64_t size;  // of big.dat when the run checks it
    Lines lines;
    int status;
    // Where the run stands still while `change` (a shell command) changes
    // its inputs: "gate", a FIFO named before big.dat, which the run opens
    // once the checks are past; "FILE CALL:when=N", as it enters that
    // system call on FILE (stopped by strace as it returns); or, for the
    // Windows build, "retime FILE": held by file_holder's pipe as its
    // output, while FILE gets another time. Nothing, by default.
    std::string stop = "";
    std::string change = "";
};
void PrintTo(const LargeCase& c, std::ostream* out) { *out << c.name; }

// Runs the tool and, once it stands still after the system call `call` on
// `file`, the shell command `change`; `file` was last written long
// ago, so that any write shows in its time. The stop is told from strace's
// own line for it: a traced process shows as stopped at every system call.
RunSetup changed_at(const std::string& file, const std::string& call, const std::string& change) {
    RunSetup setup;
    setup.wrapper = {"sh", "-c",
        "touch -m -d @1000000000 " + file + "; strace -qq -o .stops -P " + file +
        " -e inject=" + call + ":signal=SIGSTOP \"$@\" 2>/dev/null & s=$!; "
        "until grep -qs 'stopped by SIGSTOP' .stops || grep -qs zombie /proc/$s/status; do "
        "sleep 0.01; done; read -r t _ </proc/$s/task/$s/children; " +
        change + "; kill -CONT $t; wait $s", "sh"};
    return setup;
}

class LargeDataFile : public ::testing::TestWithParam<LargeCase> {};

// Sparse files read as zeros and take no disk space; past 2 and 4 GiB they
// need 64-bit file offsets on a 32-bit system. Data known not to fit ends the
// run before it writes; data that grows past the bound after the checks ends
// it as the bound is reached, and an input written while the run reads it
// ends the run as it is found.
TEST_P(LargeDataFile, FillsTheImageUpToOneGibibyteAndNoFurther) {
    const LargeCase& c = GetParam();
    const bool gate = c.stop == "gate";
    const bool retime = c.stop.rfind("retime ", 0) == 0;
    if (retime != testing_windows_build() && !c.stop.empty()) {
        GTEST_SKIP() << (retime ? "a Windows case" : "a POSIX case");
    }
    if (!c.stop.empty() && !gate && !retime && !why_no_fault_injection().empty()) {
        GTEST_SKIP() << why_no_fault_injection();
    }
    if (!c.stop.empty() && !gate && !retime && !fs::exists("/proc/self/task")) {
        GTEST_SKIP() << "tells a stopped run from Linux's /proc";
    }
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        limit.rlim_cur <= c.size) {
        GTEST_SKIP() << "the file-size limit is not above " << c.size << " bytes";
    }
    ScratchDir dir;
    dir.write("prog.bin", kProgram);
    write_sparse(dir, "big.dat", c.size);
    Lines args = {null_device(), "prog.bin", "big.dat"};
    RunSetup setup;
    if (gate) {
        ASSERT_EQ(mkfifo((dir.path / "gate").c_str(), 0600), 0);
        args.insert(args.begin() + 2, "gate");
        setup.wrapper = {"sh", "-c", "(exec 3>gate; " + c.change + ") & exec \"$@\"", "sh"};
    } else if (retime) {
        args[0] = "\\\\.\\pipe\\retime";
        setup.launcher = file_holder(c.stop);
    } else if (!c.stop.empty()) {
        const std::size_t blank = c.stop.find(' ');
        setup = changed_at(c.stop.substr(0, blank), c.stop.substr(blank + 1), c.change);
    }
    const ToolResult result = run_tool(dir, args, setup);
    EXPECT_EQ(result.lines, c.lines);
    EXPECT_EQ(result.status, c.status);
}

const std::string kPastTheBound = "Failed to append data file big.dat, image would exceed 1GB";
const std::string kBigChanged = "Failed to read data file big.dat, it changed while it was read";
const Lines kBigOpened = {"Opened data file 'big.dat'", "- starting address 2000 (page >6002)"};
const Lines kGateRead = {"Opened data file 'gate'", "- starting address 2000 (page >6002)",
                         "- ending address 2000 (page >6002)"};
const std::uint64_t kLargestThatFits = std::uint64_t{131071} * 8064;

const LargeCase kLargeCases[] = {
    {"LargestThatFits", kLargestThatFits,
     then(kBigOpened, {"- ending address 40000000 (page >46000)",
                       "* Warning - 2MB is max cartridge board so far.",
                       "* Warning - 32MB is max posible with current bank switch.",
                       "Finished writing '" + null_device() + "'."}), 0},
    {"OneByteTooMany", kLargestThatFits + 1, {kPastTheBound}, 6},
    {"Past4GiB", (std::uint64_t{4} << 30) + 1, {kPastTheBound}, 6},
    {"GrowsPastTheBoundAfterTheChecks", kLargestThatFits, then(then(kGateRead, kBigOpened), {kPastTheBound}),
     6, "gate", "truncate -s +1 big.dat"},
    // Written while the run reads it: the image would mix two versions of the
    // file. The run stands still just after the read named (the 9th of
    // big.dat meets its end).
    {"RewrittenWhileReadToTheSameSize", 1 << 20, then(kBigOpened, {kBigChanged}), 4,
     "big.dat read:when=2",
     "truncate -s 0 big.dat; truncate -s 1M big.dat; touch -m -d @1000000001 big.dat"},
    {"RewrittenWhileReadOnWindows", 4 << 20, then(kBigOpened, {kBigChanged}), 4, "retime big.dat"},
    {"GrownAtItsEndWithItsTimeKept", 1 << 20, then(kBigOpened, {kBigChanged}), 4,
     "big.dat read:when=9", "truncate -s +1 big.dat; touch -m -d @1000000000 big.dat"},
    {"ProgramRewrittenWhileRead", 1 << 20,
     {"Warning - program file may be too large - only 8192 bytes read!",
      "Failed to read program file, it changed while it was read"}, 4, "prog.bin read:when=1", "head -c 9000 big.dat >prog.bin"},
};
INSTANTIATE_TEST_SUITE_P(RunOutcome, LargeDataFile, ::testing::ValuesIn(kLargeCases),
                         row_name<LargeCase>);

}  // namespace
