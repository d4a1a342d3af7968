// rand_s is declared only when asked for.
#define _CRT_RAND_S
#include <windows.h>
// after windows.h
#include <aclapi.h>
#include <fcntl.h>
#include <io.h>
#include <winioctl.h>

#include <cassert>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <exception>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

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
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Opens an entry itself, a link or a folder included.
constexpr DWORD kEntryItself = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

// mingw-w64 declares FileRenameInfoEx only for an NTDDI-style _WIN32_WINNT;
// its value is fixed by the system (Windows 10 1607 and later).
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
#if !defined(FILE_RENAME_FLAG_REPLACE_IF_EXISTS)
#define FILE_RENAME_FLAG_REPLACE_IF_EXISTS 0x00000001
#define FILE_RENAME_FLAG_POSIX_SEMANTICS 0x00000002
#endif

struct FindCloser {
  void operator()(HANDLE search) const { ::FindClose(search); }
};

HANDLE as_handle(NativeHandle handle) { return handle; }

// Owns a file handle; closing keeps the last error.
class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() {
    const DWORD error = ::GetLastError();
    if (is_open()) ::CloseHandle(handle_);
    ::SetLastError(error);
  }
  bool is_open() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

FileHandle open_entry(const std::wstring& path, DWORD access) {
  return FileHandle(::CreateFileW(path.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                                  kEntryItself, nullptr));
}

// The temporary file that closing the console must not leave behind. The
// console's control handler runs on a thread of its own: the path is handed
// over under the lock, which the handler keeps until the process ends.
SRWLOCK pending_lock = SRWLOCK_INIT;
const wchar_t* pending_path = nullptr;

// Holds the lock for its lifetime: the console handler waits meanwhile.
class PendingLock {
 public:
  PendingLock() { ::AcquireSRWLockExclusive(&pending_lock); }
  PendingLock(const PendingLock&) = delete;
  PendingLock& operator=(const PendingLock&) = delete;
  ~PendingLock() { ::ReleaseSRWLockExclusive(&pending_lock); }
};

// Creates the temporary file at `path` (CREATE_NEW) and records it for the
// console handler in one step; GetLastError tells why it failed. The handle
// may rename the file, delete it and set its permissions.
HANDLE create_temporary(const std::wstring& path, DWORD attributes) {
  const PendingLock lock;
  // Delete sharing lets the console handler remove it while it is open.
  const HANDLE file =
      ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE | READ_CONTROL | WRITE_DAC,
                    FILE_SHARE_DELETE, nullptr, CREATE_NEW, attributes, nullptr);
  const DWORD error = ::GetLastError();
  if (file != INVALID_HANDLE_VALUE) pending_path = path.c_str();
  ::SetLastError(error);
  return file;
}

// Ctrl+C, Ctrl+Break and closing the console window end the process without
// unwinding: the temporary file goes first (it is open with delete sharing,
// so the deletion takes effect as the process ends). A replace under way
// ends first, as it holds the lock. Logging off and shutting down end a
// console program without any event: these reach services only.
// Memory can run out so far that not even the exception that says so can be
// made. The merge of that anchor then fails as any other failure does,
// quietly, but the later ones are not tried: the process ends, without the
// temporary file and with status 0, instead of aborting. A replace under way
// holds the lock; its file is then left as it is.
[[noreturn]] void remove_temporary_and_exit() {
  if (::TryAcquireSRWLockExclusive(&pending_lock) && pending_path != nullptr) {
    (void)::DeleteFileW(pending_path);
  }
  std::_Exit(EXIT_SUCCESS);
}

BOOL WINAPI remove_temporary_on_console_event(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
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

// `text` with every character beyond the Basic Multilingual Plane that
// `code_page` lacks as one "?", where the conversion would give one per
// UTF-16 unit.
std::wstring one_mark_per_character(std::wstring_view text, UINT code_page) {
  std::wstring marked;
  marked.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i + 1 < text.size() && IS_HIGH_SURROGATE(text[i]) && IS_LOW_SURROGATE(text[i + 1])) {
      char bytes[8];
      BOOL lacking = FALSE;
      const int size = ::WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, &text[i], 2, bytes,
                                             sizeof bytes, "?", &lacking);
      if (size <= 0 || lacking) {
        marked += L'?';
        ++i;
        continue;
      }
    }
    marked += text[i];
  }
  return marked;
}

