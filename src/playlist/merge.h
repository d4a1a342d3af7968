// The merge job: one anchor path in, one merged playlist out.
#pragma once

#include <cstddef>

#include "platform/platform.h"

namespace m3umerge {

// A playlist larger than this is left out of the merge.
inline constexpr std::size_t kMaxPlaylistBytes = 32768;

// Merges the ".m3u" playlists beside the anchor, a path to a ".wsr" file
// (which is never opened), into the playlist named after it: same folder,
// same base name, extension ".m3u". The merged playlist is the UTF-8
// signature followed, for each merged playlist, by its text as UTF-8 and
// CR LF. The merged playlist itself is never an input: not by its name (in
// any letter case), not through a symbolic link that leads to it, and not
// as another name for the file that stood there when the merge began.
//
// Each candidate's name is printed before it is read. A candidate that
// cannot be read whole or holds more than kMaxPlaylistBytes is skipped.
//
// Returns true when a merged playlist was written completely. Returns false
// when the anchor is not a ".wsr" path with a directory part, when nothing
// could be merged, when memory or file descriptors ran out, or when the
// merged playlist could not be written or flushed; it then stays byte for
// byte as it was and no temporary file remains. When it cannot be created
// at all, the first readable candidate is the last one looked at; after a
// failed write, or a candidate that could not be opened for want of
// descriptors, the remaining candidates are still listed but no longer read.
bool merge_playlists(NativeStringView anchor);

}  // namespace m3umerge
