// End-to-end tests: the real executable, its console bytes, exit status and
// the files it leaves.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "playlist/merge.h"
#include "support/files.h"
#include "support/process.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace m3umerge {
namespace {

using test::kSignature;
using test::read_file;
using test::run_tool;
using test::TempDir;
using test::write_file;
using test::fs::path;
using Names = std::vector<NativeString>;

#if defined(_WIN32)
// Redirected output is in the code page of the "japanese" locale, 932.
constexpr std::string_view kLineEnd = "\r\n";
const std::string kAskForFileName =
    "wsr \x83t\x83@\x83"
    "C\x83\x8B\x96\xBC\x82\xF0\x93n\x82\xB5\x82\xC4\x89\xBA\x82\xB3\x82\xA2\x81"
    "B";
const std::string kPressAKey =
    "\x89\xBD\x82\xA9\x83L\x81["
    "\x82\xF0\x89\x9F\x82\xB7\x82\xC6\x8FI\x97\xB9\x82\xB5\x82\xDC\x82\xB7\x81"
    "B";
#else
constexpr std::string_view kLineEnd = "\n";
const std::string kAskForFileName = "wsr ファイル名を渡して下さい。";
const std::string kPressAKey = "何かキーを押すと終了します。";
#endif

std::vector<std::string> lines_of(const std::string& output) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < output.size();) {
    const std::size_t end = output.find(kLineEnd, start);
    if (end == std::string::npos) {
      lines.push_back(output.substr(start) + "<no line end>");
      break;
    }
    lines.push_back(output.substr(start, end - start));
    start = end + kLineEnd.size();
  }
  return lines;
}

// The merged playlist for playlists merged in the order they were listed:
// the signature, then each one's UTF-8 text and CR LF.
std::string merged_in_order(const std::vector<std::string>& listing,
                            const std::map<std::string, std::string>& utf8_by_name) {
  std::string merged = kSignature;
  for (const auto& name : listing) {
    const auto found = utf8_by_name.find(name);
    if (found != utf8_by_name.end()) merged += found->second + "\r\n";
  }
  return merged;
}

std::vector<std::string> sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

TEST(CommandLine, WithoutArgumentsAsksForAFileNameAndReadsOneByte) {
  TempDir dir;
  write_file(dir / M3U_NATIVE("a.m3u"), "a");
  for (const std::string input : {"", "\n", "typed a line\nand more\n"}) {
    const auto run = run_tool({}, input, dir.path());
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.output,
              kAskForFileName + std::string(kLineEnd) + kPressAKey + std::string(kLineEnd));
  }
  EXPECT_EQ(test::entry_names(dir.path()), (Names{M3U_NATIVE("a.m3u")}));
}

TEST(CommandLine, RejectedArgumentsPrintNothingAndExitZero) {
  TempDir dir;
  write_file(dir / M3U_NATIVE("a.m3u"), "a");
  const auto run = run_tool({M3U_NATIVE(""), M3U_NATIVE("a.txt"), M3U_NATIVE("game.wsr"),
                             dir.prefix() + M3U_NATIVE("game.wsr.bak")},
                            "", dir.path());
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.output, "");
  EXPECT_EQ(test::entry_names(dir.path()), (Names{M3U_NATIVE("a.m3u")}));
}

TEST(CommandLine, MergesEveryPlaylistBesideTheAnchorInListingOrder) {
  TempDir dir;
  const std::string anchor_bytes = "the anchor is never read";
  write_file(dir / M3U_NATIVE("game.wsr"), anchor_bytes);
  write_file(dir / M3U_NATIVE("a.m3u"),
             "#EXTM3U\r\n#EXTINF:321,Beyonc\xE9 \x96 Halo\r\nhalo.mp3\r\n");
  write_file(dir / M3U_NATIVE("b.m3u"), kSignature + "\xE6\x9B\xB2.flac\n");
  write_file(dir / M3U_NATIVE("C.M3U"), "c.mp3");
  write_file(dir / M3U_NATIVE("100% hits.m3u"), "-dash.mp3\n");
  write_file(dir / M3U_NATIVE("x.m3u8"), "not a playlist of ours");
  write_file(dir / M3U_NATIVE("notes.txt"), "not a playlist");
  test::fs::create_directory(dir / M3U_NATIVE("folder.m3u"));
  const std::map<std::string, std::string> utf8_by_name = {
      {"a.m3u", "#EXTM3U\r\n#EXTINF:321,Beyonc\xC3\xA9 \xE2\x80\x93 Halo\r\nhalo.mp3\r\n"},
      {"b.m3u", "\xE6\x9B\xB2.flac\n"},
      {"C.M3U", "c.mp3"},
      {"100% hits.m3u", "-dash.mp3\n"}};

  const NativeString anchor = dir.prefix() + M3U_NATIVE("game.wsr");
  const auto first = run_tool({anchor});
  EXPECT_EQ(first.exit_code, 0);
  const auto listing = lines_of(first.output);
#if !defined(_WIN32)
  EXPECT_EQ(listing, (std::vector<std::string>{"100% hits.m3u", "a.m3u", "b.m3u", "C.M3U"}));
#endif
  EXPECT_EQ(sorted(listing),
            (std::vector<std::string>{"100% hits.m3u", "C.M3U", "a.m3u", "b.m3u"}));
  const std::string merged = merged_in_order(listing, utf8_by_name);
  EXPECT_EQ(read_file(dir / M3U_NATIVE("game.m3u")), merged);

  // The same anchor twice: the merged playlist is never an input of its own.
  const auto again = run_tool({anchor, anchor});
  EXPECT_EQ(again.output, first.output + first.output);
  EXPECT_EQ(read_file(dir / M3U_NATIVE("game.m3u")), merged);
  EXPECT_EQ(read_file(dir / M3U_NATIVE("game.wsr")), anchor_bytes);
  EXPECT_EQ(test::entry_names(dir.path()).size(), 9u);  // the eight made here and game.m3u
}

