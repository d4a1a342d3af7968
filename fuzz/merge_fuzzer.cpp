// Builds a folder from the fuzz input (playlists with and without signature,
// sizes around the 32768-byte limit, folders, other names, an earlier merged
// playlist), merges it, and compares the listing, the result and the merged
// playlist with a small model of the output format.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "playlist/merge.h"
#include "support/windows1252.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kLimit = 32768;
const std::string kSignature = "\xEF\xBB\xBF";

struct Entry {
  bool folder = false;
  std::string content;
};

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The text a playlist contributes, CR LF included.
std::string model_text(const std::string& content) {
  if (content.compare(0, 3, kSignature) == 0) return content.substr(3) + "\r\n";
  return m3umerge::test::windows1252_as_utf8(content) + "\r\n";
}

std::string content_of(FuzzedDataProvider& input) {
  const bool signed_text = input.ConsumeBool();
  std::string content = signed_text ? kSignature : "";
  switch (input.ConsumeIntegralInRange(0, 3)) {
    case 0:  // a few bytes of the input itself
      content += input.ConsumeRandomLengthString(64);
      break;
    default: {  // a size at the limit, one each side of it
      const std::size_t size = kLimit - 1 + input.ConsumeIntegralInRange<std::size_t>(0, 2);
      const char fill = input.ConsumeIntegral<char>();
      content += input.ConsumeRandomLengthString(16);
      content.resize(std::max(size, content.size()), fill);
      break;
    }
  }
  return content;
}

std::string read_all(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The folder every input is built in, under $TMPDIR (which the fuzz script
// points into the build tree and removes), and standard output captured in a
// file.
struct Workspace {
  fs::path folder;
  Workspace() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/m3umerge-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    folder = pattern;
    std::FILE* capture = std::tmpfile();
    if (capture == nullptr || ::dup2(::fileno(capture), STDOUT_FILENO) < 0) std::abort();
  }
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;
  ~Workspace() {
    std::error_code error;
    fs::remove_all(folder, error);
  }
  void clear() const {
    for (const auto& entry : fs::directory_iterator(folder)) fs::remove_all(entry.path());
    std::fflush(stdout);
    if (::ftruncate(STDOUT_FILENO, 0) != 0 || ::lseek(STDOUT_FILENO, 0, SEEK_SET) != 0) {
      std::abort();
    }
  }
  std::string listing() const {
    std::fflush(stdout);
    std::string text(static_cast<std::size_t>(::lseek(STDOUT_FILENO, 0, SEEK_END)), '\0');
    if (::pread(STDOUT_FILENO, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
      std::abort();
    }
    return text;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Workspace workspace;
  workspace.clear();
  FuzzedDataProvider input(data, size);

  const std::string anchor_base = input.PickValueInArray({"game", "GAME", "m3u", "a"});
  const std::string merged_name = anchor_base + ".m3u";
  const std::string names[] = {"a", "B", "b", "game", "Game", "_x", "\xC3\xA9", "%s", "-n", "z z"};
  const std::string extensions[] = {".m3u", ".M3U", ".m3U", ".m3u8", ".txt", ""};
  std::map<std::string, Entry> entries;
  const int count = input.ConsumeIntegralInRange(0, 6);
  for (int i = 0; i < count; ++i) {
    Entry entry;
    entry.folder = input.ConsumeIntegralInRange(0, 7) == 0;
    const std::string name = input.PickValueInArray(names) + input.PickValueInArray(extensions);
    if (!entry.folder) entry.content = content_of(input);
    entries[name] = entry;
  }
  const std::optional<std::string> earlier =
      input.ConsumeBool() ? std::optional(input.ConsumeRandomLengthString(32)) : std::nullopt;
  if (earlier && entries.count(merged_name) == 0) entries[merged_name] = {false, *earlier};
  for (const auto& [name, entry] : entries) {
    if (entry.folder) {
      fs::create_directory(workspace.folder / name);
    } else {
      std::ofstream(workspace.folder / name, std::ios::binary) << entry.content;
    }
  }
  const std::optional<std::string> before =
      entries.count(merged_name) != 0 && !entries[merged_name].folder
          ? std::optional(entries[merged_name].content)
          : std::nullopt;

  // The model: files named *.m3u in any case, but for the merged playlist
  // in any case, sorted by their names in capitals, then by raw bytes.
  std::vector<std::string> candidates;
  for (const auto& [name, entry] : entries) {
    const bool playlist = name.size() >= 4 && upper(name.substr(name.size() - 4)) == ".M3U";
    if (playlist && !entry.folder && upper(name) != upper(merged_name)) {
      candidates.push_back(name);
    }
  }
  std::sort(candidates.begin(), candidates.end(), [](const std::string& a, const std::string& b) {
    return std::make_pair(upper(a), a) < std::make_pair(upper(b), b);
  });
  std::string listing;
  std::string merged = kSignature;
  bool any = false;
  const bool blocked = entries.count(merged_name) != 0 && entries[merged_name].folder;
  for (const auto& name : candidates) {
    listing += name + "\n";
    const std::string& content = entries[name].content;
    if (content.size() > kLimit) continue;
    any = true;
    if (blocked) break;  // the merged playlist cannot be created: the loop ends here
    merged += model_text(content);
  }

  const bool result =
      m3umerge::merge_playlists((workspace.folder / (anchor_base + ".wSr")).string());
  if (workspace.listing() != listing) std::abort();
  if (result != (any && !blocked)) std::abort();
  const fs::path merged_path = workspace.folder / merged_name;
  if (result && read_all(merged_path) != merged) std::abort();
  if (!result && before && read_all(merged_path) != *before) std::abort();
  if (!result && !before && !blocked && fs::exists(merged_path)) std::abort();
  // Nothing else appears in the folder: no temporary file stays behind.
  std::size_t present = 0;
  for (const auto& entry : fs::directory_iterator(workspace.folder)) {
    (void)entry;
    ++present;
  }
  if (present != entries.size() + ((result && entries.count(merged_name) == 0) ? 1 : 0)) {
    std::abort();
  }
  return 0;
}
