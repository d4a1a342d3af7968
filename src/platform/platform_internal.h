// What the system-specific sources share with the common one.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/platform.h"

namespace m3umerge::platform {

// The size of an AtomicFile's write buffer.
inline constexpr std::size_t kAtomicFileBufferBytes = std::size_t{128} * 1024;

// How much an AtomicFile writes between two flushes in the background.
inline constexpr std::uint64_t kBackgroundFlushBytes = std::uint64_t{8} << 20;

// Whether a flush on a second thread lets the writes go on meanwhile.
// Windows serialises every call on a handle opened for synchronous use, so
// there a flush in the background would only hold the writes up.
#if defined(_WIN32)
inline constexpr bool kFlushesInBackground = false;
#else
inline constexpr bool kFlushesInBackground = true;
#endif

// Writes all `size` bytes to the open file `handle`; false on any failure.
bool write_all(NativeHandle handle, const unsigned char* data, std::size_t size);

// Puts the content written to `handle` so far on the disk, and as much of
// its metadata as reading it back needs; false if the system could not.
bool flush_data(NativeHandle handle);

// Flushes a file that is still being written on a helper thread. A drive's
// flush takes about as long as what was written since the one before, so
// the flush at commit then has only the newest part left to wait for, and
// the rest of that time overlaps the merge instead of following it.
class BackgroundFlush {
 public:
  // Starts the thread; throws std::system_error when the system has none
  // to give. `handle` must stay open until this is destroyed.
  explicit BackgroundFlush(NativeHandle handle);
  BackgroundFlush(const BackgroundFlush&) = delete;
  BackgroundFlush& operator=(const BackgroundFlush&) = delete;
  // Waits for a flush under way, then ends the thread.
  ~BackgroundFlush();

  // Asks for a flush of everything written so far; requests made while one
  // is under way are served by one more flush after it.
  void request();

 private:
  void run();

  NativeHandle handle_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool requested_ = false;
  bool stopping_ = false;
  std::thread thread_;  // last: it starts once everything above exists
};

// `prefix`, then the low `digits` hexadecimal digits of `bits`, then ".tmp":
// a name no earlier run, interrupted or not, is likely to have left behind.
NativeString temporary_name(NativeStringView prefix, std::uint64_t bits, int digits);

}  // namespace m3umerge::platform
