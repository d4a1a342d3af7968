// The windowed tool as a user meets it: its dialog on a real (virtual)
// display, read and closed as a user would, and the playlists it wrote.
// Windows only; run under Wine by wine_window_test.sh.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "support/files.h"
#include "support/process.h"

namespace m3umerge {
namespace {

using test::kSignature;
using test::read_file;
using test::run_tool;
using test::TempDir;
using test::write_file;

// How long to wait for a window or an end before the test fails.
constexpr DWORD kPatienceMilliseconds = 60000;
constexpr DWORD kPollMilliseconds = 100;

// The windowed tool sits beside the test program.
std::wstring windowed_tool() {
  std::wstring path(32768, L'\0');
  path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path.substr(0, path.find_last_of(L'\\') + 1) + L"m3umergew.exe";
}

// One run of the windowed tool, ended at once if it still runs when this goes.
class WindowedRun {
 public:
  // Starts it on `anchor`; `suspended` holds it until resume().
  WindowedRun(const std::wstring& anchor, bool suspended) {
    std::wstring command_line = L"\"" + windowed_tool() + L"\" \"" + anchor + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    started_ = ::CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE,
                                suspended ? CREATE_SUSPENDED : 0, nullptr, nullptr, &startup,
                                &process_) != 0;
  }
  WindowedRun(const WindowedRun&) = delete;
  WindowedRun& operator=(const WindowedRun&) = delete;
  ~WindowedRun() {
    if (!started_) return;
    if (::WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
      ::TerminateProcess(process_.hProcess, 1);
    }
    ::CloseHandle(process_.hThread);
    ::CloseHandle(process_.hProcess);
  }

  bool started() const { return started_; }
  DWORD id() const { return process_.dwProcessId; }
  void resume() const { ::ResumeThread(process_.hThread); }
  // The exit code, or -1 when it did not end in time.
  int wait() const {
    DWORD code = 0;
    if (::WaitForSingleObject(process_.hProcess, kPatienceMilliseconds) != WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(process_.hProcess, &code)) {
      return -1;
    }
    return static_cast<int>(code);
  }

 private:
  bool started_ = false;
  PROCESS_INFORMATION process_{};
};

struct Search {
  const std::vector<DWORD>* processes;
  std::vector<HWND> dialogs;
};

BOOL CALLBACK collect_dialog(HWND window, LPARAM data) {
  auto& search = *reinterpret_cast<Search*>(data);
  DWORD process = 0;
  ::GetWindowThreadProcessId(window, &process);
  std::array<wchar_t, 16> class_name{};
  ::GetClassNameW(window, class_name.data(), static_cast<int>(class_name.size()));
  if (std::find(search.processes->begin(), search.processes->end(), process) !=
          search.processes->end() &&
      std::wstring(class_name.data()) == L"#32770" && ::IsWindowVisible(window)) {
    search.dialogs.push_back(window);
  }
  return TRUE;
}

// The visible dialogs of `processes`.
std::vector<HWND> dialogs_of(const std::vector<DWORD>& processes) {
  Search search{&processes, {}};
  ::EnumWindows(collect_dialog, reinterpret_cast<LPARAM>(&search));
  return search.dialogs;
}

// The first dialog of `processes` to appear, or nullptr when none does in time.
HWND wait_for_dialog(const std::vector<DWORD>& processes) {
  for (DWORD waited = 0; waited < kPatienceMilliseconds; waited += kPollMilliseconds) {
    const std::vector<HWND> dialogs = dialogs_of(processes);
    if (!dialogs.empty()) return dialogs.front();
    ::Sleep(kPollMilliseconds);
  }
  return nullptr;
}

BOOL CALLBACK append_text(HWND control, LPARAM data) {
  std::wstring text(::GetWindowTextLengthW(control) + 1, L'\0');
  text.resize(::GetWindowTextW(control, text.data(), static_cast<int>(text.size())));
  *reinterpret_cast<std::wstring*>(data) += text + L'\n';
  return TRUE;
}

enum class Marks { removed, kept };

// The text of every control of `dialog`, a line each. Wine's task dialog is
// made of ordinary controls; Windows draws its text itself. Names stand
// between directional isolates and paths hold break opportunities, which
// most checks leave out.
std::wstring dialog_text(HWND dialog, Marks marks = Marks::removed) {
  std::wstring text;
  ::EnumChildWindows(dialog, append_text, reinterpret_cast<LPARAM>(&text));
  if (marks == Marks::removed) {
    for (const wchar_t mark : {L'\u2068', L'\u2069', L'\u200B'}) std::erase(text, mark);
  }
  return text;
}

// The dialog's own buttons, by the ids the tool gives them.
constexpr int kCopyListButton = 99;
constexpr int kPlayButton = 101;

void press(HWND dialog, int button) {
  const HWND control = ::GetDlgItem(dialog, button);
  ASSERT_NE(control, nullptr) << "no button " << button;
  ::PostMessageW(control, BM_CLICK, 0, 0);
}

void press_close(HWND dialog) { press(dialog, IDCLOSE); }

// The clipboard's text once it holds some, or nothing within the patience.
std::wstring wait_for_clipboard() {
  for (DWORD waited = 0; waited < kPatienceMilliseconds; waited += kPollMilliseconds) {
    std::wstring text;
    if (::OpenClipboard(nullptr)) {
      if (const HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* chars = static_cast<const wchar_t*>(::GlobalLock(data))) {
          text = chars;
          ::GlobalUnlock(data);
        }
      }
      ::CloseClipboard();
    }
    if (!text.empty()) return text;
    ::Sleep(kPollMilliseconds);
  }
  return {};
}