// `text` in `code_page`, with one "?" for every character the code page
// lacks (no look-alike substitutes).
std::string to_code_page(std::wstring_view text, UINT code_page) {
  if (text.empty()) return {};
  std::wstring marked = one_mark_per_character(text, code_page);
  DWORD flags = WC_NO_BEST_FIT_CHARS;
  const char* replacement = "?";
  int size = ::WideCharToMultiByte(code_page, flags, marked.data(), int(marked.size()), nullptr, 0,
                                   replacement, nullptr);
  if (size <= 0) {
    // UTF-8 and a few other code pages take neither flags nor a replacement,
    // and hold every character.
    marked = text;
    flags = 0;
    replacement = nullptr;
    size = ::WideCharToMultiByte(code_page, flags, marked.data(), int(marked.size()), nullptr, 0,
                                 nullptr, nullptr);
  }
  if (size <= 0) return std::string(text.size(), '?');
  std::string bytes(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(code_page, flags, marked.data(), int(marked.size()), bytes.data(), size,
                        replacement, nullptr);
  return bytes;
}

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The length of the part of a \\?\ or \\.\ path that ".." never climbs out
// of: the prefix and the volume (C:\, UNC\server\share\ or a device name),
// with its separator.
std::size_t root_length(std::wstring_view path) {
  std::size_t end = 4;
  int steps = path.substr(end).starts_with(LR"(UNC\)") ? 3 : 1;
  for (; steps > 0 && end < path.size(); --steps) {
    const std::size_t separator = path.find(L'\\', end);
    end = separator == std::wstring_view::npos ? path.size() : separator + 1;
  }
  return end;
}

// `path`, a \\?\ or \\.\ path, followed by the steps of `steps`: "\" and
// "/" separate them, "." and empty steps are dropped, ".." goes up a
// folder. Every other step is kept exactly, trailing dots and spaces
// included. Ends in a separator when `steps` does.
std::wstring append_steps(std::wstring path, std::wstring_view steps) {
  const bool folder = !steps.empty() && is_separator(steps.back());
  const std::size_t root = root_length(path);
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  while (!steps.empty()) {
    std::size_t end = 0;
    while (end < steps.size() && !is_separator(steps[end])) ++end;
    const std::wstring_view step = steps.substr(0, end);
    steps.remove_prefix(end < steps.size() ? end + 1 : end);
    if (step.empty() || step == L".") continue;
    if (step == L"..") {
      if (path.size() > root) path.erase(path.rfind(L'\\', path.size() - 2) + 1);
      continue;
    }
    path.append(step);
    path += L'\\';
  }
  if (!folder && path.size() > root) path.pop_back();
  return path;
}

// `path`, absolute, with the \\?\ prefix (\\?\UNC\ for a share); a path
// that has it (or \\.\) already is taken as it is.
std::wstring prefixed(std::wstring path) {
  if (path.starts_with(LR"(\\?\)") || path.starts_with(LR"(\\.\)")) return path;
  if (path.starts_with(LR"(\\)")) return LR"(\\?\UNC\)" + path.substr(2);
  return LR"(\\?\)" + path;
}

// What GetFullPathNameW gives for `path`, or nothing.
std::wstring full_path_name(const std::wstring& path) {
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return {};
    if (length < full.size()) {
      full.resize(length);
      return full;
    }
    full.resize(length);  // the room it needs, terminator included
  }
}

// `path` as an absolute path with the \\?\ prefix (\\?\UNC\ for a share), so
// that no length limit or device name such as CON or COM1 applies to it.
// Relative paths are taken from the current folder (of their drive), and
// ".", "..", repeated separators and forward slashes are resolved as Windows
// resolves them; but every folder name is kept exactly, trailing dots and
// spaces included, which Windows would drop. A path that has the prefix (or
// \\.\) already stays as it is. Empty when the path cannot be resolved.
std::wstring long_path(const std::wstring& path) {
  if (path.starts_with(LR"(\\?\)") || path.starts_with(LR"(\\.\)")) return path;
  if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) {
    // \\server\share: the server and share are the root.
    std::wstring root = LR"(\\?\UNC\)";
    std::wstring_view rest = std::wstring_view(path).substr(2);
    for (int step = 0; step < 2; ++step) {
      std::size_t end = 0;
      while (end < rest.size() && !is_separator(rest[end])) ++end;
      if (end == 0) return {};
      root.append(rest.substr(0, end)) += L'\\';
      rest.remove_prefix(end < rest.size() ? end + 1 : end);
    }
    return append_steps(root, rest);
  }
  const bool drive = path.size() >= 2 && path[1] == L':';
  if (drive && path.size() >= 3 && is_separator(path[2])) {
    return append_steps(LR"(\\?\)" + path.substr(0, 2) + L'\\', std::wstring_view(path).substr(3));
  }
  // The current folder, of the drive named if one is.
  const std::wstring current = prefixed(full_path_name(drive ? path.substr(0, 2) : L"."));
  if (current.size() <= 4) return {};
  if (!drive && !path.empty() && is_separator(path[0])) {
    return append_steps(current.substr(0, root_length(current)), path);
  }
  return append_steps(current, std::wstring_view(path).substr(drive ? 2 : 0));
}

