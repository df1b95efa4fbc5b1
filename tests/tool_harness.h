// Runs the real bankstitcher binary in a scratch directory and captures what
// it prints and its exit status. The environment says which binary:
// BANKSTITCHER_WINDOWS=PATH for the Windows .exe under Wine (CR LF, the Windows
// C runtime's error numbers), or BANKSTITCHER_EXE with BANKSTITCHER_EMULATOR,
// a command that runs it (qemu-user for another processor); by default,
// this build's own.
#pragma once

#ifdef __linux__
#include <linux/capability.h>
#include <sys/personality.h>
#include <sys/prctl.h>
#endif
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace testing_support {

namespace fs = std::filesystem;

// A setting from the environment, or `built_in`.
inline std::string setting(const char* name, const char* built_in) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : built_in;
}
inline bool testing_windows_build() { return !setting("BANKSTITCHER_WINDOWS", "").empty(); }
inline std::string tool_exe() {
    return testing_windows_build() ? setting("BANKSTITCHER_WINDOWS", "")
                                   : setting("BANKSTITCHER_EXE", BANKSTITCHER_EXE);
}
inline std::string tool_emulator() {
    return setting("BANKSTITCHER_EMULATOR", testing_windows_build() ? BANKSTITCHER_WINE : "");
}
// A test helper built beside the tool, for the tool's platform.
inline fs::path beside_tool(const std::string& name) {
    return fs::path(tool_exe()).parent_path() / name;
}
// The launcher that holds a file, "MODE PATH", while the Windows tool runs:
// file_holder.exe beside it (see tests/file_holder.cpp).
inline std::vector<std::string> file_holder(const std::string& held) {
    const std::size_t blank = held.find(' ');
    return {beside_tool("file_holder.exe").string(), held.substr(0, blank), held.substr(blank + 1)};
}
inline std::string null_device() { return testing_windows_build() ? "NUL" : "/dev/null"; }

inline std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A fresh directory, removed with everything in it when the test ends.
struct ScratchDir {
    fs::path path;
    ScratchDir() {
        std::string templ = (fs::temp_directory_path() / "bankstitcher-test-XXXXXX").string();
        if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("no scratch directory");
        path = templ;
    }
    ~ScratchDir() { fs::remove_all(path); }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    void write(const std::string& name, const std::string& bytes) const {
        std::ofstream(path / name, std::ios::binary) << bytes;
    }
    std::string read(const std::string& name) const { return read_file(path / name); }
};

struct ToolResult {
    int status;                       // as a shell sees it: -1 is 255
    std::vector<std::string> lines;   // standard output, line ends removed
    std::vector<std::string> errors;  // standard error, likewise
};

// Where one standard stream of the tool goes.
struct Stream {
    enum Kind { captured, closed, pipe, file };
    Kind kind = captured;
    std::string path = "";  // of the file
    bool append = false;  // >> instead of >
    // A pipe's reader reads this many bytes and quits; 0: it has no reader.
    std::size_t reader_quits_after = std::string::npos;
};
inline Stream to_file(std::string path, bool append = false) {
    return {Stream::file, std::move(path), append};
}
inline Stream closed_stream() { return {Stream::closed}; }
inline Stream to_pipe(std::size_t reader_quits_after = std::string::npos) {
    return {Stream::pipe, "", false, reader_quits_after};
}

// How the tool is started, beyond its arguments.
struct RunSetup {
    Stream out;                       // standard output
    Stream err;                       // standard error (captured, closed or a file)
    bool err_to_out = false;          // 2>&1
    bool stdin_closed = false;
    int stdin_from = -1;              // a descriptor standard input reads from
    bool unprivileged = false;        // file permissions bind the tool, even run by root
    rlim_t file_size_limit = RLIM_INFINITY;  // a write past it fails (EFBIG)
    rlim_t open_files_limit = RLIM_INFINITY;
    std::vector<std::string> wrapper;   // a command that runs the tool, e.g. strace
    std::vector<std::string> launcher;  // one that runs it on its own platform, after the emulator
    std::string helper;  // a test helper built beside the tool, run in its place
};

