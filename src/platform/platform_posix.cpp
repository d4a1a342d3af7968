#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__APPLE__)
#include <sys/random.h>
#endif

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/ascii_case.h"
#include "platform/platform.h"
#include "platform/platform_internal.h"

namespace {

// The temporary file that an interruption must not leave behind: a directory
// descriptor and a name in fixed storage, all a signal handler can use. The
// descriptor is -1 whenever no temporary file exists.
constexpr std::size_t kTemporaryNameCapacity = 32;
volatile std::sig_atomic_t pending_directory = -1;
char pending_name[kTemporaryNameCapacity] = {};

}  // namespace

extern "C" {
// Removes the pending temporary file, then ends the process by the signal's
// default action, so that whoever started the tool sees how it ended.
static void remove_temporary_and_end(int signal_number) {
  const int directory = pending_directory;
  if (directory >= 0) (void)::unlinkat(directory, pending_name, 0);
  (void)std::signal(signal_number, SIG_DFL);
  (void)std::raise(signal_number);
}
}

namespace {

// Memory can run out so far that not even the exception that says so can be
// made. The merge of that anchor then fails as any other failure does,
// quietly, but the later ones are not tried: the process ends, without the
// temporary file and with status 0, instead of aborting with a core dump.
[[noreturn]] void remove_temporary_and_exit() {
  const int directory = pending_directory;
  if (directory >= 0) (void)::unlinkat(directory, pending_name, 0);
  std::_Exit(EXIT_SUCCESS);
}

}  // namespace

namespace m3umerge::platform {
namespace {

constexpr int kTemporaryNameAttempts = 100;
// How long a merge waits, in all, for programs that hold leases on its
// playlists to let go, and how often it asks again.
constexpr int kLeasePatienceMilliseconds = 2000;
constexpr int kLeaseRetryMilliseconds = 10;
constexpr NativeStringView kTemporaryPrefix = ".m3umerge-";
constexpr int kTemporaryDigits = 16;
static_assert(kTemporaryPrefix.size() + kTemporaryDigits + 4 < kTemporaryNameCapacity);

// The signals by which a user interrupts or ends the tool.
constexpr int kEndingSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

// Blocks the ending signals while it lives, so that a temporary file and the
// record of it for the handlers come into being together.
class EndingSignalsBlocked {
 public:
  EndingSignalsBlocked() {
    sigset_t blocked;
    ::sigemptyset(&blocked);
    for (const int signal_number : kEndingSignals) ::sigaddset(&blocked, signal_number);
    ::sigprocmask(SIG_BLOCK, &blocked, &previous_);
  }
  EndingSignalsBlocked(const EndingSignalsBlocked&) = delete;
  EndingSignalsBlocked& operator=(const EndingSignalsBlocked&) = delete;
  ~EndingSignalsBlocked() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }

 private:
  sigset_t previous_{};
};

void remember_temporary(int directory_fd, const NativeString& name) {
  assert(name.size() < kTemporaryNameCapacity);
  pending_directory = -1;
  // A checked copy: the compiler knows the size of what it copies into.
  std::memcpy(pending_name, name.c_str(), name.size() + 1);
  pending_directory = directory_fd;
}

void forget_temporary() { pending_directory = -1; }

// Makes sure descriptors 0, 1 and 2 are open, on the null device where they
// were closed: otherwise the next file opened takes the lowest free number
// and standard output (or input) silently becomes that file.
void open_standard_streams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is `fd` itself.
    if (::open("/dev/null", O_RDWR) == fd) continue;
    // Without a null device, a pipe with its other end closed: reading it
    // meets the end at once, writing to it fails. Its read end is `fd`.
    int ends[2];
    if (::pipe(ends) != 0) std::_Exit(EXIT_SUCCESS);  // nothing can be done safely
    assert(ends[0] == fd);
    if (fd != STDIN_FILENO) (void)::dup2(ends[1], fd);
    (void)::close(ends[1]);
  }
}

