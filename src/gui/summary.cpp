#include "gui/summary.h"

#include <algorithm>
#include <initializer_list>
#include <string_view>

namespace m3umerge::gui {
namespace {

// The words of the dialog in one language. In each text, {0}, {1}, ... stand
// for the values given with it, in order.
struct Texts {
  std::wstring_view written;         // {0} merged playlist, {1} how many merged
  std::wstring_view left_out;        // {0} how many, {1} the details
  std::wstring_view playlists_one;   // {0} = 1
  std::wstring_view playlists_many;  // {0} > 1
  std::wstring_view too_large;       // {0} name, {1} size, {2} the limit
  std::wstring_view unreadable;      // {0} name
  std::wstring_view more_inputs;     // {0} how many more
  std::wstring_view not_a_wsr_path;  // {0} anchor
  std::wstring_view no_folder_part;  // {0} anchor
  std::wstring_view folder_missing;  // {0} anchor
  std::wstring_view no_playlist;     // {0} merged playlist
  std::wstring_view nothing_merged;  // {0} merged playlist, {1} the details
  std::wstring_view split_large;     // {0} the limit
  std::wstring_view free_unreadable;
  std::wstring_view read_only;         // {0} merged playlist
  std::wstring_view cannot_create;     // {0} merged playlist
  std::wstring_view write_failed;      // {0} merged playlist
  std::wstring_view out_of_resources;  // {0} merged playlist
  std::wstring_view more_anchors;      // {0} how many more
  std::wstring_view all_written_one;
  std::wstring_view all_written_many;  // {0} how many
  std::wstring_view some_written;      // {0} written, {1} of how many
  std::wstring_view none_written;
  std::wstring_view folder;  // {0} folder
  std::wstring_view request_instruction;
  std::wstring_view request_content;
  std::wstring_view show_in_folder;
  std::wstring_view play;
  std::wstring_view separator;  // between details
};

constexpr Texts kEnglish = {
    L"{0} written: {1} merged",
    L", {0} left out ({1})",
    L"{0} playlist",
    L"{0} playlists",
    L"{0}, {1} bytes: over {2}",
    L"{0}: cannot be read",
    L"and {0} more",
    L"{0}: not a .wsr file, so nothing was merged. Choose .wsr files.",
    L"{0}: the name has no folder, so nothing was merged. Pass the full path, such as "
    L"C:\\Music\\game.wsr.",
    L"{0}: its folder cannot be opened. Check that the folder exists and that you may read it.",
    L"{0} not written: the folder holds no .m3u playlist. Only names ending in .m3u are merged "
    L"(not .m3u8).",
    L"{0} not written: no playlist could be merged ({1}).",
    L" Split playlists over {0} bytes into smaller ones.",
    L" Close the program that holds a playlist open, or check that you may read it, and try "
    L"again.",
    L"{0} not written: the existing {0} is read-only and was kept as it is. Clear Read-only in "
    L"its Properties and try again.",
    L"{0} not written: it cannot be created in this folder. Check that you may write to the "
    L"folder and that no folder has this name; any earlier playlist is unchanged.",
    L"{0} not written: writing it failed, and the earlier playlist was kept. Free some disk "
    L"space and try again.",
    L"{0} not written: the system ran short of memory or file handles, and the earlier playlist "
    L"was kept. Close some programs and try again.",
    L"...and {0} more.",
    L"Playlist written",
    L"{0} playlists written",
    L"{0} of {1} playlists written",
    L"Nothing was written",
    L"Folder: {0}",
    L"Choose .wsr files",
    L"Right-click one or more .wsr files in Explorer and choose \"Merge playlists\", or drop "
    L"them on this program. The playlists in each file's folder are merged into one playlist "
    L"named after it.",
    L"Show in folder",
    L"Play",
    L"; ",
};

constexpr Texts kJapanese = {
    L"{0} を書き出しました: {1}を結合",
    L"、{0} 個を除外 ({1})",
    L"{0} 個のプレイリスト",
    L"{0} 個のプレイリスト",
    L"{0}、{1} バイト: {2} バイト超",
    L"{0}: 読み込めません",
    L"ほか {0} 個",
    L"{0}: .wsr ファイルではないため、何も結合していません。.wsr ファイルを選んでください。",
    L"{0}: フォルダーを含まない名前のため、何も結合していません。C:\\Music\\game.wsr "
    L"のようにフル パスで渡してください。",
    L"{0}: フォルダーを開けません。フォルダーがあり、読み取れることを確かめてください。",
    L"{0} は書き出していません: フォルダーに .m3u プレイリストがありません。結合するのは名前が "
    L".m3u で終わるものだけです (.m3u8 は対象外)。",
    L"{0} は書き出していません: 結合できるプレイリストがありません ({1})。",
    L"{0} バイトを超えるプレイリストは小さく分けてください。",
    L"プレイリストを開いているプログラムを閉じるか、読み取れることを確かめてから、もう一度お試しく"
    L"ださい。",
    L"{0} は書き出していません: 既存の {0} が読み取り専用のため、そのまま残しました。プロパティで"
    L"読み取り専用を外してから、もう一度お試しください。",
    L"{0} は書き出していません: このフォルダーに作成できません。フォルダーに書き込めること、同じ"
    L"名前のフォルダーがないことを確かめてください。以前のプレイリストは変わっていません。",
    L"{0} は書き出していません: 書き込みに失敗したため、以前のプレイリストを残しました。ディスクの"
    L"空きを増やしてから、もう一度お試しください。",
    L"{0} は書き出していません: メモリまたはファイル ハンドルが足りないため、以前のプレイリストを"
    L"残しました。ほかのプログラムを閉じてから、もう一度お試しください。",
    L"...ほか {0} 件。",
    L"プレイリストを書き出しました",
    L"{0} 個のプレイリストを書き出しました",
    L"{1} 個中 {0} 個のプレイリストを書き出しました",
    L"何も書き出していません",
    L"保存先: {0}",
    L"wsr ファイル名を渡して下さい。",
    L"エクスプローラーで .wsr ファイルを右クリックして [Merge playlists] "
    L"を選ぶか、このプログラムにドロップしてください。各ファイルのフォルダーにあるプレイリストを、"
    L"そのファイルの名前のプレイリスト 1 つにまとめます。",
    L"フォルダーで表示",
    L"再生",
    L"; ",
};

const Texts& texts(Language language) {
  return language == Language::japanese ? kJapanese : kEnglish;
}

// `pattern` with {0}, {1}, ... replaced by `values`.
std::wstring fill(std::wstring_view pattern, std::initializer_list<std::wstring_view> values) {
  std::wstring text;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const std::size_t index = i + 2 < pattern.size() && pattern[i] == L'{' && pattern[i + 2] == L'}'
                                  ? std::size_t(pattern[i + 1] - L'0')
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

std::wstring count_of_playlists(const Texts& words, std::size_t count) {
  return fill(count == 1 ? words.playlists_one : words.playlists_many, {grouped(count)});
}

// The part of a path after its last backslash.
std::wstring_view file_name(std::wstring_view path) {
  return path.substr(path.find_last_of(L'\\') + 1);
}

std::wstring_view folder_of(std::wstring_view path) {
  return path.substr(0, path.find_last_of(L'\\') + 1);
}

// The inputs left out, up to three of them by name: "huge.m3u, 40,960 bytes:
// over 32,768; and 2 more".
std::wstring left_out_details(const Texts& words, const MergeReport& report) {
  constexpr std::size_t kNamed = 3;
  std::wstring details;
  std::size_t left_out = 0;
  for (const InputReport& input : report.inputs) {
    if (input.result != InputResult::too_large && input.result != InputResult::unreadable) continue;
    if (++left_out > kNamed) continue;
    if (!details.empty()) details += words.separator;
    details +=
        input.result == InputResult::too_large
            ? fill(words.too_large, {input.name, grouped(input.size), grouped(kMaxPlaylistBytes)})
            : fill(words.unreadable, {input.name});
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

std::wstring written_line(const Texts& words, const MergeReport& report, std::wstring_view name) {
  std::wstring line = fill(words.written, {name, count_of_playlists(words, merged_count(report))});
  const std::size_t left_out = count_left_out(report);
  if (left_out > 0)
    line += fill(words.left_out, {grouped(left_out), left_out_details(words, report)});
  return line;
}

std::wstring nothing_merged_line(const Texts& words, const MergeReport& report,
                                 std::wstring_view name) {
  if (report.inputs.empty()) return fill(words.no_playlist, {name});
  std::wstring line = fill(words.nothing_merged, {name, left_out_details(words, report)});
  if (any_input(report, InputResult::too_large)) {
    line += fill(words.split_large, {grouped(kMaxPlaylistBytes)});
  }
  if (any_input(report, InputResult::unreadable)) line += words.free_unreadable;
  return line;
}

// The line for one anchor; `name` names its merged playlist.
std::wstring anchor_line(const Texts& words, const AnchorRun& run, std::wstring_view name) {
  const MergeReport& report = run.report;
  switch (report.result) {
    case AnchorResult::written:
      return written_line(words, report, name);
    case AnchorResult::not_a_wsr_path:
      return fill(words.not_a_wsr_path, {run.anchor});
    case AnchorResult::no_folder_part:
      return fill(words.no_folder_part, {run.anchor});
    case AnchorResult::folder_missing:
      return fill(words.folder_missing, {run.anchor});
    case AnchorResult::nothing_readable:
      return nothing_merged_line(words, report, name);
    case AnchorResult::read_only:
      return fill(words.read_only, {name});
    case AnchorResult::cannot_create:
      return fill(words.cannot_create, {name});
    case AnchorResult::write_failed:
      return fill(words.write_failed, {name});
    case AnchorResult::out_of_resources:
      return fill(words.out_of_resources, {name});
  }
  return {};
}

// How much a line needs the user's attention: 0 for a playlist written
// whole, 1 for one written with inputs left out, 2 for one not written.
int attention(const MergeReport& report) {
  if (report.result != AnchorResult::written) return 2;
  return count_left_out(report) > 0 ? 1 : 0;
}

// The one folder every anchor's playlist is in, or nothing when they differ.
std::wstring_view shared_folder(const std::vector<AnchorRun>& run) {
  std::wstring_view folder;
  for (const AnchorRun& anchor : run) {
    const std::wstring_view own = folder_of(anchor.report.merged_path);
    if (own.empty()) continue;  // refused before it was named
    if (!folder.empty() && own != folder) return {};
    folder = own;
  }
  return folder;
}

std::wstring instruction(const Texts& words, std::size_t written, std::size_t total) {
  if (written == 0) return std::wstring(words.none_written);
  if (written < total) return fill(words.some_written, {grouped(written), grouped(total)});
  return written == 1 ? std::wstring(words.all_written_one)
                      : fill(words.all_written_many, {grouped(written)});
}

}  // namespace

std::wstring grouped(std::uint64_t value) {
  std::wstring digits = std::to_wstring(value);
  for (std::size_t i = digits.size(); i > 3; i -= 3) digits.insert(i - 3, 1, L',');
  return digits;
}

Summary summarize(const std::vector<AnchorRun>& run, Language language) {
  const Texts& words = texts(language);
  Summary summary;
  const std::wstring_view folder = shared_folder(run);
  std::vector<std::size_t> order(run.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return attention(run[a].report) > attention(run[b].report);
  });
  std::size_t written = 0;
  for (const AnchorRun& anchor : run) {
    written += anchor.report.result == AnchorResult::written ? 1 : 0;
    summary.left_out = summary.left_out || attention(anchor.report) == 1;
  }
  for (std::size_t shown = 0; shown < order.size() && shown < kLinesShown; ++shown) {
    const AnchorRun& anchor = run[order[shown]];
    const std::wstring_view path = anchor.report.merged_path;
    if (!summary.content.empty()) summary.content += L'\n';
    summary.content += anchor_line(words, anchor, folder.empty() ? path : file_name(path));
  }
  if (order.size() > kLinesShown) {
    summary.content += L'\n';
    summary.content += fill(words.more_anchors, {grouped(order.size() - kLinesShown)});
  }
  summary.outcome = written == 0           ? Outcome::none_written
                    : written < run.size() ? Outcome::some_written
                                           : Outcome::all_written;
  summary.instruction = instruction(words, written, run.size());
  if (written > 0 && !folder.empty()) summary.footer = fill(words.folder, {folder});
  return summary;
}

std::wstring request_instruction(Language language) {
  return std::wstring(texts(language).request_instruction);
}

std::wstring request_content(Language language) {
  return std::wstring(texts(language).request_content);
}

std::wstring show_in_folder_label(Language language) {
  return std::wstring(texts(language).show_in_folder);
}

std::wstring play_label(Language language) { return std::wstring(texts(language).play); }

}  // namespace m3umerge::gui
