// The sheet simulator as a callable program, so that benchmarks can run it in-process.
#pragma once

namespace zerik::tools {

// Runs sheetsim with a command line (argv[0] is the program name) in the current directory.
// Always returns 0, the tool's exit status.
int sheetsimMain(int argc, const char* const* argv);

}  // namespace zerik::tools