// Whether a name of `path` ends in a dot or a space, which Win32's parsing
// drops at the end of a path and the shell may drop anywhere.
bool has_name_ending_in_dot_or_space(std::wstring_view path) {
  for (std::size_t end = path.find(L'\\'); end != std::wstring_view::npos;
       end = path.find(L'\\', end + 1)) {
    if (end > 0 && (path[end - 1] == L'.' || path[end - 1] == L' ')) return true;
  }
  return !path.empty() && (path.back() == L'.' || path.back() == L' ');
}

// The plain form of the \\?\ path `exact` when Win32's parsing takes it
// as it stands (no name that ends in a dot or space or is a device name,
// shorter than MAX_PATH), else nothing.
std::wstring parsed_unchanged(const std::wstring& exact) {
  std::wstring plain = unprefixed_path(exact);
  // "." and ".." never stand in a \\?\ path the merge made.
  if (plain.size() >= MAX_PATH || has_name_ending_in_dot_or_space(plain) ||
      full_path_name(plain) != plain) {
    return {};
  }
  return plain;
}

// The short (8.3) form of the \\?\ path `exact`, which can be longer than
// it; empty when the system cannot tell it.
std::wstring short_path(const std::wstring& exact) {
  std::wstring short_form;
  for (DWORD size = ::GetShortPathNameW(exact.c_str(), nullptr, 0); size > short_form.size();) {
    short_form.resize(size);
    size = ::GetShortPathNameW(exact.c_str(), short_form.data(), size);
    if (size == 0) return {};
    if (size < short_form.size()) {
      short_form.resize(size);
      return short_form;
    }
  }
  return {};
}

// `name` in `directory`: a merged playlist's name may hold "./" or "/"
// (only the backslash ends the anchor's folder part).
std::wstring resolve(const Directory& directory, std::wstring_view name) {
  return append_steps(directory.path(), name);
}

// The name under which the entry at `path` is stored, which differs from
// the last step of `path` when that is an 8.3 alias: empty when there is
// no such entry. False when it cannot tell.
bool stored_name_at(const std::wstring& path, std::wstring& stored) {
  stored.clear();
  const std::wstring_view name = std::wstring_view(path).substr(path.rfind(L'\\') + 1);
  // Patterns match other names; no file name holds these characters.
  if (name.find_first_of(L"*?<>\"") != std::wstring_view::npos) return true;
  WIN32_FIND_DATAW entry;
  const HANDLE search =
      ::FindFirstFileExW(path.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  ::FindClose(search);
  stored = entry.cFileName;
  return true;
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

// A name for a temporary file in the folder of `path`, which ends in a
// separator or a file name.
std::wstring temporary_path(const std::wstring& path, int attempt) {
  return path.substr(0, path.rfind(L'\\') + 1) +
         temporary_name(kTemporaryPrefix, random_bits(attempt), kTemporaryDigits);
}

// The final path of the open `file` as the system resolves it (links
// followed, long names), with the \\?\ prefix and no separator at its end;
// empty when it cannot tell.
std::wstring final_path(HANDLE file) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetFinalPathNameByHandleW(file, path.data(), DWORD(path.size()),
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      // A volume's root folder ends in a separator.
      if (path.ends_with(L'\\')) path.pop_back();
      return path;
    }
    path.resize(length);  // the room it needs, terminator included
  }
}

