// Checks the text conversion against a model of Windows-1252: decoding the
// UTF-8 result must give, code point by code point, the meaning of each
// input byte up to the first zero byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "playlist/text.h"
#include "support/windows1252.h"

namespace {

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
    expected += m3umerge::test::windows1252_code_point(byte);
  }
  if (decode(m3umerge::windows1252_to_utf8(bytes)) != expected) std::abort();

  const bool signed_text = size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF;
  if (m3umerge::has_utf8_signature(bytes) != signed_text) std::abort();
  return 0;
}