std::string narrow(const std::wstring& text) {
  std::string bytes(text.size() * 3, '\0');
  bytes.resize(::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                     bytes.data(), static_cast<int>(bytes.size()), nullptr,
                                     nullptr));
  return bytes;
}

TEST(WindowedTool, ShowsWhatWasMergedAndLeftOutAndWritesWhatTheConsoleToolWrites) {
  TempDir dir;
  write_file(dir / L"a.m3u", "Caf\xE9");
  write_file(dir / L"b.m3u", kSignature + "b");
  write_file(dir / L"huge.m3u", std::string(40960, 'x'));
  const std::wstring anchor = dir.prefix() + L"game.wsr";
  const WindowedRun run(anchor, false);
  ASSERT_TRUE(run.started());
  const HWND dialog = wait_for_dialog({run.id()});
  ASSERT_NE(dialog, nullptr);
  const std::wstring text = dialog_text(dialog);
  EXPECT_NE(text.find(L"game.m3u written: 2 playlists merged, 1 left out "
                      L"(huge.m3u, 40,960 bytes: over 32,768 bytes)\n"),
            std::wstring::npos)
      << narrow(text);
  EXPECT_NE(text.find(L"Folder: " + dir.prefix()), std::wstring::npos) << narrow(text);
  // Copy list puts every playlist left out on the clipboard, with what to do.
  if (::OpenClipboard(nullptr)) {
    ::EmptyClipboard();
    ::CloseClipboard();
  }
  press(dialog, kCopyListButton);
  EXPECT_EQ(wait_for_clipboard(), dir.prefix() +
                                      L"huge.m3u, 40,960 bytes: over 32,768 bytes\r\n"
                                      L"\r\nSplit playlists over 32,768 bytes into "
                                      L"smaller ones.");
  press_close(dialog);
  EXPECT_EQ(run.wait(), 0);

  // The console tool rewrites it byte for byte.
  const auto windowed = read_file(dir / L"game.m3u");
  ASSERT_TRUE(windowed);
  EXPECT_EQ(windowed->size(), kSignature.size() + 7 + 3);
  EXPECT_EQ(run_tool({anchor}).exit_code, 0);
  EXPECT_EQ(read_file(dir / L"game.m3u"), windowed);
}