// The volume serial number and 128-bit id of the open `file`; unknown
// (all zeros) where the file system gives none. The 64-bit index of
// GetFileInformationByHandle is not unique on ReFS.
FileIdentity identity_of(HANDLE file) {
  FILE_ID_INFO information{};
  if (!::GetFileInformationByHandleEx(file, FileIdInfo, &information, sizeof information)) {
    return {};
  }
  static_assert(sizeof information.FileId.Identifier == 2 * sizeof(std::uint64_t));
  FileIdentity identity;
  identity.volume = information.VolumeSerialNumber;
  std::memcpy(&identity.id_low, information.FileId.Identifier, sizeof identity.id_low);
  std::memcpy(&identity.id_high, information.FileId.Identifier + sizeof identity.id_low,
              sizeof identity.id_high);
  return identity;
}

// What a failed call means for the file it was about: `error` may pass.
IoResult failure(DWORD error) {
  switch (error) {
    case ERROR_TOO_MANY_OPEN_FILES:
    case ERROR_NO_SYSTEM_RESOURCES:
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_NOT_ENOUGH_QUOTA:
      return IoResult::no_resources;
    default:
      return IoResult::failed;
  }
}

// The cloud files provider's errors (not running, offline, not in sync...),
// which winerror.h numbers from 358 to 404, and two later ones.
bool is_cloud_error(DWORD error) {
  constexpr DWORD kFirst = 358;  // ERROR_CLOUD_FILE_SYNC_ROOT_METADATA_CORRUPT
  constexpr DWORD kLast = 404;   // ERROR_CLOUD_FILE_REQUEST_ABORTED
  constexpr DWORD kRequestTimeout = 426;
  constexpr DWORD kDehydrationDisallowed = 434;
  return (error >= kFirst && error <= kLast) || error == kRequestTimeout ||
         error == kDehydrationDisallowed;
}

WriteFault fault_of_system_error(DWORD error) {
  switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_NOT_ENOUGH_QUOTA:
      return WriteFault::disk_full;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
      return WriteFault::in_use;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return WriteFault::access_denied;
    case ERROR_TOO_MANY_OPEN_FILES:
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_NO_SYSTEM_RESOURCES:
      return WriteFault::no_resources;
    default:
      return is_cloud_error(error) ? WriteFault::cloud : WriteFault::other;
  }
}

// Whether another program holds the file at `path` so that it cannot be
// deleted or replaced: an open asking for deletion, sharing everything,
// meets a sharing violation.
bool is_in_use(const std::wstring& path) {
  const FileHandle probe(::CreateFileW(path.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING,
                                       kEntryItself, nullptr));
  return !probe.is_open() && ::GetLastError() == ERROR_SHARING_VIOLATION;
}

// Compresses the open `file` where `wanted` asks for it, then returns which
// of `wanted`'s attributes it has.
DWORD kept_attributes(HANDLE file, DWORD wanted) {
  if ((wanted & FILE_ATTRIBUTE_COMPRESSED) != 0) {
    USHORT format = COMPRESSION_FORMAT_DEFAULT;
    DWORD returned = 0;
    (void)::DeviceIoControl(file, FSCTL_SET_COMPRESSION, &format, sizeof format, nullptr, 0,
                            &returned, nullptr);
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(file, &information)) return 0;
  return information.dwFileAttributes & wanted;
}

// Whether a failure may pass once another program lets go of a file.
bool is_held(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
         error == ERROR_LOCK_VIOLATION;
}

// A request to give an open file the name `path`, made up front: asking
// cannot then fail for want of memory half-way through a replace.
class RenameRequest {
 public:
  explicit RenameRequest(const std::wstring& path)
      : buffer_(sizeof(FILE_RENAME_INFO) + path.size() * sizeof(wchar_t)) {
    auto* request = reinterpret_cast<FILE_RENAME_INFO*>(buffer_.data());
    request->RootDirectory = nullptr;
    request->FileNameLength = static_cast<DWORD>(path.size() * sizeof(wchar_t));
    std::memcpy(request->FileName, path.data(), request->FileNameLength);
  }

