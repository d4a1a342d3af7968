#include "playlist/merge.h"

#include <algorithm>
#include <cassert>
#include <memory>
#include <new>
#include <optional>
#include <span>

#include "platform/ascii_case.h"
#include "playlist/candidates.h"
#include "playlist/text.h"

namespace m3umerge {
namespace {

constexpr NativeStringView kAnchorExtension = M3U_NATIVE(".wsr");
constexpr NativeStringView kPlaylistExtension = M3U_NATIVE(".m3u");
constexpr std::string_view kLineEnd = "\r\n";

// Where the pieces of one anchor path lead.
struct MergeTarget {
  NativeString directory;    // up to and including the last separator
  NativeString merged_name;  // the anchor's base name + ".m3u"
};

// Splits `anchor` into `target`; returns why it is refused, or nothing.
std::optional<AnchorResult> parse_anchor(NativeStringView anchor, MergeTarget& target) {
  const std::size_t dot = anchor.rfind(NativeChar('.'));
  if (dot == NativeStringView::npos ||
      !equals_ignoring_ascii_case(anchor.substr(dot), kAnchorExtension)) {
    return AnchorResult::not_a_wsr_path;
  }
  const std::size_t separator = anchor.rfind(platform::kDirectorySeparator);
  if (separator == NativeStringView::npos) return AnchorResult::no_folder_part;
  assert(separator < dot);  // the extension holds no separator
  target.directory = anchor.substr(0, separator + 1);
  target.merged_name = anchor.substr(separator + 1, dot - separator - 1);
  target.merged_name += kPlaylistExtension;
  return std::nullopt;
}

// Opens the anchor's folder and names the merged playlist; returns why the
// anchor is refused, or nothing. An anchor spelled by an alias (an 8.3
// name) names it after the file's own name; an anchor whose own name is no
// ".wsr" name is refused.
std::optional<AnchorResult> open_target(NativeStringView anchor, MergeTarget& target,
                                        platform::Directory& directory) {
  if (const auto refused = parse_anchor(anchor, target)) return refused;
  NativeString anchor_name;
  if (!directory.open(target.directory) ||
      !directory.stored_name(anchor.substr(target.directory.size()), anchor_name)) {
    return AnchorResult::folder_missing;
  }
  return parse_anchor(target.directory + anchor_name, target);
}

// Appends `content` as UTF-8, then CR LF; `utf8` has room for any
// candidate's conversion.
bool write_candidate(std::span<const unsigned char> content, char* utf8,
                     platform::AtomicFile& output) {
  if (has_utf8_signature(content)) {
    // Signed text is copied as it stands, without validation.
    if (!output.write(content.subspan(std::size(kUtf8Signature)))) return false;
  } else if (!output.write(std::string_view(utf8, windows1252_to_utf8(content, utf8)))) {
    return false;
  }
  return output.write(kLineEnd);
}

// Appends a readable candidate to `output`, creating the merged playlist on
// the first; returns why the merge fails, or nothing.
std::optional<AnchorResult> append(const Candidate& candidate, const MergeTarget& target,
                                   const platform::Directory& directory,
                                   platform::AtomicFile& output, char* utf8) {
  if (!output.is_open()) {
    if (!output.create(directory, target.merged_name)) {
      return directory.is_read_only(target.merged_name) ? AnchorResult::read_only
                                                        : AnchorResult::cannot_create;
    }
    if (!output.write(std::span(kUtf8Signature))) return AnchorResult::write_failed;
  }
  if (!write_candidate(candidate.content, utf8, output)) return AnchorResult::write_failed;
  return std::nullopt;
}

// What the report says of a candidate before it is merged.
InputReport listed(const Candidate& candidate) {
  const bool too_large = candidate.read == CandidateRead::too_large;
  return {NativeString(candidate.name),
          too_large                                     ? InputResult::too_large
          : candidate.read == CandidateRead::unreadable ? InputResult::unreadable
                                                        : InputResult::not_merged,
          too_large ? candidate.size : 0};
}

AnchorResult ended(MergeReport& report, AnchorResult result, std::uint64_t size = 0) {
  report.result = result;
  report.merged_size = size;
  return result;
}

// The whole merge; runs out of memory by throwing std::bad_alloc, which
// unwinds through the owners of every file and buffer.
AnchorResult merge(NativeStringView anchor, MergeReport& report) {
  MergeTarget target;
  platform::Directory directory;
  if (const auto refused = open_target(anchor, target, directory)) return ended(report, *refused);
  report.merged_path = target.directory + target.merged_name;
  Candidates candidates(directory, target.merged_name);
  if (!candidates.list()) return ended(report, AnchorResult::folder_missing);
  const auto utf8 = std::make_unique<char[]>(kMaxPlaylistBytes * kMaxUtf8BytesPerByte);
  platform::AtomicFile output;
  std::optional<AnchorResult> failure;
  while (const Candidate* candidate = candidates.next()) {
    platform::print_line(candidate->name);
    InputReport& input = report.inputs.emplace_back(listed(*candidate));
    if (candidate->read == CandidateRead::no_resources) failure = AnchorResult::out_of_resources;
    if (candidate->read != CandidateRead::content) continue;
    failure = append(*candidate, target, directory, output, utf8.get());
    // A merged playlist that cannot be created is known at the first
    // readable candidate: no later one is looked at. After a failed write
    // the rest is listed, not read.
    if (failure && *failure != AnchorResult::write_failed) return ended(report, *failure);
    if (failure) {
      candidates.stop_reading();
      continue;
    }
    input.result =
        has_utf8_signature(candidate->content) ? InputResult::copied : InputResult::converted;
    input.size = candidate->size;
  }
  if (failure) return ended(report, *failure);
  if (!output.is_open()) return ended(report, AnchorResult::nothing_readable);
  const std::uint64_t size = output.size();
  const platform::CommitResult committed = output.commit();
  if (committed == platform::CommitResult::failed) return ended(report, AnchorResult::write_failed);
  return ended(report,
               committed == platform::CommitResult::replaced ? AnchorResult::written
                                                             : AnchorResult::written_unflushed,
               size);
}

}  // namespace

bool merge_playlists(NativeStringView anchor) {
  MergeReport report;
  return merge_playlists(anchor, report);
}

bool merge_playlists(NativeStringView anchor, MergeReport& report) {
  report = {};
  try {
    return was_written(merge(anchor, report));
  } catch (const std::bad_alloc&) {
    // Memory ran out: this anchor fails like any other failure, quietly.
    return was_written(ended(report, AnchorResult::out_of_resources));
  }
}

std::size_t merged_count(const MergeReport& report) {
  return std::size_t(std::ranges::count_if(report.inputs, [](const InputReport& input) {
    return input.result == InputResult::converted || input.result == InputResult::copied;
  }));
}

}  // namespace m3umerge
