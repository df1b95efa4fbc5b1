// Makes the standard streams safe to use before the tool opens any file.
#pragma once

namespace bankstitcher {

// Opens the null device on any of descriptors 0, 1 and 2 that is closed, so
// that no file the tool opens takes its place and receives its messages; on
// a Windows console, prints UTF-8 for the rest of the run. Writes to a
// closed pipe and past a file-size limit become failed writes instead of
// signals that end the run. Returns the descriptor that could not be filled
// (errno says why), or -1.
int prepare_standard_streams();

}  // namespace bankstitcher
