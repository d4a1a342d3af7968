#include "playlist/candidates.h"

#include <algorithm>
#include <cassert>

#include "platform/ascii_case.h"

namespace m3umerge {
namespace {

using platform::IoResult;

// How many candidates are kept open, their reading under way, at most.
constexpr std::size_t kReadAhead = 32;

bool is_playlist_name(NativeStringView name) {
  return ends_with_ignoring_ascii_case(name, kPlaylistExtension);
}

}  // namespace

Candidates::Candidates(const platform::Directory& directory, NativeStringView merged_name,
                       platform::NameList& names)
    : directory_(directory), merged_name_(merged_name), names_(names) {}

bool Candidates::list() {
  if (!directory_.list_files(is_playlist_name, names_)) return false;
  if (!platform::kListingIsOrdered) names_.sort(name_less<NativeChar>);
  merged_identity_ = directory_.identify(merged_name_, platform::Links::not_followed);
  slots_ = std::vector<Slot>(
      platform::files_open_at_once(std::clamp<std::size_t>(names_.size(), 1, kReadAhead)));
  ahead_ = slots_.size();
  return true;
}

// The one rule: names[index] is the merged playlist by its name, as a link
// that leads to it, or as the file it is: the one `opened` holds when it is
// open, else the one the name reaches now.
bool Candidates::is_merged_playlist(std::size_t index, const platform::InputFile* opened) const {
  const NativeStringView name = names_[index];
  if (platform::same_file_name(name, merged_name_)) return true;
  if (names_.is_link(index) && directory_.leads_to(name, merged_name_)) return true;
  if (!merged_identity_) return false;
  const std::optional<platform::FileIdentity> reached =
      opened != nullptr ? std::optional(opened->identity())
                        : directory_.identify(name, platform::Links::followed);
  return reached && *reached == *merged_identity_;
}

const Candidate* Candidates::next() {
  while (next_ < names_.size()) {
    const std::size_t index = next_++;
    if (reading_ ? read(index) : list_unread(index)) return &candidate_;
  }
  return nullptr;
}

void Candidates::stop_reading() {
  reading_ = false;
  close_from(next_);
}

// Reads names[index]; false when it is the merged playlist.
bool Candidates::read(std::size_t index) {
  Slot& current = open_through(index);
  if (current.merged) return false;
  candidate_ = {std::uint32_t(index), names_[index], CandidateRead::unreadable, 0, {}};
  IoResult result = current.result;
  if (result == IoResult::done) {
    candidate_.size = current.file.opened_size();
    if (candidate_.size > kMaxPlaylistBytes) {
      candidate_.read = CandidateRead::too_large;
    } else {
      result = current.file.read(kMaxPlaylistBytes, content_);
      if (result == IoResult::done) candidate_.read = CandidateRead::content;
      candidate_.content = content_;
    }
  }
  if (result == IoResult::no_resources) {
    candidate_.read = CandidateRead::no_resources;
    stop_reading();
  }
  current.file.close();
  return true;
}

// Lists names[index] without opening it; false when it is the merged playlist.
bool Candidates::list_unread(std::size_t index) {
  if (is_merged_playlist(index, nullptr)) return false;
  candidate_ = {std::uint32_t(index), names_[index], CandidateRead::not_read, 0, {}};
  return true;
}

// Opens names[index], unless it was opened ahead, and the ones after it up to
// ahead_ in all; returns its slot. Everything before `index` is closed.
Candidates::Slot& Candidates::open_through(std::size_t index) {
  assert(index <= opened_);
  const std::size_t end = std::min(names_.size(), index + ahead_);
  for (; opened_ < end; ++opened_) {
    if (open(opened_) != IoResult::no_resources) continue;
    if (opened_ == index) {
      // Nothing else is open: the shortage is real.
      ++opened_;
      break;
    }
    // The system runs short: keep half of what is open ahead, so that the
    // merged playlist and the candidates to come find descriptors. The one
    // that failed is opened again in turn.
    ahead_ = std::max<std::size_t>(1, (opened_ - index) / 2);
    close_from(index + ahead_);
    break;
  }
  return slot(index);
}

IoResult Candidates::open(std::size_t index) {
  Slot& opening = slot(index);
  opening.result = opening.file.open(directory_, names_[index]);
  const bool opened = opening.result == IoResult::done;
  opening.merged = is_merged_playlist(index, opened ? &opening.file : nullptr);
  if (opening.merged) {
    opening.file.close();
  } else if (opened) {
    opening.file.read_ahead(kMaxPlaylistBytes);
  }
  return opening.result;
}

// Closes the candidates opened from `index` on; they are opened again in turn.
void Candidates::close_from(std::size_t index) {
  for (std::size_t i = index; i < opened_; ++i) slot(i).file.close();
  opened_ = std::min(opened_, index);
}

}  // namespace m3umerge
