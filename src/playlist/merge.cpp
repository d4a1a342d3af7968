#include "playlist/merge.h"

#include <cassert>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <vector>

#include "platform/ascii_case.h"
#include "playlist/candidate_window.h"
#include "playlist/text.h"

namespace m3umerge {
namespace {

constexpr NativeStringView kAnchorExtension = M3U_NATIVE(".wsr");
constexpr NativeStringView kPlaylistExtension = M3U_NATIVE(".m3u");
constexpr std::string_view kLineEnd = "\r\n";
// How many candidates are kept open, their reading under way, ahead of the
// one being merged.
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

bool is_playlist_name(NativeStringView name) {
  return ends_with_ignoring_ascii_case(name, kPlaylistExtension);
}

// Opens the anchor's folder and names the merged playlist. An anchor spelled
// by an alias (an 8.3 name) names it after the file's own name; an anchor
// whose own name is no ".wsr" name is rejected.
bool open_target(NativeStringView anchor, MergeTarget& target, platform::Directory& directory) {
  NativeString anchor_name;
  return parse_anchor(anchor, target) && directory.open(target.directory) &&
         directory.stored_name(anchor.substr(target.directory.size()), anchor_name) &&
         parse_anchor(target.directory + anchor_name, target);
}

// Whether `name`, the entry at `index` of `names`, is the merged playlist:
// by its name, as a link that leads to it, or as another name for the file
// that stood there when the merge began.
bool is_merged_playlist(const platform::Directory& directory, const platform::NameList& names,
                        std::size_t index, const MergeTarget& target) {
  return platform::same_file_name(names[index], target.merged_name) ||
         (names.is_link(index) && directory.leads_to(names[index], target.merged_name));
}

// The whole merge; runs out of memory by throwing std::bad_alloc, which
// unwinds through the owners of every file and buffer.
bool merge(NativeStringView anchor) {
  MergeTarget target;
  platform::Directory directory;
  platform::NameList names;
  if (!open_target(anchor, target, directory) || !directory.list_files(is_playlist_name, names)) {
    return false;
  }
  if (!platform::kListingIsOrdered) names.sort(name_less<NativeChar>);
  const std::optional<platform::FileIdentity> merged = directory.identify(target.merged_name);

  CandidateWindow candidates(directory, names, target.merged_name, kCandidatesReadAhead);
  CandidateBuffers buffers;
  platform::AtomicFile output;
  // Once a write failed, or a candidate could not be opened for want of
  // descriptors, the listing goes on as it would have, but nothing more is
  // read: the merged playlist stays as it was.
  bool given_up = false;
  for (std::size_t i = 0; i < names.size(); ++i) {
    // An earlier merged playlist, or one written in this run, is never an input.
    if (is_merged_playlist(directory, names, i, target)) continue;
    platform::InputFile* candidate = nullptr;
    platform::OpenResult opened = platform::OpenResult::failed;
    if (!given_up) {
      opened = candidates.open(i, candidate);
      if (opened == platform::OpenResult::opened && merged && candidate->identity() == *merged) {
        continue;
      }
      if (opened == platform::OpenResult::no_handle_free) {
        output.discard();
        given_up = true;
      }
    }
    platform::print_line(names[i]);
    if (opened != platform::OpenResult::opened ||
        !candidate->read(kMaxPlaylistBytes, buffers.content)) {
      continue;
    }
    candidate->close();
    if (!output.is_open()) {
      // Whether the merged playlist can be written is known at the first
      // readable candidate; when it cannot, no later candidate is looked at.
      if (!output.create(directory, target.merged_name)) return false;
      given_up = !output.write(std::span(kUtf8Signature));
    }
    given_up = given_up || !write_candidate(buffers, output);
  }
  return !given_up && output.is_open() && output.commit();
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