void remove_temporary_on_ending_signals() {
  for (const int signal_number : kEndingSignals) {
    struct sigaction current {};
    // A signal ignored when the tool started (nohup, a background job) stays
    // ignored.
    if (::sigaction(signal_number, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) {
      continue;
    }
    struct sigaction action {};
    action.sa_handler = remove_temporary_and_end;
    ::sigemptyset(&action.sa_mask);
    for (const int other : kEndingSignals) ::sigaddset(&action.sa_mask, other);
    (void)::sigaction(signal_number, &action, nullptr);
  }
}

// 64 random bits from the system, or, where it has none to give, bits that
// still differ between processes and attempts.
std::uint64_t random_bits(int attempt) {
  std::uint64_t bits = 0;
  if (::getentropy(&bits, sizeof bits) == 0) return bits;
  timespec now{};
  (void)::clock_gettime(CLOCK_REALTIME, &now);
  bits = (std::uint64_t(now.tv_sec) << 32) ^ std::uint64_t(now.tv_nsec) ^
         (std::uint64_t(::getpid()) << 20) ^ std::uint64_t(attempt);
  // splitmix64's finaliser spreads the differences over every digit.
  bits = (bits ^ (bits >> 30)) * 0xBF58476D1CE4E5B9u;
  bits = (bits ^ (bits >> 27)) * 0x94D049BB133111EBu;
  return bits ^ (bits >> 31);
}

// Puts what was written to `fd` on the disk.
bool flush_to_disk(int fd) {
#if defined(F_FULLFSYNC)
  // macOS's fsync leaves the data in the drive's cache; some file systems
  // refuse F_FULLFSYNC, and fsync is what they offer.
  if (::fcntl(fd, F_FULLFSYNC) == 0) return true;
#endif
  return ::fsync(fd) == 0;
}

// 0666 less the umask: the mode of a new file. The umask can only be read by
// setting it, so it is read once, before anything else might be creating a
// file, and put back at once.
mode_t new_file_mode() {
  static const mode_t mode = [] {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666u & ~mask;
  }();
  return mode;
}

// Whether `path` names the open folder `folder_fd`, by identity.
bool is_folder(int folder_fd, const std::string& path) {
  struct stat folder {};
  struct stat other {};
  return ::fstat(folder_fd, &folder) == 0 &&
         ::fstatat(folder_fd, path.empty() ? "." : path.c_str(), &other, 0) == 0 &&
         folder.st_dev == other.st_dev && folder.st_ino == other.st_ino;
}

// The text of the link at `path` (relative to the folder `folder_fd`, or
// absolute), or nothing when it is no link.
std::optional<std::string> link_text(int folder_fd, const std::string& path) {
  std::string text(PATH_MAX, '\0');
  const ssize_t length = ::readlinkat(folder_fd, path.c_str(), text.data(), text.size());
  if (length < 0 || std::size_t(length) >= text.size()) return std::nullopt;
  text.resize(std::size_t(length));
  return text;
}

// Descriptors below the limit that are not in use, counted up to `enough`.
std::size_t free_descriptors(std::size_t enough) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  // The lowest free numbers are the ones the system hands out; looking past
  // them for `enough` free ones is all it takes.
  const rlim_t end = limit.rlim_cur == RLIM_INFINITY ? rlim_t(INT_MAX) : limit.rlim_cur;
  std::size_t found = 0;
  for (rlim_t fd = 0; fd < end && found < enough; ++fd) {
    if (::fcntl(int(fd), F_GETFD) == -1 && errno == EBADF) ++found;
  }
  return found;
}

// Whether an open failed for want of something the system may have again
// later, rather than for the file itself.
bool is_out_of_resources(int error) {
  return error == EMFILE || error == ENFILE || error == ENOMEM;
}

// What a failed call means for the file it was about: `error` may pass.
IoResult failure(int error) {
  return is_out_of_resources(error) ? IoResult::no_resources : IoResult::failed;
}

// Owns a descriptor.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { reset(); }
  bool is_open() const { return fd_ >= 0; }
  int get() const { return fd_; }
  // Closes the descriptor held, keeping errno, and holds `fd`.
  void reset(int fd = -1) {
    const int error = errno;
    if (fd_ >= 0) ::close(fd_);
    errno = error;
    fd_ = fd;
  }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