TEST(CommandLine, ALaterAnchorMergesWhatAnEarlierOneWrote) {
  TempDir dir;
  write_file(dir / M3U_NATIVE("x.m3u"), "x");
  const auto run =
      run_tool({dir.prefix() + M3U_NATIVE("a.wsr"), dir.prefix() + M3U_NATIVE("b.wsr")});
  const auto listing = lines_of(run.output);
  ASSERT_EQ(listing.size(), 3u);
  EXPECT_EQ(listing[0], "x.m3u");
  const std::vector<std::string> second_run(listing.begin() + 1, listing.end());
  EXPECT_EQ(sorted(second_run), (std::vector<std::string>{"a.m3u", "x.m3u"}));
  EXPECT_EQ(read_file(dir / M3U_NATIVE("b.m3u")),
            merged_in_order(second_run, {{"a.m3u", "x\r\n"}, {"x.m3u", "x"}}));
}

TEST(CommandLine, TakesAnAnchorRelativeToTheCurrentFolder) {
  TempDir dir;
  write_file(dir / M3U_NATIVE("a.m3u"), "a");
  NativeString relative = M3U_NATIVE(".");
  relative += platform::kDirectorySeparator;
  const auto run = run_tool({relative + M3U_NATIVE("game.wsr")}, "", dir.path());
  EXPECT_EQ(run.output, "a.m3u" + std::string(kLineEnd));
  EXPECT_EQ(read_file(dir / M3U_NATIVE("game.m3u")), kSignature + "a\r\n");
}

TEST(CommandLine, PrintsEveryNameOnALineOfItsOwn) {
  TempDir dir;
  write_file(dir / M3U_NATIVE("\u66F2.m3u"), "1");      // 曲
  write_file(dir / M3U_NATIVE("Caf\u00E9.m3u"), "2");   // é, which code page 932 lacks
  write_file(dir / M3U_NATIVE("\U0001F3B5.m3u"), "3");  // a note, beyond 16 bits
  const auto run = run_tool({dir.prefix() + M3U_NATIVE("game.wsr")});
#if defined(_WIN32)
  EXPECT_EQ(sorted(lines_of(run.output)),
            (std::vector<std::string>{"?.m3u", "Caf?.m3u", "\x8B\xC8.m3u"}));
#else
  EXPECT_EQ(lines_of(run.output), (std::vector<std::string>{"Caf\xC3\xA9.m3u", "\xE6\x9B\xB2.m3u",
                                                            "\xF0\x9F\x8E\xB5.m3u"}));
#endif
  EXPECT_EQ(read_file(dir / M3U_NATIVE("game.m3u"))->size(), kSignature.size() + 9);
}

TEST(CommandLine, StopsAtTheFirstReadablePlaylistWhenTheMergedOneCannotBeWritten) {
  // A read-only playlist, or a folder, at the merged playlist's name.
  for (const bool folder : {false, true}) {
    TempDir dir;
    write_file(dir / M3U_NATIVE("0-big.m3u"), std::string(40000, 'x'));
    write_file(dir / M3U_NATIVE("a.m3u"), "a");
    write_file(dir / M3U_NATIVE("b.m3u"), "b");
    if (folder) {
      test::fs::create_directory(dir / M3U_NATIVE("game.m3u"));
    } else {
      write_file(dir / M3U_NATIVE("game.m3u"), "old");
      test::make_read_only(dir / M3U_NATIVE("game.m3u"), true);
    }

    const auto listing = lines_of(run_tool({dir.prefix() + M3U_NATIVE("game.wsr")}).output);
#if !defined(_WIN32)
    EXPECT_EQ(listing, (std::vector<std::string>{"0-big.m3u", "a.m3u"})) << folder;
#endif
    ASSERT_FALSE(listing.empty());
    EXPECT_TRUE(listing.back() == "a.m3u" || listing.back() == "b.m3u") << listing.back();
    for (std::size_t i = 0; i + 1 < listing.size(); ++i) EXPECT_EQ(listing[i], "0-big.m3u");
    if (folder) {
      EXPECT_TRUE(test::fs::is_directory(dir / M3U_NATIVE("game.m3u")));
    } else {
      EXPECT_EQ(read_file(dir / M3U_NATIVE("game.m3u")), "old");
    }
    EXPECT_EQ(test::entry_names(dir.path()).size(), 4u);
  }
}

