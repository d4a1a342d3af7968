#include <windows.h>
// after windows.h
#include <fcntl.h>
#include <io.h>

#include <clocale>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>

#include "platform/ascii_case.h"
#include "platform/platform.h"
#include "platform/platform_internal.h"

namespace m3umerge::platform {
namespace {

// Handles travel as integers through the portable header.
HANDLE as_handle(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);  // NOLINT(performance-no-int-to-ptr)
}

constexpr DWORD kMaxChunk = 1u << 30;
constexpr int kTemporaryNameAttempts = 100;
// A virus scanner or indexer may hold the merged playlist for a moment.
constexpr int kReplaceAttempts = 5;
constexpr DWORD kReplaceRetryMilliseconds = 25;

UINT console_code_page = CP_ACP;
bool stdout_is_console = false;

struct FindCloser {
  void operator()(HANDLE search) const { ::FindClose(search); }
};

struct FileCloser {
  void operator()(FILE* file) const { (void)std::fclose(file); }
};

// The code page of a runtime locale name such as "Japanese_Japan.932".
UINT code_page_of(const wchar_t* locale) {
  const wchar_t* dot = locale != nullptr ? std::wcsrchr(locale, L'.') : nullptr;
  if (dot == nullptr) return CP_ACP;
  const std::wstring_view suffix(dot + 1);
  if (equals_ignoring_ascii_case(suffix, std::wstring_view(L"utf8")) ||
      equals_ignoring_ascii_case(suffix, std::wstring_view(L"utf-8"))) {
    return CP_UTF8;
  }
  wchar_t* end = nullptr;
  const unsigned long code_page = std::wcstoul(dot + 1, &end, 10);
  return (end != dot + 1 && *end == L'\0' && code_page != 0) ? UINT(code_page) : CP_ACP;
}

// `text` in `code_page`, with "?" for every character the code page lacks
// (no look-alike substitutes).
std::string to_code_page(std::wstring_view text, UINT code_page) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  DWORD flags = WC_NO_BEST_FIT_CHARS;
  const char* replacement = "?";
  int size = ::WideCharToMultiByte(code_page, flags, text.data(), length, nullptr, 0, replacement,
                                   nullptr);
  if (size <= 0) {
    // UTF-8 and a few other code pages take neither flags nor a replacement.
    flags = 0;
    replacement = nullptr;
    size =
        ::WideCharToMultiByte(code_page, flags, text.data(), length, nullptr, 0, nullptr, nullptr);
  }
  if (size <= 0) return std::string(text.size(), '?');
  std::string bytes(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(code_page, flags, text.data(), length, bytes.data(), size, replacement,
                        nullptr);
  return bytes;
}

bool replace_file(const std::wstring& from, const std::wstring& to) {
  for (int attempt = 1;; ++attempt) {
    if (::MoveFileExW(from.c_str(), to.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return true;
    }
    const DWORD error = ::GetLastError();
    const bool held = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
                      error == ERROR_LOCK_VIOLATION;
    if (!held || attempt == kReplaceAttempts) return false;
    ::Sleep(kReplaceRetryMilliseconds);
  }
}

std::wstring temporary_name() {
  static unsigned counter = 0;
  return L"~m3umerge-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
         std::to_wstring(counter++) + L".tmp";
}

}  // namespace

bool write_all(std::intptr_t handle, const unsigned char* data, std::size_t size) {
  const HANDLE file = as_handle(handle);
  while (size > 0) {
    DWORD written = 0;
    const DWORD chunk = size > kMaxChunk ? kMaxChunk : static_cast<DWORD>(size);
    if (!::WriteFile(file, data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

void start_writeback(std::intptr_t, std::uint64_t, std::uint64_t) {
  // Windows starts writing back on its own; FlushFileBuffers waits for it.
}

void prepare_process(const NativeChar* locale_name) {
  const wchar_t* locale = ::_wsetlocale(LC_ALL, locale_name);
  console_code_page = code_page_of(locale != nullptr ? locale : ::_wsetlocale(LC_CTYPE, nullptr));
  DWORD mode = 0;
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  stdout_is_console =
      out != nullptr && out != INVALID_HANDLE_VALUE && ::GetConsoleMode(out, &mode) != 0;
  // Line ends are written as CR LF by print_line itself.
  if (::_fileno(stdout) >= 0) (void)::_setmode(::_fileno(stdout), _O_BINARY);
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

void print_line(NativeStringView text) {
  if (stdout_is_console) {
    // The console takes UTF-16 as it is; the runtime's own wide output would
    // stop at the first character the code page lacks.
    std::wstring line(text);
    line += L"\r\n";
    DWORD written = 0;
    (void)::WriteConsoleW(::GetStdHandle(STD_OUTPUT_HANDLE), line.data(),
                          static_cast<DWORD>(line.size()), &written, nullptr);
    return;
  }
  std::string line = to_code_page(text, console_code_page);
  line += "\r\n";
  (void)std::fwrite(line.data(), 1, line.size(), stdout);
}

bool same_file_name(NativeStringView a, NativeStringView b) {
  return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

Directory::~Directory() = default;

bool Directory::open(NativeStringView path) {
  path_ = path;
  const DWORD attributes = ::GetFileAttributesW(path_.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool Directory::list_files(NativeStringView extension, NameList& names) const {
  const std::wstring pattern = path_ + L"*" + std::wstring(extension);
  WIN32_FIND_DATAW entry;
  const HANDLE search = ::FindFirstFileW(pattern.c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
  const std::unique_ptr<void, FindCloser> search_owner(search);
  do {
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    // The search also matches short 8.3 aliases, so "x.m3u8" comes back for
    // "*.m3u"; such a file is UTF-8 without signature, not a playlist of ours.
    const NativeStringView name(entry.cFileName);
    if (ends_with_ignoring_ascii_case(name, extension)) names.add(name);
  } while (::FindNextFileW(search, &entry));
  return ::GetLastError() == ERROR_NO_MORE_FILES;
}

bool Directory::read_file(NativeStringView name, std::size_t limit,
                          std::vector<unsigned char>& content) const {
  FILE* opened = nullptr;
  if (::_wfopen_s(&opened, (path_ + std::wstring(name)).c_str(), L"rb") != 0 || !opened) {
    return false;
  }
  const std::unique_ptr<FILE, FileCloser> file(opened);
  // Device names such as CON open like files; only disk files are playlists.
  if (::GetFileType(as_handle(::_get_osfhandle(::_fileno(opened)))) != FILE_TYPE_DISK ||
      std::fseek(opened, 0, SEEK_END) != 0) {
    return false;
  }
  const __int64 end = ::_ftelli64(opened);
  if (end < 0 || static_cast<std::uint64_t>(end) > limit || std::fseek(opened, 0, SEEK_SET) != 0) {
    return false;
  }
  const auto size = static_cast<std::size_t>(end);
  // One byte of room beyond the size tells a file that grew meanwhile.
  content.resize(size + 1);
  if (std::fread(content.data(), 1, size + 1, opened) != size || std::ferror(opened)) return false;
  content.resize(size);
  return true;
}

AtomicFile::~AtomicFile() { discard(); }

bool AtomicFile::create(const Directory& directory, NativeStringView name) {
  const std::wstring final_path = directory.path() + std::wstring(name);
  const DWORD attributes = ::GetFileAttributesW(final_path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) return false;
  } else if (::GetLastError() != ERROR_FILE_NOT_FOUND) {
    return false;
  }
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    std::wstring candidate = temporary_name();
    const HANDLE file = ::CreateFileW((directory.path() + candidate).c_str(), GENERIC_WRITE, 0,
                                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      directory_ = &directory;
      name_ = name;
      temporary_name_ = std::move(candidate);
      handle_ = reinterpret_cast<std::intptr_t>(file);
      buffer_.reserve(kAtomicFileBufferBytes);
      return true;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

bool AtomicFile::commit() {
  if (handle_ == -1) return false;
  const HANDLE file = as_handle(handle_);
  bool done = flush_buffer() && ::FlushFileBuffers(file);
  done = ::CloseHandle(file) && done;
  handle_ = -1;
  const std::wstring& directory = directory_->path();
  done = done && replace_file(directory + temporary_name_, directory + name_);
  if (!done) {
    discard();
    return false;
  }
  temporary_name_.clear();
  return true;
}

void AtomicFile::discard() {
  if (handle_ != -1) ::CloseHandle(as_handle(handle_));
  handle_ = -1;
  if (directory_ != nullptr && !temporary_name_.empty()) {
    (void)::DeleteFileW((directory_->path() + temporary_name_).c_str());
  }
  temporary_name_.clear();
  failed_ = true;
}

}  // namespace m3umerge::platform
