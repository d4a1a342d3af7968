// The anchor: a path to a ".wsr" file, which names the folder to merge and
// the merged playlist, and is never opened itself.
#pragma once

#include <optional>

#include "platform/platform.h"
#include "playlist/merge.h"

namespace m3umerge {

// Where the pieces of one anchor path lead.
struct MergeTarget {
  NativeString directory;    // the anchor up to and including its last separator
  NativeString merged_name;  // the anchor's base name + ".m3u"
};

// Opens the anchor's folder into `directory` and names the merged playlist
// in `target`; returns why the anchor is refused, or nothing. An anchor is
// refused when its name does not end in ".wsr" (in any letter case), when
// it has no separator, or when its folder cannot be opened. An anchor
// spelled by an alias (an 8.3 name) names the merged playlist after the
// file's own name, and is refused when that is no ".wsr" name.
std::optional<AnchorResult> open_target(NativeStringView anchor, MergeTarget& target,
                                        platform::Directory& directory);

}  // namespace m3umerge