int open_at(int directory_fd, const char* path, int flags) {
  int fd = -1;
  do {
    fd = ::openat(directory_fd, path, flags);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool is_regular_file(const struct stat& status) {
  return S_ISREG(status.st_mode) && status.st_size >= 0;
}

// Opens the file that `path` in the folder `directory_fd` leads to, links
// followed, for reading when it is a regular file, examining it first
// through an O_PATH descriptor and reopening that very file through /proc,
// so that nothing else (a device a link leads to, say) is ever opened.
// A lease another program holds is broken as for any reader, waiting for
// the holder at most `patience` milliseconds, which it spends. Fills `status`; -1 with errno set
// when it fails, EINVAL for a file of another kind. Where the system has no O_PATH or no /proc, the
// name is opened as it leads, without waiting, and a device it reaches is
// opened before it is turned away.
int open_examined(int directory_fd, const char* path, struct stat& status, int& patience) {
  bool examined = false;
#if defined(O_PATH)
  const Descriptor located(open_at(directory_fd, path, O_PATH | O_CLOEXEC));
  if (!located.is_open() || ::fstat(located.get(), &status) != 0) return -1;
  if (!is_regular_file(status)) {
    errno = EINVAL;
    return -1;
  }
  char reopened[32];
  (void)std::snprintf(reopened, sizeof reopened, "/proc/self/fd/%d", located.get());
  // Each try of a leased file asks its holder to let go; a holder that
  // does not costs the merge no more than its patience, shared by all.
  int fd = -1;
  for (;;) {
    fd = open_at(AT_FDCWD, reopened, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0 || errno != EWOULDBLOCK || patience <= 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(kLeaseRetryMilliseconds));
    patience -= kLeaseRetryMilliseconds;
  }
  if (fd >= 0 || errno != ENOENT) return fd;
  examined = true;
#endif
  const struct stat before = status;
  Descriptor file(open_at(directory_fd, path, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!file.is_open() || ::fstat(file.get(), &status) != 0) return -1;
  // Opened again by its name, it must be the file examined.
  if (examined && (status.st_dev != before.st_dev || status.st_ino != before.st_ino)) {
    errno = EINVAL;
    return -1;
  }
  return file.release();
}

// Takes, as root, the rights of the owner that `status` names, with the
// owner's own groups: what root could reach beyond the owner stays out of
// reach. Returns what to give back, or nothing when the system
// refuses a step; the process then keeps all it had.
// The group that has no rights: unmapped ids show as it, and the system's
// files give it nothing.
constexpr gid_t kNoGroup = 65534;

// The fields of the lines of a colon-separated system file (/etc/passwd,
// /etc/group), one vector per line; none where it cannot be read.
std::vector<std::vector<std::string>> records_of(const char* path) {
  std::vector<std::vector<std::string>> records;
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path, "re"), std::fclose);
  if (!file) return records;
  std::string line;
  for (int c = 0; c != EOF;) {
    c = std::fgetc(file.get());
    if (c != '\n' && c != EOF) {
      line += char(c);
      continue;
    }
    std::vector<std::string>& fields = records.emplace_back(1);
    for (const char character : line) {
      if (character == ':') {
        fields.emplace_back();
      } else {
        fields.back() += character;
      }
    }
    line.clear();
  }
  return records;
}

// The primary group of `user` and the groups that name it as a member, as
// the local files /etc/passwd and /etc/group say; kNoGroup alone for a user
// they do not know (one from a directory service, whose groups are then
// left out: fewer rights, never more).
std::vector<gid_t> groups_of(uid_t user) {
  const auto users = records_of("/etc/passwd");
  const auto entry = std::find_if(users.begin(), users.end(), [&](const auto& fields) {
    return fields.size() >= 4 && fields[2] == std::to_string(user);
  });
  if (entry == users.end() || (*entry)[0].empty()) return {kNoGroup};
  const std::string& name = (*entry)[0];
  std::vector<gid_t> groups = {gid_t(std::strtoul((*entry)[3].c_str(), nullptr, 10))};
  for (const auto& fields : records_of("/etc/group")) {
    if (fields.size() < 4) continue;
    for (std::size_t start = 0; start <= fields[3].size();) {
      const std::size_t end = std::min(fields[3].find(',', start), fields[3].size());
      if (fields[3].compare(start, end - start, name) == 0) {
        groups.push_back(gid_t(std::strtoul(fields[2].c_str(), nullptr, 10)));
      }
      start = end + 1;
    }
  }
  return groups;
}

std::optional<ProcessIdentity> take_identity(const struct stat& status) {
  ProcessIdentity own{::geteuid(), ::getegid(), {}};
  const int count = ::getgroups(0, nullptr);
  std::vector<gid_t> groups(count > 0 ? std::size_t(count) : 0);
  if (count < 0 || ::getgroups(count, groups.data()) != count) return std::nullopt;
  own.groups.assign(groups.begin(), groups.end());
  // The owner's own groups, the first as the group of what is created; a
  // user namespace may forbid setgroups, and the groups it leaves are then
  // those of an unprivileged user already.
  const std::vector<gid_t> owners = groups_of(status.st_uid);
  const bool regrouped = ::setgroups(owners.size(), owners.data()) == 0;
  const bool refused = ::setegid(owners.front()) != 0 || ::seteuid(status.st_uid) != 0;
  if (!refused) return own;
  if (::setegid(own.group) == 0 && regrouped) (void)::setgroups(groups.size(), groups.data());
  return std::nullopt;
}

// Gives the process back the identity take_identity took from it. Root
// always may; were it refused, the process would go on with fewer rights,
// never more.
void give_back(const ProcessIdentity& own) {
  const std::vector<gid_t> groups(own.groups.begin(), own.groups.end());
  if (::seteuid(own.user) == 0 && ::setegid(own.group) == 0) {
    (void)::setgroups(groups.size(), groups.data());
  }
}

// Gives the file `fd` the owner and group of the playlist it replaces, as
// far as the process may: a user who may not give a file away keeps it,
// with the group kept where the user may set it. Refusals (EPERM, or
// EINVAL where the owner has no id in this user namespace) are no failure.
bool keep_owner(int fd, const AtomicFile::Owner& owner) {
  const auto refused = [] { return errno == EPERM || errno == EINVAL; };
  if (::fchown(fd, owner.user, owner.group) == 0) return true;
  if (!refused()) return false;
  return ::fchown(fd, uid_t(-1), owner.group) == 0 || refused();
}

// Whether a listed entry may be a regular file. Most file systems say what an
// entry is in the listing itself; only links and entries of unknown type cost
// a stat. A link that cannot be followed stays in: opening it will fail.
bool may_be_regular_file(int directory_fd, const dirent& entry) {
  switch (entry.d_type) {
    case DT_REG:
      return true;
    case DT_LNK:
    case DT_UNKNOWN: {
      struct stat status {};
      return ::fstatat(directory_fd, entry.d_name, &status, 0) != 0 || S_ISREG(status.st_mode);
    }
    default:
      return false;
  }
}

bool is_link(int directory_fd, const dirent& entry) {
  if (entry.d_type != DT_UNKNOWN) return entry.d_type == DT_LNK;
  struct stat status {};
  return ::fstatat(directory_fd, entry.d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISLNK(status.st_mode);
}

// The length of the well-formed UTF-8 sequence, in its shortest form, that
// `text` starts with; 0 when it starts with none.
std::size_t utf8_sequence_length(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  // The range of the second byte excludes overlong forms, surrogates and
  // code points past U+10FFFF.
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : 0x80;
    high = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;
  }
  if (length == 0 || text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
  }
  return length;
}

// Writes `text` for a terminal: well-formed UTF-8 as it is, except the
// controls (C0, DEL and the C1 controls U+0080 to U+009F), each of which
// becomes "?", as does every byte that belongs to no well-formed sequence.
void write_for_terminal(std::string_view text, std::FILE* out) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = utf8_sequence_length(text.substr(i));
    const auto lead = static_cast<unsigned char>(text[i]);
    const bool control =
        length == 0 || (length == 1 && (lead < 0x20 || lead == 0x7F)) ||
        (length == 2 && lead == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0);
    if (control) {
      (void)std::fputc('?', out);
    } else {
      (void)std::fwrite(text.data() + i, 1, length, out);
    }
    i += length == 0 ? 1 : length;
  }
}

}  // namespace

