// The merge job: one anchor path in, one merged playlist out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/platform.h"
#include "playlist/candidates.h"

namespace m3umerge {

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
// Returns true when a merged playlist was written completely (also when its
// folder could not be flushed after it was put in place). Returns false
// when the anchor is not a ".wsr" path with a directory part, when nothing
// could be merged, when memory or file descriptors ran out, or when the
// merged playlist could not be written or flushed; it then stays byte for
// byte as it was and no temporary file remains. When it cannot be created
// at all, the first readable candidate is the last one looked at; after a
// failed write, or a candidate that could not be opened for want of
// descriptors, the remaining candidates are still listed but no longer read.
bool merge_playlists(NativeStringView anchor);

// What became of one playlist the merge listed.
enum class InputResult {
  converted,   // merged, its Windows-1252 text converted to UTF-8
  copied,      // merged, its UTF-8 text (after the signature) copied as it stands
  too_large,   // left out: it holds more than kMaxPlaylistBytes
  unreadable,  // left out: it could not be opened or read whole
  not_merged,  // listed, but the merge had stopped before it could be merged
};

// What became of the merged playlist of one anchor.
enum class AnchorResult {
  written,            // written completely
  written_unflushed,  // written completely and in place, but its folder could not
                      // be flushed: a power cut may still bring the earlier one back
  not_a_wsr_path,     // refused: the anchor's name does not end in ".wsr"
  no_folder_part,     // refused: the anchor has no folder part
  folder_missing,     // refused: the folder cannot be opened or listed
  nothing_readable,   // no playlist could be merged; nothing was written
  read_only,          // an earlier merged playlist is read-only; it is kept
  cannot_create,      // the merged playlist cannot be created in the folder
  write_failed,       // a write, the flush or the replace failed (`fault` says why);
                      // the earlier playlist is kept unless `fault` is moved_aside
  out_of_resources,   // memory or file handles ran out; the earlier playlist is kept
  cancelled,          // the caller stopped it (`progress`); the earlier playlist is kept
};

struct InputReport {
  std::uint32_t listed = 0;  // where its name stands in the report's `listing`
  InputResult result = InputResult::not_merged;
  std::uint64_t size = 0;  // in bytes; known when merged or too large, else 0
  bool operator==(const InputReport&) const = default;
};

// What one merge did, in the order it did it. Inputs marked converted or
// copied went into a merged playlist that is kept only when `result` says
// it was written (was_written).
struct MergeReport {
  AnchorResult result = AnchorResult::not_a_wsr_path;
  // The merged playlist: the anchor's folder as given and the playlist's
  // name; empty when the anchor was refused before it was named.
  NativeString merged_path;
  std::uint64_t merged_size = 0;  // in bytes, when written
  // When the merged playlist could not be created, written or put in
  // place: why, as the system said, and with WriteFault::moved_aside the
  // name the earlier playlist has now.
  platform::WriteFault fault = platform::WriteFault::none;
  unsigned system_error = 0;
  NativeString moved_aside;
  // When written: the earlier playlist was encrypted, or compressed, and
  // the new one could not be (Windows, where the volume or system has not).
  bool lost_encryption = false;
  bool lost_compression = false;
  // The names the folder listed, the merged playlist's among them, in
  // listing order, stored once for a folder of any size.
  platform::NameList listing;
  std::vector<InputReport> inputs;  // every playlist listed, in listing order

  // The name of `input`, as listed, without the folder.
  NativeStringView name(const InputReport& input) const { return listing[input.listed]; }
};

// Told, after each playlist listed, how many of the names of the folder's
// listing have been looked at so far and how many it holds; returns false
// to stop the merge, which then ends as cancelled.
using Progress = std::function<bool(std::size_t looked_at, std::size_t listed)>;

// Does exactly what merge_playlists(anchor) does, listing included, and
// fills `report` with what came of it, telling `progress`, when it is
// given, how far it is. Returns true when it was written.
bool merge_playlists(NativeStringView anchor, MergeReport& report, const Progress& progress = {});

// Whether `result` says that a merged playlist was written.
constexpr bool was_written(AnchorResult result) {
  return result == AnchorResult::written || result == AnchorResult::written_unflushed;
}

// How many of `report`'s inputs were merged.
std::size_t merged_count(const MergeReport& report);

}  // namespace m3umerge
