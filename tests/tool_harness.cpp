#include "tool_harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testing_support {
namespace {

std::string env_or(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void remove_tree(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        return;
    }
    if (S_ISDIR(info.st_mode)) {
        if (DIR* dir = opendir(path.c_str())) {
            while (dirent* entry = readdir(dir)) {
                const std::string name = entry->d_name;
                if (name != "." && name != "..") {
                    remove_tree(path + "/" + name);
                }
            }
            closedir(dir);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

// Splits standard output into lines; the Windows console ends them in CR LF.
std::vector<std::string> split_lines(const std::string& text) {
    const std::string end = testing_windows_build() ? "\r\n" : "\n";
    std::vector<std::string> lines;
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t at = text.find(end, from);
        if (at == std::string::npos) {
            lines.push_back(text.substr(from) + "<no line end>");
            break;
        }
        lines.push_back(text.substr(from, at - from));
        from = at + end.size();
    }
    return lines;
}

}  // namespace

ScratchDir::ScratchDir() {
    std::string templ = env_or("TMPDIR", "/tmp") + "/bankstitcher-test-XXXXXX";
    if (mkdtemp(templ.data()) == nullptr) {
        throw std::runtime_error("cannot make a scratch directory");
    }
    path_ = templ;
}

ScratchDir::~ScratchDir() { remove_tree(path_); }

void ScratchDir::write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(at(name), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + at(name));
    }
}

std::string ScratchDir::read(const std::string& name) const { return slurp(at(name)); }

bool ScratchDir::exists(const std::string& name) const {
    struct stat info {};
    return lstat(at(name).c_str(), &info) == 0;
}

std::vector<std::string> ScratchDir::names() const {
    std::vector<std::string> found;
    if (DIR* dir = opendir(path_.c_str())) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != ".." && name.rfind(".tool-", 0) != 0) {
                found.push_back(name);
            }
        }
        closedir(dir);
    }
    return found;
}

bool testing_windows_build() { return !env_or("BANKSTITCHER_RUNNER", "").empty(); }

int shell_status(int status) { return status & 0xFF; }

ToolResult run_tool(const ScratchDir& dir, const std::vector<std::string>& args,
                    const std::string& subdir) {
    const std::string cwd = subdir.empty() ? dir.path() : dir.at(subdir);
    const std::string exe = env_or("BANKSTITCHER_EXE", BANKSTITCHER_EXE);
    const std::string runner = env_or("BANKSTITCHER_RUNNER", "");
    const std::string out_path = dir.at(".tool-stdout");
    const std::string err_path = dir.at(".tool-stderr");

    std::vector<std::string> command;
    if (!runner.empty()) {
        command.push_back(runner);
    }
    command.push_back(exe);
    command.insert(command.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : command) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    const pid_t child = fork();
    if (child == 0) {
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || chdir(cwd.c_str()) != 0 || dup2(out, 1) < 0 ||
            dup2(err, 2) < 0) {
            _exit(127);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    int wait_status = 0;
    if (child < 0 || waitpid(child, &wait_status, 0) != child || !WIFEXITED(wait_status)) {
        throw std::runtime_error("the tool did not run to an exit: " + exe);
    }
    ToolResult result{WEXITSTATUS(wait_status), split_lines(slurp(out_path)), slurp(err_path)};
    unlink(out_path.c_str());
    unlink(err_path.c_str());
    return result;
}

std::string pattern_bytes(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    unsigned state = seed * 2654435761u + 1u;
    for (char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>((state >> 16) | 1u);  // never zero: fill is visible
    }
    return bytes;
}

std::string first_difference(const std::string& actual, const std::string& expected) {
    if (actual == expected) {
        return "";
    }
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) {
        ++at;
    }
    std::ostringstream text;
    text << "images differ at byte " << at << " (bank " << at / 8192 << ", offset " << at % 8192
         << "); sizes " << actual.size() << " and " << expected.size() << " expected";
    return text.str();
}

}  // namespace testing_support
