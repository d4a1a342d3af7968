// Flushes to disk that fail on demand, as on a disk that fails: fsync
// (POSIX) or FlushFileBuffers (Windows) called by this test program reports
// an I/O error instead of flushing.
#pragma once

namespace m3umerge::test {

// While it lives, counts this program's flushes to disk and makes the
// `nth` from now on fail (1: the next one; 0: none).
class FailingFlush {
 public:
  explicit FailingFlush(int nth);
  FailingFlush(const FailingFlush&) = delete;
  FailingFlush& operator=(const FailingFlush&) = delete;
  ~FailingFlush();

  // How many flushes were asked for since it was made.
  int count() const;
};

}  // namespace m3umerge::test
