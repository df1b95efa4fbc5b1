// bankstitcher: stitches a program file and data files into a bank-switched
// cartridge image.
#include "run.h"

int main(int argc, char** argv) {
    return bankstitcher::run(argc, argv);
}
