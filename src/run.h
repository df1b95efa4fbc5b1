// The one run of the tool: command line, files, banks, padding, exit status.
#pragma once

namespace bankstitcher {

// Builds the image the command line asks for and returns the exit status.
int run(int argc, char** argv);

}  // namespace bankstitcher
