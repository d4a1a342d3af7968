#include "support/files.h"

#if defined(_WIN32)
#include <windows.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <system_error>

namespace m3umerge::test {

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  std::error_code error;
  for (;;) {
    path_ = fs::temp_directory_path(error) /
            ("m3umerge-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    if (fs::create_directory(path_, error)) return;
    if (error) throw fs::filesystem_error("cannot create a test folder", path_, error);
  }
}

TempDir::~TempDir() {
  std::error_code error;
  // Read-only files and folders without write permission would stay behind.
  for (auto it = fs::recursive_directory_iterator(path_, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (!it->is_symlink(error))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
  }
  fs::remove_all(path_, error);
}

NativeString TempDir::prefix() const { return path_.native() + platform::kDirectorySeparator; }

void write_file(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) throw fs::filesystem_error("cannot write a test file", path, std::error_code());
}

std::optional<std::string> read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<NativeString> entry_names(const fs::path& directory) {
  std::vector<NativeString> names;
#if defined(_WIN32)
  // The runtime's directory iterator cuts long paths; the system's does not.
  WIN32_FIND_DATAW entry;
  const HANDLE search = ::FindFirstFileW((directory.native() + L"\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name != L"." && name != L"..") names.push_back(name);
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
  }
#else
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(directory, error)) {
    names.push_back(entry.path().filename().native());
  }
#endif
  std::sort(names.begin(), names.end());
  return names;
}

void make_read_only(const fs::path& path, bool read_only) {
  const auto write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  fs::permissions(path, write, read_only ? fs::perm_options::remove : fs::perm_options::add);
}

}  // namespace m3umerge::test
