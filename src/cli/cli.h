// The command line: every argument is an anchor path, handed to the merge job
// in order. Without arguments the tool asks for a file name and waits for one
// byte of input.
#pragma once

#include "platform/platform.h"

namespace m3umerge {

// Runs the tool on `argv[1]` to `argv[argc - 1]`. Always returns 0, the exit
// status: a rejected or failed argument neither stops the loop nor changes it.
int run_command_line(int argc, NativeChar** argv);

}  // namespace m3umerge
