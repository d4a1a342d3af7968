// The inputs of one merge: the playlists of a folder, in the order they are
// merged, read one after the other with the next few opened ahead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/platform.h"

namespace m3umerge {

// A playlist larger than this is left out of the merge.
inline constexpr std::size_t kMaxPlaylistBytes = 32768;

// What the name of every playlist ends in, in any letter case.
inline constexpr NativeStringView kPlaylistExtension = M3U_NATIVE(".m3u");

// What came of reading one candidate.
enum class CandidateRead {
  content,       // read whole: `content` holds its bytes
  too_large,     // it holds more than kMaxPlaylistBytes: `size` says how many
  unreadable,    // it cannot be opened, or not read whole
  no_resources,  // it cannot be opened for want of descriptors or memory, with
                 // nothing else open, or read for want of memory; reading
                 // stops after it
  not_read,      // listed only: reading had stopped
};

struct Candidate {
  std::uint32_t listed = 0;  // its place in the listing
  NativeStringView name;     // as listed, without the folder
  CandidateRead read = CandidateRead::not_read;
  std::uint64_t size = 0;                  // when content or too_large
  std::span<const unsigned char> content;  // when content
};

// The candidates of one folder: every entry whose name ends in ".m3u" (ASCII
// letters in any case) and that is, or may be, a regular file, in name
// order, except the merged playlist. The merged playlist is never a
// candidate: not by its name in any letter case, not as a link whose text
// leads to that name (whether or not anything stands there), and not as
// another name for the file that stood at that name when the folder was
// listed. That rule is decided in is_merged_playlist alone, from the same
// facts whether a candidate is read or only listed.
//
// The next few candidates are kept open, their reading started, while one is
// merged: as many as the free descriptors allow. When the system runs short
// all the same, fewer, and none ahead when the candidate whose turn it is
// needs the room.
class Candidates {
 public:
  // `directory` and `names` must outlive this; `merged_name` names the
  // merged playlist. The folder is listed into `names`.
  Candidates(const platform::Directory& directory, NativeStringView merged_name,
             platform::NameList& names);
  Candidates(const Candidates&) = delete;
  Candidates& operator=(const Candidates&) = delete;

  // Lists the folder; false when it cannot be read to its end.
  bool list();

  // The next candidate, or nullptr after the last; what it refers to is
  // valid until the next call.
  const Candidate* next();

  // From now on the candidates are listed, not read, and none is open.
  void stop_reading();

 private:
  struct Slot {
    platform::InputFile file;
    platform::IoResult result = platform::IoResult::failed;
    bool merged = false;  // the merged playlist: never yielded
  };

  bool is_merged_playlist(std::size_t index, const platform::InputFile* opened) const;
  bool read(std::size_t index);
  bool list_unread(std::size_t index);
  Slot& open_through(std::size_t index);
  platform::IoResult open(std::size_t index);
  void close_from(std::size_t index);
  Slot& slot(std::size_t index) { return slots_[index % slots_.size()]; }

  const platform::Directory& directory_;
  const NativeString merged_name_;
  std::optional<platform::FileIdentity> merged_identity_;
  platform::NameList& names_;
  std::vector<Slot> slots_;
  std::size_t ahead_ = 1;   // how many are kept open, the one being read included
  std::size_t next_ = 0;    // the index of the next candidate to yield
  std::size_t opened_ = 0;  // the first index not opened yet
  bool reading_ = true;
  Candidate candidate_;
  std::vector<unsigned char> content_;
};

}  // namespace m3umerge
