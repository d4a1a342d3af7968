// Runs the m3umerge executable itself, as a user would.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace m3umerge::test {

struct ToolRun {
  int exit_code = -1;  // -1 when the tool could not be run or did not exit
  std::string output;  // every byte written to standard output
};

// Runs the tool with `arguments` in `working_directory` (the current one when
// empty), with `input` as its whole standard input.
ToolRun run_tool(const std::vector<NativeString>& arguments, std::string_view input = {},
                 const std::filesystem::path& working_directory = {});

#if !defined(_WIN32)
// Runs a POSIX shell command line in which $TOOL names the tool; returns its
// exit status.
int shell(const std::string& command);

struct ChildRun {
  bool finished = false;  // it exited by itself before the deadline
  int exit_code = -1;     // when it finished
  std::string output;     // what it wrote to descriptor 3
};

// Runs `body` in a forked child whose only descriptors are the standard
// streams and, as descriptor 3, a pipe to the caller; its result is the
// child's exit status. A child still running after `seconds` is killed, so
// that a call that hangs fails the test instead of stalling the suite.
ChildRun run_in_child(const std::function<int()>& body, unsigned seconds = 20);
#endif

}  // namespace m3umerge::test
