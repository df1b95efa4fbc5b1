#include "same_file.h"

#include <sys/stat.h>

namespace bankstitcher {

bool is_same_regular_file(const char* output, const char* input) {
    struct stat out {};
    struct stat in {};
    if (stat(output, &out) != 0 || !S_ISREG(out.st_mode)) {
        return false;
    }
    if (stat(input, &in) != 0) {
        return false;
    }
    return out.st_dev == in.st_dev && out.st_ino == in.st_ino;
}

}  // namespace bankstitcher
