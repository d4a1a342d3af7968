#include "playlist/candidates.h"

#include <gtest/gtest.h>

#include <string>

#include "support/files.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "support/process.h"
#endif

namespace m3umerge {
namespace {

using test::TempDir;
using test::write_file;

// A line for one candidate: its name, and its bytes when read whole, else
// what came of it.
std::string line_of(const Candidate& candidate) {
  std::string line = test::fs::path(NativeString(candidate.name)).string();
  switch (candidate.read) {
    case CandidateRead::content:
      return line + " " + std::string(candidate.content.begin(), candidate.content.end()) + "\n";
    case CandidateRead::too_large:
      return line + " too large, " + std::to_string(candidate.size) + "\n";
    case CandidateRead::unreadable:
      return line + " unreadable\n";
    case CandidateRead::no_resources:
      return line + " no resources\n";
    case CandidateRead::not_read:
      break;
  }
  return line + " not read\n";
}

// The lines of the candidates of `folder`, merged playlist `merged`. Reading
// stops before the candidate at `stop`.
std::string yielded(const TempDir& folder, NativeStringView merged, std::size_t stop = SIZE_MAX) {
  platform::Directory directory;
  if (!directory.open(folder.prefix())) return "no folder";
  platform::NameList names;
  Candidates candidates(directory, merged, names);
  if (!candidates.list()) return "no listing";
  std::string lines;
  for (std::size_t i = 0;; ++i) {
    if (i == stop) candidates.stop_reading();
    const Candidate* candidate = candidates.next();
    if (candidate == nullptr) break;
    lines += line_of(*candidate);
  }
  return lines;
}

TEST(Candidates, AreThePlaylistsInNameOrderWithoutTheMergedOneReadOrNot) {
  TempDir dir;
  write_file(dir / M3U_NATIVE("b.m3u"), "b");
  write_file(dir / M3U_NATIVE("A.M3U"), "a");
  write_file(dir / M3U_NATIVE("big.m3u"), std::string(kMaxPlaylistBytes + 1, 'x'));
  write_file(dir / M3U_NATIVE("c.txt"), "c");
  test::fs::create_directory(dir / M3U_NATIVE("folder.m3u"));
  write_file(dir / M3U_NATIVE("game.m3u"), "old");
  write_file(dir / M3U_NATIVE("GAME.m3u"), "old too");  // the same name on Windows
  // Another name for the merged playlist's file.
  test::fs::create_hard_link(dir / M3U_NATIVE("game.m3u"), dir / M3U_NATIVE("hard.m3u"));
  EXPECT_EQ(yielded(dir, M3U_NATIVE("game.m3u")), "A.M3U a\nb.m3u b\nbig.m3u too large, 32769\n");
  EXPECT_EQ(yielded(dir, M3U_NATIVE("game.m3u"), 0),
            "A.M3U not read\nb.m3u not read\nbig.m3u not read\n");
#if !defined(_WIN32)
  // Links: to the merged playlist, whether or not it exists yet, directly,
  // through another link or through another path to this folder; to another
  // name of its file; to a playlist; and to nothing.
  test::fs::create_symlink("game.m3u", dir / "direct.m3u");
  test::fs::create_symlink("direct.m3u", dir / "chain.m3u");
  test::fs::create_symlink("../" + dir.path().filename().string() + "/game.m3u",
                           dir / "around.m3u");
  test::fs::create_symlink("hard.m3u", dir / "to-hard.m3u");
  test::fs::create_symlink("b.m3u", dir / "to-b.m3u");
  test::fs::create_symlink("nowhere", dir / "gone.m3u");
  const std::string read =
      "A.M3U a\nb.m3u b\nbig.m3u too large, 32769\ngone.m3u unreadable\n"
      "to-b.m3u b\n";
  const std::string unread =
      "A.M3U not read\nb.m3u not read\nbig.m3u not read\n"
      "gone.m3u not read\nto-b.m3u not read\n";
  EXPECT_EQ(yielded(dir, "game.m3u"), read);
  EXPECT_EQ(yielded(dir, "game.m3u", 0), unread);
  // Before any merged playlist exists, links to its name are left out all the same.
  test::fs::remove(dir / "hard.m3u");
  test::fs::rename(dir / "game.m3u", dir / "hard.m3u");
  EXPECT_EQ(yielded(dir, "game.m3u"),
            "A.M3U a\nb.m3u b\nbig.m3u too large, 32769\ngone.m3u unreadable\nhard.m3u old\n"
            "to-b.m3u b\nto-hard.m3u old\n");
#endif
}

#if !defined(_WIN32)
TEST(Candidates, ReadEachPlaylistOnceWhateverDescriptorsAreFree) {
  TempDir dir;
  std::string all;
  for (int i = 100; i < 200; ++i) {
    const std::string name = std::to_string(i) + ".m3u";
    if (i % 10 == 0) {
      test::fs::create_symlink("nowhere", dir / name);
      all += name + " unreadable\n";
    } else {
      write_file(dir / name, name);
      all += name + " " + name + "\n";
    }
  }
  // Descriptors 0 to 3 are taken in the child, and one more stands for the
  // merged playlist. Limits far below the files read ahead, odd and even,
  // then a thousand descriptors taken under a limit of 1024.
  for (const int taken : {0, 1000}) {
    for (const rlim_t limit : {7, 8, 9, 12, 17, 24, 41, 1024}) {
      if (taken > 0 && limit < 1024) continue;
      const auto run = test::run_in_child([&] {
        for (int fd = 0; fd <= taken; ++fd) (void)::open("/dev/null", O_RDONLY);
        const rlimit low{limit, limit};
        if (::setrlimit(RLIMIT_NOFILE, &low) != 0) return 2;
        const std::string lines = yielded(dir, "game.m3u");
        return ::write(3, lines.data(), lines.size()) == ssize_t(lines.size()) ? 0 : 1;
      });
      EXPECT_EQ(run.output, all) << "limit " << limit << ", taken " << taken;
    }
  }
  // Too few for the folder, its listing and one candidate beside the merged
  // playlist: the candidate whose turn it is says so, once, and the rest is
  // listed unread.
  const auto starved = test::run_in_child([&] {
    const rlimit low{6, 6};
    platform::Directory directory;
    if (::setrlimit(RLIMIT_NOFILE, &low) != 0 || !directory.open(dir.prefix())) return 2;
    platform::NameList names;
    Candidates candidates(directory, "game.m3u", names);
    if (!candidates.list()) return 3;
    std::string lines;
    while (const Candidate* candidate = candidates.next()) {
      if (lines.empty()) (void)::open("/dev/null", O_RDONLY);  // the merged playlist
      lines += line_of(*candidate);
    }
    return ::write(3, lines.data(), lines.size()) == ssize_t(lines.size()) ? 0 : 1;
  });
  std::string expected = "100.m3u unreadable\n101.m3u no resources\n";
  for (int i = 102; i < 200; ++i) expected += std::to_string(i) + ".m3u not read\n";
  EXPECT_EQ(starved.output, expected);
}
#endif

}  // namespace
}  // namespace m3umerge
