// What the system-specific sources share with the common one.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace m3umerge::platform {

// The size of an AtomicFile's write buffer.
inline constexpr std::size_t kAtomicFileBufferBytes = std::size_t{128} * 1024;

// How much an AtomicFile writes before it asks the system to start putting
// that part on the disk, so that the final flush has little left to wait for.
inline constexpr std::uint64_t kWritebackBytes = std::uint64_t{2} << 20;

// Writes all `size` bytes to the open file `handle`; false on any failure.
bool write_all(NativeHandle handle, const unsigned char* data, std::size_t size);

// Starts writing `length` bytes of `handle` from `offset` to the disk
// without waiting for them, where the system offers that; a hint only.
void start_writeback(NativeHandle handle, std::uint64_t offset, std::uint64_t length);

// `prefix`, then the low `digits` hexadecimal digits of `bits`, then ".tmp":
// a name no earlier run, interrupted or not, is likely to have left behind.
NativeString temporary_name(NativeStringView prefix, std::uint64_t bits, int digits);

}  // namespace m3umerge::platform