  // Renames `file`, replacing an existing file in one step when `replace`
  // is set (POSIX semantics: even one that others hold open) when `posix`
  // is. GetLastError tells why it failed.
  bool apply(HANDLE file, bool replace, bool posix) {
    auto* request = reinterpret_cast<FILE_RENAME_INFO*>(buffer_.data());
    request->Flags = (replace ? FILE_RENAME_FLAG_REPLACE_IF_EXISTS : 0) |
                     (posix ? FILE_RENAME_FLAG_POSIX_SEMANTICS : 0);
    // FileRenameInfo reads the same first byte as ReplaceIfExists.
    return ::SetFileInformationByHandle(file, posix ? kFileRenameInfoEx : FileRenameInfo, request,
                                        static_cast<DWORD>(buffer_.size())) != 0;
  }

 private:
  std::vector<unsigned char> buffer_;
};

// Where the earlier file at `final` is moved aside while a file that
// others hold takes its place: a name of its own, which no merge takes as
// an input, and which AtomicFile::recover knows.
std::wstring aside_path_of(const std::wstring& final) {
  const std::size_t folder = final.rfind(L'\\') + 1;
  return final.substr(0, folder) + L"~" + final.substr(folder) + L".earlier";
}

// Whether the open `file` has the name that `path` ends in.
bool has_name(HANDLE file, const std::wstring& path) {
  const std::wstring now = final_path(file);
  return !now.empty() && same_file_name(std::wstring_view(now).substr(now.rfind(L'\\') + 1),
                                        std::wstring_view(path).substr(path.rfind(L'\\') + 1));
}

bool mark_for_deletion(HANDLE file) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

struct LocalFreer {
  void operator()(void* memory) const { ::LocalFree(memory); }
};

// The permissions of an open file: its discretionary access control list,
// and whether it takes entries from its folder.
struct Permissions {
  std::unique_ptr<void, LocalFreer> descriptor;
  ACL* list = nullptr;
  bool inherits = true;

  bool read(HANDLE file) {
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (::GetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &list,
                          nullptr, &raw) != ERROR_SUCCESS) {
      return false;
    }
    descriptor.reset(raw);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!::GetSecurityDescriptorControl(raw, &control, &revision)) return false;
    inherits = (control & SE_DACL_PROTECTED) == 0;
    return true;
  }

  // The entries of the list that were (`inherited`) or were not taken
  // from the folder.
  std::vector<ACE_HEADER*> entries(bool inherited) const {
    std::vector<ACE_HEADER*> found;
    for (DWORD i = 0; list != nullptr && i < list->AceCount; ++i) {
      void* entry = nullptr;
      if (::GetAce(list, i, &entry) &&
          ((static_cast<ACE_HEADER*>(entry)->AceFlags & INHERITED_ACE) != 0) == inherited) {
        found.push_back(static_cast<ACE_HEADER*>(entry));
      }
    }
    return found;
  }
};

// Gives the open temporary `file` what was set explicitly on the
// permissions of the file at `final`: the whole list where that takes
// nothing from its folder, else its own entries ahead of those `file` took
// from the folder. Nothing changes where `final` holds no file, or one
// without a list or whose entries all come from its folder. False when
// permissions it has cannot be read or kept.
bool keep_permissions(HANDLE file, const std::wstring& final) {
  const FileHandle earlier = open_entry(final, READ_CONTROL);
  if (!earlier.is_open()) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
  Permissions kept;
  if (!kept.read(earlier.get())) return false;
  if (kept.list == nullptr) return true;
  if (!kept.inherits) {
    return ::SetSecurityInfo(file, SE_FILE_OBJECT,
                             DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                             nullptr, nullptr, kept.list, nullptr) == ERROR_SUCCESS;
  }
  std::vector<ACE_HEADER*> entries = kept.entries(false);
  if (entries.empty()) return true;
  Permissions inherited;
  if (!inherited.read(file)) return false;
  const std::vector<ACE_HEADER*> from_folder = inherited.entries(true);
  entries.insert(entries.end(), from_folder.begin(), from_folder.end());
  const std::size_t size = std::accumulate(
      entries.begin(), entries.end(), sizeof(ACL),
      [](std::size_t sum, const ACE_HEADER* entry) { return sum + entry->AceSize; });
  if (size > 0xFFFC) return false;  // no list holds more
  std::vector<std::uint32_t> buffer((size + 3) / 4);
  auto* list = reinterpret_cast<ACL*>(buffer.data());
  if (!::InitializeAcl(list, DWORD(buffer.size() * 4), ACL_REVISION_DS)) return false;
  for (ACE_HEADER* entry : entries) {
    if (!::AddAce(list, ACL_REVISION_DS, MAXDWORD, entry, entry->AceSize)) return false;
  }
  return ::SetSecurityInfo(file, SE_FILE_OBJECT,
                           DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                           nullptr, nullptr, list, nullptr) == ERROR_SUCCESS;
}