bool write_all(NativeHandle handle, const unsigned char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(handle, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool start_write_back(NativeHandle handle, std::uint64_t offset, std::uint64_t length) {
#if defined(SYNC_FILE_RANGE_WRITE)
  // Starting the write-back reports an error that is already known; one met
  // on the way is reported by the flush at commit, which no earlier call
  // has taken from it (waiting here would).
  return ::sync_file_range(handle, off64_t(offset), off64_t(length), SYNC_FILE_RANGE_WRITE) == 0;
#else
  (void)handle, (void)offset, (void)length;
  return true;
#endif
}

void prepare_process(const NativeChar* locale_name) {
  open_standard_streams();
  (void)std::setlocale(LC_ALL, locale_name);
  // A reader that went away must not end the merge; writes just fail.
  (void)std::signal(SIGPIPE, SIG_IGN);
  (void)std::signal(SIGXFSZ, SIG_IGN);
  (void)new_file_mode();
  remove_temporary_on_ending_signals();
  (void)std::set_terminate(remove_temporary_and_exit);
}

void print_line(NativeStringView text) {
  // Standard output stays what it was when the tool started.
  static const bool terminal = ::isatty(STDOUT_FILENO) == 1;
  if (terminal) {
    write_for_terminal(text, stdout);
  } else {
    (void)std::fwrite(text.data(), 1, text.size(), stdout);
  }
  (void)std::fputc('\n', stdout);
}

bool same_file_name(NativeStringView a, NativeStringView b) {
  return equals_ignoring_ascii_case(a, b);
}

Directory::~Directory() { close(); }

void Directory::close() {
  if (handle_ != kNoHandle) ::close(handle_);
  handle_ = kNoHandle;
  if (own_identity_) {
    give_back(*own_identity_);
    own_identity_.reset();
  }
}

bool Directory::open(NativeStringView path) {
  close();
  path_ = path;
  const Descriptor opened(::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat status {};
  if (!opened.is_open() || ::fstat(opened.get(), &status) != 0) return false;
  owner_ = status.st_uid;
  lease_patience_ = kLeasePatienceMilliseconds;
  if (::geteuid() == 0 && status.st_uid != 0) own_identity_ = take_identity(status);
  // Opened again as the one it now acts as, who may not read it.
  handle_ = own_identity_ ? open_at(opened.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                          : ::dup(opened.get());
  if (handle_ == kNoHandle) close();
  return handle_ != kNoHandle;
}

bool Directory::list_files(bool (*wanted)(NativeStringView name), NameList& names) const {
  // The directory stream takes its own descriptor: ours stays for openat.
  const int listing_fd = ::fcntl(handle_, F_DUPFD_CLOEXEC, 0);
  if (listing_fd < 0) return false;
  const std::unique_ptr<DIR, DirCloser> listing(::fdopendir(listing_fd));
  if (!listing) {
    ::close(listing_fd);
    return false;
  }
  ::rewinddir(listing.get());
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(listing.get());
    if (entry == nullptr) return errno == 0;
    const NativeStringView name(entry->d_name);
    if (wanted(name) && may_be_regular_file(handle_, *entry) &&
        !names.add(name, is_link(handle_, *entry))) {
      return false;
    }
  }
}

std::optional<FileIdentity> Directory::identify(NativeStringView name, Links links) const {
  struct stat status {};
  const int flags = links == Links::followed ? 0 : AT_SYMLINK_NOFOLLOW;
  if (::fstatat(handle_, NativeString(name).c_str(), &status, flags) != 0) return std::nullopt;
  return FileIdentity{std::uint64_t(status.st_dev), std::uint64_t(status.st_ino)};
}

bool Directory::stored_name(NativeStringView name, NativeString& stored) const {
  // Every entry is stored under the one name that reaches it.
  stored = name;
  return true;
}

bool Directory::leads_to(NativeStringView link, NativeStringView name) const {
  // Links rarely chain: the system's own limit on a path's links will do.
  constexpr int kMaxLinks = 40;
  // Each step relative to the open folder, as the links are seen from it.
  std::string step(link);
  for (int depth = 0; depth < kMaxLinks; ++depth) {
    const std::optional<std::string> text = link_text(handle_, step);
    if (!text || text->empty()) return false;
    step = text->front() == '/' ? *text : step.substr(0, step.rfind('/') + 1) + *text;
    const std::size_t separator = step.rfind('/');
    const std::size_t name_start = separator == std::string::npos ? 0 : separator + 1;
    // The folder is compared by identity: another path may reach it (a bind
    // mount, another letter case on a file system that ignores it).
    if (same_file_name(std::string_view(step).substr(name_start), name) &&
        is_folder(handle_, step.substr(0, name_start))) {
      return true;
    }
  }
  return false;
}

std::size_t files_open_at_once(std::size_t wanted) {
  // Room for the merged playlist and for whatever the C library may open.
  constexpr std::size_t kKeptFree = 8;
  const std::size_t free = free_descriptors(wanted + kKeptFree);
  return free > kKeptFree ? std::min(wanted, free - kKeptFree) : 1;
}

void InputFile::close() {
  if (handle_ != kNoHandle) ::close(handle_);
  handle_ = kNoHandle;
  identity_ = {};
  size_ = 0;
}

void InputFile::read_ahead(std::size_t limit) const {
#if defined(POSIX_FADV_WILLNEED)
  if (handle_ != kNoHandle && size_ > 0 && size_ <= limit) {
    (void)::posix_fadvise(handle_, 0, static_cast<off_t>(size_), POSIX_FADV_WILLNEED);
  }
#endif
}

namespace {

// Whether the link `path` in `directory` may be followed: only one that
// this process or the folder's owner made is, so that where others may
// write, a link planted there cannot make the merge read what they may not
// (the rule the system keeps for links in shared, sticky folders).
bool is_trusted_link(const Directory& directory, const NativeString& path) {
  struct stat link {};
  return ::fstatat(directory.handle(), path.c_str(), &link, AT_SYMLINK_NOFOLLOW) == 0 &&
         (link.st_uid == ::geteuid() || link.st_uid == directory.owner());
}

}  // namespace

IoResult InputFile::open(const Directory& directory, NativeStringView name) {
  close();
  const NativeString path(name);
  // The entry itself, not what it may lead to, without waiting on a pipe: a
  // name that is, or became, a link is followed only where what it leads to
  // can be examined before it is opened, since opening some devices has
  // effects. An open refused for a lease waits for it there too.
  int fd = open_at(directory.handle(), path.c_str(),
                   O_RDONLY | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  struct stat status {};
  if (fd < 0 && errno == ELOOP && !is_trusted_link(directory, path)) return IoResult::failed;
  if (fd < 0 && (errno == ELOOP || errno == EWOULDBLOCK)) {
    fd = open_examined(directory.handle(), path.c_str(), status, directory.lease_patience());
  } else if (fd >= 0 && ::fstat(fd, &status) != 0) {
    const Descriptor opened(fd);
    return failure(errno);
  }
  if (fd < 0) return errno == EINVAL ? IoResult::failed : failure(errno);
  // cppcheck also reads the header as on Windows, where handles are pointers.
  // cppcheck-suppress AssignmentIntegerToAddress
  handle_ = fd;
  if (!is_regular_file(status)) {
    close();
    return IoResult::failed;
  }
  identity_ = {std::uint64_t(status.st_dev), std::uint64_t(status.st_ino)};
  size_ = static_cast<std::uint64_t>(status.st_size);
  return IoResult::done;
}

IoResult InputFile::read(std::size_t limit, std::vector<unsigned char>& content) {
  if (handle_ == kNoHandle || size_ > limit) return IoResult::failed;
  const auto size = static_cast<std::size_t>(size_);
  // One byte of room beyond the size tells a file that grew meanwhile.
  content.resize(size + 1);
  std::size_t total = 0;
  for (;;) {
    const ssize_t got = ::read(handle_, content.data() + total, size + 1 - total);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return failure(errno);
    total += static_cast<std::size_t>(got);
    // A read that stops short of the room it was given has met the end.
    if (got == 0 || total >= size) break;
  }
  if (total != size) return IoResult::failed;
  content.resize(size);
  return IoResult::done;
}

bool Directory::is_read_only(NativeStringView name) const {
  const NativeString entry(name);
  struct stat status {};
  if (::fstatat(handle_, entry.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(status.st_mode)) {
    return false;
  }
  // A playlist without any write bit was made read-only on purpose; even a
  // user who could replace it anyway leaves it alone.
  return (status.st_mode & 0222) == 0 || ::faccessat(handle_, entry.c_str(), W_OK, AT_EACCESS) != 0;
}

AtomicFile::~AtomicFile() { discard(); }

// A replace here is one rename: nothing is ever moved aside.
void AtomicFile::recover(const Directory&, NativeStringView) {}

unsigned last_system_error() { return static_cast<unsigned>(errno); }

WriteFault fault_of(unsigned error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return WriteFault::disk_full;
    case EACCES:
    case EPERM:
    case EROFS:
      return WriteFault::access_denied;
    case EBUSY:
    case ETXTBSY:
      return WriteFault::in_use;
    case EMFILE:
    case ENFILE:
    case ENOMEM:
      return WriteFault::no_resources;
    default:
      return WriteFault::other;
  }
}

bool AtomicFile::create(const Directory& directory, NativeStringView name) {
  fault_ = WriteFault::none;
  system_error_ = 0;
  const int directory_fd = directory.handle();
  NativeString final_name(name);
  std::optional<Owner> replaced;
  struct stat existing {};
  if (::fstatat(directory_fd, final_name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISDIR(existing.st_mode)) return false;
    if (S_ISREG(existing.st_mode)) {
      if (directory.is_read_only(final_name)) return false;
      replaced = Owner{existing.st_mode & 07777u, existing.st_uid, existing.st_gid};
    }
  } else if (errno != ENOENT) {
    failed(last_system_error());
    return false;
  }
  // Whatever may fail for want of memory fails before the file exists.
  buffer_.reserve(kAtomicFileBufferBytes);
  // Until commit the content is the owner's alone, or as private as the
  // playlist it replaces.
  const mode_t private_mode = replaced ? (replaced->mode & 0600u) : 0600u;
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    NativeString temporary =
        temporary_name(kTemporaryPrefix, random_bits(attempt), kTemporaryDigits);
    int fd = -1;
    int error = 0;
    {
      const EndingSignalsBlocked blocked;
      fd = ::openat(directory_fd, temporary.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, private_mode);
      error = errno;
      if (fd >= 0) remember_temporary(directory_fd, temporary);
    }
    if (fd >= 0) {
      directory_ = &directory;
      name_ = std::move(final_name);
      temporary_name_ = std::move(temporary);
      // cppcheck also reads the header as on Windows, where handles are pointers.
      // cppcheck-suppress AssignmentIntegerToAddress
      handle_ = fd;
      replaced_owner_ = replaced;
      written_ = written_back_to_ = 0;
      return true;
    }
    if (error != EEXIST) {
      failed(unsigned(error));
      return false;
    }
  }
  failed(EEXIST);
  return false;
}

CommitResult AtomicFile::commit() {
  // A failed write has removed the file already.
  if (!is_open() || !flush_buffer()) return CommitResult::failed;
  // The first step that fails says why.
  int error = 0;
  const auto step = [&error](bool done) {
    if (!done && error == 0) error = errno;
    return done;
  };
  // Every byte is written: the file may now become readable to others.
  bool done = true;
  if (replaced_owner_) {
    // The permission bits of the playlist replaced, never its set-id bits:
    // the file is new, whatever name it takes. The mode comes after the
    // owner, whose change would clear them.
    done = step(keep_owner(handle_, *replaced_owner_)) &&
           step(::fchmod(handle_, replaced_owner_->mode & 0777u) == 0);
  } else {
    done = step(::fchmod(handle_, new_file_mode()) == 0);
  }
  done = done && step(flush_to_disk(handle_));
  done = step(::close(handle_) == 0) && done;
  handle_ = kNoHandle;
  const int directory_fd = directory_->handle();
  {
    // The record of the temporary file ends with its name.
    const EndingSignalsBlocked blocked;
    done = done && step(::renameat(directory_fd, temporary_name_.c_str(), directory_fd,
                                   name_.c_str()) == 0);
    if (done) {
      forget_temporary();
      temporary_name_.clear();
    }
  }
  if (!done) {
    failed(unsigned(error));
    discard();
    return CommitResult::failed;
  }
  // The rename itself reaches the disk with the directory.
  return flush_to_disk(directory_fd) ? CommitResult::replaced : CommitResult::unflushed_folder;
}

void AtomicFile::discard() {
  if (handle_ != kNoHandle) ::close(handle_);
  handle_ = kNoHandle;
  if (directory_ != nullptr && !temporary_name_.empty()) {
    // Forgotten only once it is gone: a signal in between removes it again,
    // which does no harm.
    (void)::unlinkat(directory_->handle(), temporary_name_.c_str(), 0);
    forget_temporary();
  }
  temporary_name_.clear();
}

}  // namespace m3umerge::platform
