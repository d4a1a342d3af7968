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
  std::wstring anchor;
  MergeReport report;
};

enum class Outcome { all_written, some_written, none_written };

struct Summary {
  Outcome outcome = Outcome::none_written;
  bool left_out = false;     // some written playlist left an input out
  std::wstring instruction;  // the headline
  std::wstring content;      // one line per anchor, those that need attention first
  std::wstring footer;       // the folder of the results, when they share one
};

// At most this many anchors get a line of their own; a last line counts the rest.
inline constexpr std::size_t kLinesShown = 12;

// Sums up `run` in `language`.
Summary summarize(const std::vector<AnchorRun>& run, Language language);

// The headline and text shown when the program is started without anchors.
std::wstring request_instruction(Language language);
std::wstring request_content(Language language);

// The labels of the dialog's own buttons.
std::wstring show_in_folder_label(Language language);
std::wstring play_label(Language language);

// `value` in decimal with a comma between groups of three digits: 40,960.
std::wstring grouped(std::uint64_t value);

}  // namespace m3umerge::gui
