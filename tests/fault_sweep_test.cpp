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
#include <cerrno>
#include <map>

#include "image_model.h"
#include "tool_harness.h"

using namespace testing_support;

namespace {

using Lines = std::vector<std::string>;

// A call of the trace: its name and which call of that name it was.
struct Call {
    std::string name;
    int n = 0;
    bool operator==(const Call& other) const { return name == other.name && n == other.n; }
};

// How often each system call was made in a trace: before the tool's own
// first call (it ignores SIGPIPE, or else looks at descriptor 0, before
// anything else), and up to the tool's end, where a coverage build's runtime
// starts writing its counts. Beside them, the calls that matter to the
// checks, found by what they do to which descriptor, whatever their names.
struct CallCounts {
    std::map<std::string, int> before_main;
    std::map<std::string, int> to_end;
    int lock_call = 0;               // which fcntl call locks the output
    std::vector<Call> input_checks;  // the first call on each input once it is open
    Call stdout_check;               // the first look at standard output
    Call output_close;               // the last close of the output's descriptor
    Call output_name_check;          // the last look at the output before that close
};

// The descriptor an open in `line` returned, or "".
std::string opened_descriptor(const std::string& line) {
    const std::size_t result = line.rfind(" = ");
    if (result == std::string::npos || line[result + 3] == '-') return "";
    return line.substr(result + 3, line.find_first_of(' ', result + 3) - result - 3);
}

// Whether the call in `line` is made on descriptor `fd` (its first argument).
bool on_descriptor(const std::string& line, const std::string& fd) {
    const std::size_t paren = line.find('(');
    return !fd.empty() && line.compare(paren + 1, fd.size(), fd) == 0 &&
           (line[paren + 1 + fd.size()] == ',' || line[paren + 1 + fd.size()] == ')');
}

CallCounts count_calls(const std::string& trace, const std::string& out_path) {
    CallCounts counts;
    std::istringstream lines(trace);
    bool in_main = false;
    std::string input;   // the descriptor of the input just opened, until it is examined
    std::string output;  // the output's descriptor
    Call last_look;      // the last call on it that neither writes nor closes
    for (std::string line; std::getline(lines, line);) {
        const std::size_t paren = line.find('(');
        if (paren == std::string::npos || line[0] == '+' || line[0] == '-') continue;
        if (line.find(".gcda\"") != std::string::npos) break;
        if (!in_main && (line.rfind("rt_sigaction(SIGPIPE", 0) == 0 ||
                         line.rfind("fcntl(0, F_GETFD)", 0) == 0)) {
            in_main = true;
            counts.before_main = counts.to_end;
        }
        const std::string name = line.substr(0, paren);
        const int n = ++counts.to_end[name];
        if (line.find("F_SETLK,") != std::string::npos) counts.lock_call = n;
        if (in_main && counts.stdout_check.n == 0 && on_descriptor(line, "1") &&
            line.find("F_GETFD") == std::string::npos) {
            counts.stdout_check = {name, n};
        }
        if (line.find("\"" + out_path + "\", O_WRONLY") != std::string::npos && output.empty()) {
            output = opened_descriptor(line);
        } else if (name == "close" && on_descriptor(line, output)) {
            counts.output_close = {name, n};
            counts.output_name_check = last_look;
        } else if (name != "write" && on_descriptor(line, output)) {
            last_look = {name, n};
        }
        if (!input.empty() && on_descriptor(line, input)) {
            counts.input_checks.push_back({name, n});
            input.clear();
        }
        if (line.find("O_RDONLY)") != std::string::npos) input = opened_descriptor(line);
    }
    return counts;
}

// The errors a call can give that the tool must survive.
std::vector<std::string> errors_of(const std::string& call) {
    if (call == "read" || call == "write") return {"EIO", "ENOSPC", "EINTR", "EAGAIN", "EBADF"};
    if (call == "openat") return {"EACCES", "EIO", "ENOMEM", "ENOSPC"};
    if (call == "newfstatat" || call == "fstat") return {"EIO", "EBADF"};
    if (call == "fcntl") return {"EBADF", "EAGAIN", "ENOLCK", "EOPNOTSUPP", "ENOSYS"};
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

// Where the run writes the image: a file, standard output that is a pipe,
// or a block device (as root on Linux).
enum class Output { file, pipe, disk };

// Every fault the sweep makes, from the calls a traced run made after the
// tool's first own call.
std::vector<Fault> faults_for(const CallCounts& counts, Output output) {
    std::vector<Fault> faults;
    for (const auto& [call, last] : counts.to_end) {
        // exit_group cannot fail (libc would retry it forever), and the kernel
        // refuses brk by giving the old break, never an error number.
        if (call == "exit_group" || call == "brk") continue;
        // Through a pipe, only the calls on standard output behave otherwise.
        if (output == Output::pipe && call != "write" && call != "newfstatat") continue;
        // To a disk, only its sync behaves otherwise.
        if (output == Output::disk && call != "fsync") continue;
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
    const std::string no_faults = why_no_fault_injection();
    if (!no_faults.empty()) GTEST_SKIP() << no_faults;
    // A program over one bank, a data file of dozens of banks, a short one,
    // one of exactly one data area, and padding: 44 banks padded to 64.
    const std::string program = pattern_bytes(8193, 1);
    const std::vector<DataFile> data = {{"a.dat", pattern_bytes(40 * 8064 + 5, 2)},
                                        {"b.dat", pattern_bytes(100, 3)},
                                        {"c.dat", pattern_bytes(8064, 4)}};

    int runs = 0;
    int fired = 0;
    int bad_ends = 0;
    int syncs = 0;
    for (const Output output : {Output::file, Output::pipe, Output::disk}) {
        ScratchDir dir;
        const LoopDisk disk(output == Output::disk ? dir.path / "backing" : fs::path());
        if (output == Output::disk && disk.path.empty()) continue;  // needs root and losetup
        const std::string out_path = output == Output::disk ? disk.path : "out.bin";
        const ModelRun expected = model_run(out_path, program, data);
        const std::vector<std::string> args = {out_path, "prog.bin", "a.dat", "b.dat", "c.dat"};
        const auto image = [&] {
            return output == Output::disk ? disk.read(expected.image.size()) : dir.read("out.bin");
        };
        const bool piped = output == Output::pipe;
        dir.write("prog.bin", program);
        for (const DataFile& file : data) dir.write(file.path, file.bytes);
        RunSetup setup;
        if (piped) setup.out = to_pipe();
        setup.wrapper = {"strace", "-qq", "-o", ".trace"};
        ASSERT_EQ(run_tool(dir, args, setup).status, 0);
        const CallCounts counts = count_calls(dir.read(".trace"), out_path);
        ASSERT_FALSE(counts.before_main.empty()) << "no trace of the tool's first call";
        ASSERT_TRUE(counts.lock_call != 0 || output == Output::disk) << "no trace of the lock";
        syncs += counts.to_end.count("fsync") ? counts.to_end.at("fsync") : 0;
        ASSERT_NE(counts.stdout_check.n, 0) << "no trace of the check of standard output";
        ASSERT_NE(counts.output_close.n, 0) << "no trace of the output's close";
        ASSERT_NE(counts.output_name_check.n, 0) << "no trace of the check of the output's name";
        ASSERT_EQ(counts.input_checks.size(), data.size() + 1) << "no trace of the inputs' checks";

        for (const auto& [call, code, n, from_then_on, when] : faults_for(counts, output)) {
            const std::string fault = call + ":error=" + code + ":when=" + when;
            SCOPED_TRACE(out_path + (piped ? " (a pipe) " : " ") + fault);
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
                EXPECT_EQ(first_difference(image(), expected.image), "");
            }
            if (result.status == 0) {
                EXPECT_EQ(said, expected.lines);
            }
            const Call faulted{call, n};
            // An input that cannot be examined once open is not read.
            const auto& checks = counts.input_checks;
            if (!from_then_on && std::find(checks.begin(), checks.end(), faulted) != checks.end()) {
                EXPECT_EQ(result.status, 4);
            }
            // Standard output that cannot be examined may be a file the run
            // writes: no message goes there.
            if (!from_then_on && faulted == counts.stdout_check) {
                EXPECT_TRUE(result.lines.empty());
            }
            // A file system without locks: the run goes on unlocked.
            if (call == "fcntl" && n == counts.lock_call && code != "EBADF" && code != "EAGAIN") {
                EXPECT_EQ(result.status, 0);
            }
            // Whether the finished output still has a name cannot be told:
            // no image can be promised.
            if (!from_then_on && faulted == counts.output_name_check) {
                EXPECT_EQ(result.status, 5);
            }
            // The output's last close fails: the image may not be whole.
            if (!from_then_on && code == "EIO" && faulted == counts.output_close) {
                EXPECT_EQ(result.status, 5);
                ASSERT_FALSE(said.empty());
                EXPECT_EQ(said.back(), "Failed to write outfile, code " + std::to_string(EIO));
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
    if (geteuid() == 0) {
        EXPECT_NE(syncs, 0) << "no trace of a disk's sync";
    }
    std::cout << "[ sweep    ] " << runs << " runs, " << fired << " faults fired, " << bad_ends
              << " bad ends\n";
}

}  // namespace