TEST(CommandLine, TakesLongPathsWholeAndNeverWritesAtAPathCutShort) {
  // Merged playlists at 255 units (whose temporary file's path is past the
  // 260 that fixed path buffers hold) and at 380 units.
  for (const std::size_t merged_length : {255, 380}) {
    TempDir dir;
    path deep = dir.path();
    const std::size_t folder_length = merged_length - std::size("/game.m3u") + 1;
    while (deep.native().size() < folder_length) {
      const std::size_t missing = folder_length - deep.native().size() - 1;
      deep /= NativeString(std::min<std::size_t>(missing, 200), NativeChar('d'));
    }
    std::error_code error;
    if (!test::fs::create_directories(deep, error)) GTEST_SKIP() << "cannot create " << deep;
    write_file(deep / M3U_NATIVE("a.m3u"), "a");
    const NativeString anchor =
        deep.native() + platform::kDirectorySeparator + M3U_NATIVE("game.wsr");
    ASSERT_EQ(anchor.size(), merged_length);

    const auto run = run_tool({anchor});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.output, "a.m3u" + std::string(kLineEnd));
    EXPECT_EQ(read_file(deep / M3U_NATIVE("game.m3u")), kSignature + "a\r\n");
    // Every folder above holds nothing but the next one.
    for (path folder = deep; folder != dir.path(); folder = folder.parent_path()) {
      const Names expected = {folder.filename().native()};
      EXPECT_EQ(test::entry_names(folder.parent_path()), expected);
    }
  }
}

#if defined(_WIN32)
HANDLE open_shared(const path& file, DWORD access, DWORD sharing) {
  return ::CreateFileW(file.c_str(), access, sharing, nullptr, OPEN_EXISTING, 0, nullptr);
}

std::string read_handle(HANDLE file) {
  char bytes[64];
  DWORD got = 0;
  ::SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  return ::ReadFile(file, bytes, sizeof bytes, &got, nullptr) ? std::string(bytes, got) : "";
}

