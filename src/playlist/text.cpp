#include "playlist/text.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace m3umerge {
namespace {

// Code points of the bytes 80 to 9F. The five positions without a character
// in Windows-1252 carry the C1 control of the same value.
constexpr char32_t kHighControlRange[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

struct Utf8Sequence {
  char bytes[kMaxUtf8BytesPerByte];
  unsigned char length;
};

constexpr Utf8Sequence encode(char32_t code_point) {
  if (code_point < 0x80) return {{char(code_point)}, 1};
  if (code_point < 0x800) {
    return {{char(0xC0 | (code_point >> 6)), char(0x80 | (code_point & 0x3F))}, 2};
  }
  return {{char(0xE0 | (code_point >> 12)), char(0x80 | ((code_point >> 6) & 0x3F)),
           char(0x80 | (code_point & 0x3F))},
          3};
}

constexpr std::array<Utf8Sequence, 256> make_table() {
  std::array<Utf8Sequence, 256> table{};
  for (char32_t byte = 0; byte < 256; ++byte) {
    const bool in_high_range = byte >= 0x80 && byte < 0xA0;
    table[byte] = encode(in_high_range ? kHighControlRange[byte - 0x80] : byte);
  }
  return table;
}

constexpr std::array<Utf8Sequence, 256> kUtf8ByByte = make_table();

constexpr std::uint64_t kHighBits = 0x8080808080808080u;

// Writes the UTF-8 form of one byte; returns the end of what it wrote. The
// copy is always three bytes long, the advance only as long as the sequence.
char* append_utf8(unsigned char byte, char* out) {
  const Utf8Sequence& sequence = kUtf8ByByte[byte];
  std::memcpy(out, sequence.bytes, kMaxUtf8BytesPerByte);
  return out + sequence.length;
}

}  // namespace

bool has_utf8_signature(std::span<const unsigned char> bytes) {
  return bytes.size() >= 3 && bytes[0] == kUtf8Signature[0] && bytes[1] == kUtf8Signature[1] &&
         bytes[2] == kUtf8Signature[2];
}

std::size_t windows1252_to_utf8(std::span<const unsigned char> bytes, char* utf8) {
  const unsigned char* in = bytes.data();
  const void* zero = bytes.empty() ? nullptr : std::memchr(in, 0, bytes.size());
  const unsigned char* end =
      zero != nullptr ? static_cast<const unsigned char*>(zero) : in + bytes.size();
  char* out = utf8;
  // Playlists are mostly ASCII: take eight bytes at a time and copy them as
  // they are up to the first with its high bit set, which goes through the
  // table. Writing eight bytes at `out` stays within the room the caller
  // gave, since at least eight input bytes remain.
  if constexpr (std::endian::native == std::endian::little) {
    while (end - in >= 8) {
      std::uint64_t word;
      std::memcpy(&word, in, 8);
      std::memcpy(out, in, 8);
      const std::uint64_t high = word & kHighBits;
      if (high == 0) {
        in += 8;
        out += 8;
        continue;
      }
      const int ascii = std::countr_zero(high) / 8;
      in += ascii;
      out += ascii;
      out = append_utf8(*in++, out);
    }
  }
  while (in != end) out = append_utf8(*in++, out);
  return static_cast<std::size_t>(out - utf8);
}

std::string windows1252_to_utf8(std::span<const unsigned char> bytes) {
  std::string utf8(bytes.size() * kMaxUtf8BytesPerByte, '\0');
  utf8.resize(windows1252_to_utf8(bytes, utf8.data()));
  return utf8;
}

}  // namespace m3umerge
