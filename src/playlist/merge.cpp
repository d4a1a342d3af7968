#include "playlist/merge.h"

#include <algorithm>
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

// Keeps the caller's report, when there is one, up to date.
class Reporter {
 public:
  explicit Reporter(MergeReport* report) : report_(report) {
    if (report_ != nullptr) *report_ = {};
  }
  void named(const MergeTarget& target) {
    if (report_ != nullptr) report_->merged_path = target.directory + target.merged_name;
  }
  void listed(NativeStringView name) {
    if (report_ != nullptr) report_->inputs.push_back({NativeString(name)});
  }
  // The candidate listed last is left out: too large when `candidate` holds
  // more than the limit, else unreadable (also when it was not opened).
  void left_out(const platform::InputFile* candidate) {
    if (report_ == nullptr) return;
    const std::uint64_t size = candidate != nullptr ? candidate->opened_size() : 0;
    report_->inputs.back().result =
        size > kMaxPlaylistBytes ? InputResult::too_large : InputResult::unreadable;
    report_->inputs.back().size = size > kMaxPlaylistBytes ? size : 0;
  }
  void merged(std::span<const unsigned char> content) {
    if (report_ == nullptr) return;
    report_->inputs.back().result =
        has_utf8_signature(content) ? InputResult::copied : InputResult::converted;
    report_->inputs.back().size = content.size();
  }
  // Records how the merge ended; returns whether the playlist was written.
  bool ended(AnchorResult result, std::uint64_t size = 0) {
    if (report_ != nullptr) {
      report_->result = result;
      report_->merged_size = size;
    }
    return result == AnchorResult::written;
  }

 private:
  MergeReport* report_;
};

// For each name of `names`, whether it is the merged playlist by its name or
// as a link that leads to it.
std::vector<bool> merged_playlist_names(const platform::Directory& directory,
                                        const platform::NameList& names,
                                        const MergeTarget& target) {
  std::vector<bool> merged(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    merged[i] = platform::same_file_name(names[i], target.merged_name) ||
                (names.is_link(i) && directory.leads_to(names[i], target.merged_name));
  }
  return merged;
}

// The whole merge; runs out of memory by throwing std::bad_alloc, which
// unwinds through the owners of every file and buffer.
bool merge(NativeStringView anchor, Reporter& reporter) {
  MergeTarget target;
  platform::Directory directory;
  platform::NameList names;
  if (const auto refused = open_target(anchor, target, directory)) return reporter.ended(*refused);
  reporter.named(target);
  if (!directory.list_files(is_playlist_name, names)) {
    return reporter.ended(AnchorResult::folder_missing);
  }
  if (!platform::kListingIsOrdered) names.sort(name_less<NativeChar>);
  // An earlier merged playlist, or one written in this run, is never an
  // input: not by its name, not through a link that leads to it, and not as
  // another name for the file that stood there when the merge began.
  const std::vector<bool> merged_names = merged_playlist_names(directory, names, target);
  const std::optional<platform::FileIdentity> merged = directory.identify(target.merged_name);
  const auto is_merged = [&](const platform::FileIdentity& identity) {
    return merged && identity == *merged;
  };

  CandidateWindow candidates(directory, names, merged_names, kCandidatesReadAhead);
  CandidateBuffers buffers;
  platform::AtomicFile output;
  // Once a write failed, or a candidate could not be opened for want of
  // descriptors, the listing goes on as it would have, but nothing more is
  // read: the merged playlist stays as it was.
  std::optional<AnchorResult> given_up;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (merged_names[i]) continue;
    platform::InputFile* candidate = nullptr;
    platform::OpenResult opened = platform::OpenResult::failed;
    if (given_up) {
      const std::optional<platform::FileIdentity> identity = directory.identify(names[i]);
      if (identity && is_merged(*identity)) continue;
    } else {
      opened = candidates.open(i, candidate);
      if (opened == platform::OpenResult::opened && is_merged(candidate->identity())) continue;
      if (opened == platform::OpenResult::no_resources) {
        output.discard();
        given_up = AnchorResult::out_of_resources;
      }
    }
    platform::print_line(names[i]);
    reporter.listed(names[i]);
    if (opened != platform::OpenResult::opened ||
        !candidate->read(kMaxPlaylistBytes, buffers.content)) {
      if (!given_up)
        reporter.left_out(opened == platform::OpenResult::opened ? candidate : nullptr);
      continue;
    }
    candidate->close();
    if (!output.is_open()) {
      // Whether the merged playlist can be written is known at the first
      // readable candidate; when it cannot, no later candidate is looked at.
      if (!output.create(directory, target.merged_name)) {
        return reporter.ended(directory.is_read_only(target.merged_name)
                                  ? AnchorResult::read_only
                                  : AnchorResult::cannot_create);
      }
      if (!output.write(std::span(kUtf8Signature))) given_up = AnchorResult::write_failed;
    }
    if (!given_up && !write_candidate(buffers, output)) given_up = AnchorResult::write_failed;
    if (!given_up) reporter.merged(buffers.content);
  }
  if (given_up) return reporter.ended(*given_up);
  if (!output.is_open()) return reporter.ended(AnchorResult::nothing_readable);
  const std::uint64_t size = output.size();
  if (!output.commit()) return reporter.ended(AnchorResult::write_failed);
  return reporter.ended(AnchorResult::written, size);
}

bool guarded_merge(NativeStringView anchor, MergeReport* report) {
  Reporter reporter(report);
  try {
    return merge(anchor, reporter);
  } catch (const std::bad_alloc&) {
    // Memory ran out: this anchor fails like any other failure, quietly.
    return reporter.ended(AnchorResult::out_of_resources);
  }
}

}  // namespace

bool merge_playlists(NativeStringView anchor) { return guarded_merge(anchor, nullptr); }

bool merge_playlists(NativeStringView anchor, MergeReport& report) {
  return guarded_merge(anchor, &report);
}

std::size_t merged_count(const MergeReport& report) {
  return static_cast<std::size_t>(
      std::count_if(report.inputs.begin(), report.inputs.end(), [](const InputReport& input) {
        return input.result == InputResult::converted || input.result == InputResult::copied;
      }));
}

}  // namespace m3umerge
