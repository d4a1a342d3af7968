// Brings the anchors of instances started together into one run: Explorer
// starts the program once for each selected file.
#pragma once

#include <string>
#include <vector>

namespace m3umerge::gui {

// How long the gathering instance waits for one more anchor.
inline constexpr unsigned kQuietMilliseconds = 500;

enum class Gathered {
  handed_over,  // another instance of this session took `anchors`; nothing is left to do
  gathered,     // this instance gathered; `anchors` holds its own, then those it was sent
  alone,        // neither was possible; `anchors` holds this instance's own
};

// Hands `anchors` to the instance of this program that gathers anchors in
// this session, if there is one and it still gathers. Otherwise this instance
// gathers: it takes the anchors that others hand over, in the order they
// arrive, appending them to `anchors`, until none arrived for
// kQuietMilliseconds; then it stops taking any, and a later instance gathers
// anew for a run of its own.
Gathered hand_over_or_gather(std::vector<std::wstring>& anchors);

}  // namespace m3umerge::gui