enum class Moved {
  in_place,   // the new file has the final name
  not_moved,  // both files have the names they had
  stranded,   // the final name is empty; the earlier file has another name
};

// Replaces the file at `final` by the open `file` where renames cannot
// replace a file that others hold open (before Windows 10 1607; FAT,
// exFAT, many shares): the earlier file is moved aside, `file` takes its
// name and the earlier file is deleted; or it goes back when `file` cannot
// take the name. All by handle, so the link at `final`, not its target, is
// what moves. GetLastError tells why it failed.
Moved replace_moving_aside(HANDLE file, const std::wstring& final, RenameRequest& to_final,
                           RenameRequest& aside) {
  const FileHandle earlier = open_entry(final, DELETE);
  // An earlier file still at the aside name is older than the one at
  // `final` (one left without its name is put back before a merge starts).
  if (!earlier.is_open() || !aside.apply(earlier.get(), true, false)) return Moved::not_moved;
  if (to_final.apply(file, false, false)) {
    // Gone once its last holder closes it; a leftover would be a stray
    // temporary file, never a playlist lost.
    (void)mark_for_deletion(earlier.get());
    return Moved::in_place;
  }
  const DWORD error = ::GetLastError();
  const bool restored = to_final.apply(earlier.get(), false, false);
  ::SetLastError(error);
  return restored ? Moved::not_moved : Moved::stranded;
}

// One try at giving the open `file` the name `final`, in one step where
// the system can: a rename with POSIX semantics replaces even a file that
// others hold open with delete sharing (NTFS since Windows 10 1607), a plain
// rename replaces one nobody holds. `posix` is cleared once the system
// refuses POSIX renames for good. GetLastError tells why it failed.
Moved replace_once(HANDLE file, const std::wstring& final, RenameRequest& to_final,
                   RenameRequest& aside, bool& posix) {
  if (posix) {
    if (to_final.apply(file, true, true)) return Moved::in_place;
    posix = is_held(::GetLastError());
  }
  if (to_final.apply(file, true, false)) return Moved::in_place;
  if (!is_held(::GetLastError())) return Moved::not_moved;
  return replace_moving_aside(file, final, to_final, aside);
}