struct HandleCloser {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

TEST(WindowedTool, SaysAPlaylistHeldOpenIsInUseAndSetsItsNameApart) {
  TempDir dir;
  write_file(dir / L"a.m3u", "a");
  // A name that reverses the text after it, held open as a player holds
  // its playlist: sharing reading, not deletion.
  const std::wstring name = L"r\u202Egnp";
  write_file(dir / (name + L".m3u"), "old");
  UniqueHandle held(::CreateFileW((dir / (name + L".m3u")).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_NE(held.get(), INVALID_HANDLE_VALUE);
  const WindowedRun run(dir.prefix() + name + L".wsr", false);
  ASSERT_TRUE(run.started());
  const HWND dialog = wait_for_dialog({run.id()});
  held.reset();
  ASSERT_NE(dialog, nullptr);
  const std::wstring text = dialog_text(dialog, Marks::kept);
  EXPECT_NE(text.find(L"\u2068" + name + L".m3u\u2069 not written: "), std::wstring::npos)
      << narrow(text);
  EXPECT_NE(text.find(L" has it open, and the earlier playlist was kept. Close "),
            std::wstring::npos)
      << narrow(text);
  press_close(dialog);
  EXPECT_EQ(run.wait(), 0);
  EXPECT_EQ(read_file(dir / (name + L".m3u")), "old");
}

// Whether this runs under Wine, whose ntdll says its version.
bool under_wine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// While it lives, .m3u playlists open with `command`. Wine reads classes
// from HKEY_CLASSES_ROOT alone (not from HKCU\Software\Classes, as Windows
// does); the test prefix has none of its own, so nothing is lost when they
// go.
class PlaylistAssociation {
 public:
  explicit PlaylistAssociation(const std::wstring& command) {
    set(L".m3u", kProgId);
    set(std::wstring(kProgId) + L"\\shell\\open\\command", command);
  }
  PlaylistAssociation(const PlaylistAssociation&) = delete;
  PlaylistAssociation& operator=(const PlaylistAssociation&) = delete;
  ~PlaylistAssociation() {
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, kProgId);
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L".m3u");
  }

 private:
  static constexpr const wchar_t* kProgId = L"m3umerge.test.player";
  static void set(const std::wstring& key, const std::wstring& value) {
    ::RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, REG_SZ, value.c_str(),
                      DWORD((value.size() + 1) * sizeof(wchar_t)));
  }
};

