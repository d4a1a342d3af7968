#include <windows.h>

#include "support/process.h"

namespace m3umerge::test {
namespace {

// The tool sits beside the test program.
std::wstring tool_path() {
  std::wstring path(32768, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(length);
  path.erase(path.find_last_of(L'\\') + 1);
  return path + L"m3umerge.exe";
}

// Quotes one argument so that the runtime's splitting gives it back unchanged.
void append_quoted(std::wstring& command_line, const std::wstring& argument) {
  command_line += L'"';
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    command_line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    command_line += c;
  }
  command_line.append(backslashes * 2, L'\\');
  command_line += L'"';
}

struct Handle {
  HANDLE value = nullptr;
  Handle() = default;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { close(); }
  void close() {
    if (value != nullptr) ::CloseHandle(value);
    value = nullptr;
  }
};

}  // namespace

ToolRun run_tool(const std::vector<NativeString>& arguments, std::string_view input,
                 const std::filesystem::path& working_directory) {
  ToolRun run;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  Handle stdin_read, stdin_write, stdout_read, stdout_write;
  if (!::CreatePipe(&stdin_read.value, &stdin_write.value, &inherit, 1 << 16) ||
      !::CreatePipe(&stdout_read.value, &stdout_write.value, &inherit, 1 << 16)) {
    return run;
  }
  ::SetHandleInformation(stdin_write.value, HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(stdout_read.value, HANDLE_FLAG_INHERIT, 0);

  const std::wstring tool = tool_path();
  std::wstring command_line;
  append_quoted(command_line, tool);
  for (const auto& argument : arguments) {
    command_line += L' ';
    append_quoted(command_line, argument);
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = stdin_read.value;
  startup.hStdOutput = stdout_write.value;
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  const std::wstring directory = working_directory.native();
  if (!::CreateProcessW(tool.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup, &process)) {
    return run;
  }
  Handle process_handle, thread_handle;
  process_handle.value = process.hProcess;
  thread_handle.value = process.hThread;
  stdin_read.close();
  stdout_write.close();

  DWORD written = 0;
  if (!input.empty()) {
    ::WriteFile(stdin_write.value, input.data(), static_cast<DWORD>(input.size()), &written,
                nullptr);
  }
  stdin_write.close();
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(stdout_read.value, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    run.output.append(buffer, got);
  }
  DWORD exit_code = 0;
  if (::WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0 &&
      ::GetExitCodeProcess(process.hProcess, &exit_code)) {
    run.exit_code = static_cast<int>(exit_code);
  }
  return run;
}

}  // namespace m3umerge::test
