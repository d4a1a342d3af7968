#include "playlist/candidate_window.h"

#include <algorithm>
#include <cassert>

#include "playlist/merge.h"

namespace m3umerge {

using platform::OpenResult;

CandidateWindow::CandidateWindow(const platform::Directory& directory,
                                 const platform::NameList& names, const std::vector<bool>& excluded,
                                 std::size_t wanted)
    : directory_(directory),
      names_(names),
      excluded_(excluded),
      slots_(
          platform::files_open_at_once(std::min(wanted, std::max<std::size_t>(names.size(), 1)))),
      ahead_(slots_.size()) {}

OpenResult CandidateWindow::open(std::size_t index, platform::InputFile*& file) {
  // What came before is done with: a candidate skipped or not read whole is
  // still open.
  for (std::size_t done = last_; done < std::min(index, next_); ++done) slot(done).file.close();
  last_ = index;
  next_ = std::max(next_, index);
  open_ahead(index);
  assert(next_ > index);  // open_ahead tried `index` itself at least
  Slot& current = slot(index);
  if (current.result == OpenResult::no_resources) {
    // Short of resources: everything ahead gives way to this one.
    close_from(index);
    ahead_ = 1;
    current.result = current.file.open(directory_, names_[index]);
    next_ = index + 1;
  }
  file = &current.file;
  return current.result;
}

// Opens the candidates from next_ up to `ahead_` past `index`, and starts
// their reading.
void CandidateWindow::open_ahead(std::size_t index) {
  const std::size_t end = std::min(names_.size(), index + ahead_);
  for (; next_ < end; ++next_) {
    Slot& ahead = slot(next_);
    const NativeStringView name = names_[next_];
    if (excluded_[next_]) {
      ahead.file.close();
      ahead.result = OpenResult::failed;
      continue;
    }
    ahead.result = ahead.file.open(directory_, name);
    if (ahead.result == OpenResult::opened) {
      ahead.file.read_ahead(kMaxPlaylistBytes);
    } else if (ahead.result == OpenResult::no_resources && next_ > index) {
      // The system runs short: keep half of what is open ahead, so that the
      // merged playlist and the candidates to come find descriptors.
      ahead_ = std::max<std::size_t>(1, (next_ - index) / 2);
      close_from(index + ahead_);
      return;
    }
  }
}

// Closes the candidates from `index` on; they are opened again in turn.
void CandidateWindow::close_from(std::size_t index) {
  for (std::size_t i = index; i < next_; ++i) slot(i).file.close();
  next_ = std::min(next_, index);
}

}  // namespace m3umerge
