// What the tool must make of a playlist's text, written out on its own from
// the Windows-1252 chart and the UTF-8 encoding rules: the oracle the tests
// and the fuzzers check the conversion against.
#pragma once

#include <string>
#include <string_view>

namespace m3umerge::test {

// The code point that a Windows-1252 byte stands for: 80-9F as the code
// page's chart lists them, the five places it leaves empty as the C1
// controls of the same value, every other byte as itself.
inline char32_t windows1252_code_point(unsigned char byte) {
  static constexpr char32_t k80to9F[32] = {U'€', 0x81, U'‚', U'ƒ', U'„', U'…', U'†', U'‡',
                                           U'ˆ', U'‰', U'Š', U'‹', U'Œ', 0x8D, U'Ž', 0x8F,
                                           0x90, U'‘', U'’', U'“', U'”', U'•', U'–', U'—',
                                           U'˜', U'™', U'š', U'›', U'œ', 0x9D, U'ž', U'Ÿ'};
  return byte >= 0x80 && byte < 0xA0 ? k80to9F[byte - 0x80] : byte;
}

// The UTF-8 bytes of a code point below U+10000.
inline std::string utf8_of(char32_t c) {
  if (c < 0x80) return std::string(1, static_cast<char>(c));
  if (c < 0x800) {
    return {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
  }
  return {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
          static_cast<char>(0x80 | (c & 0x3F))};
}

// The UTF-8 text of unsigned playlist bytes: each byte's code point, up to
// the first zero byte.
inline std::string windows1252_as_utf8(std::string_view bytes) {
  std::string utf8;
  for (const char c : bytes.substr(0, bytes.find('\0'))) {
    utf8 += utf8_of(windows1252_code_point(static_cast<unsigned char>(c)));
  }
  return utf8;
}

}  // namespace m3umerge::test
