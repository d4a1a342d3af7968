// The operating-system layer: everything m3umerge needs from the system, behind
// plain functions and small RAII types. Paths and console text are native
// strings: UTF-16 on Windows, raw bytes elsewhere.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
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
// A HANDLE; nullptr when there is none.
using NativeHandle = void*;
inline constexpr NativeHandle kNoHandle = nullptr;
// Forward slashes are not taken as separators: only the backslash ends a
// directory part.
inline constexpr NativeChar kDirectorySeparator = L'\\';
// The directory search gives its own stable order (alphabetical on NTFS).
inline constexpr bool kListingIsOrdered = true;
#else
// A file descriptor; -1 when there is none.
using NativeHandle = int;
inline constexpr NativeHandle kNoHandle = -1;
inline constexpr NativeChar kDirectorySeparator = '/';
// readdir's order depends on the file system's history.
inline constexpr bool kListingIsOrdered = false;
#endif

// Readies the process, before anything else runs: opens the null device on
// any standard stream that is closed (so that no file the tool opens can
// become one), selects `locale_name` for every locale category (a locale the
// system does not know is ignored), makes a closed or broken standard output
// harmless for print_line, turns a file size limit into a failed write
// instead of the end of the process, and removes a pending temporary output
// file when the user interrupts or ends the process.
void prepare_process(const NativeChar* locale_name);

// Writes `text` and a line end to standard output. On Windows the line end
// is CR LF and characters the console cannot show become "?". Elsewhere the
// bytes go out unchanged followed by LF, except that on a terminal every
// control character (C0, DEL, C1 raw or UTF-8 encoded) becomes "?", so that a
// name cannot drive the terminal. Failures are ignored.
void print_line(NativeStringView text);

// Whether two names in one directory name the same playlist, letters
// compared without regard to case (ASCII letters on every system; on Windows
// the file system's own case folding).
bool same_file_name(NativeStringView a, NativeStringView b);

#if defined(_WIN32)
// `path` made absolute with the \\?\ prefix (\\?\UNC\ for a share), as the
// merge resolves it: every name kept exactly, trailing dots and spaces
// included, which Win32's own parsing drops. Empty when it cannot be resolved.
std::wstring extended_path(const std::wstring& path);

// `path` in the form Win32's own parsing takes to the very file it names,
// which is what the shell and other programs take: no \\?\ prefix, shorter
// than MAX_PATH, no name that ends in a dot or space or is a device name
// such as CON; as it stands, else by its short (8.3) names, which can be
// longer. Empty when neither reaches it (a volume without short names).
std::wstring plain_path(const std::wstring& path);

// `path`, a \\?\ path, as Win32 writes it: C:\... or \\server\share\...
std::wstring unprefixed_path(const std::wstring& path);
#endif

// What tells one file from another on a system: device and inode, or volume
// serial number and 128-bit file id. An id of all zeros is unknown: such an
// identity equals none, not even itself, and only names tell files apart.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t id_low = 0;
  std::uint64_t id_high = 0;
  bool known() const { return id_low != 0 || id_high != 0; }
  bool operator==(const FileIdentity& other) const {
    return known() && volume == other.volume && id_low == other.id_low && id_high == other.id_high;
  }
};

// Whether a symbolic link is examined itself or followed to what it reaches.
enum class Links { not_followed, followed };

// Names of directory entries, stored back to back to keep large folders small,
// each with a mark for entries that are symbolic links.
class NameList {
 public:
  // Adds a name; false, with nothing added, when the list cannot hold it.
  bool add(NativeStringView name, bool link = false);
  std::size_t size() const { return entries_.size(); }
  NativeStringView operator[](std::size_t index) const;
  bool is_link(std::size_t index) const { return entries_[index].link; }
  // Orders the names by `less`, a strict weak order on NativeStringView.
  template <class Less>
  void sort(Less less);

 private:
  struct Entry {
    std::uint32_t offset;
    std::uint32_t length;
    bool link;
  };
  NativeStringView view(const Entry& entry) const {
    return NativeStringView(characters_).substr(entry.offset, entry.length);
  }

  NativeString characters_;
  std::vector<Entry> entries_;
};

#if !defined(_WIN32)
// Who a process is to the file system: user, group and supplementary groups.
struct ProcessIdentity {
  unsigned user;
  unsigned group;
  std::vector<unsigned> groups;
};
#endif

// An open directory; files are opened in it.
class Directory {
 public:
  Directory() = default;
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;
  ~Directory();

  // Opens the directory at `path`, which ends in a separator. Returns false
  // when the system cannot open it (also when the path is too long for it).
  // A process running as root that opens a directory belonging to another
  // user takes that user's rights, with the directory's group as its only
  // group, until the Directory is closed: it lists, reads and creates there
  // only what the owner could, and what it creates is the owner's (POSIX;
  // where the system refuses the switch, as in a user namespace that does
  // not map the owner, it keeps its own rights, which reach no further
  // there than anyone's).
  bool open(NativeStringView path);

