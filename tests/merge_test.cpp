#include "playlist/merge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "support/files.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "support/process.h"
#endif

namespace m3umerge {
namespace {

using test::kSignature;
using test::read_file;
using test::TempDir;
using test::write_file;
using Names = std::vector<NativeString>;

// An input of a merge's report, with its name.
using Input = std::tuple<NativeString, InputResult, std::uint64_t>;

std::vector<Input> inputs_of(const MergeReport& report) {
  std::vector<Input> inputs;
  for (const InputReport& input : report.inputs) {
    inputs.emplace_back(report.name(input), input.result, input.size);
  }
  return inputs;
}

TEST(MergePlaylists, RejectsAnchorsThatAreNoWsrPathWithAFolder) {
  TempDir dir;
  write_file(dir / M3U_NATIVE("a.m3u"), "a");
  const NativeString folder = dir.prefix();
  const NativeString rejected[] = {
      M3U_NATIVE(""),
      M3U_NATIVE("game.wsr"),  // no folder part
      folder + M3U_NATIVE("game.wsr.bak"),
      folder + M3U_NATIVE("game.txt"),
      folder + M3U_NATIVE("game"),
      folder + M3U_NATIVE("m.d") + platform::kDirectorySeparator + M3U_NATIVE("game"),
      folder + M3U_NATIVE("wsr"),
  };
  for (const auto& anchor : rejected) {
    EXPECT_FALSE(merge_playlists(anchor)) << test::fs::path(anchor).string();
  }
#if defined(_WIN32)
  // Forward slashes are no separators on Windows.
  EXPECT_FALSE(merge_playlists(dir.path().generic_wstring() + L"/game.wsr"));
#endif
  EXPECT_EQ(test::entry_names(dir.path()), (Names{M3U_NATIVE("a.m3u")}));
}

TEST(MergePlaylists, TakesTheExtensionInAnyCaseAndNeedsNoAnchorFile) {
  TempDir dir;
  write_file(dir / M3U_NATIVE("a.m3u"), "a");
  ASSERT_TRUE(merge_playlists(dir.prefix() + M3U_NATIVE("GAME.WsR")));
  EXPECT_EQ(read_file(dir / M3U_NATIVE("GAME.m3u")), kSignature + "a\r\n");
  EXPECT_EQ(test::entry_names(dir.path()), (Names{M3U_NATIVE("GAME.m3u"), M3U_NATIVE("a.m3u")}));
}

TEST(MergePlaylists, ConvertsOrCopiesEachPlaylistAndEndsItWithCrLf) {
  const struct {
    std::string content;
    std::string merged;
  } cases[] = {
      {"", kSignature + "\r\n"},
      {kSignature, kSignature + "\r\n"},
      {kSignature + "#EXTM3U\r\n\xE6\x9B\xB2.mp3\r\n",
       kSignature + "#EXTM3U\r\n\xE6\x9B\xB2.mp3\r\n\r\n"},
      // Signed text is copied without validation, zero bytes and all.
      {kSignature + std::string("\xFF\0x", 3), kSignature + std::string("\xFF\0x\r\n", 5)},
      // Unsigned text is Windows-1252 up to its first zero byte.
      {std::string("Caf\xE9.mp3\n\0junk", 14), kSignature + "Caf\xC3\xA9.mp3\n\r\n"},
      {"\x80\x81\x9F", kSignature + "\xE2\x82\xAC\xC2\x81\xC5\xB8\r\n"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    write_file(dir / M3U_NATIVE("list.m3u"), c.content);
    EXPECT_TRUE(merge_playlists(dir.prefix() + M3U_NATIVE("game.wsr")));
    EXPECT_EQ(read_file(dir / M3U_NATIVE("game.m3u")), c.merged)
        << testing::PrintToString(c.content);
  }
}

static_assert(kMaxPlaylistBytes == 32768);

TEST(MergePlaylists, MergesUpTo32768BytesAndSkipsLargerPlaylists) {
  TempDir dir;
  write_file(dir / M3U_NATIVE("fits.m3u"), std::string(32768, 'a'));
  write_file(dir / M3U_NATIVE("too-big.m3u"), std::string(32769, 'b'));
  ASSERT_TRUE(merge_playlists(dir.prefix() + M3U_NATIVE("game.wsr")));
  EXPECT_EQ(read_file(dir / M3U_NATIVE("game.m3u")), kSignature + std::string(32768, 'a') + "\r\n");
}

TEST(MergePlaylists, WritesNothingWhenNothingCanBeMerged) {
  TempDir dir;
  EXPECT_FALSE(merge_playlists(dir.prefix() + M3U_NATIVE("game.wsr")));  // empty folder
  EXPECT_FALSE(merge_playlists(dir.prefix() + M3U_NATIVE("missing") +
                               platform::kDirectorySeparator + M3U_NATIVE("game.wsr")));
  write_file(dir / M3U_NATIVE("big.m3u"), std::string(kMaxPlaylistBytes + 1, 'b'));
  test::fs::create_directory(dir / M3U_NATIVE("folder.m3u"));
  write_file(dir / M3U_NATIVE("notes.txt"), "x");
  EXPECT_FALSE(merge_playlists(dir.prefix() + M3U_NATIVE("game.wsr")));
  EXPECT_EQ(test::entry_names(dir.path()),
            (Names{M3U_NATIVE("big.m3u"), M3U_NATIVE("folder.m3u"), M3U_NATIVE("notes.txt")}));
}

TEST(MergePlaylists, NeverTakesTheMergedPlaylistAsInputWhateverItsCase) {
  TempDir dir;
  write_file(dir / M3U_NATIVE("GAME.M3U"), kSignature + "old");
  EXPECT_FALSE(merge_playlists(dir.prefix() + M3U_NATIVE("game.wsr")));
  EXPECT_EQ(read_file(dir / M3U_NATIVE("GAME.M3U")), kSignature + "old");

  write_file(dir / M3U_NATIVE("a.m3u"), "a");
  ASSERT_TRUE(merge_playlists(dir.prefix() + M3U_NATIVE("GAME.wsr")));
  ASSERT_TRUE(merge_playlists(dir.prefix() + M3U_NATIVE("GAME.wsr")));
  EXPECT_EQ(read_file(dir / M3U_NATIVE("GAME.m3u")), kSignature + "a\r\n");

  // Nor under another name of its file, nor as a link to its name before it
  // exists.
  TempDir linked;
  write_file(linked / M3U_NATIVE("a.m3u"), "a");
  const NativeString anchor = linked.prefix() + M3U_NATIVE("game.wsr");
  std::error_code no_links;
  test::fs::create_symlink(M3U_NATIVE("game.m3u"), linked / M3U_NATIVE("to-game.m3u"), no_links);
  for (int run = 1; run <= 2; ++run) {
    MergeReport report;
    ASSERT_TRUE(merge_playlists(anchor, report));
    EXPECT_EQ(read_file(linked / M3U_NATIVE("game.m3u")), kSignature + "a\r\n") << run;
    const std::vector<Input> inputs = {{M3U_NATIVE("a.m3u"), InputResult::converted, 1}};
    EXPECT_EQ(inputs_of(report), inputs) << run;
    test::fs::create_hard_link(linked / M3U_NATIVE("game.m3u"), linked / M3U_NATIVE("hard.m3u"),
                               no_links);
  }
}

TEST(MergePlaylists, LeavesAPlaylistThatCannotBeReplacedUntouched) {
  TempDir dir;
  write_file(dir / M3U_NATIVE("a.m3u"), "a");
  write_file(dir / M3U_NATIVE("locked.m3u"), "old");
  test::make_read_only(dir / M3U_NATIVE("locked.m3u"), true);
  test::fs::create_directory(dir / M3U_NATIVE("taken.m3u"));

  EXPECT_FALSE(merge_playlists(dir.prefix() + M3U_NATIVE("locked.wsr")));
  EXPECT_FALSE(merge_playlists(dir.prefix() + M3U_NATIVE("taken.wsr")));
  EXPECT_EQ(read_file(dir / M3U_NATIVE("locked.m3u")), "old");
  EXPECT_TRUE(test::fs::is_directory(dir / M3U_NATIVE("taken.m3u")));
  EXPECT_EQ(test::entry_names(dir.path()),
            (Names{M3U_NATIVE("a.m3u"), M3U_NATIVE("locked.m3u"), M3U_NATIVE("taken.m3u")}));
#if !defined(_WIN32)
  // Another user's playlist that this one may not write, in a folder that
  // this one may write: replacing it would take it from its owner.
  if (::geteuid() != 0) {
    std::printf("note: not root, so a playlist of another user was not tried\n");
    return;
  }
  constexpr uid_t kOtherUser = 65534;
  write_file(dir / "shared.m3u", "theirs");
  ASSERT_EQ(::chmod((dir / "shared.m3u").c_str(), 0644), 0);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
  const auto run = test::run_in_child([&] {
    const int null_device = ::open("/dev/null", O_WRONLY);
    if (::dup2(null_device, STDOUT_FILENO) < 0 || ::setgroups(0, nullptr) != 0 ||
        ::setgid(kOtherUser) != 0 || ::setuid(kOtherUser) != 0) {
      return 2;
    }
    MergeReport report;
    return merge_playlists(dir.prefix() + "shared.wsr", report) ? 1
           : report.result == AnchorResult::read_only           ? 0
                                                                : 3;
  });
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(read_file(dir / "shared.m3u"), "theirs");
  struct stat status {};
  ASSERT_EQ(::stat((dir / "shared.m3u").c_str(), &status), 0);
  EXPECT_EQ(status.st_uid, 0u);
#endif
}

TEST(MergePlaylists, ListsOnlyNamesEndingInM3u) {
  TempDir dir;
  write_file(dir / M3U_NATIVE("a.M3U"), "a");
  write_file(dir / M3U_NATIVE("utf8.m3u8"), "\xE2\x99\xAA");
  write_file(dir / M3U_NATIVE("b.m3ux"), "b");
  write_file(dir / M3U_NATIVE("m3u"), "c");
  ASSERT_TRUE(merge_playlists(dir.prefix() + M3U_NATIVE("game.wsr")));
  EXPECT_EQ(read_file(dir / M3U_NATIVE("game.m3u")), kSignature + "a\r\n");
}

// Makes the playlist at `path` impossible to read while it lives: held open
// without sharing (Windows), or replaced by a link that leads nowhere.
class UnreadablePlaylist {
 public:
  explicit UnreadablePlaylist(const test::fs::path& path) {
#if defined(_WIN32)
    write_file(path, "x");
    held_ = ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
#else
    test::fs::create_symlink("nowhere", path);
#endif
  }
  UnreadablePlaylist(const UnreadablePlaylist&) = delete;
  UnreadablePlaylist& operator=(const UnreadablePlaylist&) = delete;
#if defined(_WIN32)
  ~UnreadablePlaylist() { ::CloseHandle(held_); }

 private:
  HANDLE held_;
#endif
};

std::vector<Input> sorted_inputs(const MergeReport& report) {
  std::vector<Input> inputs = inputs_of(report);
  std::sort(inputs.begin(), inputs.end());
  return inputs;
}

TEST(MergeReport, SaysWhatBecameOfEachPlaylistAndOfTheMergedOne) {
  TempDir dir;
  write_file(dir / M3U_NATIVE("a.m3u"), "Caf\xE9");
  write_file(dir / M3U_NATIVE("b.m3u"), kSignature + "b");
  write_file(dir / M3U_NATIVE("big.m3u"), std::string(kMaxPlaylistBytes + 1, 'b'));
  const UnreadablePlaylist gone(dir / M3U_NATIVE("gone.m3u"));
  const NativeString anchor = dir.prefix() + M3U_NATIVE("game.wsr");

  MergeReport report;
  ASSERT_TRUE(merge_playlists(anchor, report));
  EXPECT_EQ(report.result, AnchorResult::written);
  EXPECT_EQ(report.merged_path, dir.prefix() + M3U_NATIVE("game.m3u"));
  const std::string merged = kSignature + "Caf\xC3\xA9\r\nb\r\n";
  EXPECT_EQ(read_file(dir / M3U_NATIVE("game.m3u")), merged);
  EXPECT_EQ(report.merged_size, merged.size());
  EXPECT_EQ(merged_count(report), 2u);
  const std::vector<Input> expected = {
      {M3U_NATIVE("a.m3u"), InputResult::converted, 4},
      {M3U_NATIVE("b.m3u"), InputResult::copied, 4},
      {M3U_NATIVE("big.m3u"), InputResult::too_large, kMaxPlaylistBytes + 1},
      {M3U_NATIVE("gone.m3u"), InputResult::unreadable, 0},
  };
  EXPECT_EQ(sorted_inputs(report), expected);

  // Kept back by a read-only playlist: nothing is merged, the file stays.
  test::make_read_only(dir / M3U_NATIVE("game.m3u"), true);
  EXPECT_FALSE(merge_playlists(anchor, report));
  EXPECT_EQ(report.result, AnchorResult::read_only);
  EXPECT_EQ(merged_count(report), 0u);
  EXPECT_EQ(read_file(dir / M3U_NATIVE("game.m3u")), merged);
  test::make_read_only(dir / M3U_NATIVE("game.m3u"), false);
}

TEST(MergeReport, TellsHowFarItIsAndStopsWhenAsked) {
  TempDir dir;
  for (const char* name : {"a", "b", "c"})
    write_file(dir / (NativeString(M3U_NATIVE("x")) + NativeChar(name[0]) + M3U_NATIVE(".m3u")),
               name);
  write_file(dir / M3U_NATIVE("game.m3u"), "old");
  const NativeString anchor = dir.prefix() + M3U_NATIVE("game.wsr");
  std::vector<std::pair<std::size_t, std::size_t>> told;
  MergeReport report;
  // Stopped at the second playlist: nothing is replaced, nothing stays behind.
  EXPECT_FALSE(merge_playlists(anchor, report, [&](std::size_t looked_at, std::size_t listed) {
    told.emplace_back(looked_at, listed);
    return told.size() < 2;
  }));
  EXPECT_EQ(report.result, AnchorResult::cancelled);
  EXPECT_EQ(read_file(dir / M3U_NATIVE("game.m3u")), "old");
  EXPECT_EQ(test::entry_names(dir.path()).size(), 4u);
  // Told after each playlist, the merged one among the names listed.
  told.clear();
  EXPECT_TRUE(merge_playlists(anchor, report, [&](std::size_t looked_at, std::size_t listed) {
    told.emplace_back(looked_at, listed);
    return true;
  }));
  EXPECT_EQ(told.size(), 3u);
  EXPECT_EQ(told.back().second, 4u);
  EXPECT_TRUE(std::is_sorted(told.begin(), told.end()));
}

TEST(MergeReport, SaysWhyNothingWasWritten) {
  TempDir dir;
  TempDir big;
  write_file(big / M3U_NATIVE("big.m3u"), std::string(kMaxPlaylistBytes + 1, 'b'));
  TempDir taken;
  write_file(taken / M3U_NATIVE("small.m3u"), "s");
  test::fs::create_directory(taken / M3U_NATIVE("game.m3u"));
  const NativeString missing =
      dir.prefix() + M3U_NATIVE("missing") + platform::kDirectorySeparator + M3U_NATIVE("x.wsr");
  const struct {
    NativeString anchor;
    AnchorResult result;
  } cases[] = {
      {M3U_NATIVE("game.wsr"), AnchorResult::no_folder_part},
      {dir.prefix() + M3U_NATIVE("game.txt"), AnchorResult::not_a_wsr_path},
      {M3U_NATIVE(""), AnchorResult::not_a_wsr_path},
      {missing, AnchorResult::folder_missing},
      {dir.prefix() + M3U_NATIVE("game.wsr"), AnchorResult::nothing_readable},
      {big.prefix() + M3U_NATIVE("game.wsr"), AnchorResult::nothing_readable},
      // A folder stands at the merged playlist's name.
      {taken.prefix() + M3U_NATIVE("game.wsr"), AnchorResult::cannot_create},
  };
  for (const auto& c : cases) {
    MergeReport report;
    EXPECT_FALSE(merge_playlists(c.anchor, report));
    EXPECT_EQ(report.result, c.result) << test::fs::path(c.anchor).string();
  }
#if defined(_WIN32)
  // A player that keeps the merged playlist open, sharing no deletion: the
  // report says it is in use, and it stays.
  write_file(taken / L"held.m3u", "old");
  const HANDLE held = ::CreateFileW((taken / L"held.m3u").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  MergeReport report;
  EXPECT_FALSE(merge_playlists(taken.prefix() + L"held.wsr", report));
  ::CloseHandle(held);
  EXPECT_EQ(report.result, AnchorResult::write_failed);
  EXPECT_EQ(report.fault, platform::WriteFault::in_use);
  EXPECT_EQ(read_file(taken / L"held.m3u"), "old");

  // An earlier playlist that a replace cut short left moved aside, its own
  // name empty, is put back before anything else.
  TempDir cut_short;
  write_file(cut_short / L"~game.m3u.earlier", "earlier");
  EXPECT_FALSE(merge_playlists(cut_short.prefix() + L"game.wsr", report));
  EXPECT_EQ(report.result, AnchorResult::nothing_readable);
  EXPECT_EQ(read_file(cut_short / L"game.m3u"), "earlier");
  EXPECT_EQ(test::entry_names(cut_short.path()), (Names{L"game.m3u"}));
#endif
}

}  // namespace
}  // namespace m3umerge
