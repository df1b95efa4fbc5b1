// Every system call the tool makes after it starts, failed in turn with the
// errors that call can give, once and from then on, with standard output a
// file and then a pipe. Whatever fails, a run ends with status 0 only with the
// exact image and every message; with status 7 the image is exact; with any
// other status there is no closing line and the last line says what failed,
// and a refused output that the run created is gone.
// No run dies of a signal, and inputs never change; a run that hangs is
// ended by the test's time limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "image_model.h"
#include "tool_harness.h"

using namespace testing_support;

namespace {

using Lines = std::vector<std::string>;

// How often each system call was made in a trace: before the tool's own
// first call (it ignores SIGPIPE, or else looks at descriptor 0, before
// anything else), and up to the tool's end, where a coverage build's runtime
// starts writing its counts.
struct CallCounts {
    std::map<std::string, int> before_main;
    std::map<std::string, int> to_end;
    int lock_call = 0;              // which fcntl call locks the output
    std::vector<int> input_checks;  // which newfstatat calls examine an open input
    int stdout_check = 0;           // which newfstatat call examines standard output
};

CallCounts count_calls(const std::string& trace) {
    CallCounts counts;
    std::istringstream lines(trace);
    bool in_main = false;
    std::string input;  // how the check of the input just opened begins
    for (std::string line; std::getline(lines, line);) {
        const std::size_t paren = line.find('(');
        if (paren == std::string::npos || line[0] == '+' || line[0] == '-') continue;
        if (line.find(".gcda\"") != std::string::npos) break;
        if (!in_main && (line.rfind("rt_sigaction(SIGPIPE", 0) == 0 ||
                         line.rfind("fcntl(0, F_GETFD)", 0) == 0)) {
            in_main = true;
            counts.before_main = counts.to_end;
        }
        const int n = ++counts.to_end[line.substr(0, paren)];
        if (line.find("F_SETLK,") != std::string::npos) counts.lock_call = n;
        if (in_main && !counts.stdout_check && line.rfind("newfstatat(1, \"\"", 0) == 0) {
            counts.stdout_check = n;
        }
        // An input is opened read-only; its descriptor is examined next.
        const std::size_t result = line.rfind(" = ");
        if (line.find("O_RDONLY)") != std::string::npos && result != std::string::npos) {
            input = "newfstatat(" + line.substr(result + 3) + ", \"\"";
        } else if (!input.empty() && line.rfind(input, 0) == 0) {
            counts.input_checks.push_back(n);
            input.clear();
        }
    }
    return counts;
}

// The errors a call can give that the tool must survive.
std::vector<std::string> errors_of(const std::string& call) {
    if (call == "read" || call == "write") return {"EIO", "ENOSPC", "EINTR", "EAGAIN", "EBADF"};
    if (call == "openat") return {"EACCES", "EIO", "ENOMEM", "ENOSPC"};
    if (call == "newfstatat" || call == "fstat") return {"EIO", "EBADF"};
    if (call == "fcntl") return {"EBADF", "EAGAIN", "ENOLCK"};
    if (call == "close") return {"EIO", "EINTR"};
    return {"EIO"};
}

// One fault: the n-th call of `call` fails with `code`, once or from then on.
struct Fault {
    std::string call;
    std::string code;
    int n;
    bool from_then_on;
    std::string when;  // strace's "N" or "N..LAST"
};

// Every fault the sweep makes, from the calls a traced run made after the
// tool's first own call.
std::vector<Fault> faults_for(const CallCounts& counts, bool piped) {
    std::vector<Fault> faults;
    for (const auto& [call, last] : counts.to_end) {
        // exit_group cannot fail (libc would retry it forever), and the kernel
        // refuses brk by giving the old break, never an error number.
        if (call == "exit_group" || call == "brk") continue;
        // Through a pipe, only the calls on standard output behave otherwise.
        if (piped && call != "write" && call != "newfstatat") continue;
        const int first = counts.before_main.count(call) ? counts.before_main.at(call) + 1 : 1;
        const std::vector<std::string> errors = errors_of(call);
        for (int n = first; n <= last; ++n) {
            // Each error once at the n-th call, then the first from there on.
            const std::string once = std::to_string(n);
            for (const std::string& code : errors) faults.push_back({call, code, n, false, once});
            faults.push_back({call, errors[0], n, true, once + ".." + std::to_string(last)});
        }
    }
    return faults;
}

int failures_so_far() {
    return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
}

bool is_closing_line(const std::string& line) { return line.rfind("Finished writing", 0) == 0; }

TEST(FaultSweep, EverySystemCallFailedInTurnEndsExactOrSaysWhatFailed) {
    if (testing_windows_build()) GTEST_SKIP() << "strace traces Linux processes only";
    if (!tool_emulator().empty()) GTEST_SKIP() << "strace would fail the emulator's calls, not the tool's";
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the sanitizer runtime makes calls of its own; the plain build runs this sweep";
#endif
    if (std::system("command -v strace >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "strace is not installed (Debian package strace)";
    }
    // A program over one bank, a data file of dozens of banks, a short one,
    // one of exactly one data area, and padding: 44 banks padded to 64.
    const std::string program = pattern_bytes(8193, 1);
    const std::vector<DataFile> data = {{"a.dat", pattern_bytes(40 * 8064 + 5, 2)},
                                        {"b.dat", pattern_bytes(100, 3)},
                                        {"c.dat", pattern_bytes(8064, 4)}};
    const ModelRun expected = model_run("out.bin", program, data);
    const std::vector<std::string> args = {"out.bin", "prog.bin", "a.dat", "b.dat", "c.dat"};

    int runs = 0;
    int fired = 0;
    int bad_ends = 0;
    for (const char* stdout_path : {"", "|"}) {
        ScratchDir dir;
        dir.write("prog.bin", program);
        for (const DataFile& file : data) dir.write(file.path, file.bytes);
        RunSetup setup;
        setup.stdout_path = stdout_path;
        setup.wrapper = {"strace", "-qq", "-o", ".trace"};
        ASSERT_EQ(run_tool(dir, args, setup).status, 0);
        const CallCounts counts = count_calls(dir.read(".trace"));
        ASSERT_FALSE(counts.before_main.empty()) << "no trace of the tool's first call";
        ASSERT_NE(counts.lock_call, 0) << "no trace of the lock";
        ASSERT_NE(counts.stdout_check, 0) << "no trace of the check of standard output";
        ASSERT_EQ(counts.input_checks.size(), data.size() + 1) << "no trace of the inputs' checks";

        for (const auto& [call, code, n, from_then_on, when] : faults_for(counts, *stdout_path)) {
            const std::string fault = call + ":error=" + code + ":when=" + when;
            SCOPED_TRACE(std::string(*stdout_path ? "pipe " : "file ") + fault);
            fs::remove(dir.path / "out.bin");
            // A fault that goes on past the tool's end reaches a coverage
            // build's runtime as it writes its counts: those go elsewhere.
            setup.wrapper = {"strace", "-qq", "-o", ".trace", "-e", "trace=" + call,
                             "-e", "inject=" + fault};
            if (from_then_on) {
                setup.wrapper.insert(setup.wrapper.end(),
                                     {"-E", "GCOV_PREFIX=" + (dir.path / "gcov").string()});
            }
            ++runs;
            const int failures_before = failures_so_far();
            ToolResult result;
            try {
                result = run_tool(dir, args, setup);
            } catch (const std::exception& error) {
                ADD_FAILURE() << error.what();
                ++bad_ends;
                continue;
            }
            const auto count_bad_end = [&] { bad_ends += failures_so_far() > failures_before; };
            fired += dir.read(".trace").find("(INJECTED)") != std::string::npos;
            EXPECT_EQ(dir.read("prog.bin"), program);
            for (const DataFile& file : data) EXPECT_EQ(dir.read(file.path), file.bytes);
            // Messages that cannot go to standard output go to standard error,
            // where a coverage runtime may complain of its own faults.
            Lines tool_errors;
            for (const std::string& line : result.errors) {
                if (line.find("profiling") == std::string::npos) tool_errors.push_back(line);
            }
            const Lines& said = result.lines.empty() ? tool_errors : result.lines;
            if (result.status == 0 || result.status == 7) {
                EXPECT_EQ(first_difference(dir.read("out.bin"), expected.image), "");
            }
            if (result.status == 0) {
                EXPECT_EQ(said, expected.lines);
            }
            // An input that cannot be examined once open is not read.
            const auto& checks = counts.input_checks;
            if (call == "newfstatat" && !from_then_on &&
                std::find(checks.begin(), checks.end(), n) != checks.end()) {
                EXPECT_EQ(result.status, 4);
            }
            // Standard output that cannot be examined may be a file the run
            // writes: no message goes there.
            if (call == "newfstatat" && !from_then_on && n == counts.stdout_check) {
                EXPECT_TRUE(result.lines.empty());
            }
            // A file system without locks: the run goes on unlocked.
            if (call == "fcntl" && code == "ENOLCK" && n == counts.lock_call) {
                EXPECT_EQ(result.status, 0);
            }
            if (result.status == 0 || result.status == 7) {
                count_bad_end();
                continue;
            }
            for (const std::string& line : said) EXPECT_FALSE(is_closing_line(line));
            for (const std::string& line : tool_errors) EXPECT_FALSE(is_closing_line(line));
            // A refused output this run created is removed, unless another
            // run holds it or its name can no longer be looked up.
            const bool may_stay = (call == "fcntl" && code == "EAGAIN") ||
                                  (call == "newfstatat" && from_then_on);
            if (result.status == 1 && !may_stay) {
                EXPECT_FALSE(fs::exists(dir.path / "out.bin"));
            }
            if (said.empty()) {
                EXPECT_TRUE(from_then_on && call == "write") << "status " << result.status
                                                             << " and no line";
            } else {
                EXPECT_EQ(said.back().rfind("Failed to ", 0), 0u) << said.back();
                // No input here is the output; saying so would hide the real failure.
                EXPECT_EQ(said.back().find("also the input"), std::string::npos) << said.back();
            }
            count_bad_end();
        }
    }
    EXPECT_EQ(fired, runs) << "faults that never fired test nothing";
    std::cout << "[ sweep    ] " << runs << " runs, " << fired << " faults fired, " << bad_ends
              << " bad ends\n";
}

}  // namespace
