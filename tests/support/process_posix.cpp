#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include "support/process.h"

namespace m3umerge::test {

ToolRun run_tool(const std::vector<NativeString>& arguments, std::string_view input,
                 const std::filesystem::path& working_directory) {
  ToolRun run;
  int to_child[2];
  int from_child[2];
  if (::pipe(to_child) != 0) return run;
  if (::pipe(from_child) != 0) {
    ::close(to_child[0]);
    ::close(to_child[1]);
    return run;
  }
  std::vector<std::string> argv_text{M3UMERGE_TOOL_PATH};
  argv_text.insert(argv_text.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& text : argv_text) argv.push_back(text.data());
  argv.push_back(nullptr);

  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(to_child[0], 0);
    ::dup2(from_child[1], 1);
    ::close(to_child[0]);
    ::close(to_child[1]);
    ::close(from_child[0]);
    ::close(from_child[1]);
    if (!working_directory.empty() && ::chdir(working_directory.c_str()) != 0) ::_exit(127);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(to_child[0]);
  ::close(from_child[1]);
  // The tool may never read its input; a full pipe must not stop the test.
  const auto previous = std::signal(SIGPIPE, SIG_IGN);
  std::size_t offset = 0;
  while (child > 0 && offset < input.size()) {
    const ssize_t written = ::write(to_child[1], input.data() + offset, input.size() - offset);
    if (written <= 0) break;
    offset += static_cast<std::size_t>(written);
  }
  ::close(to_child[1]);
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(from_child[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    run.output.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(from_child[0]);
  std::signal(SIGPIPE, previous);
  int status = 0;
  if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    run.exit_code = WEXITSTATUS(status);
  }
  return run;
}

int shell(const std::string& command) {
  const int status = std::system(("TOOL='" M3UMERGE_TOOL_PATH "'; " + command).c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ChildRun run_in_child(const std::function<int()>& body, unsigned seconds) {
  ChildRun run;
  int report[2];
  if (::pipe(report) != 0) return run;
  const pid_t child = ::fork();
  if (child == 0) {
    ::alarm(seconds);
    if (::dup2(report[1], 3) != 3) ::_exit(127);
    ::syscall(SYS_close_range, 4u, ~0u, 0u);
    ::_exit(body());
  }
  ::close(report[1]);
  char buffer[4096];
  for (ssize_t got = 0; (got = ::read(report[0], buffer, sizeof buffer)) != 0;) {
    if (got < 0 && errno != EINTR) break;
    if (got > 0) run.output.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(report[0]);
  int status = 0;
  if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    run.finished = true;
    run.exit_code = WEXITSTATUS(status);
  }
  return run;
}

}  // namespace m3umerge::test
