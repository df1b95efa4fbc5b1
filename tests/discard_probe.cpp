// Test helper: opens an output as a run does and, after a pause in which the
// test may rename or replace it, discards it as a refused run does.
//   discard_probe PATH
// Says "open" once PATH is open, waits for a line on standard input, and
// ends with status 0 once the output is discarded (125 when it fails).
#include <cstdio>

#include "output_file.h"

int main(int argc, char** argv) {
    bankstitcher::OutputFile output;
    if (argc != 2 || !bankstitcher::open_output(argv[1], output)) return 125;
    std::puts("open");
    if (std::fflush(stdout) != 0 || std::getchar() == EOF) return 125;
    bankstitcher::discard_output(output);
    return 0;
}
