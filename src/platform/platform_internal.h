// What the system-specific sources share with the common one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace m3umerge::platform {

// The size of an AtomicFile's write buffer.
inline constexpr std::size_t kAtomicFileBufferBytes = 128 * 1024;

// Writes all `size` bytes to the open file `handle`; false on any failure.
bool write_all(std::intptr_t handle, const unsigned char* data, std::size_t size);

}  // namespace m3umerge::platform
