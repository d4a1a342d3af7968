#include "playlist/merge.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <span>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/ascii_case.h"
#include "playlist/text.h"

namespace m3umerge {
namespace {

constexpr NativeStringView kAnchorExtension = M3U_NATIVE(".wsr");
constexpr NativeStringView kPlaylistExtension = M3U_NATIVE(".m3u");
constexpr std::string_view kLineEnd = "\r\n";
// How many candidates are opened ahead of the one being merged.
constexpr std::size_t kCandidatesReadAhead = 32;

// Where the pieces of one anchor path lead.
struct MergeTarget {
  NativeString directory;    // up to and including the last separator
  NativeString merged_name;  // the anchor's base name + ".m3u"
};

bool parse_anchor(NativeStringView anchor, MergeTarget& target) {
  const std::size_t dot = anchor.rfind(NativeChar('.'));
  if (dot == NativeStringView::npos ||
      !equals_ignoring_ascii_case(anchor.substr(dot), kAnchorExtension)) {
    return false;
  }
  const std::size_t separator = anchor.rfind(platform::kDirectorySeparator);
  if (separator == NativeStringView::npos) return false;
  assert(separator < dot);  // the extension holds no separator
  target.directory = anchor.substr(0, separator + 1);
  target.merged_name = anchor.substr(separator + 1, dot - separator - 1);
  target.merged_name += kPlaylistExtension;
  return true;
}

// Scratch space for one candidate at a time, reused across candidates.
struct CandidateBuffers {
  std::vector<unsigned char> content;
  std::unique_ptr<char[]> utf8 = std::make_unique<char[]>(kMaxPlaylistBytes * kMaxUtf8BytesPerByte);
};

// Appends the text of the candidate in `buffers` as UTF-8, then CR LF.
bool write_candidate(CandidateBuffers& buffers, platform::AtomicFile& output) {
  const std::span<const unsigned char> content = buffers.content;
  if (has_utf8_signature(content)) {
    // Signed text is copied as it stands, without validation.
    if (!output.write(content.subspan(std::size(kUtf8Signature)))) return false;
  } else {
    const std::size_t length = windows1252_to_utf8(content, buffers.utf8.get());
    if (!output.write(std::string_view(buffers.utf8.get(), length))) return false;
  }
  return output.write(kLineEnd);
}

// Opens the candidates after the one being merged, in listing order, and
// starts their reading, so that the disk and the other core work while
// earlier ones are converted. The merged playlist's own name is never opened.
//
// When there are more candidates than slots, helper threads do the opening,
// taking turns: helper k opens the candidates whose index is k modulo
// kOpeners, so that one waits on the disk while another asks for more. A
// helper fills a slot only once the merge has released the candidate that
// held it, and sleeps, when every slot ahead is taken, until a batch of them
// is free. The merge takes a candidate only once its helper has published
// it. A helper that could not be started is stood in for by the merge.
class CandidateWindow {
 public:
  CandidateWindow(const platform::Directory& directory, const platform::NameList& names,
                  NativeStringView merged_name)
      : directory_(directory),
        names_(names),
        merged_name_(merged_name),
        slots_(platform::files_open_at_once(kCandidatesReadAhead)),
        batch_(std::max<std::size_t>(1, slots_.size() / 4)) {
    for (std::size_t k = 0; k < kOpeners; ++k) opened_[k].store(k);
    // A slot for each helper at least; a folder whose candidates all fit
    // gains nothing from threads.
    if (slots_.size() < kOpeners || names_.size() <= slots_.size()) return;
    for (std::size_t k = 0; k < kOpeners; ++k) {
      try {
        helpers_[k] = std::thread([this, k] { open_ahead(k); });
      } catch (const std::system_error&) {
        // No thread to be had: open_file() opens these itself.
      } catch (const std::bad_alloc&) {
        stop_helpers();
        throw;
      }
    }
  }
  CandidateWindow(const CandidateWindow&) = delete;
  CandidateWindow& operator=(const CandidateWindow&) = delete;
  ~CandidateWindow() { stop_helpers(); }

  // The candidate at `index` of the listing, open, or nullptr when it could
  // not be opened. Indices come in increasing order; the candidates before
  // `index` are no longer used.
  platform::InputFile* open_file(std::size_t index) {
    released_.store(index);
    open_for_missing_helpers();
    std::atomic<std::size_t>& opened = opened_[index % kOpeners];
    if (opened.load() <= index) {
      // Helpers asleep for want of slots are woken before waiting on them.
      if (sleeping_helpers_.load() > 0) wake(slots_released_);
      std::unique_lock lock(mutex_);
      merge_waits_.store(true);
      candidate_opened_.wait(lock, [&] { return opened.load() > index || out_of_memory_; });
      merge_waits_.store(false);
      // A helper ran out of memory: so does the merge.
      if (opened.load() <= index) throw std::bad_alloc();
    } else if (index % batch_ == 0 && sleeping_helpers_.load() > 0) {
      wake(slots_released_);
    }
    Slot& slot = slots_[index % slots_.size()];
    return slot.opened ? &slot.file : nullptr;
  }

 private:
  static constexpr std::size_t kOpeners = 2;

  struct Slot {
    platform::InputFile file;
    bool opened = false;
  };

