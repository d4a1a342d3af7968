#include "gui/summary.h"

#include <algorithm>
#include <initializer_list>
#include <string_view>

namespace m3umerge::gui {
namespace {

// The words of the dialog in one language. In each text, {0}, {1}, ... stand
// for the values given with it, in order.
struct Texts {
  NativeStringView written;         // {0} merged playlist, {1} how many merged
  NativeStringView left_out;        // {0} how many, {1} the details
  NativeStringView playlists_one;   // {0} = 1
  NativeStringView playlists_many;  // {0} > 1
  NativeStringView too_large;       // {0} name, {1} size, {2} the limit
  NativeStringView unreadable;      // {0} name
  NativeStringView more_inputs;     // {0} how many more
  NativeStringView not_a_wsr_path;  // {0} anchor
  NativeStringView no_folder_part;  // {0} anchor
  NativeStringView slashes;         // {0} anchor
  NativeStringView folder_missing;  // {0} anchor
  NativeStringView no_playlist;     // {0} merged playlist
  NativeStringView nothing_merged;  // {0} merged playlist, {1} the details
  NativeStringView split_large;     // {0} the limit
  NativeStringView free_unreadable;
  NativeStringView read_only;      // {0} merged playlist
  NativeStringView cannot_create;  // {0} merged playlist
  NativeStringView write_failed;   // {0} merged playlist
  NativeStringView unflushed;
  NativeStringView lost_encryption;
  NativeStringView lost_compression;
  NativeStringView in_use;            // {0} merged playlist
  NativeStringView in_use_by;         // {0} merged playlist, {1} the program
  NativeStringView access_denied;     // {0} merged playlist
  NativeStringView cloud;             // {0} merged playlist
  NativeStringView moved_aside;       // {0} merged playlist, {1} the earlier one's name now
  NativeStringView other_failure;     // {0} merged playlist, {1} the system's message
  NativeStringView system_error;      // {0} the system's code
  NativeStringView out_of_resources;  // {0} merged playlist
  NativeStringView cancelled;         // {0} merged playlist, or the anchor
  NativeStringView more_anchors;      // {0} how many more
  NativeStringView all_written_one;
  NativeStringView all_written_many;  // {0} how many
  NativeStringView some_written;      // {0} written, {1} of how many
  NativeStringView none_written;
  NativeStringView folder;  // {0} folder
  NativeStringView request_instruction;
  NativeStringView request_content;
  NativeStringView show_in_folder;
  NativeStringView play;
  NativeStringView play_named;  // {0} the playlist, {1} its access key, a digit
  NativeStringView copy_list;
  NativeStringView show_list;
  NativeStringView hide_list;
  NativeStringView more_in_list;  // {0} how many more
  NativeStringView no_player;
  NativeStringView unreachable;  // {0} the playlist's path
  NativeStringView progress;     // {0} looked at, {1} listed, {2} folder
  NativeStringView cancel;
  NativeStringView separator;      // between details
  NativeStringView full_stop;      // what ends a sentence
  NativeStringView next_sentence;  // what comes between a sentence ended and the next
};

constexpr Texts kEnglish = {
    M3U_NATIVE("{0} written: {1} merged"),
    M3U_NATIVE(", {0} left out ({1})"),
    M3U_NATIVE("{0} playlist"),
    M3U_NATIVE("{0} playlists"),
    M3U_NATIVE("{0}, {1} bytes: over {2} bytes"),
    M3U_NATIVE("{0}: cannot be read"),
    M3U_NATIVE("and {0} more"),
    M3U_NATIVE("{0}: not a .wsr file, so nothing was merged. Choose .wsr files."),
    M3U_NATIVE("{0}: the name has no folder, so nothing was merged. Pass the full path, such as ")
        M3U_NATIVE("C:\\Music\\game.wsr."),
    M3U_NATIVE("{0}: Windows takes only backslashes between folders, so nothing was merged. "
               "Write the path with backslashes, such as C:\\Music\\game.wsr."),
    M3U_NATIVE(
        "{0}: its folder cannot be opened. Check that the folder exists and that you may read it."),
    M3U_NATIVE(
        "{0} not written: the folder holds no .m3u playlist. Only names ending in .m3u are merged ")
        M3U_NATIVE("(not .m3u8)."),
    M3U_NATIVE("{0} not written: no playlist could be merged ({1})."),
    M3U_NATIVE(" Split playlists over {0} bytes into smaller ones."),
    M3U_NATIVE(
        " Close the program that holds a playlist open, or check that you may read it, and try ")
        M3U_NATIVE("again."),
    M3U_NATIVE(
        "{0} not written: the existing {0} is read-only and was kept as it is. Clear Read-only in ")
        M3U_NATIVE("its Properties and try again."),
    M3U_NATIVE(
        "{0} not written: it cannot be created in this folder. Check that you may write to the ")
        M3U_NATIVE("folder and that no folder has this name; any earlier playlist is unchanged."),
    M3U_NATIVE(
        "{0} not written: writing it failed, and the earlier playlist was kept. Free some disk ")
        M3U_NATIVE("space and try again."),
    M3U_NATIVE("The disk did not confirm the new name: if the power fails soon, the earlier "
               "playlist may come back."),
    M3U_NATIVE("It is not encrypted as the earlier one was: this disk or Windows cannot "
               "encrypt it."),
    M3U_NATIVE("It is not compressed as the earlier one was: this disk cannot compress it."),
    M3U_NATIVE("{0} not written: another program has it open, and the earlier playlist was kept. "
               "Close that program and merge again."),
    M3U_NATIVE("{0} not written: {1} has it open, and the earlier playlist was kept. Close {1} "
               "and merge again."),
    M3U_NATIVE("{0} not written: you may not replace it or write to its folder, and the earlier "
               "playlist was kept. Check the permissions of the folder and of {0}, and try again."),
    M3U_NATIVE("{0} not written: the cloud storage that keeps this folder refused it (its sync "
               "client may not be running, or the folder may not be in sync), and the earlier "
               "playlist was kept. Check the sync client and try again."),
    M3U_NATIVE("{0} not written, and the earlier playlist could not be put back: it is in the "
               "same folder under the name {1}. Rename it to {0} to have it back."),
    M3U_NATIVE("{0} not written: writing it failed ({1}), and the earlier playlist was kept."),
    M3U_NATIVE("error {0}"),
    M3U_NATIVE("{0} not written: the system ran short of memory or file handles, and the earlier "
               "playlist ") M3U_NATIVE("was kept. Close some programs and try again."),
    M3U_NATIVE("{0} not written: the merge was cancelled, and the earlier playlist was kept."),
    M3U_NATIVE("...and {0} more."),
    M3U_NATIVE("Playlist written"),
    M3U_NATIVE("{0} playlists written"),
    M3U_NATIVE("{0} of {1} playlists written"),
    M3U_NATIVE("Nothing was written"),
    M3U_NATIVE("Folder: {0}"),
    M3U_NATIVE("Choose .wsr files"),
    M3U_NATIVE("Right-click one or more .wsr files in Explorer and choose \"Merge playlists\", or "
               "drop ") M3U_NATIVE("them on this program. The playlists in each file's folder are "
                                   "merged into one playlist ") M3U_NATIVE("named after it."),
    M3U_NATIVE("&Show in folder"),
    M3U_NATIVE("&Play"),
    M3U_NATIVE("Play &{1} {0}"),
    M3U_NATIVE("Copy &list"),
    M3U_NATIVE("Show every playlist left out"),
    M3U_NATIVE("Hide the playlists left out"),
    M3U_NATIVE("...and {0} more: Copy list puts them all on the clipboard."),
    M3U_NATIVE("No program is set to open .m3u playlists. Install a player, or choose one for "
               ".m3u files in Settings, Apps, Default apps, and try again."),
    M3U_NATIVE("{0} was written, but Windows programs cannot open it: a folder or file name in "
               "its path ends in a dot or a space or is a device name such as CON, or the path "
               "is too long for them, and this disk keeps no short names. Rename the folder, or "
               "move it nearer the top of the drive."),
    M3U_NATIVE("Merging playlists: {0} of {1} looked at, in {2}"),
    M3U_NATIVE("Cancel"),
    M3U_NATIVE("; "),
    M3U_NATIVE("."),
    M3U_NATIVE(" "),
};

constexpr Texts kJapanese = {
    M3U_NATIVE("{0} を書き出しました: {1}を結合"),
    M3U_NATIVE("、{0} 個を除外 ({1})"),
    M3U_NATIVE("{0} 個のプレイリスト"),
    M3U_NATIVE("{0} 個のプレイリスト"),
    M3U_NATIVE("{0}、{1} バイト: {2} バイト超"),
    M3U_NATIVE("{0}: 読み込めません"),
    M3U_NATIVE("ほか {0} 個"),
    M3U_NATIVE(
        "{0}: .wsr ファイルではないため、何も結合していません。.wsr ファイルを選んでください。"),
    M3U_NATIVE("{0}: フォルダーを含まない名前のため、何も結合していません。C:\\Music\\game.wsr ")
        M3U_NATIVE("のようにフル パスで渡してください。"),
    M3U_NATIVE("{0}: Windows ではフォルダーの区切りは円記号 (\\) だけのため、何も結合していませ"
               "ん。C:\\Music\\game.wsr のように円記号で区切って渡してください。"),
    M3U_NATIVE("{0}: フォルダーを開けません。フォルダーがあり、読み取れることを確かめてください。"),
    M3U_NATIVE(
        "{0} は書き出していません: フォルダーに .m3u プレイリストがありません。結合するのは名前が ")
        M3U_NATIVE(".m3u で終わるものだけです (.m3u8 は対象外)。"),
    M3U_NATIVE("{0} は書き出していません: 結合できるプレイリストがありません ({1})。"),
    M3U_NATIVE("{0} バイトを超えるプレイリストは小さく分けてください。"),
    M3U_NATIVE("プレイリストを開いているプログラムを閉じるか、読み取れることを確かめてから、もう一"
               "度お試しく") M3U_NATIVE("ださい。"),
    M3U_NATIVE("{0} は書き出していません: 既存の {0} "
               "が読み取り専用のため、そのまま残しました。プロパティで")
        M3U_NATIVE("読み取り専用を外してから、もう一度お試しください。"),
    M3U_NATIVE("{0} は書き出していません: "
               "このフォルダーに作成できません。フォルダーに書き込めること、同じ")
        M3U_NATIVE(
            "名前のフォルダーがないことを確かめてください。以前のプレイリストは変わっていません。"),
    M3U_NATIVE("{0} は書き出していません: "
               "書き込みに失敗したため、以前のプレイリストを残しました。ディスクの")
        M3U_NATIVE("空きを増やしてから、もう一度お試しください。"),
    M3U_NATIVE("ディスクが新しい名前の書き込みを確認できなかったため、すぐに電源が切れると以前の"
               "プレイリストに戻ることがあります。"),
    M3U_NATIVE("このディスクまたは Windows では暗号化できないため、以前のプレイリストと違って暗号"
               "化されていません。"),
    M3U_NATIVE("このディスクでは圧縮できないため、以前のプレイリストと違って圧縮されていません。"),
    M3U_NATIVE("{0} は書き出していません: ほかのプログラムが開いているため、以前のプレイリストを"
               "残しました。そのプログラムを閉じてから、もう一度結合してください。"),
    M3U_NATIVE("{0} は書き出していません: {1} が開いているため、以前のプレイリストを残しました。"
               "{1} を閉じてから、もう一度結合してください。"),
    M3U_NATIVE("{0} は書き出していません: {0} を置き換えるか、そのフォルダーに書き込む権限がないた"
               "め、以前のプレイリストを残しました。フォルダーと {0} のアクセス許可を確かめてから、"
               "もう一度お試しください。"),
    M3U_NATIVE("{0} は書き出していません: このフォルダーを保存しているクラウド ストレージが受け付け"
               "なかったため (同期クライアントが動いていないか、同期が済んでいない可能性がありま"
               "す)、以前のプレイリストを残しました。同期クライアントを確かめてから、もう一度お試し"
               "ください。"),
    M3U_NATIVE("{0} は書き出していません。以前のプレイリストを元に戻せませんでした: 同じフォルダー"
               "に {1} という名前で残っています。名前を {0} に戻してください。"),
    M3U_NATIVE("{0} は書き出していません: 書き込みに失敗したため ({1})、以前のプレイリストを残しま"
               "した。"),
    M3U_NATIVE("エラー {0}"),
    M3U_NATIVE("{0} は書き出していません: メモリまたはファイル "
               "ハンドルが足りないため、以前のプレイリストを")
        M3U_NATIVE("残しました。ほかのプログラムを閉じてから、もう一度お試しください。"),
    M3U_NATIVE("{0} は書き出していません: 結合を取り消したため、以前のプレイリストを残しました。"),
    M3U_NATIVE("...ほか {0} 件。"),
    M3U_NATIVE("プレイリストを書き出しました"),
    M3U_NATIVE("{0} 個のプレイリストを書き出しました"),
    M3U_NATIVE("{1} 個中 {0} 個のプレイリストを書き出しました"),
    M3U_NATIVE("何も書き出していません"),
    M3U_NATIVE("保存先: {0}"),
    M3U_NATIVE("wsr ファイル名を渡して下さい。"),
    M3U_NATIVE("エクスプローラーで .wsr ファイルを右クリックして [プレイリストを結合] ") M3U_NATIVE(
        "を選ぶか、このプログラムにドロップしてください。各ファイルのフォルダーにあるプ"
        "レイリストを、") M3U_NATIVE("そのファイルの名前のプレイリスト 1 つにまとめます。"),
    M3U_NATIVE("フォルダーで表示(&S)"),
    M3U_NATIVE("再生(&P)"),
    M3U_NATIVE("{0} を再生(&{1})"),
    M3U_NATIVE("一覧をコピー(&L)"),
    M3U_NATIVE("除外したプレイリストをすべて表示"),
    M3U_NATIVE("除外したプレイリストを隠す"),
    M3U_NATIVE("...ほか {0} 個: [一覧をコピー] ですべてをクリップボードにコピーします。"),
    M3U_NATIVE(".m3u プレイリストを開くプログラムが設定されていません。プレーヤーをインストール"
               "するか、[設定] の [アプリ] > [既定のアプリ] で .m3u ファイルを開くプログラムを選ん"
               "でから、もう一度お試しください。"),
    M3U_NATIVE("{0} は書き出しましたが、Windows のプログラムでは開けません: パスにあるフォルダー"
               "名かファイル名がピリオドか空白で終わるか、CON などのデバイス名であるか、パスが長"
               "すぎ、このディスクには短い名前がないためです。フォルダーの名前を変えるか、ドライブ"
               "のより上の階層に移してください。"),
    M3U_NATIVE("プレイリストを結合しています: {1} 個中 {0} 個 ({2})"),
    M3U_NATIVE("キャンセル"),
    M3U_NATIVE("; "),
    M3U_NATIVE("。"),
    M3U_NATIVE(""),
};

const Texts& texts(Language language) {
  return language == Language::japanese ? kJapanese : kEnglish;
}

// `text` between directional isolates: a name written right to left, or
// holding U+202E, cannot reorder the sentence around it.
NativeString isolated(NativeStringView text) {
  NativeString isolated_text = M3U_NATIVE("\u2068");
  isolated_text += text;
  isolated_text += M3U_NATIVE("\u2069");
  return isolated_text;
}

// `path` as the dialog shows it: between isolates, with a break
// opportunity (U+200B) after each separator, so that a long path wraps
// between folders, never inside a name.
NativeString shown_path(NativeStringView path) {
  NativeString breakable;
  for (const NativeChar c : path) {
    breakable += c;
    if (c == platform::kDirectorySeparator) breakable += M3U_NATIVE("\u200B");
  }
  return isolated(breakable);
}

// `pattern` with {0}, {1}, ... replaced by `values`.
NativeString fill(NativeStringView pattern, std::initializer_list<NativeStringView> values) {
  NativeString text;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const std::size_t index =
        i + 2 < pattern.size() && pattern[i] == NativeChar('{') && pattern[i + 2] == NativeChar('}')
            ? std::size_t(pattern[i + 1] - NativeChar('0'))
            : values.size();
    if (index < values.size()) {
      text += values.begin()[index];
      i += 2;
    } else {
      text += pattern[i];
    }
  }
  return text;
}

NativeString count_of_playlists(const Texts& words, std::size_t count) {
  return fill(count == 1 ? words.playlists_one : words.playlists_many, {grouped(count)});
}

// The part of a path after its last backslash.
NativeStringView file_name(NativeStringView path) {
  return path.substr(path.find_last_of(platform::kDirectorySeparator) + 1);
}

NativeStringView folder_of(NativeStringView path) {
  return path.substr(0, path.find_last_of(platform::kDirectorySeparator) + 1);
}

// The inputs left out, up to three of them by name: "huge.m3u, 40,960 bytes:
// over 32,768; and 2 more".
NativeString left_out_details(const Texts& words, const MergeReport& report) {
  constexpr std::size_t kNamed = 3;
  NativeString details;
  std::size_t left_out = 0;
  for (const InputReport& input : report.inputs) {
    if (input.result != InputResult::too_large && input.result != InputResult::unreadable) continue;
    if (++left_out > kNamed) continue;
    if (!details.empty()) details += words.separator;
    details += input.result == InputResult::too_large
                   ? fill(words.too_large, {isolated(report.name(input)), grouped(input.size),
                                            grouped(kMaxPlaylistBytes)})
                   : fill(words.unreadable, {isolated(report.name(input))});
  }
  if (left_out > kNamed) {
    details += words.separator;
    details += fill(words.more_inputs, {grouped(left_out - kNamed)});
  }
  return details;
}

std::size_t count_left_out(const MergeReport& report) {
  return static_cast<std::size_t>(
      std::count_if(report.inputs.begin(), report.inputs.end(), [](const InputReport& input) {
        return input.result == InputResult::too_large || input.result == InputResult::unreadable;
      }));
}

bool any_input(const MergeReport& report, InputResult result) {
  return std::any_of(report.inputs.begin(), report.inputs.end(),
                     [result](const InputReport& input) { return input.result == result; });
}

// `hint`, a sentence that may follow another, standing alone.
NativeStringView alone(NativeStringView hint) {
  return hint.starts_with(NativeChar(' ')) ? hint.substr(1) : hint;
}

// Every playlist of `run` left out, a line each by its whole path and why,
// then what to do about each reason. With `marked`, as the dialog shows it
// (names isolated) and after `limit` lines the rest counted; else whole,
// for the clipboard.
NativeString left_out_list(const Texts& words, const std::vector<AnchorRun>& run, std::size_t limit,
                           bool marked) {
  NativeString list;
  std::size_t listed = 0;
  bool too_large = false;
  bool unreadable = false;
  for (const AnchorRun& anchor : run) {
    const MergeReport& report = anchor.report;
    for (const InputReport& input : report.inputs) {
      const bool large = input.result == InputResult::too_large;
      if (!large && input.result != InputResult::unreadable) continue;
      too_large = too_large || large;
      unreadable = unreadable || !large;
      if (marked && ++listed > limit) continue;
      const NativeString path =
          NativeString(folder_of(report.merged_path)) + NativeString(report.name(input));
      const NativeString name = marked ? shown_path(path) : path;
      list += large ? fill(words.too_large, {name, grouped(input.size), grouped(kMaxPlaylistBytes)})
                    : fill(words.unreadable, {name});
      list += M3U_NATIVE("\n");
    }
  }
  if (marked && listed > limit) {
    list += fill(words.more_in_list, {grouped(listed - limit)});
    list += M3U_NATIVE("\n");
  }
  if (list.empty()) return list;
  NativeString hints;
  if (too_large) hints = fill(alone(words.split_large), {grouped(kMaxPlaylistBytes)});
  if (unreadable) {
    if (!hints.empty()) hints += words.next_sentence;
    hints += alone(words.free_unreadable);
  }
  return list + M3U_NATIVE("\n") + hints;
}

// Appends the sentence `sentence` to `line`, ending the one before.
void add_sentence(NativeString& line, const Texts& words, NativeStringView sentence) {
  if (!line.ends_with(words.full_stop)) line += words.full_stop;
  line += words.next_sentence;
  line += sentence;
}

NativeString written_line(const Texts& words, const MergeReport& report, NativeStringView name) {
  NativeString line = fill(words.written, {name, count_of_playlists(words, merged_count(report))});
  const std::size_t left_out = count_left_out(report);
  if (left_out > 0)
    line += fill(words.left_out, {grouped(left_out), left_out_details(words, report)});
  if (report.result == AnchorResult::written_unflushed) add_sentence(line, words, words.unflushed);
  if (report.lost_encryption) add_sentence(line, words, words.lost_encryption);
  if (report.lost_compression) add_sentence(line, words, words.lost_compression);
  return line;
}

NativeString nothing_merged_line(const Texts& words, const MergeReport& report,
                                 NativeStringView name) {
  if (report.inputs.empty()) return fill(words.no_playlist, {name});
  NativeString line = fill(words.nothing_merged, {name, left_out_details(words, report)});
  if (any_input(report, InputResult::too_large)) {
    line += fill(words.split_large, {grouped(kMaxPlaylistBytes)});
  }
  if (any_input(report, InputResult::unreadable)) line += words.free_unreadable;
  return line;
}

// What to say of an anchor without a folder: a path with forward slashes
// has one on Windows, where only the backslash separates folders.
NativeStringView no_folder_text(const Texts& words, NativeStringView anchor) {
  const bool slashed = platform::kDirectorySeparator != NativeChar('/') &&
                       anchor.find(NativeChar('/')) != NativeStringView::npos;
  return slashed ? words.slashes : words.no_folder_part;
}

// Why the merged playlist `name` could not be written, as its report says.
NativeString write_failed_line(const Texts& words, const AnchorRun& run, NativeStringView name) {
  const MergeReport& report = run.report;
  switch (report.fault) {
    case platform::WriteFault::in_use:
      return run.detail.empty() ? fill(words.in_use, {name})
                                : fill(words.in_use_by, {name, isolated(run.detail)});
    case platform::WriteFault::access_denied:
      return fill(words.access_denied, {name});
    case platform::WriteFault::cloud:
      return fill(words.cloud, {name});
    case platform::WriteFault::moved_aside:
      return fill(words.moved_aside, {name, isolated(report.moved_aside)});
    case platform::WriteFault::other:
      return fill(
          words.other_failure,
          {name, run.detail.empty() ? fill(words.system_error, {grouped(report.system_error)})
                                    : run.detail});
    case platform::WriteFault::no_resources:
      return fill(words.out_of_resources, {name});
    case platform::WriteFault::none:
    case platform::WriteFault::disk_full:
      break;
  }
  return fill(words.write_failed, {name});
}

// The line for one anchor; `name` names its merged playlist.
NativeString anchor_line(const Texts& words, const AnchorRun& run, NativeStringView name) {
  const MergeReport& report = run.report;
  switch (report.result) {
    case AnchorResult::written:
    case AnchorResult::written_unflushed:
      return written_line(words, report, name);
    case AnchorResult::not_a_wsr_path:
      return fill(words.not_a_wsr_path, {shown_path(run.anchor)});
    case AnchorResult::no_folder_part:
      return fill(no_folder_text(words, run.anchor), {shown_path(run.anchor)});
    case AnchorResult::folder_missing:
      return fill(words.folder_missing, {shown_path(run.anchor)});
    case AnchorResult::nothing_readable:
      return nothing_merged_line(words, report, name);
    case AnchorResult::read_only:
      return fill(words.read_only, {name});
    case AnchorResult::cannot_create:
      return fill(words.cannot_create, {name});
    case AnchorResult::write_failed:
      return write_failed_line(words, run, name);
    case AnchorResult::out_of_resources:
      return fill(words.out_of_resources, {name});
    case AnchorResult::cancelled:
      return fill(words.cancelled, {name.empty() ? shown_path(run.anchor) : NativeString(name)});
  }
  return {};
}

// How much a line needs the user's attention: 0 for a playlist written
// whole, 1 for one written with inputs left out, 2 for one not written.
int attention(const MergeReport& report) {
  if (!was_written(report.result)) return 2;
  return count_left_out(report) > 0 || report.result == AnchorResult::written_unflushed ? 1 : 0;
}

// The one folder every anchor's playlist is in, or nothing when they differ.
NativeStringView shared_folder(const std::vector<AnchorRun>& run) {
  NativeStringView folder;
  for (const AnchorRun& anchor : run) {
    const NativeStringView own = folder_of(anchor.report.merged_path);
    if (own.empty()) continue;  // refused before it was named
    if (!folder.empty() && own != folder) return {};
    folder = own;
  }
  return folder;
}

NativeString instruction(const Texts& words, std::size_t written, std::size_t total) {
  if (written == 0) return NativeString(words.none_written);
  if (written < total) return fill(words.some_written, {grouped(written), grouped(total)});
  return written == 1 ? NativeString(words.all_written_one)
                      : fill(words.all_written_many, {grouped(written)});
}

}  // namespace

