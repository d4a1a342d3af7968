// Loaded into the tool by LD_PRELOAD: right after the tool creates a file
// exclusively, it waits for a byte on the descriptor that M3UMERGE_PAUSE_FD
// names, so that a test can act at exactly that moment.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>

extern "C" int openat(int directory, const char* path, int flags, ...) {
  mode_t mode = 0;
  if ((flags & O_CREAT) != 0) {
    va_list arguments;
    va_start(arguments, flags);
    mode = va_arg(arguments, mode_t);
    va_end(arguments);
  }
  using Openat = int (*)(int, const char*, int, ...);
  static const auto real_openat = reinterpret_cast<Openat>(::dlsym(RTLD_NEXT, "openat"));
  const int fd = real_openat(directory, path, flags, mode);
  const char* pause_fd = std::getenv("M3UMERGE_PAUSE_FD");
  if (fd >= 0 && (flags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL) && pause_fd != nullptr) {
    char byte = 0;
    (void)!::read(std::atoi(pause_fd), &byte, 1);
  }
  return fd;
}
