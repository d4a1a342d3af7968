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

#include "playlist/ascii_case.h"
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
// When there are more candidates than slots, a helper thread does the
// opening. It fills a slot only once the merge has released the candidate
// that held it, and the merge takes a candidate only once the helper has
// published it. Each side that has to wait sleeps until the other is a batch
// ahead, so that the two do not wake each other for every file.
class CandidateWindow {
 public:
  CandidateWindow(const platform::Directory& directory, const platform::NameList& names,
                  NativeStringView merged_name)
      : directory_(directory),
        names_(names),
        merged_name_(merged_name),
        slots_(platform::files_open_at_once(kCandidatesReadAhead)),
        batch_(std::max<std::size_t>(1, slots_.size() / 4)) {
    // A single slot, or a folder whose candidates all fit, gains nothing
    // from a second thread.
    if (slots_.size() == 1 || names_.size() <= slots_.size()) return;
    try {
      helper_ = std::thread([this] { open_ahead(); });
    } catch (const std::system_error&) {
      // No thread to be had: open_file() opens ahead itself.
    }
  }
  CandidateWindow(const CandidateWindow&) = delete;
  CandidateWindow& operator=(const CandidateWindow&) = delete;

  ~CandidateWindow() {
    if (!helper_.joinable()) return;
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    slots_released_.notify_one();
    helper_.join();
  }

  // The candidate at `index` of the listing, open, or nullptr when it could
  // not be opened. Indices come in increasing order; the candidates before
  // `index` are no longer used.
  platform::InputFile* open_file(std::size_t index) {
    released_.store(index);
    if (!helper_.joinable()) {
      while (open_next()) {
      }
    } else {
      if (helper_waits_.load() && released_.load() >= released_to_wake_helper()) {
        wake(slots_released_);
      }
      if (opened_.load() <= index) {
        std::unique_lock lock(mutex_);
        merge_waits_.store(true);
        candidates_opened_.wait(lock, [&] { return opened_.load() > index || out_of_memory_; });
        merge_waits_.store(false);
        // The helper ran out of memory: so does the merge.
        if (opened_.load() <= index) throw std::bad_alloc();
      }
    }
    Slot& slot = slots_[index % slots_.size()];
    return slot.opened ? &slot.file : nullptr;
  }

 private:
  struct Slot {
    platform::InputFile file;
    bool opened = false;
  };

  // Opens the next candidate when its slot is free; false when it is not,
  // or when every candidate has been opened.
  bool open_next() {
    const std::size_t next = opened_.load();
    if (next >= names_.size() || next >= released_.load() + slots_.size()) return false;
    Slot& slot = slots_[next % slots_.size()];
    slot.file.close();
    const NativeStringView name = names_[next];
    slot.opened = !platform::same_file_name(name, merged_name_) && slot.file.open(directory_, name);
    if (slot.opened) slot.file.read_ahead();
    opened_.store(next + 1);
    return true;
  }

  // The helper, once every slot is taken, sleeps until a batch of them is free.
  std::size_t released_to_wake_helper() const { return opened_.load() + batch_ - slots_.size(); }

  // The merge, waiting for the candidate it released last (`released_`),
  // sleeps until the helper is a batch ahead, or a candidate beyond it, or
  // done.
  bool merge_may_wake(std::size_t opened) const {
    return opened % batch_ == 0 || opened == names_.size() || opened > released_.load() + 1;
  }

  // Wakes the side sleeping on `condition`; it sleeps under the lock, so
  // taking the lock first means it is asleep or has yet to check.
  void wake(std::condition_variable& condition) {
    { const std::lock_guard lock(mutex_); }
    condition.notify_one();
  }

  // The helper thread. Running out of memory ends it, and the merge too
  // once that needs a candidate the helper did not open.
  void open_ahead() {
    try {
      open_all();
    } catch (const std::bad_alloc&) {
      {
        const std::lock_guard lock(mutex_);
        out_of_memory_ = true;
      }
      candidates_opened_.notify_one();
    }
  }

  void open_all() {
    while (opened_.load() < names_.size()) {
      if (open_next()) {
        if (merge_waits_.load() && merge_may_wake(opened_.load())) wake(candidates_opened_);
        continue;
      }
      std::unique_lock lock(mutex_);
      helper_waits_.store(true);
      slots_released_.wait(
          lock, [&] { return stopping_ || released_.load() >= released_to_wake_helper(); });
      helper_waits_.store(false);
      if (stopping_) return;
    }
  }

  const platform::Directory& directory_;
  const platform::NameList& names_;
  NativeStringView merged_name_;
  std::vector<Slot> slots_;
  const std::size_t batch_;
  // Sequentially consistent, each: a side that sleeps sets its flag and then
  // reads the other's counter, the other writes its counter and then reads
  // the flag, so one of them always sees the other.
  std::atomic<std::size_t> opened_{0};    // candidates before this are in their slots
  std::atomic<std::size_t> released_{0};  // candidates before this are done with
  std::atomic<bool> helper_waits_{false};
  std::atomic<bool> merge_waits_{false};
  std::mutex mutex_;
  std::condition_variable slots_released_;
  std::condition_variable candidates_opened_;
  bool stopping_ = false;       // under mutex_
  bool out_of_memory_ = false;  // under mutex_
  std::thread helper_;          // last: it starts once everything above exists
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
