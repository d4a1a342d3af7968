// The parts of the system layer that are the same everywhere.
#include <cassert>
#include <limits>

#include "platform/platform.h"
#include "platform/platform_internal.h"

namespace m3umerge::platform {

bool NameList::add(NativeStringView name, bool link) {
  // Offsets and lengths are 32 bits wide.
  if (name.size() > std::numeric_limits<std::uint32_t>::max() - characters_.size()) return false;
  entries_.push_back({static_cast<std::uint32_t>(characters_.size()),
                      static_cast<std::uint32_t>(name.size()), link});
  characters_ += name;
  return true;
}

NativeStringView NameList::operator[](std::size_t index) const { return view(entries_[index]); }

NativeString temporary_name(NativeStringView prefix, std::uint64_t bits, int digits) {
  NativeString name(prefix);
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
    name += NativeChar("0123456789abcdef"[(bits >> shift) & 0xF]);
  }
  name += M3U_NATIVE(".tmp");
  return name;
}

AtomicFile::AtomicFile() = default;

void AtomicFile::failed(unsigned error) {
  system_error_ = error;
  fault_ = fault_of(error);
}

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
  bool written = is_open() && write_all(handle_, bytes.data(), bytes.size());
  if (written) {
    written_ += bytes.size();
    if (written_ - written_back_to_ >= kWriteBackBytes) {
      written = start_write_back(handle_, written_back_to_, written_ - written_back_to_);
      written_back_to_ = written_;
    }
  }
  // Nothing this file holds will be used after a failure: it goes at once.
  if (!written) {
    failed(last_system_error());
    discard();
  }
  return written;
}

}  // namespace m3umerge::platform