NativeString grouped(std::uint64_t value) {
  const std::string decimal = std::to_string(value);
  NativeString digits(decimal.begin(), decimal.end());
  for (std::size_t i = digits.size(); i > 3; i -= 3) digits.insert(i - 3, 1, NativeChar(','));
  return digits;
}

Summary summarize(const std::vector<AnchorRun>& run, Language language) {
  const Texts& words = texts(language);
  Summary summary;
  const NativeStringView folder = shared_folder(run);
  std::vector<std::size_t> order(run.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return attention(run[a].report) > attention(run[b].report);
  });
  // Only .wsr files count as playlists asked for; others are named, as not merged.
  std::size_t written = 0;
  std::size_t asked = 0;
  for (const AnchorRun& anchor : run) {
    written += was_written(anchor.report.result) ? 1 : 0;
    asked += anchor.report.result != AnchorResult::not_a_wsr_path ? 1 : 0;
    summary.left_out = summary.left_out || attention(anchor.report) == 1;
  }
  for (std::size_t shown = 0; shown < order.size() && shown < kLinesShown; ++shown) {
    const AnchorRun& anchor = run[order[shown]];
    const NativeStringView path = anchor.report.merged_path;
    if (!summary.content.empty()) summary.content += M3U_NATIVE("\n\n");
    // Refused before it was named: the anchor names it.
    const NativeString name = path.empty()     ? NativeString()
                              : folder.empty() ? shown_path(path)
                                               : isolated(file_name(path));
    summary.content += anchor_line(words, anchor, name);
  }
  if (order.size() > kLinesShown) {
    summary.content += M3U_NATIVE("\n\n");
    summary.content += fill(words.more_anchors, {grouped(order.size() - kLinesShown)});
  }
  summary.outcome = written == 0      ? Outcome::none_written
                    : written < asked ? Outcome::some_written
                                      : Outcome::all_written;
  summary.instruction = instruction(words, written, asked);
  if (written > 0 && !folder.empty()) summary.footer = fill(words.folder, {shown_path(folder)});
  summary.left_out_shown = left_out_list(words, run, kListShown, true);
  summary.left_out_copied = left_out_list(words, run, 0, false);
  return summary;
}

