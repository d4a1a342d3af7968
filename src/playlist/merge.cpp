#include "playlist/merge.h"

#include <algorithm>
#include <memory>
#include <new>
#include <optional>
#include <span>

#include "playlist/anchor.h"
#include "playlist/text.h"

namespace m3umerge {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

// Appends a candidate's text as UTF-8, then CR LF, creating the merged
// playlist on the first; returns why the merge fails, or nothing. `utf8`
// has room for any candidate's conversion.
std::optional<AnchorResult> append(std::span<const unsigned char> content,
                                   const MergeTarget& target, const platform::Directory& directory,
                                   platform::AtomicFile& output, char* utf8) {
  if (!output.is_open()) {
    if (!output.create(directory, target.merged_name)) {
      if (output.fault() == platform::WriteFault::no_resources)
        return AnchorResult::out_of_resources;
      return directory.is_read_only(target.merged_name) ? AnchorResult::read_only
                                                        : AnchorResult::cannot_create;
    }
    if (!output.write(std::span(kUtf8Signature))) return AnchorResult::write_failed;
  }
  // Signed text is copied as it stands, without validation.
  const bool written =
      has_utf8_signature(content)
          ? output.write(content.subspan(std::size(kUtf8Signature)))
          : output.write(std::string_view(utf8, windows1252_to_utf8(content, utf8)));
  if (!written || !output.write(kLineEnd)) return AnchorResult::write_failed;
  return std::nullopt;
}

// What the report says of a candidate before it is merged.
InputReport listed(const Candidate& candidate) {
  const bool too_large = candidate.read == CandidateRead::too_large;
  return {candidate.listed,
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

// Ends the merge on a failure of the merged playlist, with the system's word.
AnchorResult failed(MergeReport& report, AnchorResult result, const platform::AtomicFile& output) {
  report.fault = output.fault();
  report.system_error = output.system_error();
  report.moved_aside = output.moved_aside();
  return ended(report, result);
}

// Puts the merged playlist in place of the earlier one.
AnchorResult commit(MergeReport& report, platform::AtomicFile& output) {
  const std::uint64_t size = output.size();
  report.lost_encryption = output.lost_encryption();
  report.lost_compression = output.lost_compression();
  switch (output.commit()) {
    case platform::CommitResult::replaced:
      return ended(report, AnchorResult::written, size);
    case platform::CommitResult::unflushed_folder:
      return ended(report, AnchorResult::written_unflushed, size);
    case platform::CommitResult::failed:
      break;
  }
  return failed(report, AnchorResult::write_failed, output);
}

// The whole merge; runs out of memory by throwing std::bad_alloc, which
// unwinds through the owners of every file and buffer.
AnchorResult merge(NativeStringView anchor, MergeReport& report, const Progress& progress) {
  MergeTarget target;
  platform::Directory directory;
  if (const auto refused = open_target(anchor, target, directory)) return ended(report, *refused);
  report.merged_path = target.directory + target.merged_name;
  platform::AtomicFile::recover(directory, target.merged_name);
  Candidates candidates(directory, target.merged_name, report.listing);
  if (!candidates.list()) return ended(report, AnchorResult::folder_missing);
  report.inputs.reserve(report.listing.size());
  const auto utf8 = std::make_unique<char[]>(kMaxPlaylistBytes * kMaxUtf8BytesPerByte);
  platform::AtomicFile output;
  std::optional<AnchorResult> failure;
  while (const Candidate* candidate = candidates.next()) {
    platform::print_line(candidate->name);
    InputReport& input = report.inputs.emplace_back(listed(*candidate));
    if (progress && !progress(candidate->listed + 1, report.listing.size())) {
      return ended(report, AnchorResult::cancelled);
    }
    if (candidate->read == CandidateRead::no_resources) failure = AnchorResult::out_of_resources;
    if (candidate->read != CandidateRead::content) continue;
    failure = append(candidate->content, target, directory, output, utf8.get());
    // A merged playlist that cannot be created is known at the first
    // readable candidate: no later one is looked at. After a failed write,
    // or a shortage, the rest is listed, not read.
    if (failure == AnchorResult::read_only || failure == AnchorResult::cannot_create) {
      return failed(report, *failure, output);
    }
    if (failure) {
      candidates.stop_reading();
      continue;
    }
    input.result =
        has_utf8_signature(candidate->content) ? InputResult::copied : InputResult::converted;
    input.size = candidate->size;
  }
  if (failure) return failed(report, *failure, output);
  if (!output.is_open()) return ended(report, AnchorResult::nothing_readable);
  return commit(report, output);
}

}  // namespace

bool merge_playlists(NativeStringView anchor) {
  MergeReport report;
  return merge_playlists(anchor, report);
}

bool merge_playlists(NativeStringView anchor, MergeReport& report, const Progress& progress) {
  report = {};
  try {
    return was_written(merge(anchor, report, progress));
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