  // Opens helper k's next candidate when its slot is free; false when it is
  // not, or when the helper has opened all of its candidates.
  bool open_next(std::size_t k) {
    const std::size_t next = opened_[k].load();
    if (next >= names_.size() || next >= released_.load() + slots_.size()) return false;
    Slot& slot = slots_[next % slots_.size()];
    slot.file.close();
    const NativeStringView name = names_[next];
    slot.opened = !platform::same_file_name(name, merged_name_) && slot.file.open(directory_, name);
    if (slot.opened) slot.file.read_ahead();
    opened_[k].store(next + kOpeners);
    return true;
  }

  void stop_helpers() {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    slots_released_.notify_all();
    for (std::thread& helper : helpers_) {
      if (helper.joinable()) helper.join();
    }
  }

  // Does the work of the helpers that are not running, in listing order.
  void open_for_missing_helpers() {
    for (;;) {
      std::size_t k = kOpeners;  // the missing helper with the lowest next candidate
      for (std::size_t j = 0; j < kOpeners; ++j) {
        if (!helpers_[j].joinable() && (k == kOpeners || opened_[j].load() < opened_[k].load())) {
          k = j;
        }
      }
      if (k == kOpeners || !open_next(k)) return;
    }
  }

  // Wakes whoever sleeps on `condition`: a sleeper checks under the lock, so
  // once the lock was taken it either sleeps or has yet to check.
  void wake(std::condition_variable& condition) {
    { const std::lock_guard lock(mutex_); }
    condition.notify_all();
  }

  // Helper k. Running out of memory ends it, and the merge too once that
  // needs a candidate this helper did not open.
  void open_ahead(std::size_t k) {
    try {
      open_all(k);
    } catch (const std::bad_alloc&) {
      {
        const std::lock_guard lock(mutex_);
        out_of_memory_ = true;
      }
      candidate_opened_.notify_one();
    }
  }

  void open_all(std::size_t k) {
    while (opened_[k].load() < names_.size()) {
      if (open_next(k)) {
        // The merge waits for the candidate at `released_`.
        if (merge_waits_.load() && opened_[k].load() == released_.load() + kOpeners) {
          wake(candidate_opened_);
        }
        continue;
      }
      const std::size_t wanted_released = opened_[k].load() + batch_ - slots_.size();
      std::unique_lock lock(mutex_);
      sleeping_helpers_.fetch_add(1);
      slots_released_.wait(lock, [&] { return stopping_ || released_.load() >= wanted_released; });
      sleeping_helpers_.fetch_sub(1);
      if (stopping_) return;
    }
  }

  const platform::Directory& directory_;
  const platform::NameList& names_;
  NativeStringView merged_name_;
  std::vector<Slot> slots_;
  const std::size_t batch_;
  // Sequentially consistent, each: a side that sleeps announces it and then
  // reads the other's counter, the other writes its counter and then reads
  // the announcement, so one of them always sees the other.
  std::atomic<std::size_t> opened_[kOpeners];  // helper k's next candidate
  std::atomic<std::size_t> released_{0};       // candidates before this are done with
  std::atomic<int> sleeping_helpers_{0};
  std::atomic<bool> merge_waits_{false};
  std::mutex mutex_;
  std::condition_variable slots_released_;
  std::condition_variable candidate_opened_;
  bool stopping_ = false;          // under mutex_
  bool out_of_memory_ = false;     // under mutex_
  std::thread helpers_[kOpeners];  // last: they start once everything above exists
};

bool is_playlist_name(NativeStringView name) {
  return ends_with_ignoring_ascii_case(name, kPlaylistExtension);
}

// The whole merge; runs out of memory by throwing std::bad_alloc, which
// unwinds through the owners of every file and buffer.
bool merge(NativeStringView anchor) {
  MergeTarget target;
  if (!parse_anchor(anchor, target)) return false;

  platform::Directory directory;
  platform::NameList names;
  if (!directory.open(target.directory) || !directory.list_files(is_playlist_name, names)) {
    return false;
  }
  if (!platform::kListingIsOrdered) names.sort(name_less<NativeChar>);
  // A link or a second name for the merged playlist is no input either.
  const std::optional<platform::FileIdentity> merged = directory.identify(target.merged_name);

  CandidateWindow candidates(directory, names, target.merged_name);
  CandidateBuffers buffers;
  platform::AtomicFile output;
  bool write_failed = false;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const NativeStringView name = names[i];
    // An earlier merged playlist, or one written in this run, is never an input.
    if (platform::same_file_name(name, target.merged_name)) continue;
    platform::InputFile* candidate = candidates.open_file(i);
    if (candidate != nullptr && merged && candidate->identity() == *merged) continue;
    platform::print_line(name);
    // After a failed write the listing goes on as it would have, but nothing
    // more is read: the merged playlist stays as it was.
    if (write_failed || candidate == nullptr ||
        !candidate->read(kMaxPlaylistBytes, buffers.content)) {
      continue;
    }
    candidate->close();
    if (!output.is_open()) {
      // Whether the merged playlist can be written is known at the first
      // readable candidate; when it cannot, no later candidate is looked at.
      if (!output.create(directory, target.merged_name)) return false;
      write_failed = !output.write(std::span(kUtf8Signature));
    }
    write_failed = write_failed || !write_candidate(buffers, output);
  }
  return !write_failed && output.is_open() && output.commit();
}

}  // namespace

bool merge_playlists(NativeStringView anchor) {
  try {
    return merge(anchor);
  } catch (const std::bad_alloc&) {
    // Memory ran out: this anchor fails like any other failure, quietly.
    return false;
  }
}

}  // namespace m3umerge