// Puts the open `file` at `final`, trying again for a while as long as
// another program holds a file in the way; `aside_path` is where the
// earlier file would be moved aside.
Moved move_into_place(HANDLE file, const std::wstring& final, std::wstring& aside_path) {
  RenameRequest to_final(final);
  aside_path = aside_path_of(final);
  RenameRequest aside(aside_path);
  bool posix = true;
  DWORD waited = 0;
  for (DWORD delay = kFirstReplaceDelayMilliseconds;; delay *= 2) {
    const Moved moved = replace_once(file, final, to_final, aside, posix);
    if (moved != Moved::not_moved || !is_held(::GetLastError()) ||
        waited + delay > kReplaceDelaysMilliseconds) {
      return moved;
    }
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
  ::SetErrorMode(::GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  (void)::SetConsoleCtrlHandler(remove_temporary_on_console_event, TRUE);
  (void)std::set_terminate(remove_temporary_and_exit);
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

std::wstring extended_path(const std::wstring& path) { return long_path(path); }

std::wstring unprefixed_path(const std::wstring& path) {
  if (path.starts_with(LR"(\\?\UNC\)")) return LR"(\\)" + path.substr(8);
  return path.substr(4);
}

std::wstring plain_path(const std::wstring& path) {
  const std::wstring exact = long_path(path);
  if (exact.empty()) return {};
  if (std::wstring plain = parsed_unchanged(exact); !plain.empty()) return plain;
  if (const std::wstring short_form = short_path(exact); !short_form.empty()) {
    if (std::wstring plain = parsed_unchanged(short_form); !plain.empty()) return plain;
  }
  return {};
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

std::optional<FileIdentity> Directory::identify(NativeStringView name, Links links) const {
  const DWORD flags = links == Links::followed ? FILE_FLAG_BACKUP_SEMANTICS : kEntryItself;
  const FileHandle file(::CreateFileW(resolve(*this, name).c_str(), 0, kShareAll, nullptr,
                                      OPEN_EXISTING, flags, nullptr));
  if (!file.is_open()) return std::nullopt;
  const FileIdentity identity = identity_of(file.get());
  if (!identity.known()) return std::nullopt;
  return identity;
}

bool Directory::stored_name(NativeStringView name, NativeString& stored) const {
  std::wstring entry;
  if (!stored_name_at(resolve(*this, name), entry)) return false;
  const std::size_t step = name.find_last_of(L'/') + 1;  // 0 when there is none
  stored = name;
  if (!entry.empty() && !same_file_name(entry, name.substr(step)))
    stored.replace(step, NativeString::npos, entry);
  return true;
}

bool Directory::leads_to(NativeStringView link, NativeStringView name) const {
  // Where the link leads now, as the system resolves it: the final path of
  // the file it opens, or of the folder its last step names.
  const FileHandle file(::CreateFileW((path_ + std::wstring(link)).c_str(), 0, kShareAll, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.is_open()) return false;
  const std::wstring target = final_path(file.get());
  const std::size_t separator = target.rfind(L'\\');
  if (target.empty() || separator == std::wstring::npos ||
      !same_file_name(std::wstring_view(target).substr(separator + 1), name)) {
    return false;
  }
  const FileHandle folder(::CreateFileW(path_.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!folder.is_open()) return false;
  const std::wstring folder_path = final_path(folder.get());
  return !folder_path.empty() && same_file_name(target.substr(0, separator), folder_path);
}

bool Directory::is_read_only(NativeStringView name) const {
  const DWORD attributes = ::GetFileAttributesW(resolve(*this, name).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
         (attributes & FILE_ATTRIBUTE_READONLY) != 0;
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

void InputFile::read_ahead(std::size_t) const {}

IoResult InputFile::open(const Directory& directory, NativeStringView name) {
  close();
  // Shared every way, so that a player or sync client that holds the
  // playlist open for writing neither keeps it out nor fails to save it.
  const HANDLE file =
      ::CreateFileW((directory.path() + std::wstring(name)).c_str(), GENERIC_READ, kShareAll,
                    nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return failure(::GetLastError());
  handle_ = file;
  LARGE_INTEGER size{};
  // Device names such as CON open like files; only disk files are playlists.
  if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileSizeEx(file, &size)) {
    close();
    return IoResult::failed;
  }
  identity_ = identity_of(file);
  size_ = std::uint64_t(size.QuadPart);
  return IoResult::done;
}

IoResult InputFile::read(std::size_t limit, std::vector<unsigned char>& content) {
  if (handle_ == kNoHandle || size_ > limit || limit >= kMaxChunk) return IoResult::failed;
  const auto size = static_cast<std::size_t>(size_);
  // One byte of room beyond the size tells a file that grew meanwhile.
  content.resize(size + 1);
  std::size_t total = 0;
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(as_handle(handle_), content.data() + total,
                    static_cast<DWORD>(size + 1 - total), &got, nullptr)) {
      return failure(::GetLastError());
    }
    total += got;
    if (got == 0 || total >= size) break;
  }
  if (total != size) return IoResult::failed;
  content.resize(size);
  return IoResult::done;
}

AtomicFile::~AtomicFile() { discard(); }

void AtomicFile::recover(const Directory& directory, NativeStringView name) {
  const std::wstring final = resolve(directory, name);
  if (::GetFileAttributesW(final.c_str()) != INVALID_FILE_ATTRIBUTES ||
      ::GetLastError() != ERROR_FILE_NOT_FOUND) {
    return;
  }
  (void)::MoveFileExW(aside_path_of(final).c_str(), final.c_str(), 0);
}

unsigned last_system_error() { return ::GetLastError(); }

WriteFault fault_of(unsigned error) { return fault_of_system_error(error); }

bool AtomicFile::create(const Directory& directory, NativeStringView name) {
  fault_ = WriteFault::none;
  system_error_ = 0;
  moved_aside_.clear();
  std::wstring final_path = resolve(directory, name);
  std::wstring stored;
  const std::size_t step = final_path.rfind(L'\\') + 1;
  // A name that reaches a file stored under another name (an 8.3 alias)
  // would put the merged playlist in that file's place.
  if (!stored_name_at(final_path, stored) ||
      (!stored.empty() && !same_file_name(stored, std::wstring_view(final_path).substr(step)))) {
    return false;
  }
  // A rename gives the name the letters it is given: the earlier playlist's own.
  if (!stored.empty()) final_path.replace(step, std::wstring::npos, stored);
  DWORD kept = 0;
  const DWORD attributes = ::GetFileAttributesW(final_path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) return false;
    kept = attributes & kKeptAttributes;
  } else if (::GetLastError() != ERROR_FILE_NOT_FOUND) {
    failed(::GetLastError());
    return false;
  }
  // Whatever may fail for want of memory fails before the file exists.
  buffer_.reserve(kAtomicFileBufferBytes);
  // The temporary file carries the replaced playlist's attributes from the
  // start: a rename keeps the attributes of the file renamed. Encryption is
  // asked for at creation, compression right after; where the volume or
  // the system offers neither, the file is made without and unkept() says so.
  const DWORD wanted = attributes == INVALID_FILE_ATTRIBUTES
                           ? 0
                           : attributes & (FILE_ATTRIBUTE_ENCRYPTED | FILE_ATTRIBUTE_COMPRESSED);
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    temporary_name_ = temporary_path(final_path, attempt);
    HANDLE file = create_temporary(
        temporary_name_, kept | (wanted & FILE_ATTRIBUTE_ENCRYPTED) | FILE_ATTRIBUTE_NORMAL);
    DWORD error = ::GetLastError();
    if (file == INVALID_HANDLE_VALUE && (wanted & FILE_ATTRIBUTE_ENCRYPTED) != 0 &&
        error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      file = create_temporary(temporary_name_, kept | FILE_ATTRIBUTE_NORMAL);
      error = ::GetLastError();
    }
    if (file != INVALID_HANDLE_VALUE) {
      directory_ = &directory;
      name_ = std::move(final_path);
      handle_ = file;
      written_ = written_back_to_ = 0;
      const DWORD unkept = wanted & ~kept_attributes(file, wanted);
      lost_encryption_ = (unkept & FILE_ATTRIBUTE_ENCRYPTED) != 0;
      lost_compression_ = (unkept & FILE_ATTRIBUTE_COMPRESSED) != 0;
      return true;
    }
    temporary_name_.clear();  // another program's file, or none
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      failed(error);
      return false;
    }
  }
  failed(ERROR_FILE_EXISTS);
  return false;
}

CommitResult AtomicFile::commit() {
  // A failed write has removed the file already.
  if (!is_open() || !flush_buffer()) return CommitResult::failed;
  const HANDLE file = as_handle(handle_);
  if (!::FlushFileBuffers(file) || !keep_permissions(file, name_)) {
    failed(::GetLastError());
    discard();
    return CommitResult::failed;
  }
  // The console handler waits for the replace: Ctrl+C then finds either
  // the temporary file, which it removes, or none.
  const PendingLock lock;
  std::wstring aside;
  const Moved moved = move_into_place(file, name_, aside);
  if (moved == Moved::not_moved) {
    failed(::GetLastError());
    // Refused access may mean that another program holds the file in the
    // way, or that the user may not replace it: the file itself tells.
    if (fault_ == WriteFault::access_denied && is_in_use(name_)) fault_ = WriteFault::in_use;
  } else if (moved == Moved::stranded) {
    fault_ = WriteFault::moved_aside;
    moved_aside_ = aside.substr(aside.rfind(L'\\') + 1);
  }
  // The file goes only while it still has its temporary name: a share may
  // report a failed rename that took place.
  if (moved == Moved::not_moved && has_name(file, temporary_name_)) (void)mark_for_deletion(file);
  ::CloseHandle(file);
  handle_ = kNoHandle;
  pending_path = nullptr;
  temporary_name_.clear();
  // The rename is recorded in the file system's journal: there is no folder
  // to flush.
  return moved == Moved::in_place ? CommitResult::replaced : CommitResult::failed;
}

void AtomicFile::discard() {
  if (handle_ != kNoHandle) {
    (void)mark_for_deletion(as_handle(handle_));
    ::CloseHandle(as_handle(handle_));
  }
  handle_ = kNoHandle;
  if (!temporary_name_.empty()) {
    const PendingLock lock;
    pending_path = nullptr;
  }
  temporary_name_.clear();
}

}  // namespace m3umerge::platform
