// rand_s is declared only when asked for.
#define _CRT_RAND_S
#include <windows.h>
// after windows.h
#include <fcntl.h>
#include <io.h>

#include <cassert>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <string>

#include "platform/ascii_case.h"
#include "platform/platform.h"
#include "platform/platform_internal.h"

namespace m3umerge::platform {
namespace {

constexpr DWORD kMaxChunk = 1u << 30;
constexpr int kTemporaryNameAttempts = 100;
constexpr std::wstring_view kTemporaryPrefix = L"~m3u";
constexpr int kTemporaryDigits = 12;
// A virus scanner, indexer or sync client may hold the merged playlist for
// a while: the replace is tried again after 25, 50, ... 800 ms, about 2 s in
// all, before the earlier playlist is left as it is.
constexpr DWORD kFirstReplaceDelayMilliseconds = 25;
constexpr DWORD kReplaceDelaysMilliseconds = 2000;
// What a replaced playlist keeps of its attributes; read-only never reaches
// here (such a playlist is left alone).
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

struct FindCloser {
  void operator()(HANDLE search) const { ::FindClose(search); }
};

HANDLE as_handle(NativeHandle handle) { return handle; }

// The temporary file that closing the console must not leave behind. The
// console's control handler runs on a thread of its own: the path is handed
// over under the lock, which the handler keeps until the process ends.
SRWLOCK pending_lock = SRWLOCK_INIT;
const wchar_t* pending_path = nullptr;

// Creates the temporary file at `path` (CREATE_NEW) and records it for the
// console handler in one step; GetLastError tells why it failed.
HANDLE create_temporary(const std::wstring& path, DWORD attributes) {
  ::AcquireSRWLockExclusive(&pending_lock);
  // Delete sharing lets the console handler remove it while it is open.
  const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                    CREATE_NEW, attributes, nullptr);
  const DWORD error = ::GetLastError();
  if (file != INVALID_HANDLE_VALUE) pending_path = path.c_str();
  ::ReleaseSRWLockExclusive(&pending_lock);
  ::SetLastError(error);
  return file;
}

void forget_temporary() {
  ::AcquireSRWLockExclusive(&pending_lock);
  pending_path = nullptr;
  ::ReleaseSRWLockExclusive(&pending_lock);
}

// Ctrl+C, Ctrl+Break, closing the window, logging off and shutting down end
// the process without unwinding: the temporary file goes first (it is open
// with delete sharing, so the deletion takes effect as the process ends).
BOOL WINAPI remove_temporary_on_console_event(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      ::AcquireSRWLockExclusive(&pending_lock);
      if (pending_path != nullptr) (void)::DeleteFileW(pending_path);
      return FALSE;  // the default handler ends the process
    default:
      return FALSE;
  }
}

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

// `path` as an absolute path with the \\?\ prefix (\\?\UNC\ for a share), so
// that no length limit, trailing-dot rule or device name such as CON or COM1
// applies to it; ".", ".." and forward slashes are resolved first, as Windows
// always resolved them. A path that has the prefix already stays as it is.
// Empty when the path cannot be resolved.
std::wstring long_path(const std::wstring& path) {
  if (path.starts_with(LR"(\\?\)") || path.starts_with(LR"(\\.\)")) return path;
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return {};
    if (length < full.size()) {
      full.resize(length);
      break;
    }
    full.resize(length);  // the room it needs, terminator included
  }
  if (full.starts_with(LR"(\\?\)") || full.starts_with(LR"(\\.\)")) return full;
  if (full.starts_with(LR"(\\)")) return LR"(\\?\UNC\)" + full.substr(2);
  return LR"(\\?\)" + full;
}

// `name` in `directory`, resolved: a merged playlist's name may hold "./" or
// "/" (only the backslash ends the anchor's folder part).
std::wstring resolve(const Directory& directory, std::wstring_view name) {
  std::wstring path = directory.path();
  if (name.find(L'/') == std::wstring_view::npos) return path.append(name);
  // Back to the form GetFullPathNameW resolves, then prefixed again.
  if (path.starts_with(LR"(\\?\UNC\)")) {
    path.replace(0, 8, LR"(\\)");
  } else if (path.starts_with(LR"(\\?\)")) {
    path.erase(0, 4);
  }
  return long_path(path.append(name));
}

std::uint64_t random_bits(int attempt) {
  unsigned high = 0;
  unsigned low = 0;
  if (::rand_s(&high) == 0 && ::rand_s(&low) == 0) return (std::uint64_t(high) << 32) | low;
  // No random numbers: the clock and the process still tell runs apart.
  LARGE_INTEGER now{};
  ::QueryPerformanceCounter(&now);
  return std::uint64_t(now.QuadPart) ^ (std::uint64_t(::GetCurrentProcessId()) << 32) ^
         std::uint64_t(attempt);
}

// The final path of the open `file` as the system resolves it (links
// followed, long names), with the \\?\ prefix; empty when it cannot tell.
std::wstring final_path(HANDLE file) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetFinalPathNameByHandleW(file, path.data(), DWORD(path.size()),
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(length);  // the room it needs, terminator included
  }
}

