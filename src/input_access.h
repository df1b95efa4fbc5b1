// Whether an input can be read as a stream, told before the output loses a
// byte and without reading or taking anything from the input.
#pragma once

#include "file_identity.h"

namespace bankstitcher {

// The error number that opening or reading the input at `path`, which is
// `file`, as a stream gives, or 0 when it can be read: a
// directory, a socket, or a file the user may not read. A regular file is
// opened and closed again; a FIFO or a device is never opened here, since
// that could take what its writer sends, and is asked of the system's
// access check instead (on Windows, a pipe or device is checked as it is
// opened).
int read_error(const char* path, const FileIdentity& file);

}  // namespace bankstitcher
