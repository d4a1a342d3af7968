#include "playlist/anchor.h"

#include <cassert>

#include "platform/ascii_case.h"
#include "playlist/candidates.h"

namespace m3umerge {
namespace {

constexpr NativeStringView kAnchorExtension = M3U_NATIVE(".wsr");

// Splits `anchor` into `target`; returns why it is refused, or nothing.
std::optional<AnchorResult> parse_anchor(NativeStringView anchor, MergeTarget& target) {
  const std::size_t dot = anchor.rfind(NativeChar('.'));
  if (dot == NativeStringView::npos ||
      !equals_ignoring_ascii_case(anchor.substr(dot), kAnchorExtension)) {
    return AnchorResult::not_a_wsr_path;
  }
  const std::size_t separator = anchor.rfind(platform::kDirectorySeparator);
  if (separator == NativeStringView::npos) return AnchorResult::no_folder_part;
  assert(separator < dot);  // the extension holds no separator
  target.directory = anchor.substr(0, separator + 1);
  target.merged_name = anchor.substr(separator + 1, dot - separator - 1);
  target.merged_name += kPlaylistExtension;
  return std::nullopt;
}

}  // namespace

std::optional<AnchorResult> open_target(NativeStringView anchor, MergeTarget& target,
                                        platform::Directory& directory) {
  if (const auto refused = parse_anchor(anchor, target)) return refused;
  NativeString anchor_name;
  if (!directory.open(target.directory) ||
      !directory.stored_name(anchor.substr(target.directory.size()), anchor_name)) {
    return AnchorResult::folder_missing;
  }
  return parse_anchor(target.directory + anchor_name, target);
}

}  // namespace m3umerge
