#include "gui/summary.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace m3umerge::gui {
namespace {

const NativeString kFolder = NativeString(M3U_NATIVE("music")) + platform::kDirectorySeparator;

// An input of a report, with its name.
struct Input {
  NativeStringView name;
  InputResult result;
  std::uint64_t size = 0;
};

// A run of one anchor, game.wsr in kFolder, that ended in `result`.
AnchorRun anchor(AnchorResult result, const std::vector<Input>& inputs = {},
                 NativeStringView name = M3U_NATIVE("game")) {
  AnchorRun run{kFolder + NativeString(name) + M3U_NATIVE(".wsr"), {}, {}};
  run.report.result = result;
  run.report.merged_path = kFolder + NativeString(name) + M3U_NATIVE(".m3u");
  for (const Input& input : inputs) {
    run.report.listing.add(input.name);
    run.report.inputs.push_back(
        {std::uint32_t(run.report.listing.size() - 1), input.result, input.size});
  }
  return run;
}

// A run whose merged playlist could not be written for `fault`.
AnchorRun failed_write(platform::WriteFault fault, NativeStringView detail = {},
                       NativeStringView moved_aside = {}) {
  AnchorRun run = anchor(AnchorResult::write_failed);
  run.report.fault = fault;
  run.report.system_error = 21;
  run.report.moved_aside = moved_aside;
  run.detail = detail;
  return run;
}

// `text` without the directional isolates around names and the break
// opportunities in paths, which one test checks on its own.
NativeString plain(NativeString text) {
  for (const NativeStringView mark :
       {NativeStringView(M3U_NATIVE("\u2068")), NativeStringView(M3U_NATIVE("\u2069")),
        NativeStringView(M3U_NATIVE("\u200B"))}) {
    for (std::size_t at = text.find(mark); at != NativeString::npos; at = text.find(mark, at)) {
      text.erase(at, mark.size());
    }
  }
  return text;
}

// A playlist written without the encryption and compression of the one it
// replaced.
AnchorRun lost_attributes() {
  AnchorRun run = anchor(AnchorResult::written, {{M3U_NATIVE("a.m3u"), InputResult::converted, 1}});
  run.report.lost_encryption = true;
  run.report.lost_compression = true;
  return run;
}

std::string shown(const NativeString& text) {
  return testing::PrintToString(std::basic_string<NativeChar>(text));
}

TEST(Summary, SaysWhatBecameOfOneAnchorInBothLanguages) {
  const Input merged = {M3U_NATIVE("a.m3u"), InputResult::converted, 10};
  const Input copied = {M3U_NATIVE("b.m3u"), InputResult::copied, 10};
  const Input big = {M3U_NATIVE("big.m3u"), InputResult::too_large, 40960};
  const Input gone = {M3U_NATIVE("gone.m3u"), InputResult::unreadable};
  const struct {
    AnchorRun run;
    bool attention;  // written, but with something to look at
    NativeString english;
    NativeString japanese;
  } cases[] = {
      {anchor(AnchorResult::written, {merged}), false,
       M3U_NATIVE("game.m3u written: 1 playlist merged"),
       M3U_NATIVE("game.m3u を書き出しました: 1 個のプレイリストを結合")},
      {anchor(AnchorResult::written, {merged, big, copied, gone}), true,
       M3U_NATIVE("game.m3u written: 2 playlists merged, 2 left out (big.m3u, 40,960 bytes: over "
                  "32,768 bytes; gone.m3u: cannot be read)"),
       M3U_NATIVE(
           "game.m3u を書き出しました: 2 個のプレイリストを結合、2 個を除外 (big.m3u、40,960 "
           "バイト: 32,768 バイト超; gone.m3u: 読み込めません)")},
      {anchor(AnchorResult::written, {merged, gone, gone, gone, gone, gone}), true,
       M3U_NATIVE("game.m3u written: 1 playlist merged, 5 left out (gone.m3u: cannot be read; "
                  "gone.m3u: cannot be read; gone.m3u: cannot be read; and 2 more)"),
       M3U_NATIVE(
           "game.m3u を書き出しました: 1 個のプレイリストを結合、5 個を除外 (gone.m3u: "
           "読み込めません; gone.m3u: 読み込めません; gone.m3u: 読み込めません; ほか 2 個)")},
      {anchor(AnchorResult::written_unflushed, {merged, copied}), true,
       M3U_NATIVE("game.m3u written: 2 playlists merged. The disk did not confirm the new name: if "
                  "the power fails soon, the earlier playlist may come back."),
       M3U_NATIVE(
           "game.m3u を書き出しました: 2 個のプレイリストを結合。ディスクが新しい名前の書き込み"
           "を確認できなかったため、すぐに電源が切れると以前のプレイリストに戻ることがあります"
           "。")},
      {lost_attributes(), false,
       M3U_NATIVE("game.m3u written: 1 playlist merged. It is not encrypted as the earlier one "
                  "was: this disk or Windows cannot encrypt it. It is not compressed as the "
                  "earlier one was: this disk cannot compress it."),
       M3U_NATIVE("game.m3u を書き出しました: 1 個のプレイリストを結合。このディスクまたは Windows "
                  "では暗号化できないため、以前のプレイリストと違って暗号化されていません。このディ"
                  "スクでは圧縮できないため、以前のプレイリストと違って圧縮されていません。")},
      {anchor(AnchorResult::nothing_readable), false,
       M3U_NATIVE("game.m3u not written: the folder holds no .m3u playlist. Only names ending in "
                  ".m3u are merged (not .m3u8)."),
       M3U_NATIVE(
           "game.m3u は書き出していません: フォルダーに .m3u プレイリストがありません。結合す"
           "るのは名前が .m3u で終わるものだけです (.m3u8 は対象外)。")},
      {anchor(AnchorResult::nothing_readable, {big}), false,
       M3U_NATIVE("game.m3u not written: no playlist could be merged (big.m3u, 40,960 bytes: over "
                  "32,768 bytes). Split playlists over 32,768 bytes into smaller ones."),
       M3U_NATIVE("game.m3u は書き出していません: 結合できるプレイリストがありません (big.m3u、"
                  "40,960 バイト: 32,768 バイト超)。32,768 バイトを超えるプレイリストは小さく分けて"
                  "ください。")},
      {anchor(AnchorResult::nothing_readable, {gone}), false,
       M3U_NATIVE("game.m3u not written: no playlist could be merged (gone.m3u: cannot be read). "
                  "Close the program that holds a playlist open, or check that you may read it, "
                  "and try again."),
       M3U_NATIVE(
           "game.m3u は書き出していません: 結合できるプレイリストがありません (gone.m3u: "
           "読み込めません)。プレイリストを開いているプログラムを閉じるか、読み取れることを確"
           "かめてから、もう一度お試しください。")},
      {anchor(AnchorResult::read_only, {merged}), false,
       M3U_NATIVE("game.m3u not written: the existing game.m3u is read-only and was kept as it is. "
                  "Clear Read-only in its Properties and try again."),
       M3U_NATIVE("game.m3u は書き出していません: 既存の game.m3u が読み取り専用のため、そのまま残"
                  "しました。プロパティで読み取り専用を外してから、もう一度お試しください。")},
      {anchor(AnchorResult::cannot_create, {merged}), false,
       M3U_NATIVE("game.m3u not written: it cannot be created in this folder. Check that you may "
                  "write to the folder and that no folder has this name; any earlier playlist is "
                  "unchanged."),
       M3U_NATIVE(
           "game.m3u は書き出していません: このフォルダーに作成できません。フォルダーに書き込"
           "めること、同じ名前のフォルダーがないことを確かめてください。以前のプレイリストは"
           "変わっていません。")},
      {anchor(AnchorResult::write_failed, {merged}), false,
       M3U_NATIVE("game.m3u not written: writing it failed, and the earlier playlist was kept. "
                  "Free some disk space and try again."),
       M3U_NATIVE("game.m3u は書き出していません: 書き込みに失敗したため、以前のプレイリストを残し"
                  "ました。ディスクの空きを増やしてから、もう一度お試しください。")},
      {failed_write(platform::WriteFault::in_use), false,
       M3U_NATIVE("game.m3u not written: another program has it open, and the earlier playlist "
                  "was kept. Close that program and merge again."),
       M3U_NATIVE("game.m3u は書き出していません: ほかのプログラムが開いているため、以前のプレイ"
                  "リストを残しました。そのプログラムを閉じてから、もう一度結合してください。")},
      {failed_write(platform::WriteFault::in_use, M3U_NATIVE("Player")), false,
       M3U_NATIVE("game.m3u not written: Player has it open, and the earlier playlist was kept. "
                  "Close Player and merge again."),
       M3U_NATIVE("game.m3u は書き出していません: Player が開いているため、以前のプレイリストを残"
                  "しました。Player を閉じてから、もう一度結合してください。")},
      {failed_write(platform::WriteFault::access_denied), false,
       M3U_NATIVE("game.m3u not written: you may not replace it or write to its folder, and the "
                  "earlier playlist was kept. Check the permissions of the folder and of "
                  "game.m3u, and try again."),
       M3U_NATIVE("game.m3u は書き出していません: game.m3u を置き換えるか、そのフォルダーに書き込"
                  "む権限がないため、以前のプレイリストを残しました。フォルダーと game.m3u のアク"
                  "セス許可を確かめてから、もう一度お試しください。")},
      {failed_write(platform::WriteFault::cloud), false,
       M3U_NATIVE("game.m3u not written: the cloud storage that keeps this folder refused it (its "
                  "sync client may not be running, or the folder may not be in sync), and the "
                  "earlier playlist was kept. Check the sync client and try again."),
       M3U_NATIVE("game.m3u は書き出していません: このフォルダーを保存しているクラウド ストレージ"
                  "が受け付けなかったため (同期クライアントが動いていないか、同期が済んでいない可能"
                  "性があります)、以前のプレイリストを残しました。同期クライアントを確かめてから、"
                  "もう一度お試しください。")},
      {failed_write(platform::WriteFault::moved_aside, {}, M3U_NATIVE("~m3u0123.tmp")), false,
       M3U_NATIVE("game.m3u not written, and the earlier playlist could not be put back: it is in "
                  "the same folder under the name ~m3u0123.tmp. Rename it to game.m3u to have it "
                  "back."),
       M3U_NATIVE(
           "game.m3u は書き出していません。以前のプレイリストを元に戻せませんでした: 同じフォ"
           "ルダーに ~m3u0123.tmp という名前で残っています。名前を game.m3u に戻してくださ"
           "い。")},
      {failed_write(platform::WriteFault::other, M3U_NATIVE("The device is not ready")), false,
       M3U_NATIVE("game.m3u not written: writing it failed (The device is not ready), and the "
                  "earlier playlist was kept."),
       M3U_NATIVE("game.m3u は書き出していません: 書き込みに失敗したため (The device is not "
                  "ready)、以前のプレイリストを残しました。")},
      {failed_write(platform::WriteFault::other), false,
       M3U_NATIVE("game.m3u not written: writing it failed (error 21), and the earlier playlist "
                  "was kept."),
       M3U_NATIVE("game.m3u は書き出していません: 書き込みに失敗したため (エラー 21)、以前のプレイ"
                  "リストを残しました。")},
      {anchor(AnchorResult::out_of_resources), false,
       M3U_NATIVE("game.m3u not written: the system ran short of memory or file handles, and the "
                  "earlier playlist was kept. Close some programs and try again."),
       M3U_NATIVE("game.m3u は書き出していません: メモリまたはファイル ハンドルが足りないため、以前"
                  "のプレイリストを残しました。ほかのプログラムを閉じてから、もう一度お試しくださ"
                  "い。")},
  };
  for (const auto& c : cases) {
    const std::vector<AnchorRun> run = {c.run};
    const Summary english = summarize(run, Language::english);
    EXPECT_EQ(plain(english.content), c.english) << shown(c.english);
    EXPECT_EQ(plain(summarize(run, Language::japanese).content), c.japanese) << shown(c.japanese);
    const bool written = was_written(c.run.report.result);
    EXPECT_EQ(english.outcome, written ? Outcome::all_written : Outcome::none_written);
    EXPECT_EQ(english.instruction,
              written ? M3U_NATIVE("Playlist written") : M3U_NATIVE("Nothing was written"));
    EXPECT_EQ(plain(english.footer), written ? M3U_NATIVE("Folder: ") + kFolder : NativeString());
    EXPECT_EQ(english.left_out, c.attention) << shown(c.english);
  }
}

TEST(Summary, NamesRefusedAnchorsAsGiven) {
  const NativeString elsewhere = NativeString(M3U_NATIVE("x")) + platform::kDirectorySeparator;
  const struct {
    AnchorResult result;
    NativeString anchor;
    NativeString english;
    NativeString japanese;
  } cases[] = {
      {AnchorResult::not_a_wsr_path, M3U_NATIVE("list.txt"),
       M3U_NATIVE("list.txt: not a .wsr file, so nothing was merged. Choose .wsr files."),
       M3U_NATIVE("list.txt: .wsr ファイルではないため、何も結合していません。.wsr ファイルを選ん"
                  "でください。")},
      {AnchorResult::no_folder_part, M3U_NATIVE("game.wsr"),
       M3U_NATIVE("game.wsr: the name has no folder, so nothing was merged. Pass the full path, "
                  "such as C:\\Music\\game.wsr."),
       M3U_NATIVE("game.wsr: フォルダーを含まない名前のため、何も結合していません。C:\\Music\\game."
                  "wsr のようにフル パスで渡してください。")},
      {AnchorResult::folder_missing, elsewhere + M3U_NATIVE("g.wsr"),
       elsewhere + M3U_NATIVE("g.wsr: its folder cannot be opened. Check that the folder exists "
                              "and that you may read it."),
       elsewhere + M3U_NATIVE("g.wsr: フォルダーを開けません。フォルダーがあり、読み取れることを確"
                              "かめてください。")},
  };
  for (const auto& c : cases) {
    AnchorRun run{c.anchor, {}, {}};
    run.report.result = c.result;
    EXPECT_EQ(plain(summarize({run}, Language::english).content), c.english) << shown(c.english);
    EXPECT_EQ(plain(summarize({run}, Language::japanese).content), c.japanese) << shown(c.japanese);
  }
}

TEST(Summary, PutsWhatNeedsAttentionFirstAndCountsTheRest) {
  const Input merged = {M3U_NATIVE("a.m3u"), InputResult::converted, 1};
  const Input gone = {M3U_NATIVE("gone.m3u"), InputResult::unreadable};
  // A file that is no .wsr is named, but not counted as a playlist asked for.
  AnchorRun notes{kFolder + M3U_NATIVE("notes.txt"), {}, {}};
  AnchorRun bare{M3U_NATIVE("bare.wsr"), {}, {}};
  bare.report.result = AnchorResult::no_folder_part;
  const std::vector<AnchorRun> mixed = {
      anchor(AnchorResult::written, {merged}, M3U_NATIVE("one")),
      anchor(AnchorResult::written, {merged, gone}, M3U_NATIVE("two")),
      anchor(AnchorResult::write_failed, {merged}, M3U_NATIVE("three")),
      notes,
      bare,
  };
  Summary summary = summarize(mixed, Language::english);
  EXPECT_EQ(summary.outcome, Outcome::some_written);
  EXPECT_EQ(summary.instruction, M3U_NATIVE("2 of 4 playlists written"));
  EXPECT_EQ(summarize(mixed, Language::japanese).instruction,
            M3U_NATIVE("4 個中 2 個のプレイリストを書き出しました"));
  EXPECT_EQ(plain(summary.content),
            M3U_NATIVE("three.m3u not written: writing it failed, and the earlier playlist was "
                       "kept. Free some disk space and try again.\n\n") +
                kFolder +
                M3U_NATIVE("notes.txt: not a .wsr file, so nothing was merged. Choose .wsr "
                           "files.\n\n"
                           "bare.wsr: the name has no folder, so nothing was merged. Pass the "
                           "full path, such as C:\\Music\\game.wsr.\n\n"
                           "two.m3u written: 1 playlist merged, 1 left out (gone.m3u: cannot be "
                           "read)\n\n"
                           "one.m3u written: 1 playlist merged"));
  EXPECT_TRUE(summary.left_out);
  EXPECT_EQ(summarize({anchor(AnchorResult::written, {merged}), notes}, Language::english).outcome,
            Outcome::all_written);

  // A run cancelled part-way: the anchor being merged, and those after it.
  AnchorRun unnamed{kFolder + M3U_NATIVE("later.wsr"), {}, {}};
  unnamed.report.result = AnchorResult::cancelled;
  summary = summarize({anchor(AnchorResult::cancelled), unnamed}, Language::english);
  EXPECT_EQ(plain(summary.content),
            M3U_NATIVE("game.m3u not written: the merge was cancelled, and the earlier playlist "
                       "was kept.\n\n") +
                kFolder +
                M3U_NATIVE("later.wsr not written: the merge was cancelled, and the "
                           "earlier playlist was kept."));
  EXPECT_EQ(plain(summarize({unnamed}, Language::japanese).content),
            kFolder + M3U_NATIVE("later.wsr は書き出していません: 結合を取り消したため、以前の"
                                 "プレイリストを残しました。"));

  // Results in other folders are named by their whole path, and past the
  // lines shown the rest are counted.
  std::vector<AnchorRun> many(kLinesShown + 1002, anchor(AnchorResult::written, {merged}));
  many.back().report.merged_path =
      NativeString(M3U_NATIVE("other")) + platform::kDirectorySeparator + M3U_NATIVE("game.m3u");
  summary = summarize(many, Language::english);
  EXPECT_EQ(summary.outcome, Outcome::all_written);
  EXPECT_EQ(summary.instruction, M3U_NATIVE("1,014 playlists written"));
  EXPECT_EQ(summarize(many, Language::japanese).instruction,
            M3U_NATIVE("1,014 個のプレイリストを書き出しました"));
  EXPECT_FALSE(summary.left_out);
  EXPECT_EQ(summary.footer, M3U_NATIVE(""));
  NativeString expected;
  for (std::size_t i = 0; i < kLinesShown; ++i) {
    expected += kFolder + M3U_NATIVE("game.m3u written: 1 playlist merged\n\n");
  }
  EXPECT_EQ(plain(summary.content), expected + M3U_NATIVE("...and 1,002 more."));
  EXPECT_TRUE(
      summarize(many, Language::japanese).content.ends_with(M3U_NATIVE("\n\n...ほか 1,002 件。")));
}

TEST(Summary, ListsEveryPlaylistLeftOutByItsPathWithWhatToDo) {
  const Input merged = {M3U_NATIVE("a.m3u"), InputResult::converted, 1};
  std::vector<Input> inputs = {merged, {M3U_NATIVE("big.m3u"), InputResult::too_large, 40960}};
  inputs.insert(inputs.end(), kListShown - 1, {M3U_NATIVE("gone.m3u"), InputResult::unreadable});
  std::vector<AnchorRun> run = {anchor(AnchorResult::written, inputs),
                                anchor(AnchorResult::written, {merged}, M3U_NATIVE("clean"))};
  const NativeString big = kFolder + M3U_NATIVE("big.m3u, 40,960 bytes: over 32,768 bytes\n");
  const NativeString gone = kFolder + M3U_NATIVE("gone.m3u: cannot be read\n");
  const NativeString hints = M3U_NATIVE(
      "\nSplit playlists over 32,768 bytes into smaller ones. Close the program that holds a "
      "playlist open, or check that you may read it, and try again.");
  NativeString gone_lines;
  for (std::size_t i = 1; i < kListShown; ++i) gone_lines += gone;
  // As many as the dialog lists: all of them, each path isolated and
  // breakable after its separators.
  Summary summary = summarize(run, Language::english);
  EXPECT_EQ(plain(summary.left_out_shown), big + gone_lines + hints);
  EXPECT_TRUE(summary.left_out_shown.starts_with(M3U_NATIVE("\u2068music") +
                                                 NativeString(1, platform::kDirectorySeparator) +
                                                 M3U_NATIVE("\u200Bbig.m3u\u2069, 40,960 bytes")))
      << shown(summary.left_out_shown);
  EXPECT_EQ(summary.left_out_copied, big + gone_lines + hints);

  // One more, in a folder of its own: the dialog counts it, the clipboard
  // gets it, without the marks the display needs.
  const NativeString other = NativeString(M3U_NATIVE("other")) + platform::kDirectorySeparator;
  run.push_back(anchor(AnchorResult::written,
                       {merged, {M3U_NATIVE("lost.m3u"), InputResult::unreadable}},
                       M3U_NATIVE("more")));
  run.back().report.merged_path = other + M3U_NATIVE("more.m3u");
  summary = summarize(run, Language::english);
  EXPECT_EQ(summary.left_out_copied,
            big + gone_lines + other + M3U_NATIVE("lost.m3u: cannot be read\n") + hints);
  EXPECT_EQ(plain(summary.left_out_shown),
            big + gone_lines +
                M3U_NATIVE("...and 1 more: Copy list puts them all on the clipboard.\n") + hints);
  EXPECT_TRUE(summarize(run, Language::japanese)
                  .left_out_copied.ends_with(
                      M3U_NATIVE("\n32,768 バイトを超えるプレイリストは小さく分けてください。プレ"
                                 "イリストを開いているプログラムを閉じるか、読み取れることを確かめ"
                                 "てから、もう一度お試しください。")));
  const Summary clean = summarize({run[1]}, Language::english);
  EXPECT_EQ(clean.left_out_shown, M3U_NATIVE(""));
  EXPECT_EQ(clean.left_out_copied, M3U_NATIVE(""));
}

TEST(Summary, SetsEveryNameApartFromTheTextAroundIt) {
  // A name that turns the text after it right to left: it cannot reach the
  // sentence around it.
  const NativeString name = M3U_NATIVE("x\u202Egnp.m3u");
  AnchorRun run = anchor(AnchorResult::written, {{name, InputResult::too_large, 40000}});
  run.report.inputs.insert(run.report.inputs.begin(), {0, InputResult::converted, 1});
  run.detail.clear();
  const NativeString isolated = M3U_NATIVE("\u2068") + name + M3U_NATIVE("\u2069");
  EXPECT_EQ(summarize({run}, Language::english).content,
            M3U_NATIVE("\u2068game.m3u\u2069 written: 1 playlist merged, 1 left out (") + isolated +
                M3U_NATIVE(", 40,000 bytes: over 32,768 bytes)"));
  // A path may wrap after each separator, and nowhere else.
  EXPECT_EQ(summarize({run}, Language::english).footer,
            M3U_NATIVE("Folder: \u2068") + kFolder + M3U_NATIVE("\u200B\u2069"));
#if defined(_WIN32)
  // A path written with forward slashes has a folder, which Windows does
  // not see.
  AnchorRun slashed{L"C:/Music/game.wsr", {}, {}};
  slashed.report.result = AnchorResult::no_folder_part;
  EXPECT_EQ(plain(summarize({slashed}, Language::english).content),
            L"C:/Music/game.wsr: Windows takes only backslashes between folders, so nothing was "
            L"merged. Write the path with backslashes, such as C:\\Music\\game.wsr.");
#endif
}

TEST(Summary, LabelsAPlayButtonForEachPlaylistWithAnAccessKeyOfItsOwn) {
  EXPECT_EQ(play_label(Language::english, M3U_NATIVE("a.m3u"), 1),
            M3U_NATIVE("Play &1 \u2068a.m3u\u2069"));
  EXPECT_EQ(play_label(Language::japanese, M3U_NATIVE("a.m3u"), 2),
            M3U_NATIVE("\u2068a.m3u\u2069 を再生(&2)"));
  // An ampersand of a name is shown, not taken as an access key.
  EXPECT_EQ(play_label(Language::english, M3U_NATIVE("R&B.m3u"), 3),
            M3U_NATIVE("Play &3 \u2068R&&B.m3u\u2069"));
}

TEST(Summary, GroupsDigitsByThousands) {
  EXPECT_EQ(grouped(0), M3U_NATIVE("0"));
  EXPECT_EQ(grouped(999), M3U_NATIVE("999"));
  EXPECT_EQ(grouped(1000), M3U_NATIVE("1,000"));
  EXPECT_EQ(grouped(18446744073709551615u), M3U_NATIVE("18,446,744,073,709,551,615"));
}

}  // namespace
}  // namespace m3umerge::gui
