#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "support/failing_flush.h"

namespace {

std::atomic<int> flushes{0};
std::atomic<int> failing{0};  // the count at which a flush fails; 0: none

}  // namespace

// Takes the place of the C library's fsync for this program and what it
// links statically.
extern "C" int fsync(int fd) {
  if (++flushes == failing.load()) {
    errno = EIO;
    return -1;
  }
  return static_cast<int>(::syscall(SYS_fsync, fd));
}

namespace m3umerge::test {

FailingFlush::FailingFlush(int nth) {
  flushes = 0;
  failing = nth;
}

FailingFlush::~FailingFlush() { failing = 0; }

int FailingFlush::count() const { return flushes.load(); }

}  // namespace m3umerge::test
