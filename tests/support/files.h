// Temporary folders and file helpers for tests that touch the disk.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace m3umerge::test {

namespace fs = std::filesystem;

inline const std::string kSignature = "\xEF\xBB\xBF";

// A fresh directory under the system's temporary folder, removed with all it
// holds when the object goes.
class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();

  const fs::path& path() const { return path_; }
  fs::path operator/(NativeStringView name) const { return path_ / NativeString(name); }
  // The directory as text ending in a separator, to put before a file name.
  NativeString prefix() const;

 private:
  fs::path path_;
};

void write_file(const fs::path& path, std::string_view bytes);
// The file's bytes, or nothing when it cannot be read.
std::optional<std::string> read_file(const fs::path& path);
// The names in `directory`, sorted.
std::vector<NativeString> entry_names(const fs::path& directory);
void make_read_only(const fs::path& path, bool read_only);

}  // namespace m3umerge::test
