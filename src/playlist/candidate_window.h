// The candidates of one listing, opened a few ahead of the one being merged.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/platform.h"

namespace m3umerge {

// Opens the candidates of a listing in order, keeping the next few open with
// their reading started, so that the disk works while earlier ones are
// converted. As many are kept open as the free descriptors allow, with a
// few kept free; when the system runs short all the same, fewer, and none
// ahead when the candidate whose turn it is needs the room.
class CandidateWindow {
 public:
  // Reads ahead in `names`, listed from `directory`, up to `wanted`
  // candidates; the names whose entry in `excluded` is true are never
  // opened. All must outlive this.
  CandidateWindow(const platform::Directory& directory, const platform::NameList& names,
                  const std::vector<bool>& excluded, std::size_t wanted);

  // Opens names[index]; indices come in increasing order, and the candidates
  // before `index` are no longer used. On OpenResult::opened, `file` is the
  // open candidate, valid until the next call. OpenResult::no_resources
  // means that it could not be opened even with nothing else open ahead.
  platform::OpenResult open(std::size_t index, platform::InputFile*& file);

 private:
  struct Slot {
    platform::InputFile file;
    platform::OpenResult result = platform::OpenResult::failed;
  };

  Slot& slot(std::size_t index) { return slots_[index % slots_.size()]; }
  void open_ahead(std::size_t index);
  void close_from(std::size_t index);

  const platform::Directory& directory_;
  const platform::NameList& names_;
  const std::vector<bool>& excluded_;
  std::vector<Slot> slots_;
  std::size_t ahead_;     // how many are kept open, the one being merged included
  std::size_t next_ = 0;  // the first index not opened yet
  std::size_t last_ = 0;  // the index asked for before
};

}  // namespace m3umerge
