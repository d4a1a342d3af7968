#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/ascii_case.h"
#include "platform/platform.h"
#include "platform/platform_internal.h"

namespace m3umerge::platform {
namespace {

int as_fd(std::intptr_t handle) { return static_cast<int>(handle); }

constexpr int kTemporaryNameAttempts = 100;

// Owns a file descriptor.
class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

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

NativeString temporary_name() {
  static unsigned counter = 0;
  return ".m3umerge-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
}

}  // namespace

bool write_all(std::intptr_t handle, const unsigned char* data, std::size_t size) {
  const int fd = as_fd(handle);
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

void start_writeback(std::intptr_t handle, std::uint64_t offset, std::uint64_t length) {
#if defined(__linux__)
  (void)::sync_file_range(as_fd(handle), static_cast<off_t>(offset), static_cast<off_t>(length),
                          SYNC_FILE_RANGE_WRITE);
#else
  (void)handle, (void)offset, (void)length;
#endif
}

void prepare_process(const NativeChar* locale_name) {
  (void)std::setlocale(LC_ALL, locale_name);
  // A reader that went away must not end the merge; writes just fail.
  (void)std::signal(SIGPIPE, SIG_IGN);
  (void)std::signal(SIGXFSZ, SIG_IGN);
}

void print_line(NativeStringView text) {
  (void)std::fwrite(text.data(), 1, text.size(), stdout);
  (void)std::fputc('\n', stdout);
}

bool same_file_name(NativeStringView a, NativeStringView b) {
  return equals_ignoring_ascii_case(a, b);
}

Directory::~Directory() {
  if (handle_ >= 0) ::close(as_fd(handle_));
}

bool Directory::open(NativeStringView path) {
  path_ = path;
  handle_ = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return handle_ >= 0;
}

bool Directory::list_files(NativeStringView extension, NameList& names) const {
  // The directory stream takes its own descriptor: ours stays for openat.
  const int listing_fd = ::fcntl(as_fd(handle_), F_DUPFD_CLOEXEC, 0);
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
    if (entry == nullptr) {
      if (errno != 0) return false;
      break;
    }
    const NativeStringView name(entry->d_name);
    if (ends_with_ignoring_ascii_case(name, extension) &&
        may_be_regular_file(as_fd(handle_), *entry)) {
      names.add(name);
    }
  }
  names.sort([](NativeStringView a, NativeStringView b) { return name_less(a, b); });
  return true;
}

bool Directory::read_file(NativeStringView name, std::size_t limit,
                          std::vector<unsigned char>& content) const {
  // Non-blocking, so that a pipe that took a playlist's place cannot hang us
  // before the type check below turns it away.
  const UniqueFd file(::openat(as_fd(handle_), NativeString(name).c_str(),
                               O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  struct stat status {};
  if (file.get() < 0 || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
      status.st_size < 0 || static_cast<std::uint64_t>(status.st_size) > limit) {
    return false;
  }
  const auto size = static_cast<std::size_t>(status.st_size);
  // One byte of room beyond the size tells a file that grew meanwhile.
  content.resize(size + 1);
  std::size_t total = 0;
  for (;;) {
    const ssize_t got = ::read(file.get(), content.data() + total, size + 1 - total);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    total += static_cast<std::size_t>(got);
    // A read that stops short of the room it was given has met the end.
    if (got == 0 || total >= size) break;
  }
  if (total != size) return false;
  content.resize(size);
  return true;
}

AtomicFile::~AtomicFile() { discard(); }

bool AtomicFile::create(const Directory& directory, NativeStringView name) {
  const int directory_fd = as_fd(directory.native_handle());
  const NativeString final_name(name);
  struct stat existing {};
  if (::fstatat(directory_fd, final_name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISDIR(existing.st_mode)) return false;
    if (S_ISREG(existing.st_mode)) {
      // A playlist without any write bit was made read-only on purpose; even
      // a user who could replace it anyway leaves it alone.
      const bool read_only = (existing.st_mode & 0222) == 0 ||
                             ::faccessat(directory_fd, final_name.c_str(), W_OK, AT_EACCESS) != 0;
      if (read_only) return false;
      kept_mode_ = existing.st_mode & 07777;
    }
  } else if (errno != ENOENT) {
    return false;
  }
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    NativeString candidate = temporary_name();
    const int fd = ::openat(directory_fd, candidate.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      directory_ = &directory;
      name_ = final_name;
      temporary_name_ = std::move(candidate);
      handle_ = fd;
      buffer_.reserve(kAtomicFileBufferBytes);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

bool AtomicFile::commit() {
  if (handle_ < 0) return false;
  const int fd = as_fd(handle_);
  if (kept_mode_ != 0) (void)::fchmod(fd, kept_mode_);
  bool done = flush_buffer() && ::fsync(fd) == 0;
  done = (::close(fd) == 0) && done;
  handle_ = -1;
  const int directory_fd = as_fd(directory_->native_handle());
  done =
      done && ::renameat(directory_fd, temporary_name_.c_str(), directory_fd, name_.c_str()) == 0;
  if (!done) {
    discard();
    return false;
  }
  temporary_name_.clear();
  // The rename itself reaches the disk with the directory.
  (void)::fsync(directory_fd);
  return true;
}

void AtomicFile::discard() {
  if (handle_ >= 0) ::close(as_fd(handle_));
  handle_ = -1;
  if (directory_ != nullptr && !temporary_name_.empty()) {
    (void)::unlinkat(as_fd(directory_->native_handle()), temporary_name_.c_str(), 0);
  }
  temporary_name_.clear();
  failed_ = true;
}

}  // namespace m3umerge::platform