FileIdentity identity_of(const BY_HANDLE_FILE_INFORMATION& information) {
  return {information.dwVolumeSerialNumber,
          (std::uint64_t(information.nFileIndexHigh) << 32) | information.nFileIndexLow};
}

bool is_held(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
         error == ERROR_LOCK_VIOLATION || error == ERROR_UNABLE_TO_REMOVE_REPLACED;
}

// Whether another program holds `path` in a way that keeps it from being
// replaced. Asked before each try: Wine's ReplaceFileW leaves a backup file
// behind each time it fails on a held file.
bool is_held_by_another_program(const std::wstring& path) {
  const HANDLE probe =
      ::CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (probe == INVALID_HANDLE_VALUE) return is_held(::GetLastError());
  ::CloseHandle(probe);
  return false;
}

// Puts `from` in the place of the existing file `to`, keeping its
// attributes, security and alternate streams; falls back to a plain move on
// a file system that cannot replace. GetLastError tells a held file.
bool replace_existing(const std::wstring& from, const std::wstring& to) {
  if (is_held_by_another_program(to)) {
    ::SetLastError(ERROR_SHARING_VIOLATION);
    return false;
  }
  if (::ReplaceFileW(to.c_str(), from.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                     nullptr)) {
    return true;
  }
  if (is_held(::GetLastError())) return false;
  return ::MoveFileExW(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

bool move_into_place(const std::wstring& from, const std::wstring& to, bool replaces) {
  DWORD waited = 0;
  for (DWORD delay = kFirstReplaceDelayMilliseconds;; delay *= 2) {
    const bool moved = replaces ? replace_existing(from, to)
                                : ::MoveFileExW(from.c_str(), to.c_str(),
                                                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (moved) return true;
    if (!is_held(::GetLastError()) || waited + delay > kReplaceDelaysMilliseconds) return false;
    ::Sleep(delay);
    waited += delay;
  }
}

}  // namespace

bool write_all(NativeHandle handle, const unsigned char* data, std::size_t size) {
  while (size > 0) {
    DWORD written = 0;
    const DWORD chunk = size > kMaxChunk ? kMaxChunk : static_cast<DWORD>(size);
    if (!::WriteFile(as_handle(handle), data, chunk, &written, nullptr) || written == 0) {
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
}

bool start_write_back(NativeHandle, std::uint64_t, std::uint64_t) {
  // Windows writes a file back on its own; FlushFileBuffers is all there is.
  return true;
}

void prepare_process(const NativeChar* locale_name) {
  (void)::_wsetlocale(LC_ALL, locale_name);
  // Line ends are written as CR LF by print_line itself.
  if (::_fileno(stdout) >= 0) (void)::_setmode(::_fileno(stdout), _O_BINARY);
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  (void)::SetConsoleCtrlHandler(remove_temporary_on_console_event, TRUE);
}

void print_line(NativeStringView text) {
  // Both are fixed once the locale is set, before anything is printed.
  static const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  static const bool console = [] {
    DWORD mode = 0;
    return out != nullptr && out != INVALID_HANDLE_VALUE && ::GetConsoleMode(out, &mode) != 0;
  }();
  static const UINT code_page = code_page_of(::_wsetlocale(LC_CTYPE, nullptr));
  if (console) {
    // The console takes UTF-16 as it is; the runtime's own wide output would
    // stop at the first character the code page lacks.
    std::wstring line(text);
    line += L"\r\n";
    DWORD written = 0;
    (void)::WriteConsoleW(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    return;
  }
  std::string line = to_code_page(text, code_page);
  line += "\r\n";
  (void)std::fwrite(line.data(), 1, line.size(), stdout);
}

bool same_file_name(NativeStringView a, NativeStringView b) {
  return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

Directory::~Directory() = default;

bool Directory::open(NativeStringView path) {
  path_ = long_path(std::wstring(path));
  const DWORD attributes =
      path_.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(path_.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool Directory::list_files(bool (*wanted)(NativeStringView name), NameList& names) const {
  WIN32_FIND_DATAW entry;
  const HANDLE search =
      ::FindFirstFileExW((path_ + L"*").c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch,
                         nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
  const std::unique_ptr<void, FindCloser> search_owner(search);
  do {
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    const NativeStringView name(entry.cFileName);
    // With FindExInfoBasic the reparse tag is in dwReserved0.
    const bool link = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                      entry.dwReserved0 == IO_REPARSE_TAG_SYMLINK;
    if (wanted(name)) names.add(name, link);
  } while (::FindNextFileW(search, &entry));
  return ::GetLastError() == ERROR_NO_MORE_FILES;
}

std::optional<FileIdentity> Directory::identify(NativeStringView name) const {
  const HANDLE file = ::CreateFileW(
      resolve(*this, name).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION information{};
  const bool known = ::GetFileInformationByHandle(file, &information) != 0;
  ::CloseHandle(file);
  if (!known) return std::nullopt;
  return identity_of(information);
}

bool Directory::leads_to(NativeStringView link, NativeStringView name) const {
  // Where the link leads now, as the system resolves it: the final path of
  // the file it opens, or of the folder its last step names.
  const HANDLE file = ::CreateFileW((path_ + std::wstring(link)).c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const std::wstring target = final_path(file);
  ::CloseHandle(file);
  const std::size_t separator = target.rfind(L'\\');
  if (target.empty() || separator == std::wstring::npos ||
      !same_file_name(std::wstring_view(target).substr(separator + 1), name)) {
    return false;
  }
  const HANDLE folder =
      ::CreateFileW(path_.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return false;
  const std::wstring folder_path = final_path(folder);
  ::CloseHandle(folder);
  return !folder_path.empty() && same_file_name(target.substr(0, separator), folder_path);
}

std::size_t files_open_at_once(std::size_t) {
  // Windows reads ahead within a file on its own; files are opened one at a
  // time. Overlapped reads of the next files would be the way to go further.
  return 1;
}

void InputFile::close() {
  if (handle_ != kNoHandle) ::CloseHandle(as_handle(handle_));
  handle_ = kNoHandle;
  identity_ = {};
  size_ = 0;
}

void InputFile::read_ahead() const {}

OpenResult InputFile::open(const Directory& directory, NativeStringView name) {
  close();
  // Shared every way, so that a player or sync client that holds the
  // playlist open for writing neither keeps it out nor fails to save it.
  const HANDLE file = ::CreateFileW((directory.path() + std::wstring(name)).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    return error == ERROR_TOO_MANY_OPEN_FILES || error == ERROR_NO_SYSTEM_RESOURCES
               ? OpenResult::no_handle_free
               : OpenResult::failed;
  }
  handle_ = file;
  BY_HANDLE_FILE_INFORMATION information{};
  // Device names such as CON open like files; only disk files are playlists.
  if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file, &information)) {
    close();
    return OpenResult::failed;
  }
  identity_ = identity_of(information);
  size_ = (std::uint64_t(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
  return OpenResult::opened;
}

bool InputFile::read(std::size_t limit, std::vector<unsigned char>& content) {
  if (handle_ == kNoHandle || size_ > limit || limit >= kMaxChunk) return false;
  const auto size = static_cast<std::size_t>(size_);
  // One byte of room beyond the size tells a file that grew meanwhile.
  content.resize(size + 1);
  std::size_t total = 0;
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(as_handle(handle_), content.data() + total,
                    static_cast<DWORD>(size + 1 - total), &got, nullptr)) {
      return false;
    }
    total += got;
    if (got == 0 || total >= size) break;
  }
  if (total != size) return false;
  content.resize(size);
  return true;
}

AtomicFile::~AtomicFile() { discard(); }

bool AtomicFile::create(const Directory& directory, NativeStringView name) {
  std::wstring final_path = resolve(directory, name);
  if (final_path.empty()) return false;
  std::optional<unsigned long> replaced;
  const DWORD attributes = ::GetFileAttributesW(final_path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) return false;
    replaced = attributes;
  } else if (::GetLastError() != ERROR_FILE_NOT_FOUND) {
    return false;
  }
  // Whatever may fail for want of memory fails before the file exists.
  buffer_.reserve(kAtomicFileBufferBytes);
  const std::wstring folder = final_path.substr(0, final_path.rfind(L'\\') + 1);
  // The temporary file carries the replaced playlist's attributes from the
  // start: replacing does not copy them everywhere (not on Wine).
  const DWORD kept = replaced ? (*replaced & kKeptAttributes) : 0;
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    temporary_name_ =
        folder + temporary_name(kTemporaryPrefix, random_bits(attempt), kTemporaryDigits);
    const HANDLE file = create_temporary(temporary_name_, kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL);
    if (file != INVALID_HANDLE_VALUE) {
      directory_ = &directory;
      name_ = std::move(final_path);
      handle_ = file;
      replaced_attributes_ = replaced;
      written_ = written_back_to_ = 0;
      return true;
    }
    const DWORD error = ::GetLastError();
    temporary_name_.clear();  // another program's file, or none
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

bool AtomicFile::commit() {
  // A failed write has removed the file already.
  if (!is_open() || !flush_buffer()) return false;
  bool done = ::FlushFileBuffers(as_handle(handle_)) != 0;
  done = ::CloseHandle(as_handle(handle_)) && done;
  handle_ = kNoHandle;
  done = done && move_into_place(temporary_name_, name_, replaced_attributes_.has_value());
  if (!done) {
    discard();
    return false;
  }
  forget_temporary();
  temporary_name_.clear();
  return true;
}

void AtomicFile::discard() {
  if (handle_ != kNoHandle) ::CloseHandle(as_handle(handle_));
  handle_ = kNoHandle;
  if (!temporary_name_.empty()) {
    // Forgotten only once it is gone: the console handler may remove it
    // meanwhile, which does no harm.
    (void)::DeleteFileW(temporary_name_.c_str());
    forget_temporary();
  }
  temporary_name_.clear();
}

}  // namespace m3umerge::platform