  // Adds to `names`, in the system's listing order, the entries whose names
  // `wanted` accepts and that are regular files or may be one (a link that
  // cannot be followed); directories, pipes, sockets and devices are left
  // out. Symbolic links are marked as such. Returns false when the directory
  // cannot be read.
  bool list_files(bool (*wanted)(NativeStringView name), NameList& names) const;

  // The identity of the entry `name` itself, or of the file it reaches when
  // `links` is followed; nothing when there is no such entry (or it leads
  // nowhere), it cannot be examined or the system gives it no known identity.
  std::optional<FileIdentity> identify(NativeStringView name, Links links) const;

  // Sets `stored` to `name` with its last step (what follows its last "/")
  // replaced by the name the entry it reaches is stored under, where the two
  // differ beyond letter case (`name` spells an 8.3 alias on Windows), and
  // to `name` itself otherwise or when there is no such entry. Returns false
  // when it cannot tell.
  bool stored_name(NativeStringView name, NativeString& stored) const;

  // Whether the entry `link` is a symbolic link that leads, directly or
  // through other links, to the entry `name` of this directory (in any
  // letter case), so a file renamed in at `name` meanwhile changes nothing.
  // On POSIX it is decided by the links' text, whether or not `name`
  // exists; on Windows by where the system resolves the link, so a link to
  // a `name` that does not exist yet is not recognised. False when `link`
  // is no link or cannot be followed that far.
  bool leads_to(NativeStringView link, NativeStringView name) const;

  // Whether the entry `name` is a file that AtomicFile::create leaves alone
  // as read-only: one with the read-only attribute (Windows), or without any
  // write permission bit or not writable by this process (POSIX). False when
  // there is no such entry or it cannot be examined.
  bool is_read_only(NativeStringView name) const;

  // The directory's path, ending in a separator. On Windows it is absolute,
  // with the \\?\ prefix, and every file is reached through it, whatever
  // its length; elsewhere it is the path given to open().
  const NativeString& path() const { return path_; }
#if !defined(_WIN32)
  NativeHandle handle() const { return handle_; }
  // The user the directory belongs to.
  unsigned owner() const { return owner_; }
  // How long, in milliseconds, opening its files may still wait for the
  // holders of leases on them to let go; what opening spends.
  int& lease_patience() const { return lease_patience_; }
#endif

 private:
  NativeString path_;
#if !defined(_WIN32)
  void close();

  NativeHandle handle_ = kNoHandle;
  unsigned owner_ = 0;
  mutable int lease_patience_ = 0;
  // The process's own identity, while it has taken the owner's.
  std::optional<ProcessIdentity> own_identity_;
#endif
};

// How many candidates may be open at once, `wanted` at most and at least 1:
// as many as the descriptors still free allow, with a few kept for the
// merged playlist. Only 1 where opening ahead would gain nothing.
std::size_t files_open_at_once(std::size_t wanted);

// What came of opening or reading a file.
enum class IoResult {
  done,
  failed,        // it cannot be opened or read, or is no regular (disk) file
  no_resources,  // no descriptor, handle or memory to spare: it may work later
};

// A candidate opened for reading, shared with other programs that read,
// write or delete it.
class InputFile {
 public:
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile() { close(); }

  // Opens `name` in `directory` for reading, closing the file held before,
  // when it is a regular (disk) file, links followed. What a link leads to
  // is examined before it is opened, so that no device, pipe or socket is
  // opened through one (on Linux; elsewhere, and for an entry that is itself
  // a pipe or device, it is opened without waiting and closed). A file
  // another program holds a lease on is opened once the system has broken
  // the lease, as for any reader, in the time the system gives the holder.
  // Nothing of that file remains after a failure.
  IoResult open(const Directory& directory, NativeStringView name);
  void close();
  const FileIdentity& identity() const { return identity_; }
  // The size of the open file when it was opened; 0 when none is open.
  std::uint64_t opened_size() const { return size_; }

  // Asks the system to start reading the open file into its cache, so that
  // read(limit) finds it there; a hint only, where the system offers it.
  // A file larger than `limit`, which read(limit) refuses, is not read.
  void read_ahead(std::size_t limit) const;

  // Reads the whole open file into `content` when it holds at most `limit`
  // bytes. Fails, with `content` unspecified, when it cannot be read, is
  // larger than `limit` or changed size while it was read; no_resources
  // when the system was short of memory for the read.
  IoResult read(std::size_t limit, std::vector<unsigned char>& content);

 private:
  NativeHandle handle_ = kNoHandle;
  FileIdentity identity_;
  std::uint64_t size_ = 0;
};

enum class CommitResult { failed, replaced, unflushed_folder };

