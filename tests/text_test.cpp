#include "playlist/text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/windows1252.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace m3umerge {
namespace {

using test::windows1252_code_point;

std::span<const unsigned char> bytes_of(const std::string& text) {
  return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

// Decodes well-formed UTF-8 of up to three bytes per code point.
std::u32string decode_utf8(const std::string& utf8) {
  std::u32string code_points;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : 3;
    char32_t value = length == 1 ? lead : length == 2 ? (lead & 0x1Fu) : (lead & 0x0Fu);
    for (std::size_t k = 1; k < length; ++k) {
      value = (value << 6) | (static_cast<unsigned char>(utf8.at(i + k)) & 0x3Fu);
    }
    code_points += value;
    i += length;
  }
  return code_points;
}

TEST(Utf8Signature, IsExactlyTheFirstThreeBytes) {
  const struct {
    std::string bytes;
    bool signed_text;
  } cases[] = {
      {"\xEF\xBB\xBF"
       "a\r\n",
       true},
      {"\xEF\xBB\xBF", true},
      {"\xEF\xBB", false},
      {"\xEF", false},
      {"", false},
      {"\xEF\xBB"
       "A",
       false},
      {"\xEF\xBF\xBB", false},
      {"a\xEF\xBB\xBF", false},
      {"\xFF\xFE"
       "#\0",
       false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(has_utf8_signature(bytes_of(c.bytes)), c.signed_text)
        << testing::PrintToString(c.bytes);
  }
}

TEST(Windows1252ToUtf8, ConvertsTheKnownVectors) {
  const struct {
    std::string input;
    std::string utf8;
  } cases[] = {
      {"\xEF\xBB"
       "A",
       "\xC3\xAF\xC2\xBB"
       "A"},
      {"\x80"
       "A",
       "\xE2\x82\xAC"
       "A"},
      {"\x81", "\xC2\x81"},
      {"\x99", "\xE2\x84\xA2"},
      {"\xC3\xA9", "\xC3\x83\xC2\xA9"},  // UTF-8 without signature is converted again
      {std::string("A\0B", 3), "A"},
      {std::string("A\0", 2), "A"},  // a zero as the last byte is cut too
      {std::string("\xFF\xFE#\0E\0", 6), "\xC3\xBF\xC3\xBE#"},
      {"", ""},
      {"a\r\nb\nc\r\n", "a\r\nb\nc\r\n"},
      // Long enough for the eight-byte ASCII path, with a zero after it.
      {std::string("0123456789abcdef\xE9xyz\0tail", 25), "0123456789abcdef\xC3\xA9xyz"},
      {"Caf\xE9 \x96 Se\xF1or\r\n", "Caf\xC3\xA9 \xE2\x80\x93 Se\xC3\xB1or\r\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(windows1252_to_utf8(bytes_of(c.input)), c.utf8) << testing::PrintToString(c.input);
  }
}

TEST(Windows1252ToUtf8, EveryByteDecodesToItsWindows1252CodePoint) {
  std::string all;
  for (int byte = 1; byte < 256; ++byte) all += static_cast<char>(byte);
  std::u32string expected;
  for (const char c : all) expected += windows1252_code_point(static_cast<unsigned char>(c));
  EXPECT_EQ(decode_utf8(windows1252_to_utf8(bytes_of(all))), expected);
}

TEST(Windows1252ToUtf8, RandomTextDecodesToItsCodePointsUpToTheFirstZero) {
  std::mt19937 random(1252);
  for (int round = 0; round < 200; ++round) {
    std::string input(random() % 200, '\0');
    for (char& c : input)
      c = static_cast<char>(random() % 8 == 0 ? 0x80 + random() % 128 : random() % 128);
    std::u32string expected;
    for (const char c : input) {
      if (c == '\0') break;
      expected += windows1252_code_point(static_cast<unsigned char>(c));
    }
    ASSERT_EQ(decode_utf8(windows1252_to_utf8(bytes_of(input))), expected)
        << testing::PrintToString(input);
  }
}

#if defined(_WIN32)
// What the system's own code page 1252 makes of the bytes, through UTF-16.
std::string system_conversion(const std::string& input) {
  const int length = static_cast<int>(input.size());
  std::wstring wide(input.size(), L'\0');
  if (length > 0) ::MultiByteToWideChar(1252, 0, input.data(), length, wide.data(), length);
  const std::wstring text = wide.substr(0, wide.find(L'\0'));
  std::string utf8(text.size() * 3, '\0');
  const int size = text.empty() ? 0
                                : ::WideCharToMultiByte(
                                      CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr);
  utf8.resize(static_cast<std::size_t>(size));
  return utf8;
}

TEST(Windows1252ToUtf8, AgreesWithTheSystemCodePage) {
  for (int byte = 0; byte < 256; ++byte) {
    const std::string input(1, static_cast<char>(byte));
    EXPECT_EQ(windows1252_to_utf8(bytes_of(input)), system_conversion(input)) << "byte " << byte;
  }
  std::mt19937 random(65001);
  for (int round = 0; round < 500; ++round) {
    std::string input(random() % 300, '\0');
    for (char& c : input) c = static_cast<char>(1 + random() % 255);
    if (round % 5 == 0 && !input.empty()) input[random() % input.size()] = '\0';
    ASSERT_EQ(windows1252_to_utf8(bytes_of(input)), system_conversion(input));
  }
}
#endif

}  // namespace
}  // namespace m3umerge