TEST(CommandLine, PlaylistsOthersHoldNeverCostThePlaylistOrBlockTheMerge) {
  TempDir dir;
  write_file(dir / L"a.m3u", "a");
  write_file(dir / L"held.m3u", "held");
  write_file(dir / L"game.m3u", "old");
  const path merged = dir / L"game.m3u";
  ASSERT_TRUE(::SetFileAttributesW(merged.c_str(), FILE_ATTRIBUTE_HIDDEN));
  const Names all_files = {L"a.m3u", L"game.m3u", L"held.m3u"};
  // A player that keeps a playlist open for writing, and one that reads the
  // merged playlist, both sharing every way: the new playlist takes the name
  // and the reader keeps reading the earlier one.
  const DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const HANDLE held = open_shared(dir / L"held.m3u", GENERIC_WRITE, share_all);
  const HANDLE reader = open_shared(merged, GENERIC_READ, share_all);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  const auto listing = lines_of(run_tool({dir.prefix() + L"game.wsr"}).output);
  ::CloseHandle(held);
  EXPECT_EQ(read_handle(reader), "old");
  ::CloseHandle(reader);
  EXPECT_EQ(sorted(listing), (std::vector<std::string>{"a.m3u", "held.m3u"}));
  const std::string merged_bytes = merged_in_order(listing, {{"a.m3u", "a"}, {"held.m3u", "held"}});
  EXPECT_EQ(read_file(merged), merged_bytes);
  EXPECT_NE(::GetFileAttributesW(merged.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_EQ(test::entry_names(dir.path()), all_files);

  // A program that holds the merged playlist and shares nothing: after a
  // while the merge gives up and leaves the playlist as it was.
  write_file(dir / L"held.m3u", "b");
  const HANDLE locked = open_shared(merged, GENERIC_READ, 0);
  ASSERT_NE(locked, INVALID_HANDLE_VALUE);
  run_tool({dir.prefix() + L"game.wsr"});
  EXPECT_EQ(read_handle(locked), merged_bytes);
  ::CloseHandle(locked);
  EXPECT_EQ(read_file(merged), merged_bytes);
  EXPECT_NE(::GetFileAttributesW(merged.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_EQ(test::entry_names(dir.path()), all_files);

  // The same program letting go within the merge's patience, while a
  // scanner takes every temporary file it can, sharing no deletion: the
  // scanner never gets in the way.
  const HANDLE briefly = open_shared(merged, GENERIC_READ, 0);
  ASSERT_NE(briefly, INVALID_HANDLE_VALUE);
  std::atomic<bool> merging = true;
  std::vector<HANDLE> scanned;
  std::thread scanner([&] {
    const auto start = std::chrono::steady_clock::now();
    bool let_go = false;
    while (merging) {
      if (!let_go && std::chrono::steady_clock::now() - start > std::chrono::milliseconds(800)) {
        let_go = ::CloseHandle(briefly) != 0;
      }
      for (const auto& name : test::entry_names(dir.path())) {
        if (!name.starts_with(L"~")) continue;
        const HANDLE file =
            open_shared(dir / name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
        if (file != INVALID_HANDLE_VALUE) scanned.push_back(file);
      }
    }
    if (!let_go) ::CloseHandle(briefly);
  });
  run_tool({dir.prefix() + L"game.wsr"});
  merging = false;
  scanner.join();
  for (const HANDLE file : scanned) ::CloseHandle(file);
  EXPECT_EQ(scanned.size(), 0u);
  EXPECT_EQ(read_file(merged), merged_in_order(listing, {{"a.m3u", "a"}, {"held.m3u", "b"}}));
  EXPECT_EQ(test::entry_names(dir.path()), all_files);
}

// The 8.3 alias Windows gives the entry `name` of `dir`.
std::wstring short_name(const TempDir& dir, const std::wstring& name) {
  std::wstring alias(MAX_PATH, L'\0');
  alias.resize(::GetShortPathNameW((dir / name).c_str(), alias.data(), MAX_PATH));
  return alias.substr(alias.rfind(L'\\') + 1);
}

TEST(CommandLine, AnAnchorSpelledByAnAliasNeverReplacesAnotherPlaylist) {
  TempDir dir;
  write_file(dir / L"My Playlist.m3u", "mine");
  write_file(dir / L"Game Soundtrack.wsr", "");
  write_file(dir / L"a.m3u", "a");
  const std::wstring playlist_alias = short_name(dir, L"My Playlist.m3u");
  const std::wstring anchor_alias = short_name(dir, L"Game Soundtrack.wsr");
  if (playlist_alias == L"My Playlist.m3u") GTEST_SKIP() << "this volume keeps no 8.3 names";
  // No file answers to the anchor; its merged name is the alias of another
  // playlist, which is left alone.
  run_tool({dir.prefix() + playlist_alias.substr(0, playlist_alias.rfind(L'.')) + L".wsr"});
  EXPECT_EQ(read_file(dir / L"My Playlist.m3u"), "mine");
  // The anchor's file answers: the merged playlist bears its own name.
  const auto listing = lines_of(run_tool({dir.prefix() + anchor_alias}).output);
  EXPECT_EQ(sorted(listing), (std::vector<std::string>{"My Playlist.m3u", "a.m3u"}));
  EXPECT_EQ(read_file(dir / L"Game Soundtrack.m3u"),
            merged_in_order(listing, {{"My Playlist.m3u", "mine"}, {"a.m3u", "a"}}));
  EXPECT_EQ(read_file(dir / L"My Playlist.m3u"), "mine");
  EXPECT_EQ(test::entry_names(dir.path()),
            (Names{L"Game Soundtrack.m3u", L"Game Soundtrack.wsr", L"My Playlist.m3u", L"a.m3u"}));
}

TEST(CommandLine, AFolderWhoseNameEndsInADotIsNotItsTwinWithout) {
  TempDir dir;
  // Only \\?\ paths reach a name that ends in a dot.
  const std::wstring dotted = L"\\\\?\\" + (dir / L"m.").native();
  ASSERT_TRUE(::CreateDirectoryW((dir / L"m").c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW(dotted.c_str(), nullptr));
  write_file(dir / L"m" / L"a.m3u", "plain");
  write_file(dotted + L"\\b.m3u", "dotted");
  EXPECT_EQ(run_tool({dir.prefix() + L"m.\\game.wsr"}).output, "b.m3u\r\n");
  EXPECT_EQ(read_file(dotted + L"\\game.m3u"), kSignature + "dotted\r\n");
  EXPECT_EQ(test::entry_names(dir / L"m"), (Names{L"a.m3u"}));
  for (const auto& name : test::entry_names(dotted)) ::DeleteFileW((dotted + L"\\" + name).c_str());
  EXPECT_TRUE(::RemoveDirectoryW(dotted.c_str()));
}

TEST(CommandLine, ALinkAtTheMergedNameIsReplacedAndItsTargetKept) {
  TempDir linked;
  TempDir elsewhere;
  write_file(linked / L"a.m3u", "a");
  write_file(elsewhere / L"target.m3u", "keep me");
  if (!::CreateSymbolicLinkW((linked / L"game.m3u").c_str(), (elsewhere / L"target.m3u").c_str(),
                             SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)) {
    GTEST_SKIP() << "links need developer mode or the right to create them";
  }
  EXPECT_EQ(run_tool({linked.prefix() + L"game.wsr"}).output, "a.m3u\r\n");
  EXPECT_EQ(::GetFileAttributesW((linked / L"game.m3u").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT,
            0u);
  EXPECT_EQ(read_file(linked / L"game.m3u"), kSignature + "a\r\n");
  EXPECT_EQ(read_file(elsewhere / L"target.m3u"), "keep me");
}

TEST(CommandLine, AnAnchorWithDotsInItsNameNeverMergesItsOwnPlaylist) {
  TempDir dir;
  write_file(dir / L"a.m3u", "a");
  // The name part "./game" is "game" once resolved: game.m3u is the merged
  // playlist, whatever the listing calls it.
  const std::wstring anchor = dir.prefix() + L"./game.wsr";
  for (int run_number = 1; run_number <= 2; ++run_number) {
    EXPECT_EQ(run_tool({anchor}).output, "a.m3u\r\n") << "run " << run_number;
    EXPECT_EQ(read_file(dir / L"game.m3u"), kSignature + "a\r\n") << "run " << run_number;
  }
}
#endif

#if !defined(_WIN32)
using test::shell;

TEST(CommandLine, SkipsPipesSocketsDevicesAndFoldersWithoutBlocking) {
  TempDir dir;
  write_file(dir / "a.m3u", "a");
  ASSERT_EQ(::mkfifo((dir / "pipe.m3u").c_str(), 0644), 0);
  const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socket_path = (dir / "sock.m3u").string();
  ASSERT_LT(socket_path.size(), sizeof address.sun_path);
  socket_path.copy(address.sun_path, socket_path.size());
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  test::fs::create_symlink("/dev/zero", dir / "zero.m3u");
  test::fs::create_symlink("/dev/urandom", dir / "urandom.m3u");
  test::fs::create_symlink("nowhere", dir / "gone.m3u");
  test::fs::create_directory(dir / "sub");
  test::fs::create_directory_symlink("sub", dir / "folder.m3u");
  test::fs::create_symlink("a.m3u", dir / "link.m3u");
  // A link to the merged playlist is the merged playlist: never an input.
  write_file(dir / "game.m3u", "old");
  test::fs::create_symlink("game.m3u", dir / "all.m3u");

  for (int run_number = 1; run_number <= 2; ++run_number) {
    const auto run = run_tool({dir.prefix() + "game.wsr"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(lines_of(run.output), (std::vector<std::string>{"a.m3u", "gone.m3u", "link.m3u"}));
    EXPECT_EQ(read_file(dir / "game.m3u"), kSignature + "a\r\na\r\n") << "run " << run_number;
  }
  ::close(listener);
}

TEST(CommandLine, NeitherFewDescriptorsNorFailingCallsCostTheListingOrThePlaylist) {
  TempDir dir;
  std::string listing;
  std::string merged = kSignature;
  for (int i = 100; i < 300; ++i) {
    const std::string stem = std::to_string(i);
    switch (i % 5) {
      case 0:
        ASSERT_EQ(::mkfifo((dir / (stem + ".m3u")).c_str(), 0644), 0);
        break;
      case 1:
        test::fs::create_symlink("/dev/null", dir / (stem + ".m3u"));
        break;
      case 2:
        write_file(dir / (stem + ".m3u"), std::string(kMaxPlaylistBytes + 1, 'x'));
        listing += stem + ".m3u\n";
        break;
      default:
        write_file(dir / (stem + ".m3u"), stem);
        listing += stem + ".m3u\n";
        merged += stem + "\r\n";
    }
    // An earlier merged playlist in the middle of the listing.
    if (i == 200) write_file(dir / "2-game.m3u", "old");
  }
  TempDir scratch;
  const std::string output = (scratch.path() / "listing").string();
  const std::string script = (scratch.path() / "run.sh").string();
  // bash takes descriptors past 9 in a redirection, which sh may not; given
  // the script as text, it holds no descriptor of its own to be taken. What
  // the test runner left open is closed first.
  const auto run_under = [&](const std::string& limit, const std::string& runner = "") {
    write_file(script, "for fd in {3..9}; do eval \"exec $fd>&-\"; done; " + limit + " && " +
                           runner + " \"$1\" '" + dir.prefix() + "2-game.wsr' >'" + output + "'");
    return shell("bash -c \"$(cat '" + script + "')\" bash \"$TOOL\"");
  };
  // A limit far below the files read ahead by default: every playlist is
  // merged once, in order.
  EXPECT_EQ(run_under("ulimit -n 19"), 0);
  EXPECT_EQ(read_file(output), listing);
  EXPECT_EQ(read_file(dir / "2-game.m3u"), merged);
  // Too few to keep the merged playlist and a candidate open at once: the
  // earlier playlist stays, and every name is still listed.
  write_file(dir / "2-game.m3u", "old");
  EXPECT_EQ(run_under("ulimit -n 5"), 0);
  EXPECT_EQ(read_file(output), listing);
  EXPECT_EQ(read_file(dir / "2-game.m3u"), "old");
  // Failures injected by strace: a playlist that cannot be opened for want
  // of memory, wherever it stands (the tool opens it relative to its
  // folder), keeps the earlier playlist with every name listed; a folder
  // that cannot be read to its end keeps it with nothing listed.
  const struct {
    std::string failure;
    std::string listed;
  } injected[] = {
      {"-P 103.m3u -e inject=openat:error=ENOMEM", listing},
      {"-P 154.m3u -e inject=openat:error=ENOMEM", listing},
      {"-P 299.m3u -e inject=openat:error=ENOMEM", listing},
      // Short of memory in reading the file, or in examining it: the same.
      {"-P " + dir.prefix() + "154.m3u -e inject=read:error=ENOMEM", listing},
      {"-P " + dir.prefix() + "154.m3u -e inject=fstat,newfstatat:error=ENOMEM", listing},
      {"-e inject=getdents64:error=EIO:when=2", ""},
  };
  for (const auto& c : injected) {
    write_file(dir / "2-game.m3u", "old");
    // LeakSanitizer cannot work under a tracer.
    const int status =
        run_under("command -v strace >/dev/null || exit 127",
                  "ASAN_OPTIONS=detect_leaks=0 strace -qq -o /dev/null " + c.failure);
    if (status == 127) {
      std::printf("note: strace is not installed; injected failures were not tried\n");
      break;
    }
    EXPECT_EQ(read_file(output), c.listed) << c.failure;
    EXPECT_EQ(read_file(dir / "2-game.m3u"), "old") << c.failure;
  }
  EXPECT_EQ(test::entry_names(dir.path()).size(), 201u);
}

TEST(CommandLine, PrintsNamesOfEveryKindAsTheirBytes) {
  TempDir dir;
  write_file(dir / "\xE9t\xE9\n%s.m3u", "x");  // no UTF-8, a line feed, a format
  write_file(dir / "-n.m3u", "-");
  write_file(dir / "a\\b.m3u", "\\");  // no separator on this system
  // Escape sequences (clear screen, window title), C1 controls raw and as
  // UTF-8 between the bytes of a character that holds 9B.
  write_file(dir / "x\x1B[2J\x1B]0;title\x07\x7F\x9B\xC2\x9B\xE6\x9B\xB2.m3u", "e");
  // The last C1 control as UTF-8 beside the first character past them, and
  // a sequence broken off by an escape.
  write_file(dir / "y\xC2\x9F\xC2\xA0\xE6\x1B[1m.m3u", "y");
  // 9B after bytes that make no sequence: overlong forms of ESC, a lead
  // byte that never starts one, a surrogate; then the largest code point.
  write_file(dir / "z\xC0\x9B\xE0\x80\x9B\xF8\x9B\xED\xA0\x80\xF4\x8F\xBF\xBF.m3u", "z");
  const auto run = run_tool({dir.prefix() + "game.wsr"});
  EXPECT_EQ(run.output,
            "-n.m3u\na\\b.m3u\nx\x1B[2J\x1B]0;title\x07\x7F\x9B\xC2\x9B\xE6\x9B\xB2.m3u\n"
            "y\xC2\x9F\xC2\xA0\xE6\x1B[1m.m3u\n"
            "z\xC0\x9B\xE0\x80\x9B\xF8\x9B\xED\xA0\x80\xF4\x8F\xBF\xBF.m3u\n\xE9t\xE9\n%s.m3u\n");
  EXPECT_EQ(read_file(dir / "game.m3u"), kSignature + "-\r\n\\\r\ne\r\ny\r\nz\r\nx\r\n");

  // On a terminal no name can drive it: every control, and every byte of
  // no well-formed sequence, shows as "?".
  const std::string screen = (dir.path() / "screen").string();
  const int status = shell("timeout 20 script -qec \"'$TOOL' '" + dir.prefix() +
                           "game.wsr'\" /dev/null </dev/null >'" + screen + "'");
  if (status == 127) GTEST_SKIP() << "script(1) is not installed";
  EXPECT_EQ(read_file(screen),
            "-n.m3u\r\na\\b.m3u\r\nx?[2J?]0;title????\xE6\x9B\xB2.m3u\r\n"
            "y?\xC2\xA0??[1m.m3u\r\nz??????????\xF4\x8F\xBF\xBF.m3u\r\n?t??%s.m3u\r\n");
}

TEST(CommandLine, AFailedWriteLeavesTheEarlierPlaylistAndNoTemporaryFile) {
  TempDir output;
  TempDir dir;
  write_file(dir / "game.m3u", "old");
  Names names = {"game.m3u"};
  std::string listing;
  // 12 MB of candidates, more than are opened ahead at once.
  for (int i = 100; i < 500; ++i) {
    names.push_back(std::to_string(i) + ".m3u");
    write_file(dir / names.back(), std::string(30000, char('a' + i % 26)));
    listing += names.back() + "\n";
  }
  // A file size limit of 10 MiB, met after the file was first flushed in the
  // background; SIGXFSZ would otherwise end the tool. Every playlist is still
  // listed, as without the failure.
  const std::string listed = (output.path() / "listed").string();
  EXPECT_EQ(shell("cd '" + dir.path().string() + "' && ulimit -f 10240 && \"$TOOL\" ./game.wsr >'" +
                  listed + "'"),
            0);
  EXPECT_EQ(read_file(listed), listing);
  EXPECT_EQ(read_file(dir / "game.m3u"), "old");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(test::entry_names(dir.path()), names);
}

TEST(CommandLine, AClosedOrBrokenStandardOutputDoesNotSpoilTheMerge) {
  TempDir dir;
  std::string expected = kSignature;
  // More names than standard output buffers: some are written after the
  // reader has gone.
  for (int i = 0; i < 400; ++i) {
    const std::string name = "list-" + std::to_string(10000 + i) + ".m3u";
    write_file(dir / name, name);
    expected += name + "\r\n";
  }
  const std::string run = "\"$TOOL\" '" + dir.prefix() + "game.wsr'";
  // With every standard stream closed, the files the tool opens must not
  // take their numbers.
  std::vector<std::string> commands = {run + " >&-", run + " <&- >&- 2>&-", run + " | head -c0",
                                       run + " | true"};
  // And no null device to stand in for them, in a mount namespace of its own.
  if (shell("unshare -m true 2>/dev/null") == 0) {
    commands.push_back(
        "unshare -m sh -c 'mount -t tmpfs none /dev && exec \"$0\" \"$1\" <&- >&-' \"$TOOL\" '" +
        dir.prefix() + "game.wsr'");
  } else {
    std::printf("note: no mount namespace here; a missing null device was not tried\n");
  }
  for (const std::string& command : commands) {
    ASSERT_TRUE(test::fs::remove(dir / "game.m3u") || command == run + " >&-");
    EXPECT_EQ(shell(command), 0) << command;
    EXPECT_EQ(read_file(dir / "game.m3u"), expected) << command;
  }
}

TEST(CommandLine, ReplacesALinkAtTheMergedPathAndKeepsPermissionBitsAndOwner) {
  TempDir fresh;
  write_file(fresh / "a.m3u", "a");
  TempDir linked;
  TempDir elsewhere;
  write_file(linked / "a.m3u", "a");
  write_file(elsewhere / "target.m3u", "keep me");
  test::fs::create_symlink(elsewhere / "target.m3u", linked / "game.m3u");
  TempDir kept;
  write_file(kept / "a.m3u", "a");
  write_file(kept / "game.m3u", "old");
  ASSERT_EQ(::chmod((kept / "game.m3u").c_str(), 0640), 0);
  // Set-id bits are never carried over.
  TempDir set_id;
  write_file(set_id / "a.m3u", "a");
  write_file(set_id / "game.m3u", "old");
  ASSERT_EQ(::chmod((set_id / "game.m3u").c_str(), 06755), 0);
  // Root merging a user's folder leaves the playlist the user's.
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown((kept / "game.m3u").c_str(), 1234, 5678), 0);
  }

  // A new playlist is as readable as any new file: 0666 less the umask.
  const mode_t umask = ::umask(022);
  struct stat status {};
  run_tool({fresh.prefix() + "game.wsr", linked.prefix() + "game.wsr", kept.prefix() + "game.wsr",
            set_id.prefix() + "game.wsr"});
  ::umask(umask);
  ASSERT_EQ(::stat((set_id / "game.m3u").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0755u);
  ASSERT_EQ(::stat((fresh / "game.m3u").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0644u);
  EXPECT_FALSE(test::fs::is_symlink(linked / "game.m3u"));
  EXPECT_EQ(read_file(linked / "game.m3u"), kSignature + "a\r\n");
  EXPECT_EQ(read_file(elsewhere / "target.m3u"), "keep me");
  ASSERT_EQ(::stat((kept / "game.m3u").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(std::make_pair(status.st_uid, status.st_gid), std::make_pair(1234u, 5678u));
  } else {
    std::printf("note: not root, so the owner and group of a replaced playlist were not checked\n");
  }
  EXPECT_EQ(read_file(kept / "game.m3u"), kSignature + "a\r\n");
}

// Owner, group and permission bits of a file, set-id bits included.
std::tuple<unsigned, unsigned, unsigned> ownership_of(const path& file) {
  struct stat status {};
  if (::lstat(file.c_str(), &status) != 0) return {};
  return {status.st_uid, status.st_gid, status.st_mode & 07777};
}

TEST(CommandLine, RootMergesAnotherUsersFolderWithThatUsersRightsAlone) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root, to act for other users";
  constexpr unsigned kOwner = 65534;
  constexpr unsigned kThird = 1234;
  constexpr unsigned kGroup = 5678;
  TempDir dir;
  TempDir secrets;
  const path music = dir / "music";
  ASSERT_TRUE(test::fs::create_directory(music));
  // Readable by root's group, which root's supplementary groups hold.
  write_file(secrets / "secret", "root's secret");
  ASSERT_EQ(::chmod((secrets / "secret").c_str(), 0640), 0);
  write_file(music / "a.m3u", "a");
  test::fs::create_symlink(secrets / "secret", music / "secret.m3u");
  // A link to the merged playlist, which does not exist yet.
  test::fs::create_symlink("game.m3u", music / "to-game.m3u");
  test::fs::create_symlink("/etc/shadow", music / "shadow.m3u");
  write_file(music / "third.m3u", "a third user's");
  ASSERT_EQ(::chown((music / "third.m3u").c_str(), kThird, kThird), 0);
  ASSERT_EQ(::chmod((music / "third.m3u").c_str(), 0600), 0);
  // The folder keeps root's group, as one root made and gave away does:
  // the owner, who is not in it, takes none of its rights.
  for (const char* name : {"", "a.m3u", "secret.m3u", "shadow.m3u", "to-game.m3u"}) {
    ASSERT_EQ(::lchown((music / name).c_str(), kOwner, 0), 0);
  }
  const mode_t umask = ::umask(022);
  // Root with root's group among its own, as after a login, in a folder
  // the owner may not enter, naming the anchor from there.
  TempDir here;
  const std::string listed = (here.path() / "listed").string();
  ASSERT_EQ(::chmod(here.path().c_str(), 0700), 0);
  const int status =
      shell("cd '" + here.path().string() + "' && setpriv --groups 0 \"$TOOL\" '" +
            test::fs::relative(music, here.path()).string() + "/game.wsr' >'" + listed + "'");
  ::umask(umask);
  if (status == 127) GTEST_SKIP() << "setpriv is not installed";
  EXPECT_EQ(read_file(listed), "a.m3u\nsecret.m3u\nshadow.m3u\nthird.m3u\n");
  EXPECT_EQ(read_file(music / "game.m3u"), kSignature + "a\r\n");
  // The owner's own group, as the system's files give it (nobody's is nogroup).
  EXPECT_EQ(ownership_of(music / "game.m3u"), std::make_tuple(kOwner, 65534u, 0644u));
  EXPECT_EQ(test::entry_names(music).size(), 6u);

  // The owner merges again, as themselves: the playlist is theirs to replace.
  // So is one that another member of a shared group left, whose group stays.
  ASSERT_EQ(::chown((music / "third.m3u").c_str(), kThird, kGroup), 0);
  ASSERT_EQ(::chmod((music / "third.m3u").c_str(), 0660), 0);
  ASSERT_EQ(::chown((music / "game.m3u").c_str(), kThird, kGroup), 0);
  ASSERT_EQ(::chmod((music / "game.m3u").c_str(), 0660), 0);
  const auto own = test::run_in_child([&] {
    const gid_t groups[] = {kGroup};
    const int null_device = ::open("/dev/null", O_WRONLY);
    if (::dup2(null_device, STDOUT_FILENO) < 0 || ::setgroups(1, groups) != 0 ||
        ::setgid(kOwner) != 0 || ::setuid(kOwner) != 0) {
      return 2;
    }
    return merge_playlists(music.string() + "/game.wsr") ? 0 : 1;
  });
  EXPECT_EQ(own.exit_code, 0);
  EXPECT_EQ(read_file(music / "game.m3u"), kSignature + "a\r\na third user's\r\n");
  EXPECT_EQ(ownership_of(music / "game.m3u"), std::make_tuple(kOwner, kGroup, 0660u));

  // In root's own folder that everyone may write, a link another user
  // planted is not followed; root's own link is.
  TempDir shared;
  ASSERT_EQ(::chmod(shared.path().c_str(), 0777), 0);
  write_file(shared / "a.m3u", "a");
  test::fs::create_symlink(secrets / "secret", shared / "planted.m3u");
  ASSERT_EQ(::lchown((shared / "planted.m3u").c_str(), kOwner, kOwner), 0);
  test::fs::create_symlink(shared / "a.m3u", shared / "roots.m3u");
  EXPECT_EQ(run_tool({shared.prefix() + "game.wsr"}).output, "a.m3u\nplanted.m3u\nroots.m3u\n");
  EXPECT_EQ(read_file(shared / "game.m3u"), kSignature + "a\r\na\r\n");

  // In a user namespace that does not map the earlier playlist's owner,
  // its owner cannot be kept, and the merge goes on.
  TempDir unmapped;
  write_file(unmapped / "a.m3u", "a");
  write_file(unmapped / "game.m3u", "old");
  ASSERT_EQ(::chown((unmapped / "game.m3u").c_str(), kThird, kThird), 0);
  ASSERT_EQ(::chmod((unmapped / "game.m3u").c_str(), 0666), 0);
  if (shell("unshare -r true 2>/dev/null") != 0) {
    std::printf("note: no user namespace here; an unmapped owner was not tried\n");
    return;
  }
  EXPECT_EQ(shell("unshare -r \"$TOOL\" '" + unmapped.prefix() + "game.wsr' >/dev/null"), 0);
  EXPECT_EQ(read_file(unmapped / "game.m3u"), kSignature + "a\r\n");
}

#endif

}  // namespace
}  // namespace m3umerge
