// What the system-specific sources share with the common one.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace m3umerge::platform {

// The size of an AtomicFile's write buffer.
inline constexpr std::size_t kAtomicFileBufferBytes = std::size_t{128} * 1024;

// How much an AtomicFile writes before it starts the write-back of what it
// wrote, so that the flush at commit has little left to wait for.
inline constexpr std::uint64_t kWriteBackBytes = std::uint64_t{2} << 20;

// The code of the last failure the system reported to this thread: errno,
// or GetLastError.
unsigned last_system_error();

// What the system's failure code `error` means for a file being written.
WriteFault fault_of(unsigned error);

// Writes all `size` bytes to the open file `handle`; false on any failure.
bool write_all(NativeHandle handle, const unsigned char* data, std::size_t size);

// Starts writing the `length` bytes at `offset` of `handle` to the disk,
// without waiting for them; true where the system has no such request.
// False when the system reports an error: then the file cannot be trusted.
bool start_write_back(NativeHandle handle, std::uint64_t offset, std::uint64_t length);

// `prefix`, then the low `digits` hexadecimal digits of `bits`, then ".tmp":
// a name no earlier run, interrupted or not, is likely to have left behind.
NativeString temporary_name(NativeStringView prefix, std::uint64_t bits, int digits);

}  // namespace m3umerge::platform
