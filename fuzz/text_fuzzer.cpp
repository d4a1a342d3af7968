// Checks the text conversion against a model of Windows-1252: decoding the
// UTF-8 result must give, code point by code point, the meaning of each
// input byte up to the first zero byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "playlist/text.h"

namespace {

// Bytes 80 to 9F in Windows-1252, as the code page's chart lists them; the
// five unassigned places are the C1 controls of the same value.
constexpr char32_t kChart80[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                   0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                   0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                   0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Strict UTF-8 decoding: any malformed sequence ends the fuzzer.
std::u32string decode(const std::string& utf8) {
  std::u32string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    std::size_t length = 0;
    char32_t value = 0;
    if (lead < 0x80) {
      length = 1, value = lead;
    } else if (lead >= 0xC2 && lead < 0xE0) {
      length = 2, value = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead < 0xF0) {
      length = 3, value = lead & 0x0Fu;
    } else {
      std::abort();
    }
    if (i + length > utf8.size()) std::abort();
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(utf8[i + k]);
      if ((next & 0xC0u) != 0x80u) std::abort();
      value = (value << 6) | (next & 0x3Fu);
    }
    // No overlong three-byte forms and no surrogates.
    if (length == 3 && (value < 0x800 || (value >= 0xD800 && value < 0xE000))) std::abort();
    out += value;
    i += length;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const unsigned char> bytes(data, size);
  std::u32string expected;
  for (const unsigned char byte : bytes) {
    if (byte == 0) break;
    expected += (byte >= 0x80 && byte < 0xA0) ? kChart80[byte - 0x80] : char32_t(byte);
  }
  if (decode(m3umerge::windows1252_to_utf8(bytes)) != expected) std::abort();

  const bool signed_text = size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF;
  if (m3umerge::has_utf8_signature(bytes) != signed_text) std::abort();
  return 0;
}
