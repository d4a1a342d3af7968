#include "playlist/merge.h"

#include <cassert>
#include <memory>
#include <new>
#include <optional>
#include <span>
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

// Keeps the candidates after the one being merged open, in listing order,
// with their reading under way, so that the disk works while earlier ones
// are converted. The merged playlist's own name is never opened.
class CandidateWindow {
 public:
  CandidateWindow(const platform::Directory& directory, const platform::NameList& names,
                  NativeStringView merged_name)
      : directory_(directory),
        names_(names),
        merged_name_(merged_name),
        files_(platform::files_open_at_once(kCandidatesReadAhead)),
        opened_(files_.size(), false) {}

  // The candidate at `index` of the listing, open, or nullptr when it could
  // not be opened. Indices come in increasing order.
  platform::InputFile* open_file(std::size_t index) {
    const std::size_t window = files_.size();
    for (; next_ < names_.size() && next_ < index + window; ++next_) {
      platform::InputFile& file = files_[next_ % window];
      file.close();
      const NativeStringView name = names_[next_];
      opened_[next_ % window] =
          !platform::same_file_name(name, merged_name_) && file.open(directory_, name);
      if (opened_[next_ % window]) file.read_ahead();
    }
    return opened_[index % window] ? &files_[index % window] : nullptr;
  }

 private:
  const platform::Directory& directory_;
  const platform::NameList& names_;
  NativeStringView merged_name_;
  std::vector<platform::InputFile> files_;
  std::vector<bool> opened_;
  std::size_t next_ = 0;  // the first name not opened yet
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