// Why a file could not be written or put in place.
enum class WriteFault {
  none,
  in_use,         // another program holds it, or the file in its way
  disk_full,      // the disk, or the user's quota, is full
  access_denied,  // the user may not write or replace it there
  cloud,          // the cloud provider that keeps the folder refused (not running, not in sync)
  moved_aside,    // the earlier file was moved aside and could not be put back (Windows)
  no_resources,   // the system ran short of memory or file handles
  other,          // any other failure: the system's code says which
};

// A file written under a temporary name in its directory and moved to its
// final name by commit() only after every byte reached the disk. Until then
// whatever stands at the final name is untouched; the temporary file is
// removed when a write fails, by the destructor unless it was committed, and
// by prepare_process's handlers when the process is interrupted. One
// AtomicFile at a time may be open in a process.
class AtomicFile {
 public:
  AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;
  ~AtomicFile();

  // Checks that `name` in `directory` can be replaced (neither a directory
  // nor a read-only file stands there, nor an entry stored under another
  // name that `name` reaches as an alias) and creates the temporary file
  // exclusively under a random name, never following an existing file or
  // link, readable by its owner alone until commit. Returns false, with
  // nothing created, when either fails. `directory` must outlive this.
  bool create(const Directory& directory, NativeStringView name);

  // Puts back at `name` in `directory` the earlier file that a replace cut
  // short left moved aside (Windows, where a file others hold open is
  // moved aside as "~NAME.earlier" for a moment), when nothing stands at
  // `name`. Does nothing elsewhere, or when it cannot.
  static void recover(const Directory& directory, NativeStringView name);
  // True from a successful create() until commit, a failed write or discard.
  bool is_open() const { return handle_ != kNoHandle; }
  // How many bytes were written since create().
  std::uint64_t size() const { return written_ + buffer_.size(); }

  // Appends bytes, starting their way to the disk every few megabytes. A
  // failed write removes the temporary file; every later write and commit()
  // then fail.
  bool write(std::span<const unsigned char> bytes);
  bool write(std::string_view bytes);

  // Writes out the buffer, gives the file its final permissions, flushes it
  // to disk and puts it in place of the final name in one step, keeping what
  // the user set on a file it replaces: the permission bits (never set-id
  // bits) and, where the process may, owner and group, or the group alone
  // (POSIX); the attributes and the explicitly
  // set permissions (Windows). A link at the final name is replaced itself;
  // its target is left alone. A new file gets 0666 less the umask (POSIX). On
  // failure the final name keeps what it held and the temporary file is
  // removed; except where, on Windows, a file in use had to be moved aside
  // and could not be put back: then both files are kept, the earlier one
  // under a temporary name. CommitResult::unflushed_folder: the file is in
  // place, but the folder that records the new name could not be flushed,
  // so a power cut may still undo the replace.
  CommitResult commit();

  // Removes the temporary file; the final name keeps what it held.
  void discard();

  // Why the last create(), write or commit() failed; none when it did not
  // or when nothing the system said was wrong (a folder at the name, a
  // read-only file there).
  WriteFault fault() const { return fault_; }
  // The system's code for that failure (errno, or GetLastError), else 0.
  unsigned system_error() const { return system_error_; }
  // With WriteFault::moved_aside: the name the earlier file has now.
  const NativeString& moved_aside() const { return moved_aside_; }
  // Whether the file replaced was encrypted or compressed, and this one,
  // where the volume or the system offers it not, is not (Windows).
  bool lost_encryption() const { return lost_encryption_; }
  bool lost_compression() const { return lost_compression_; }

#if !defined(_WIN32)
  // Who a replaced file belonged to, and its permissions.
  struct Owner {
    unsigned mode;
    unsigned user;
    unsigned group;
  };
#endif

 private:
  bool flush_buffer();
  bool write_through(std::span<const unsigned char> bytes);
  // Records that the system refused a step with `error`.
  void failed(unsigned error);

  const Directory* directory_ = nullptr;
  NativeString name_;
  NativeString temporary_name_;
  NativeHandle handle_ = kNoHandle;
#if !defined(_WIN32)
  std::optional<Owner> replaced_owner_;  // of the file replaced, if any
#endif
  WriteFault fault_ = WriteFault::none;
  unsigned system_error_ = 0;
  NativeString moved_aside_;
  bool lost_encryption_ = false;
  bool lost_compression_ = false;
  std::uint64_t written_ = 0;          // bytes handed to the system so far
  std::uint64_t written_back_to_ = 0;  // where the last write-back started ended
  std::vector<unsigned char> buffer_;
};

template <class Less>
void NameList::sort(Less less) {
  std::sort(entries_.begin(), entries_.end(),
            [&](const Entry& a, const Entry& b) { return less(view(a), view(b)); });
}

}  // namespace platform
}  // namespace m3umerge