NativeString request_instruction(Language language) {
  return NativeString(texts(language).request_instruction);
}

NativeString request_content(Language language) {
  return NativeString(texts(language).request_content);
}

NativeString show_in_folder_label(Language language) {
  return NativeString(texts(language).show_in_folder);
}

NativeString play_label(Language language) { return NativeString(texts(language).play); }

NativeString play_label(Language language, NativeStringView name, unsigned key) {
  // An ampersand in the name is its own, not an access key.
  NativeString escaped;
  for (const NativeChar c : name) {
    escaped += c;
    if (c == NativeChar('&')) escaped += c;
  }
  const NativeString digit(1, NativeChar('0' + key % 10));
  return fill(texts(language).play_named, {isolated(escaped), digit});
}

NativeString copy_list_label(Language language) { return NativeString(texts(language).copy_list); }

NativeString show_list_label(Language language) { return NativeString(texts(language).show_list); }

NativeString hide_list_label(Language language) { return NativeString(texts(language).hide_list); }

NativeString no_player_hint(Language language) { return NativeString(texts(language).no_player); }

NativeString unreachable_hint(Language language, NativeStringView path) {
  return fill(texts(language).unreachable, {shown_path(path)});
}

NativeString progress_text(Language language, std::size_t looked_at, std::size_t listed,
                           NativeStringView folder) {
  return fill(texts(language).progress, {grouped(looked_at), grouped(listed), isolated(folder)});
}

NativeString cancel_label(Language language) { return NativeString(texts(language).cancel); }

}  // namespace m3umerge::gui