// Why faults cannot be injected into the tool's system calls here, or "".
inline std::string why_no_fault_injection() {
    if (testing_windows_build()) return "strace traces Linux processes only";
    if (!tool_emulator().empty()) return "strace would fail the emulator's calls, not the tool's";
#ifdef __SANITIZE_ADDRESS__
    return "the sanitizer runtime makes calls of its own; the plain build runs this";
#else
    if (std::system("command -v strace >/dev/null 2>&1") != 0) {
        return "strace is not installed (Debian package strace)";
    }
    return "";
#endif
}

// Whether root can be kept to file permissions here (by dropping capabilities).
inline bool can_run_unprivileged() {
#ifdef __linux__
    return true;
#else
    return geteuid() != 0;
#endif
}

// A run that takes longer than this has hung: the slowest, which reads 1 GiB
// under an emulator or a sanitizer, takes a few seconds.
constexpr unsigned kTimeLimitSeconds = 30;

// Splits standard output into lines; the Windows console ends them in CR LF.
inline std::vector<std::string> split_lines(const std::string& text) {
    const std::string end = testing_windows_build() ? "\r\n" : "\n";
    std::vector<std::string> lines;
    for (std::size_t from = 0; from < text.size();) {
        std::size_t at = text.find(end, from);
        if (at == std::string::npos) at = text.size();
        lines.push_back(text.substr(from, at - from));
        from = at + end.size();
    }
    return lines;
}

// The command that runs the tool with `args`: the wrapper, the emulator
// (split at blanks), the launcher, then the tool (or the helper in its place).
inline std::vector<std::string> tool_command(std::vector<std::string> args,
                                             const RunSetup& setup) {
    std::istringstream emulator(tool_emulator());
    args.insert(args.begin(), setup.helper.empty() ? tool_exe() : beside_tool(setup.helper).string());
    args.insert(args.begin(), setup.launcher.begin(), setup.launcher.end());
    args.insert(args.begin(), std::istream_iterator<std::string>(emulator), {});
    args.insert(args.begin(), setup.wrapper.begin(), setup.wrapper.end());
    return args;
}

// Points a standard descriptor where `stream` says; false on failure.
inline bool redirect(int fd, const Stream& stream, const fs::path& captured, int pipe_end) {
    switch (stream.kind) {
        case Stream::closed:
            return close(fd) == 0;
        case Stream::pipe:
            return dup2(pipe_end, fd) == fd;
        default: {
            const bool file = stream.kind == Stream::file;
            const std::string path = file ? stream.path : captured.string();
            const int flags = O_WRONLY | O_CREAT | (stream.append ? O_APPEND : O_TRUNC);
            const int opened = open(path.c_str(), flags, 0666);
            return opened >= 0 && dup2(opened, fd) == fd && close(opened) == 0;
        }
    }
}

// In the child, before the tool starts: what a platform adds. Root is kept
// to file permissions by losing the two capabilities that override them.
// Wine runs without address-space randomization: Debian's Wine has no
// preloader to reserve the address where Windows' shared page must go, and
// about one start in several thousand otherwise fails with status 1 when
// the randomly placed heap covers it.
inline bool prepare_platform(const RunSetup& setup) {
#ifdef __linux__
    if (setup.unprivileged && geteuid() == 0 &&
        (prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE) != 0 ||
         prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH) != 0)) {
        return false;
    }
    if (testing_windows_build() && personality(ADDR_NO_RANDOMIZE) == -1) return false;
#else
    (void)setup;
#endif
    return true;
}

