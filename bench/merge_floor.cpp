// The least any merger of a folder's playlists must do, for scripts/bench.sh
// to time m3umerge against: lists the folder of FOLDER/NAME.wsr, reads whole
// every regular file whose name ends in ".m3u" (in that case only) and that
// has at most 32768 bytes, in byte order of the names, appends their bytes
// unchanged to a temporary file in the folder, flushes it and renames it to
// NAME.m3u, which is not read. Nothing is converted or printed, nothing is
// asked of the kernel ahead of time, and links, modes and other writers are
// not looked at: it is meant for the folders bench/generate.py makes.
// Returns 0 once the file is renamed; on any failure, says which step failed
// on stderr and returns 1, the temporary file left behind.
//   merge_floor FOLDER/NAME.wsr
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t kMaxPlaylistBytes = 32768;
// Playlists are read straight into this buffer, which is written out when
// the next might not fit.
constexpr std::size_t kBufferBytes = std::size_t{1} << 20;
constexpr char kTemporaryName[] = ".merge_floor.tmp";

struct CloseDirectory {
  void operator()(DIR* stream) const { ::closedir(stream); }
};
using DirectoryStream = std::unique_ptr<DIR, CloseDirectory>;

// Owns a descriptor; -1 when none.
struct Descriptor {
  int fd;
  explicit Descriptor(int opened) : fd(opened) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

int failed(const char* step) {
  std::perror(step);
  return 1;
}

// The names in `stream` ending in ".m3u", `merged` left out, sorted by bytes;
// false if the listing fails.
bool list(DIR* stream, std::string_view merged, std::vector<std::string>& names) {
  errno = 0;
  while (const dirent* entry = ::readdir(stream)) {
    const std::string_view name = entry->d_name;
    if (name.ends_with(".m3u") && name != merged) names.emplace_back(name);
  }
  std::ranges::sort(names);
  return errno == 0;
}

// Appends the whole of `name` to `to` if it is a regular file of at most
// kMaxPlaylistBytes, adding to `used` what was read; false on a failure.
bool append(int folder, const std::string& name, char* to, std::size_t& used) {
  const Descriptor file(::openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat status {};
  if (file.fd < 0 || ::fstat(file.fd, &status) != 0) return false;
  if (!S_ISREG(status.st_mode) || std::size_t(status.st_size) > kMaxPlaylistBytes) return true;
  for (std::size_t wanted = std::size_t(status.st_size); wanted > 0;) {
    const ssize_t got = ::read(file.fd, to + used, wanted);
    if (got < 0) return false;
    if (got == 0) break;
    used += std::size_t(got);
    wanted -= std::size_t(got);
  }
  return true;
}

bool write_all(int fd, const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, bytes, size);
    if (written < 0) return false;
    bytes += written;
    size -= std::size_t(written);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    (void)std::fputs("usage: merge_floor FOLDER/NAME.wsr\n", stderr);
    return 2;
  }
  const std::string anchor = argv[1];
  const std::size_t slash = anchor.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : anchor.substr(0, slash + 1);
  const std::string base = anchor.substr(slash + 1);
  const std::string merged = base.substr(0, base.rfind('.')) + ".m3u";

  const DirectoryStream stream(::opendir(folder.c_str()));
  if (!stream) return failed("opendir");
  const int folder_fd = ::dirfd(stream.get());
  std::vector<std::string> names;
  if (!list(stream.get(), merged, names)) return failed("readdir");

  const Descriptor output(
      ::openat(folder_fd, kTemporaryName, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (output.fd < 0) return failed("create");
  const auto buffer = std::make_unique<char[]>(kBufferBytes);
  std::size_t used = 0;
  for (const std::string& name : names) {
    if (kBufferBytes - used < kMaxPlaylistBytes) {
      if (!write_all(output.fd, buffer.get(), used)) return failed("write");
      used = 0;
    }
    if (!append(folder_fd, name, buffer.get(), used)) return failed(name.c_str());
  }
  if (!write_all(output.fd, buffer.get(), used)) return failed("write");
  if (::fsync(output.fd) != 0) return failed("fsync");
  if (::renameat(folder_fd, kTemporaryName, folder_fd, merged.c_str()) != 0) {
    return failed("rename");
  }
  return 0;
}
