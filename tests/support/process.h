// Runs the m3umerge executable itself, as a user would.
#pragma once

#include <filesystem>
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
#endif

}  // namespace m3umerge::test
