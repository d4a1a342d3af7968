// The operating-system layer: everything m3umerge needs from the system, behind
// plain functions and small RAII types. Paths and console text are native
// strings: UTF-16 on Windows, raw bytes elsewhere.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace m3umerge {

#if defined(_WIN32)
using NativeChar = wchar_t;
#define M3U_NATIVE(text) L##text
#else
using NativeChar = char;
#define M3U_NATIVE(text) text
#endif
using NativeString = std::basic_string<NativeChar>;
using NativeStringView = std::basic_string_view<NativeChar>;

namespace platform {

#if defined(_WIN32)
// Forward slashes are not taken as separators: only the backslash ends a
// directory part.
inline constexpr NativeChar kDirectorySeparator = L'\\';
#else
inline constexpr NativeChar kDirectorySeparator = '/';
#endif

// Readies the process: selects `locale_name` for every locale category (a
// locale the system does not know is ignored), makes a closed or broken
// standard output harmless for print_line, and turns a file size limit into
// a failed write instead of the end of the process.
void prepare_process(const NativeChar* locale_name);

// Writes `text` and a line end to standard output. On Windows the line end
// is CR LF and characters the console cannot show become "?"; elsewhere the
// bytes go out unchanged followed by LF. Failures are ignored.
void print_line(NativeStringView text);

// Whether two names in one directory name the same playlist, letters
// compared without regard to case (ASCII letters on every system; on Windows
// the file system's own case folding).
bool same_file_name(NativeStringView a, NativeStringView b);

// Names of directory entries, stored back to back to keep large folders small.
class NameList {
 public:
  void add(NativeStringView name);
  std::size_t size() const { return spans_.size(); }
  NativeStringView operator[](std::size_t index) const;
  // Orders the names by `less`, a strict weak order on NativeStringView.
  template <class Less>
  void sort(Less less);

 private:
  NativeString characters_;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> spans_;  // offset, length
};

// An open directory; files are opened relative to it.
class Directory {
 public:
  Directory() = default;
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;
  ~Directory();

  // Opens the directory at `path`, which ends in a separator. Returns false
  // when the system cannot open it (also when the path is too long for it).
  bool open(NativeStringView path);

  // Lists the entries whose names end in `extension` (ASCII letters in any
  // case) and that are regular files or may be one (a link that cannot be
  // followed); directories, pipes, sockets and devices are left out. On
  // Windows the order is the directory search's; elsewhere names are sorted
  // byte by byte with ASCII letters folded to upper case, ties broken by the
  // raw bytes. Returns false when the directory cannot be read.
  bool list_files(NativeStringView extension, NameList& names) const;

  // Reads the whole regular file `name` into `content` when it holds at most
  // `limit` bytes. Returns false, with `content` unspecified, when the file
  // cannot be opened or read, is not a regular file, is larger than `limit`,
  // or changed size while it was read.
  bool read_file(NativeStringView name, std::size_t limit,
                 std::vector<unsigned char>& content) const;

  const NativeString& path() const { return path_; }
  std::intptr_t native_handle() const { return handle_; }

 private:
  NativeString path_;
  std::intptr_t handle_ = -1;  // a descriptor where the system has one
};

// A file written under a temporary name in its directory and moved to its
// final name by commit() only after every byte reached the disk. Until then
// whatever stands at the final name is untouched; the destructor removes the
// temporary file unless it was committed.
class AtomicFile {
 public:
  AtomicFile() = default;
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;
  ~AtomicFile();

  // Checks that `name` in `directory` can be replaced (neither a directory
  // nor a read-only file stands there) and creates the temporary file
  // exclusively, never following an existing file or link. Returns false,
  // with nothing created, when either fails. `directory` must outlive this.
  bool create(const Directory& directory, NativeStringView name);
  bool is_open() const { return directory_ != nullptr; }

  // Appends bytes. After a failed write every later write and commit() fail.
  bool write(std::span<const unsigned char> bytes);
  bool write(std::string_view bytes);

  // Writes out the buffer, flushes the file to disk and renames it over the
  // final name, keeping the permission bits of a file it replaces (POSIX).
  // On failure the temporary file is removed and the final name keeps what
  // it held.
  bool commit();

 private:
  bool flush_buffer();
  bool write_through(std::span<const unsigned char> bytes);
  void discard();

  const Directory* directory_ = nullptr;
  NativeString name_;
  NativeString temporary_name_;
  std::intptr_t handle_ = -1;
  unsigned kept_mode_ = 0;  // permission bits to keep, 0 when none
  bool failed_ = false;
  std::uint64_t written_ = 0;       // bytes handed to the system so far
  std::uint64_t written_back_ = 0;  // of those, bytes it was asked to put on disk
  std::vector<unsigned char> buffer_;
};

template <class Less>
void NameList::sort(Less less) {
  const auto view = [this](const std::pair<std::uint32_t, std::uint32_t>& s) {
    return NativeStringView(characters_).substr(s.first, s.second);
  };
  std::sort(spans_.begin(), spans_.end(),
            [&](const auto& a, const auto& b) { return less(view(a), view(b)); });
}

}  // namespace platform
}  // namespace m3umerge