// Sets up a started run's own side as `setup` asks: its directory, its
// standard streams, what its platform needs, and its limits; false when any
// of it fails.
inline bool set_up_run(const fs::path& cwd, const RunSetup& setup, const int (&pipe_ends)[2]) {
    if (chdir(cwd.c_str()) != 0 || !redirect(2, setup.err, cwd / ".stderr", -1) ||
        !redirect(1, setup.out, cwd / ".stdout", pipe_ends[1])) {
        return false;
    }
    if (setup.out.kind == Stream::pipe) {
        if (pipe_ends[0] >= 0) close(pipe_ends[0]);  // the reader's end, unless it has none
        if (close(pipe_ends[1]) != 0) return false;
    }
    if ((setup.err_to_out && dup2(1, 2) != 2) || (setup.stdin_closed && close(0) != 0) ||
        (setup.stdin_from >= 0 && dup2(setup.stdin_from, 0) != 0) || !prepare_platform(setup)) {
        return false;
    }
    const rlimit files{setup.open_files_limit, setup.open_files_limit};
    const rlimit size{setup.file_size_limit, setup.file_size_limit};
    return (files.rlim_cur == RLIM_INFINITY || setrlimit(RLIMIT_NOFILE, &files) == 0) &&
           (size.rlim_cur == RLIM_INFINITY || setrlimit(RLIMIT_FSIZE, &size) == 0);
}

// In the child: the streams, limits and signals of `setup`, then the tool.
[[noreturn]] inline void start_tool(const fs::path& cwd, std::vector<std::string> command,
                                    const RunSetup& setup, const int (&pipe_ends)[2]) {
    // The signals as users meet them. Windows has no SIGXFSZ: there a write
    // past the limit is made to fail, as it fails on Windows.
    std::signal(SIGPIPE, SIG_DFL);
    std::signal(SIGXFSZ, testing_windows_build() ? SIG_IGN : SIG_DFL);
    if (!set_up_run(cwd, setup, pipe_ends)) _exit(127);
    std::vector<char*> argv;
    for (std::string& arg : command) argv.push_back(arg.data());
    argv.push_back(nullptr);
    setpgid(0, 0);  // a group of its own, which the test ends with it
    alarm(kTimeLimitSeconds);  // the default action ends a run that hangs
    execvp(argv[0], argv.data());
    _exit(127);
}

