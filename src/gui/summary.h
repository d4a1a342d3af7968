// What the windowed front end tells the user about a run: a headline and one
// line per anchor saying what was written and what was left out, or why
// nothing was written and what to do about it, in English or Japanese.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "playlist/merge.h"

namespace m3umerge::gui {

enum class Language { english, japanese };

// One anchor of a run and what its merge did.
struct AnchorRun {
  NativeString anchor;
  MergeReport report;
  // What the front end learnt of a failed write beyond the report: the
  // program that holds the playlist (WriteFault::in_use), or the system's
  // message (WriteFault::other); empty when it could not tell.
  NativeString detail;
};

enum class Outcome { all_written, some_written, none_written };

struct Summary {
  Outcome outcome = Outcome::none_written;
  bool left_out = false;     // a written playlist left an input out, or may not survive a power cut
  NativeString instruction;  // the headline
  NativeString content;      // one line per anchor, those that need attention first
  NativeString footer;       // the folder of the results, when they share one
  // Every playlist left out, by its whole path and why, a line each, then
  // what to do: up to kListShown of them as the dialog shows them, and all
  // of them as plain text for the clipboard. Empty when none was left out.
  NativeString left_out_shown;
  NativeString left_out_copied;
};

// At most this many anchors get a line of their own; a last line counts the rest.
inline constexpr std::size_t kLinesShown = 12;
// At most this many playlists left out are listed in the dialog.
inline constexpr std::size_t kListShown = 20;

// Sums up `run` in `language`.
Summary summarize(const std::vector<AnchorRun>& run, Language language);

// The headline and text shown when the program is started without anchors.
NativeString request_instruction(Language language);
NativeString request_content(Language language);

// The labels of the dialog's own buttons.
NativeString show_in_folder_label(Language language);
NativeString play_label(Language language);
// The label of a button that plays the playlist `name`, one of several,
// with the digit `key` as its access key.
NativeString play_label(Language language, NativeStringView name, unsigned key);
// The label of the button that copies Summary::left_out_copied, and of the
// control that shows and hides Summary::left_out_shown.
NativeString copy_list_label(Language language);
NativeString show_list_label(Language language);
NativeString hide_list_label(Language language);
// What to do where no program opens playlists.
NativeString no_player_hint(Language language);
// What to do about the playlist written at `path`, which no program can
// open: the shell cannot name it.
NativeString unreachable_hint(Language language, NativeStringView path);

// What the window shown during a long merge says: how many of the names
// listed in `folder` were looked at.
NativeString progress_text(Language language, std::size_t looked_at, std::size_t listed,
                           NativeStringView folder);
NativeString cancel_label(Language language);

// `value` in decimal with a comma between groups of three digits: 40,960.
NativeString grouped(std::uint64_t value);

}  // namespace m3umerge::gui
