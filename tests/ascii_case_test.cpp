#include "platform/ascii_case.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace m3umerge {
namespace {

using namespace std::string_view_literals;

TEST(AsciiCase, FoldsAsciiLettersOnly) {
  EXPECT_TRUE(equals_ignoring_ascii_case("Game.WSR"sv, "game.wsr"sv));
  EXPECT_TRUE(equals_ignoring_ascii_case("azAZ"sv, "AZaz"sv));  // the ends of the alphabet
  EXPECT_FALSE(equals_ignoring_ascii_case("game.wsr"sv, "game.ws"sv));
  EXPECT_FALSE(equals_ignoring_ascii_case("\xC3\xA9"sv, "\xC3\x89"sv));  // é and É stay apart
  EXPECT_FALSE(equals_ignoring_ascii_case("\xE9"sv, "\xC9"sv));          // in Latin-1 too
  EXPECT_FALSE(equals_ignoring_ascii_case(L"\u00E9"sv, L"\u00C9"sv));
  // Each neighbour of the letters, 0x40, 0x5B, 0x60 and 0x7B, is no letter.
  EXPECT_FALSE(equals_ignoring_ascii_case("@"sv, "`"sv));
  EXPECT_FALSE(equals_ignoring_ascii_case("["sv, "{"sv));
  EXPECT_TRUE(ends_with_ignoring_ascii_case("MIX.M3U"sv, ".m3u"sv));
  EXPECT_FALSE(ends_with_ignoring_ascii_case("mix.m3u8"sv, ".m3u"sv));
  EXPECT_FALSE(ends_with_ignoring_ascii_case("m3u"sv, ".m3u"sv));
  EXPECT_TRUE(ends_with_ignoring_ascii_case(L"\u66F2.M3u"sv, L".m3u"sv));
}

TEST(AsciiCase, OrdersNamesByFoldedBytesThenRawBytes) {
  std::vector<std::string_view> names = {"b.m3u"sv,        "_x.m3u"sv,   "A.m3u"sv,   "a.m3u"sv,
                                         "\xC3\xA9.m3u"sv, "ab.m3u"sv,   "Z.m3u"sv,   "a.M3U"sv,
                                         "z.m3u"sv,        "[.m3u"sv,    "{.m3u"sv,   "@.m3u"sv,
                                         "`.m3u"sv,        "\xE9.m3u"sv, "\xC9.m3u"sv};
  std::sort(names.begin(), names.end(), name_less<char>);
  // Folded, the letters come between @ and [; ` and { after them. Bytes past
  // ASCII are not folded: É (C9) before é (E9).
  const std::vector<std::string_view> expected = {
      "@.m3u"sv, "A.m3u"sv, "a.M3U"sv,        "a.m3u"sv,    "ab.m3u"sv,
      "b.m3u"sv, "Z.m3u"sv, "z.m3u"sv,        "[.m3u"sv,    "_x.m3u"sv,
      "`.m3u"sv, "{.m3u"sv, "\xC3\xA9.m3u"sv, "\xC9.m3u"sv, "\xE9.m3u"sv};
  EXPECT_EQ(names, expected);
  EXPECT_FALSE(name_less("a"sv, "a"sv));
  EXPECT_TRUE(name_less("a"sv, "a.m3u"sv));
}

}  // namespace
}  // namespace m3umerge