// Reads a pipe up to `limit` bytes, or to its end.
inline std::string read_pipe(int fd, std::size_t limit) {
    std::string text;
    char buffer[65536];
    ssize_t got = 0;
    while (text.size() < limit && (got = read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

// Throws when the emulator, not the tool, made the run fail. Wine names its
// own failures on standard error (with the thread's number in front:
// "0054:err:"); a Wine that fails to start ends with status 1 and no output,
// which no failed run of the tool does.
inline void check_emulator(const ToolResult& result) {
    if (tool_emulator().empty()) return;
    if (testing_windows_build() && result.status != 0 && result.lines.empty() &&
        result.errors.empty()) {
        throw std::runtime_error("Wine ended with status " + std::to_string(result.status) +
                                 " and no output: it did not run the tool");
    }
    for (std::string line : result.errors) {
        if (line.find_first_not_of("0123456789abcdef") == 4 && line[4] == ':') line.erase(0, 5);
        for (const char* own : {"wine: ", "wine client error", "wineserver: ", "err:", "qemu-",
                                "Inconsistency detected by ld.so"}) {
            if (line.rfind(own, 0) == 0) throw std::runtime_error("the emulator failed: " + line);
        }
    }
}

// A run of the tool that has started and not yet been waited for.
struct StartedTool {
    pid_t process;
    std::string program;  // the command's first word, for messages
    int reader;           // the reading end of its piped output, or -1
};

// Starts the tool with `args` from the directory `cwd`.
inline StartedTool start_run(const fs::path& cwd, std::vector<std::string> args,
                             const RunSetup& setup) {
    const std::vector<std::string> command = tool_command(std::move(args), setup);
    setenv("WINEDEBUG", "-all,err+all", 0);  // Wine's errors alone, for check_emulator
    int pipe_ends[2] = {-1, -1};
    const bool piped = setup.out.kind == Stream::pipe;
    if (piped && pipe(pipe_ends) != 0) throw std::runtime_error("no pipe");
    if (piped && setup.out.reader_quits_after == 0) {
        close(pipe_ends[0]);  // no reader at all
        pipe_ends[0] = -1;
    }
#ifdef __linux__
    // What the run leaves behind is reparented here, to be reaped.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
#endif
    const pid_t child = fork();
    if (child == 0) start_tool(cwd, command, setup, pipe_ends);
    setpgid(child, child);  // whichever of the two comes first
    if (piped) close(pipe_ends[1]);
    return {child, command[0], pipe_ends[0]};
}

// Ends and reaps every process left in a run's group once the run has
// ended: a helper that feeds a FIFO waits on it for good when the tool ended
// before opening it.
inline void end_left_behind(pid_t group) {
    kill(-group, SIGKILL);
    while (waitpid(-group, nullptr, 0) > 0) {
    }
}

// Waits for a started run to end and collects what it said; `piped_text` is
// what was read from its piped output.
inline ToolResult finish_run(const fs::path& cwd, const StartedTool& run,
                             const std::string& piped_text = "") {
    int status = 0;
    const bool waited = run.process > 0 && waitpid(run.process, &status, 0) == run.process;
    if (waited) end_left_behind(run.process);
    if (!waited || !WIFEXITED(status)) {
        const bool hung = WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM;
        throw std::runtime_error(
            hung ? "the tool ran past its time limit of " + std::to_string(kTimeLimitSeconds) + " s"
                 : "the tool did not exit: " + run.program + " (" +
                       (WIFSIGNALED(status) ? strsignal(WTERMSIG(status)) : "?") + ")");
    }
    const fs::path out = cwd / ".stdout";
    const fs::path err = cwd / ".stderr";
    ToolResult result{WEXITSTATUS(status),
                      split_lines(piped_text.empty() ? read_file(out) : piped_text),
                      split_lines(read_file(err))};
    fs::remove(out);
    fs::remove(err);
    check_emulator(result);
    return result;
}

// Runs the tool with `args` from the directory `cwd`.
inline ToolResult run_tool(const fs::path& cwd, std::vector<std::string> args,
                           const RunSetup& setup = {}) {
    const StartedTool run = start_run(cwd, std::move(args), setup);
    std::string piped_text;
    if (run.reader >= 0) {
        piped_text = read_pipe(run.reader, setup.out.reader_quits_after);
        close(run.reader);
    }
    return finish_run(cwd, run, piped_text);
}

inline ToolResult run_tool(const ScratchDir& dir, std::vector<std::string> args,
                           const RunSetup& setup = {}) {
    return run_tool(dir.path, std::move(args), setup);
}

// A block device of its own, backed by a scratch file, while the object lives
// (as root on Linux).
struct LoopDisk {
    std::string path;
    fs::path backing;
    explicit LoopDisk(const fs::path& backing_file) : backing(backing_file) {
        if (backing.empty() || testing_windows_build() || geteuid() != 0) return;
        std::ofstream(backing, std::ios::binary) << std::string(1 << 20, '\0');
        const std::string command = "losetup -f --show " + backing.string() + " 2>/dev/null";
        if (FILE* losetup = popen(command.c_str(), "r")) {
            char line[256] = "";
            if (std::fgets(line, sizeof line, losetup)) path = std::string(line, std::strcspn(line, "\n"));
            pclose(losetup);
        }
    }
    ~LoopDisk() {
        if (path.empty()) return;
        std::system(("chattr -i " + backing.string() + " 2>/dev/null; losetup -d " + path).c_str());
    }
    // Makes every later write-back to the disk fail, as a worn card fails:
    // the device takes writes into its cache, and its file refuses them.
    bool fail_late() const { return std::system(("chattr +i " + backing.string()).c_str()) == 0; }
    std::string read(std::size_t size) const {
        std::string bytes(size, '\0');
        std::ifstream(path, std::ios::binary).read(bytes.data(), static_cast<std::streamsize>(size));
        return bytes;
    }
};

// Deterministic bytes, never zero, that differ from file to file.
inline std::string pattern_bytes(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    unsigned state = seed * 2654435761u + 1u;
    for (char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>((state >> 16) | 1u);
    }
    return bytes;
}

// Where two images first differ, instead of megabytes of bytes; "" if equal.
inline std::string first_difference(const std::string& actual, const std::string& expected) {
    if (actual == expected) return "";
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
    return "differ at bank " + std::to_string(at / 8192) + " offset " + std::to_string(at % 8192) +
           "; size " + std::to_string(actual.size()) + ", expected " + std::to_string(expected.size());
}

}  // namespace testing_support
