// Runs the real bankstitcher binary in a scratch directory and captures what
// it prints and its exit status. Two settings, built in and overridable from
// the environment, say how: BANKSTITCHER_EMULATOR, a command that runs the
// binary (Wine, or qemu-user for another processor), and BANKSTITCHER_WINDOWS,
// "1" for a Windows build (CR LF, the Windows C runtime's error numbers).
#pragma once

#include <linux/capability.h>
#include <sys/personality.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
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

// A setting built into the test binary, which the environment may override.
inline std::string setting(const char* name, const char* built_in) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : built_in;
}
inline std::string tool_exe() { return setting("BANKSTITCHER_EXE", BANKSTITCHER_EXE); }
inline std::string tool_emulator() {
    return setting("BANKSTITCHER_EMULATOR", BANKSTITCHER_EMULATOR);
}
inline bool testing_windows_build() { return setting("BANKSTITCHER_WINDOWS", BANKSTITCHER_WINDOWS) == "1"; }

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

// How the tool is started, beyond its arguments.
struct RunSetup {
    // Standard output: "" is captured in a file, "-" closed, "|" a pipe that
    // is read to its end, or only up to `pipe_reader_quits_after` bytes
    // (0: the pipe has no reader at all); anything else is a file.
    std::string stdout_path;
    bool stdout_append = false;  // >> instead of >
    std::size_t pipe_reader_quits_after = std::string::npos;
    std::string stderr_path;  // "" is captured, "-" closed
    bool stderr_to_stdout = false;  // 2>&1
    bool stdin_closed = false;
    bool unprivileged = false;  // file permissions bind the tool, even run by root
    rlim_t file_size_limit = RLIM_INFINITY;  // a write past it fails (EFBIG)
    rlim_t open_files_limit = RLIM_INFINITY;
    std::vector<std::string> wrapper;  // a command that runs the tool, e.g. strace
};

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

// Runs the tool with `args` from the directory `cwd`.
inline ToolResult run_tool(const fs::path& cwd, std::vector<std::string> args,
                           const RunSetup& setup = {}) {
    const std::string exe = tool_exe();
    args.insert(args.begin(), exe);
    // The emulator command, split at blanks, goes in front.
    std::istringstream emulator(tool_emulator());
    std::vector<std::string> words{std::istream_iterator<std::string>(emulator), {}};
    args.insert(args.begin(), words.begin(), words.end());
    // Wine says nothing of its own but its errors, which name a failure of
    // Wine's rather than let it pass for the tool's status.
    setenv("WINEDEBUG", "-all,err+all", 0);
    args.insert(args.begin(), setup.wrapper.begin(), setup.wrapper.end());
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    const fs::path out = cwd / ".stdout";
    const fs::path err = cwd / ".stderr";
    const std::string stdout_path = setup.stdout_path.empty() ? out.string() : setup.stdout_path;
    const std::string stderr_path = setup.stderr_path.empty() ? err.string() : setup.stderr_path;
    const bool piped = stdout_path == "|";
    int pipe_ends[2] = {-1, -1};
    if (piped && pipe(pipe_ends) != 0) throw std::runtime_error("no pipe");
    if (piped && setup.pipe_reader_quits_after == 0) close(pipe_ends[0]);  // no reader at all
    const pid_t child = fork();
    if (child == 0) {
        const rlimit files{setup.open_files_limit, setup.open_files_limit};
        const rlimit size{setup.file_size_limit, setup.file_size_limit};
        // The signals as users meet them. Windows has no SIGXFSZ: there a
        // write past the limit is made to fail, as it fails on Windows.
        std::signal(SIGPIPE, SIG_DFL);
        std::signal(SIGXFSZ, testing_windows_build() ? SIG_IGN : SIG_DFL);
        if (chdir(cwd.c_str()) != 0 ||
            (stderr_path != "-" &&
             !std::freopen(stderr_path.c_str(), setup.stderr_path.empty() ? "wb" : "ab", stderr))) {
            _exit(127);
        }
        if (piped) {
            if (dup2(pipe_ends[1], 1) != 1) _exit(127);
            close(pipe_ends[1]);
            if (setup.pipe_reader_quits_after != 0) close(pipe_ends[0]);
        } else if (stdout_path == "-" ? close(1) != 0
                                      : !std::freopen(stdout_path.c_str(),
                                                      setup.stdout_append ? "ab" : "wb", stdout)) {
            _exit(127);
        }
        if ((setup.stderr_to_stdout && dup2(1, 2) != 2) || (setup.stdin_closed && close(0) != 0) ||
            (stderr_path == "-" && close(2) != 0)) {
            _exit(127);
        }
        // Root is kept to file permissions by losing the two capabilities that
        // override them; anyone else is kept to them anyway.
        if (setup.unprivileged && geteuid() == 0 &&
            (prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE) != 0 ||
             prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH) != 0)) {
            _exit(127);
        }
        // Wine must map Windows' shared page at a fixed address; Debian's Wine,
        // having no preloader to reserve it, fails with status 1 whenever the
        // randomly placed heap covers it, about once in some thousand starts.
        if (testing_windows_build() && personality(ADDR_NO_RANDOMIZE) == -1) {
            _exit(127);
        }
        if ((files.rlim_cur != RLIM_INFINITY && setrlimit(RLIMIT_NOFILE, &files) != 0) ||
            (size.rlim_cur != RLIM_INFINITY && setrlimit(RLIMIT_FSIZE, &size) != 0)) {
            _exit(127);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    std::string piped_text;
    if (piped) {
        close(pipe_ends[1]);
        if (setup.pipe_reader_quits_after != 0) {
            char buffer[65536];
            ssize_t got = 0;
            while (piped_text.size() < setup.pipe_reader_quits_after &&
                   (got = read(pipe_ends[0], buffer, sizeof buffer)) > 0) {
                piped_text.append(buffer, static_cast<std::size_t>(got));
            }
            close(pipe_ends[0]);
        }
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        throw std::runtime_error("the tool did not exit: " + exe + " (" +
                                 (WIFSIGNALED(status) ? strsignal(WTERMSIG(status)) : "?") + ")");
    }
    ToolResult result{WEXITSTATUS(status), split_lines(piped ? piped_text : read_file(out)),
                      split_lines(read_file(err))};
    fs::remove(out);
    fs::remove(err);
    // An emulator that fails to start the tool ends with a status of its own
    // (Wine's is 1), often with no output: that is no outcome of the tool's,
    // which says something whenever a Windows run fails.
    if (testing_windows_build() && result.status != 0 && result.lines.empty() &&
        result.errors.empty()) {
        throw std::runtime_error("Wine ended with status " + std::to_string(result.status) +
                                 " and no output: it did not run the tool");
    }
    for (std::string line : result.errors) {
        // Wine puts the thread's number in front of its debug lines: "0054:err:".
        if (line.find_first_not_of("0123456789abcdef") == 4 && line[4] == ':') line.erase(0, 5);
        for (const char* own : {"wine: ", "wine client error", "wineserver: ", "err:", "qemu-",
                                "Inconsistency detected by ld.so"}) {
            if (!words.empty() && line.rfind(own, 0) == 0) {
                throw std::runtime_error("the emulator failed: " + line);
            }
        }
    }
    return result;
}

inline ToolResult run_tool(const ScratchDir& dir, std::vector<std::string> args,
                           const RunSetup& setup = {}) {
    return run_tool(dir.path, std::move(args), setup);
}

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
