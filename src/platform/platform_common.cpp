// The parts of the system layer that are the same everywhere.
#include <cassert>
#include <limits>
#include <system_error>

#include "platform/platform.h"
#include "platform/platform_internal.h"

namespace m3umerge::platform {

void NameList::add(NativeStringView name) {
  assert(characters_.size() + name.size() <= std::numeric_limits<std::uint32_t>::max());
  spans_.emplace_back(static_cast<std::uint32_t>(characters_.size()),
                      static_cast<std::uint32_t>(name.size()));
  characters_ += name;
}

NativeStringView NameList::operator[](std::size_t index) const {
  const auto [offset, length] = spans_[index];
  return NativeStringView(characters_).substr(offset, length);
}

NativeString temporary_name(NativeStringView prefix, std::uint64_t bits, int digits) {
  NativeString name(prefix);
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
    name += NativeChar("0123456789abcdef"[(bits >> shift) & 0xF]);
  }
  name += M3U_NATIVE(".tmp");
  return name;
}

AtomicFile::AtomicFile() = default;

bool AtomicFile::write(std::span<const unsigned char> bytes) {
  if (!is_open()) return false;
  if (buffer_.size() + bytes.size() > buffer_.capacity() && !flush_buffer()) return false;
  if (bytes.size() >= buffer_.capacity()) return write_through(bytes);
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
  return true;
}

bool AtomicFile::write(std::string_view bytes) {
  return write(std::span(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()));
}

bool AtomicFile::flush_buffer() {
  const bool written = write_through(buffer_);
  buffer_.clear();
  return written;
}

bool AtomicFile::write_through(std::span<const unsigned char> bytes) {
  if (!is_open() || !write_all(handle_, bytes.data(), bytes.size())) {
    // Nothing this file holds will be used: it goes at once.
    discard();
    return false;
  }
  written_ += bytes.size();
  if (kFlushesInBackground && written_ - flush_requested_at_ >= kBackgroundFlushBytes) {
    flush_requested_at_ = written_;
    request_background_flush();
  }
  return true;
}

void AtomicFile::request_background_flush() {
  if (!background_flush_) {
    try {
      background_flush_ = std::make_unique<BackgroundFlush>(handle_);
    } catch (const std::system_error&) {
      // No thread to be had: the flush at commit does it all.
    }
  }
  if (background_flush_) background_flush_->request();
}

BackgroundFlush::BackgroundFlush(NativeHandle handle)
    : handle_(handle), thread_([this] { run(); }) {}

BackgroundFlush::~BackgroundFlush() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void BackgroundFlush::request() {
  {
    const std::lock_guard lock(mutex_);
    requested_ = true;
  }
  wake_.notify_one();
}

void BackgroundFlush::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return requested_ || stopping_; });
    if (stopping_) return;
    requested_ = false;
    lock.unlock();
    // A failure here is found again, and reported, by the flush at commit.
    (void)flush_data(handle_);
    lock.lock();
  }
}

}  // namespace m3umerge::platform