// A folder whose name ends in a dot, which only \\?\ paths reach, removed
// with what it holds.
class DottedFolder {
 public:
  explicit DottedFolder(const test::fs::path& path) : path_(L"\\\\?\\" + path.native()) {
    created_ = ::CreateDirectoryW(path_.c_str(), nullptr) != 0;
  }
  DottedFolder(const DottedFolder&) = delete;
  DottedFolder& operator=(const DottedFolder&) = delete;
  ~DottedFolder() {
    for (const auto& name : test::entry_names(path_)) ::DeleteFileW((path_ + L"\\" + name).c_str());
    ::RemoveDirectoryW(path_.c_str());
  }
  bool created() const { return created_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
  bool created_ = false;
};

// The short (8.3) form of `path`, or `path` where it has none.
std::wstring short_form(const std::wstring& path) {
  std::wstring short_path(::GetShortPathNameW(path.c_str(), nullptr, 0), L'\0');
  const DWORD length =
      ::GetShortPathNameW(path.c_str(), short_path.data(), DWORD(short_path.size()));
  if (length == 0 || length >= short_path.size()) return path;
  short_path.resize(length);
  return short_path;
}

TEST(WindowedTool, PlayOpensThePlaylistWrittenInAFolderWhoseNameEndsInADot) {
  if (!under_wine()) GTEST_SKIP() << "it sets the machine's association of .m3u files";
  TempDir dir;
  // Win32's parsing of dir\dot.\game.m3u reaches dir\dot\game.m3u. The
  // anchor is named through the short form of the test's folder, so that
  // the short form of the merged playlist's path is the longer one.
  const DottedFolder dotted(dir / L"dot.");
  ASSERT_TRUE(dotted.created());
  ASSERT_TRUE(::CreateDirectoryW((dir / L"dot").c_str(), nullptr));
  write_file(dotted / L"a.m3u", "dotted");
  write_file(dir / L"dot" / L"game.m3u", "twin");
  // The player notes the path it was given and copies what it names.
  const std::wstring given = (dir / L"given.txt").native();
  const std::wstring played = (dir / L"played.m3u").native();
  const PlaylistAssociation player(L"cmd.exe /c echo \"%1\">\"" + given +
                                   L"\" & copy /y \"%1\" \"" + played + L"\"");
  const WindowedRun run(short_form(dir.path().native()) + L"\\dot.\\game.wsr", false);
  ASSERT_TRUE(run.started());
  const HWND dialog = wait_for_dialog({run.id()});
  ASSERT_NE(dialog, nullptr);
  press(dialog, kPlayButton);
  const std::string expected = kSignature + "dotted\r\n";
  for (DWORD waited = 0; waited < kPatienceMilliseconds && read_file(played) != expected;
       waited += kPollMilliseconds) {
    ::Sleep(kPollMilliseconds);
  }
  EXPECT_EQ(read_file(played), expected);
  // The shell takes no \\?\ path: the player was given one it can open.
  const auto path_given = read_file(given);
  ASSERT_TRUE(path_given);
  EXPECT_EQ(path_given->find("\\\\?\\"), std::string::npos) << *path_given;
  press_close(dialog);
  EXPECT_EQ(run.wait(), 0);
}

// The visible window of class `name` that `process` shows within the
// patience, or nullptr.
HWND wait_for_window(DWORD process, const wchar_t* name) {
  for (DWORD waited = 0; waited < kPatienceMilliseconds; waited += kPollMilliseconds) {
    for (HWND window = ::FindWindowExW(nullptr, nullptr, name, nullptr); window != nullptr;
         window = ::FindWindowExW(nullptr, window, name, nullptr)) {
      DWORD owner = 0;
      ::GetWindowThreadProcessId(window, &owner);
      if (owner == process && ::IsWindowVisible(window)) return window;
    }
    ::Sleep(kPollMilliseconds);
  }
  return nullptr;
}

TEST(WindowedTool, ALongMergeShowsItsProgressAndCancelKeepsTheEarlierPlaylist) {
  TempDir dir;
  // Enough playlists to take well over half a second under Wine.
  for (int i = 0; i < 6000; ++i) {
    write_file(dir / (L"p" + std::to_wstring(100000 + i) + L".m3u"), "x");
  }
  write_file(dir / L"game.m3u", "old");
  const WindowedRun run(dir.prefix() + L"game.wsr", false);
  ASSERT_TRUE(run.started());
  const HWND progress = wait_for_window(run.id(), L"m3umergeProgress");
  ASSERT_NE(progress, nullptr) << "no progress was shown";
  ::PostMessageW(progress, WM_COMMAND, IDCANCEL, 0);
  const HWND dialog = wait_for_dialog({run.id()});
  ASSERT_NE(dialog, nullptr);
  const std::wstring text = dialog_text(dialog);
  EXPECT_NE(text.find(L"game.m3u not written: the merge was cancelled, and the earlier playlist "
                      L"was kept."),
            std::wstring::npos)
      << narrow(text);
  press_close(dialog);
  EXPECT_EQ(run.wait(), 0);
  EXPECT_EQ(read_file(dir / L"game.m3u"), "old");
  EXPECT_EQ(test::entry_names(dir.path()).size(), 6001u);
}

TEST(WindowedTool, InstancesStartedTogetherShowOneDialogForAllTheirPlaylists) {
  const std::wstring names[] = {L"one", L"two", L"three"};
  std::vector<std::unique_ptr<TempDir>> dirs;
  std::vector<std::unique_ptr<WindowedRun>> runs;
  std::vector<DWORD> processes;
  for (const std::wstring& name : names) {
    dirs.push_back(std::make_unique<TempDir>());
    write_file(*dirs.back() / L"a.m3u", "a");
    runs.push_back(std::make_unique<WindowedRun>(dirs.back()->prefix() + name + L".wsr", true));
    ASSERT_TRUE(runs.back()->started());
    processes.push_back(runs.back()->id());
  }
  for (const auto& run : runs) run->resume();

  const HWND dialog = wait_for_dialog(processes);
  ASSERT_NE(dialog, nullptr);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(dialog, &owner);
  // The others handed their anchors over and ended without a window.
  for (const auto& run : runs) {
    if (run->id() != owner) {
      EXPECT_EQ(run->wait(), 0);
    }
  }
  EXPECT_EQ(dialogs_of(processes).size(), 1u);
  const std::wstring text = dialog_text(dialog);
  for (const std::wstring& name : names) {
    EXPECT_NE(text.find(name + L".m3u written: 1 playlist merged\n"), std::wstring::npos)
        << narrow(text);
  }
  EXPECT_NE(text.find(L"3 playlists written"), std::wstring::npos) << narrow(text);
  press_close(dialog);
  for (const auto& run : runs) {
    if (run->id() == owner) {
      EXPECT_EQ(run->wait(), 0);
    }
  }
  for (std::size_t i = 0; i < dirs.size(); ++i) {
    EXPECT_EQ(read_file(*dirs[i] / (names[i] + L".m3u")), kSignature + "a\r\n");
  }
}

}  // namespace
}  // namespace m3umerge
