// Folders and conditions that try to make the merge lose data, hang or leak.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "playlist/merge.h"
#include "support/failing_flush.h"
#include "support/files.h"
#include "support/process.h"

#if defined(_WIN32)
#include <windows.h>
// after windows.h
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>
#endif
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace m3umerge {
namespace {

using test::kSignature;
using test::read_file;
using test::run_tool;
using test::TempDir;
using test::write_file;

// Sends standard output to the null device while it lives.
class SilencedStdout {
 public:
  SilencedStdout() {
    (void)std::fflush(stdout);
#if defined(_WIN32)
    saved_ = ::_dup(1);
    const int null_device = ::_open("NUL", _O_WRONLY);
    ::_dup2(null_device, 1);
    ::_close(null_device);
#else
    saved_ = ::dup(1);
    const int null_device = ::open("/dev/null", O_WRONLY);
    ::dup2(null_device, 1);
    ::close(null_device);
#endif
  }
  SilencedStdout(const SilencedStdout&) = delete;
  SilencedStdout& operator=(const SilencedStdout&) = delete;
  ~SilencedStdout() {
    (void)std::fflush(stdout);
#if defined(_WIN32)
    ::_dup2(saved_, 1);
    ::_close(saved_);
#else
    ::dup2(saved_, 1);
    ::close(saved_);
#endif
  }

 private:
  int saved_;
};

// Handles or descriptors this process holds open; -1 where unknown.
long open_handles() {
#if defined(_WIN32)
  DWORD count = 0;
  // Wine answers 0: it does not count them.
  return ::GetProcessHandleCount(::GetCurrentProcess(), &count) && count > 0 ? long(count) : -1;
#else
  std::error_code error;
  long count = 0;
  for (auto it = test::fs::directory_iterator("/proc/self/fd", error);
       !error && it != test::fs::directory_iterator(); it.increment(error)) {
    ++count;
  }
  return error ? -1 : count;
#endif
}

TEST(Resources, RepeatedMergesLeaveNoHandleOpenAndNoMemoryBehind) {
  TempDir dir;
  write_file(dir / M3U_NATIVE("a.m3u"), "a");
  write_file(dir / M3U_NATIVE("b.m3u"), kSignature + "b");
  write_file(dir / M3U_NATIVE("big.m3u"), std::string(kMaxPlaylistBytes + 1, 'x'));
  write_file(dir / M3U_NATIVE("locked.m3u"), "");
  test::make_read_only(dir / M3U_NATIVE("locked.m3u"), true);
  const NativeString merged = dir.prefix() + M3U_NATIVE("game.wsr");
  const NativeString refused = dir.prefix() + M3U_NATIVE("locked.wsr");
  long handles = 0;
  long handles_after = 0;
#if defined(__GLIBC__)
  std::size_t heap = 0;
#endif
  bool all_as_expected = true;
  {
    const SilencedStdout silence;               // two hundred listings
    all_as_expected = merge_playlists(merged);  // the first run sets up what lasts
    handles = open_handles();
#if defined(__GLIBC__)
    heap = ::mallinfo2().uordblks;
#endif
    for (int i = 0; i < 200; ++i) {
      all_as_expected = merge_playlists(merged) && !merge_playlists(refused) && all_as_expected;
    }
    handles_after = open_handles();
  }
  EXPECT_TRUE(all_as_expected);
  if (handles >= 0) {
    EXPECT_EQ(handles_after, handles);
  } else {
    std::printf("note: this system does not count open handles; that check was left out\n");
  }
#if defined(__GLIBC__)
  EXPECT_LE(::mallinfo2().uordblks, heap + 4096);
#endif
#if !defined(_WIN32)
  EXPECT_EQ(read_file(dir / M3U_NATIVE("game.m3u")), kSignature + "a\r\nb\r\n\r\n");
#endif
  EXPECT_EQ(read_file(dir / M3U_NATIVE("game.m3u"))->size(), 11u);
  EXPECT_EQ(test::entry_names(dir.path()).size(), 5u);
}

// Allocations left before the next one fails; negative: none fails.
std::atomic<long> allocations_before_failure = -1;

}  // namespace
}  // namespace m3umerge

// Every allocation of this test program, with a failure on demand.
#if !defined(__SANITIZE_ADDRESS__)
#if defined(__GNUC__) && !defined(__clang__)
// GCC takes the free() below for a mismatch with new, whose memory comes
// from malloc() here.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
  long left = m3umerge::allocations_before_failure.load();
  while (left >= 0 && !m3umerge::allocations_before_failure.compare_exchange_weak(left, left - 1)) {
  }
  if (left == 0) throw std::bad_alloc();
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
#endif

namespace m3umerge {
namespace {

TEST(Resources, RunningOutOfMemoryAnywhereKeepsTheEarlierPlaylistAndLeavesNothing) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer owns operator new";
#endif
  TempDir dir;
  write_file(dir / M3U_NATIVE("a.m3u"), "a");
  write_file(dir / M3U_NATIVE("b.m3u"), kSignature + "b");
  // More candidates than are opened ahead at once, with names too long to
  // be kept without an allocation.
  constexpr int kEmpty = 40;
  for (int i = 0; i < kEmpty; ++i) {
    write_file(dir.path() / ("c-empty-candidate-" + std::to_string(i) + ".m3u"), "");
  }
  write_file(dir / M3U_NATIVE("game.m3u"), "old");
  const NativeString anchor = dir.prefix() + M3U_NATIVE("game.wsr");
  const SilencedStdout silence;
  // Fail the first allocation of a merge, then the second, and so on, until
  // a merge needs no more than it is given.
  for (long allowed = 0;; ++allowed) {
    allocations_before_failure = allowed;
    const bool merged = merge_playlists(anchor);
    const bool failed_allocation = allocations_before_failure < 0;
    allocations_before_failure = -1;
    if (!failed_allocation) {
      EXPECT_TRUE(merged);
      std::string empty_lines;
      for (int i = 0; i < kEmpty; ++i) empty_lines += "\r\n";
      EXPECT_EQ(read_file(dir / M3U_NATIVE("game.m3u")), kSignature + "a\r\nb\r\n" + empty_lines);
      EXPECT_GT(allowed, 3) << "no allocation was made to fail";
      break;
    }
    EXPECT_FALSE(merged) << allowed;
    EXPECT_EQ(read_file(dir / M3U_NATIVE("game.m3u")), "old") << allowed;
    EXPECT_EQ(test::entry_names(dir.path()).size(), 3u + kEmpty) << allowed;
  }
}

TEST(Resources, AFailedFlushKeepsTheEarlierPlaylistOrSaysWhatMayBeLost) {
#if defined(_WIN32)
  constexpr int kFlushes = 1;  // the file; the rename is journalled
#else
  constexpr int kFlushes = 2;  // the file, then its folder after the rename
#endif
  const std::string merged = kSignature + "a\r\n";
  const struct {
    int failing;  // which flush fails; 0: none
    AnchorResult result;
    std::string playlist;
  } cases[] = {
      {0, AnchorResult::written, merged},
      {1, AnchorResult::write_failed, "old"},
      {2, AnchorResult::written_unflushed, merged},
  };
  for (const auto& c : cases) {
    if (c.failing > kFlushes) continue;
    TempDir dir;
    write_file(dir / M3U_NATIVE("a.m3u"), "a");
    write_file(dir / M3U_NATIVE("game.m3u"), "old");
    MergeReport report;
    int flushes = 0;
    {
      const SilencedStdout silence;
      const test::FailingFlush failing(c.failing);
      EXPECT_EQ(merge_playlists(dir.prefix() + M3U_NATIVE("game.wsr"), report),
                c.result != AnchorResult::write_failed);
      flushes = failing.count();
    }
    EXPECT_EQ(report.result, c.result) << c.failing;
    EXPECT_EQ(flushes, c.failing == 1 ? 1 : kFlushes) << c.failing;
    EXPECT_EQ(read_file(dir / M3U_NATIVE("game.m3u")), c.playlist) << c.failing;
    EXPECT_EQ(test::entry_names(dir.path()).size(), 2u) << c.failing;
  }
}

#if !defined(_WIN32)
// Makes folders of 200-byte names one below the other in `base` until the
// path is at least `length` bytes long; returns the deepest folder, open.
int make_deep_folder(const test::fs::path& base, std::size_t length, std::string& path) {
  path = base.string();
  int folder = ::open(base.c_str(), O_RDONLY | O_DIRECTORY);
  const std::string component(200, 'd');
  while (path.size() < length && folder >= 0) {
    // Each step is relative, so no call sees the whole path.
    if (::mkdirat(folder, component.c_str(), 0755) != 0) return -1;
    const int next = ::openat(folder, component.c_str(), O_RDONLY | O_DIRECTORY);
    ::close(folder);
    folder = next;
    path += '/';
    path += component;
  }
  const int file = ::openat(folder, "a.m3u", O_WRONLY | O_CREAT, 0644);
  if (file < 0 || ::write(file, "a", 1) != 1) return -1;
  ::close(file);
  return folder;
}

TEST(HostileFolders, AnchorsOfFourThousandBytesWorkAndLongerOnesAreRejected) {
  TempDir dir;
  std::string folder_path;
  const int folder = make_deep_folder(dir.path(), 3780, folder_path);
  ASSERT_GE(folder, 0);
  ASSERT_LT(folder_path.size(), 4000u);  // 3780 to 3980 bytes, and "/game.wsr"
  EXPECT_EQ(run_tool({folder_path + "/game.wsr"}).output, "a.m3u\n");
  EXPECT_EQ(read_file(folder_path + "/game.m3u"), kSignature + "a\r\n");
  ::close(folder);

  TempDir deeper;
  const int too_deep = make_deep_folder(deeper.path(), 4200, folder_path);
  ASSERT_GE(too_deep, 0);
  const auto run = run_tool({folder_path + "/game.wsr"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.output, "");
  struct stat status {};
  EXPECT_NE(::fstatat(too_deep, "game.m3u", &status, 0), 0);
  ::close(too_deep);
}

#if defined(__linux__)
TEST(HostileFolders, AFileWhoseSizeChangesWhileReadIsSkipped) {
  TempDir dir;
  write_file(dir / "a.m3u", "a");
  // Files under /proc say they are empty and then have text to read.
  test::fs::create_symlink("/proc/self/status", dir / "proc.m3u");
  const auto run = run_tool({dir.prefix() + "game.wsr"});
  EXPECT_EQ(run.output, "a.m3u\nproc.m3u\n");
  EXPECT_EQ(read_file(dir / "game.m3u"), kSignature + "a\r\n");
}

// Unmounts a folder when it goes.
struct Unmount {
  const TempDir& dir;
  ~Unmount() { ::umount2(dir.path().c_str(), MNT_DETACH); }
};

TEST(HostileFolders, AFullDiskKeepsTheEarlierPlaylistAndLeavesNoTemporaryFile) {
  TempDir dir;
  if (::mount("tmpfs", dir.path().c_str(), "tmpfs", 0, "size=96k") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here (not root, or mount not allowed)";
  }
  const Unmount unmount{dir};
  write_file(dir / "game.m3u", "old");
  write_file(dir / "a.m3u", std::string(30000, 'a'));
  write_file(dir / "b.m3u", std::string(30000, 'b'));
  MergeReport report;
  {
    const SilencedStdout silence;
    EXPECT_FALSE(merge_playlists(dir.prefix() + "game.wsr", report));
  }
  EXPECT_EQ(report.result, AnchorResult::write_failed);
  EXPECT_EQ(report.fault, platform::WriteFault::disk_full);
  EXPECT_EQ(read_file(dir / "game.m3u"), "old");
  EXPECT_EQ(test::entry_names(dir.path()),
            (std::vector<std::string>{"a.m3u", "b.m3u", "game.m3u"}));
}

// Every write succeeds, and the disk fails as the data is written back: a
// file system on a loop device whose backing file, on a small tmpfs, runs
// out of room. Only the flush can tell, and the earlier playlist must stay.
TEST(HostileFolders, AFailedWriteBackKeepsTheEarlierPlaylistAndLeavesNoTemporaryFile) {
  TempDir backing;
  TempDir dir;
  if (::mount("tmpfs", backing.path().c_str(), "tmpfs", 0, "size=12m") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here (not root, or mount not allowed)";
  }
  const Unmount unmount_backing{backing};
  const std::string image = (backing.path() / "image").string();
  const std::string device = (backing.path() / "device").string();
  if (test::shell("truncate -s 64M '" + image + "' && mkfs.ext2 -q -F '" + image +
                  "' && losetup -f --show '" + image + "' >'" + device + "'") != 0) {
    GTEST_SKIP() << "cannot make a file system on a loop device here (no losetup or mkfs.ext2)";
  }
  std::string loop = read_file(device).value_or("");
  std::erase(loop, '\n');
  struct Detach {
    const std::string& loop;
    ~Detach() { (void)test::shell("losetup -d '" + loop + "'"); }
  } detach{loop};
  ASSERT_EQ(::mount(loop.c_str(), dir.path().c_str(), "ext2", 0, nullptr), 0);
  const Unmount unmount{dir};
  // 4.2 MB of euro signs on disk, 12.6 MB as UTF-8: more than the backing
  // file has room for, and more than is written before the write-back starts.
  std::vector<std::string> names = {"game.m3u"};
  for (int i = 100; i < 240; ++i) {
    names.push_back(std::to_string(i) + ".m3u");
    write_file(dir / names.back(), std::string(30000, '\x80'));
  }
  write_file(dir / "game.m3u", "old");
  ::sync();
  {
    const SilencedStdout silence;
    EXPECT_FALSE(merge_playlists(dir.prefix() + "game.wsr"));
  }
  EXPECT_EQ(read_file(dir / "game.m3u"), "old");
  names.push_back("lost+found");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(test::entry_names(dir.path()), names);
}
#endif

TEST(HostileFolders, PipesAndDevicesAreNeitherWaitedOnNorRead) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "pipe.m3u").c_str(), 0644), 0);  // and no writer: reads give 0
  test::fs::create_symlink("/dev/null", dir / "null.m3u");
  // An open that waits for a writer ends the child, not the suite.
  const auto run = test::run_in_child(
      [&] {
        platform::Directory directory;
        if (!directory.open(dir.prefix())) return 2;
        for (const char* name : {"pipe.m3u", "null.m3u"}) {
          platform::InputFile file;
          std::vector<unsigned char> content;
          if (file.open(directory, name) == platform::IoResult::done &&
              file.read(kMaxPlaylistBytes, content) == platform::IoResult::done) {
            return 1;
          }
        }
        return 0;
      },
      10);
  EXPECT_TRUE(run.finished) << "an open or read waited";
  EXPECT_EQ(run.exit_code, 0) << "a pipe or device was read as a playlist";
}

// A child process of the test; killed and waited for if it still runs when
// this goes.
class ChildProcess {
 public:
  explicit ChildProcess(pid_t pid) : pid_(pid) {}
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    (void)::waitpid(pid_, nullptr, 0);
  }
  pid_t pid() const { return pid_; }
  // Whether it has ended, with `status`, within `milliseconds`.
  bool ended(int& status, int milliseconds = 0) {
    for (int waited = 0; pid_ > 0; waited += 5) {
      if (::waitpid(pid_, &status, WNOHANG) == pid_) pid_ = -1;
      if (pid_ <= 0 || waited >= milliseconds) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return pid_ <= 0;
  }

 private:
  pid_t pid_;
};

// The tool merging `anchor`, stopped right after it creates its temporary
// file until resume(); started through `wrapper` (a tracer) when given, and
// with `ignored` ignored, as under nohup, when it is not 0.
class PausedTool {
 public:
  PausedTool(const std::string& anchor, const std::string& wrapper = "", int ignored = 0)
      : child_(start(anchor, wrapper, ignored)) {}
  PausedTool(const PausedTool&) = delete;
  PausedTool& operator=(const PausedTool&) = delete;
  ~PausedTool() { resume(); }

  // The temporary file's name, once it exists in `folder`; empty when the
  // tool ended, or did not pause within 10 s.
  std::string wait_for_temporary(const TempDir& folder) {
    int status = 0;
    for (int wait = 0; wait < 2000 && !child_.ended(status); ++wait) {
      for (const auto& name : test::entry_names(folder.path())) {
        if (name.starts_with(".m3umerge-")) return name;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return {};
  }
  void resume() {
    if (pause_ < 0) return;
    (void)!::write(pause_, "", 1);
    ::close(pause_);
    pause_ = -1;
  }
  ChildProcess& process() { return child_; }

 private:
  pid_t start(const std::string& anchor, const std::string& wrapper, int ignored) {
    int pause[2];
    if (::pipe(pause) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
      const rlimit no_core{0, 0};
      ::setrlimit(RLIMIT_CORE, &no_core);
      ::close(pause[1]);
      const int null_device = ::open("/dev/null", O_WRONLY);
      ::dup2(null_device, STDOUT_FILENO);
      if (ignored != 0) std::signal(ignored, SIG_IGN);
      ::setenv("M3UMERGE_PAUSE_FD", std::to_string(pause[0]).c_str(), 1);
      // LeakSanitizer cannot work under a tracer.
      ::setenv("ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0", 1);
      const std::string preload = "LD_PRELOAD=" M3UMERGE_PAUSE_LIBRARY;
      const std::string command = wrapper.empty()
                                      ? "exec env " + preload + " \"$0\" \"$1\""
                                      : "exec " + wrapper + " -E " + preload + " \"$0\" \"$1\"";
      ::execl("/bin/sh", "sh", "-c", command.c_str(), M3UMERGE_TOOL_PATH, anchor.c_str(), nullptr);
      ::_exit(127);
    }
    ::close(pause[0]);
    pause_ = pause[1];
    return pid;
  }

  int pause_ = -1;
  ChildProcess child_;
};

TEST(HostileFolders, InterruptingAMergeLeavesTheEarlierPlaylistAndNothingElse) {
  // A tool that has gone must not end the test as it writes to the pause.
  const auto previous = std::signal(SIGPIPE, SIG_IGN);
  const struct {
    int signal_number;
    bool ignored;  // as under nohup: the tool goes on and merges
  } cases[] = {
      {SIGHUP, false}, {SIGINT, false}, {SIGQUIT, false}, {SIGTERM, false}, {SIGHUP, true}};
  // A folder that fits in the files read ahead, and one that does not.
  for (const int playlists : {10, 40}) {
    TempDir dir;
    std::string merged = kSignature;
    for (int i = 0; i < playlists; ++i) {
      write_file(dir / (std::to_string(i) + ".m3u"), "x");
      merged += "x\r\n";
    }
    for (const auto& c : cases) {
      const std::string row = "signal " + std::to_string(c.signal_number) +
                              (c.ignored ? " ignored, " : ", ") + std::to_string(playlists);
      write_file(dir / "game.m3u", "old");
      PausedTool tool(dir.prefix() + "game.wsr", "", c.ignored ? c.signal_number : 0);
      const std::string temporary = tool.wait_for_temporary(dir);
      ASSERT_EQ(temporary.size(), 30u) << row << ": the tool never paused";
      struct stat created {};
      // Private while it is written, although the playlist it replaces is not.
      EXPECT_EQ(::stat((dir / temporary).c_str(), &created), 0);
      EXPECT_EQ(created.st_mode & 0777, 0600u);
      ::kill(tool.process().pid(), c.signal_number);
      tool.resume();
      int status = 0;
      ASSERT_TRUE(tool.process().ended(status, 10000)) << row << ": the tool did not end";
      if (c.ignored) {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << row << ", status " << status;
        EXPECT_EQ(read_file(dir / "game.m3u"), merged) << row;
      } else {
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal_number)
            << row << ", status " << status;
        EXPECT_EQ(read_file(dir / "game.m3u"), "old") << row;
      }
      EXPECT_EQ(test::entry_names(dir.path()).size(), playlists + 1u) << row;
    }
  }
  std::signal(SIGPIPE, previous);
}

#if defined(__linux__)
TEST(HostileFolders, ANameSwappedForALinkToADeviceIsNeverOpenedThroughIt) {
  if (test::shell("command -v strace >/dev/null") != 0) GTEST_SKIP() << "strace is not installed";
  TempDir dir;
  std::string merged = kSignature;
  // More playlists than are opened ahead: the last is opened after the pause.
  for (int i = 10; i < 60; ++i) {
    write_file(dir / (std::to_string(i) + ".m3u"), "x");
    merged += "x\r\n";
  }
  write_file(dir / "zz.m3u", "zz");
  test::fs::create_symlink("/dev/null", dir / "swap");
  const std::string trace = (dir.path() / "trace").string();
  {
    PausedTool tool(dir.prefix() + "game.wsr", "strace -f -qq -y -e trace=open,openat -o " + trace);
    ASSERT_FALSE(tool.wait_for_temporary(dir).empty()) << "the tool never paused";
    test::fs::rename(dir / "swap", dir / "zz.m3u");
    tool.resume();
    int status = 0;
    ASSERT_TRUE(tool.process().ended(status, 10000));
  }
  EXPECT_EQ(read_file(dir / "game.m3u"), merged);
  bool examined = false;
  std::string line;
  for (std::istringstream calls(read_file(trace).value_or("")); std::getline(calls, line);) {
    if (line.find("</dev/null>") == std::string::npos) continue;
    EXPECT_NE(line.find("O_PATH"), std::string::npos) << line;
    examined = true;
  }
  EXPECT_TRUE(examined) << "the link was never examined";
}

TEST(HostileFolders, APlaylistUnderALeaseIsReadOnceItsHolderLetsGoAndLeftOutIfItDoesNot) {
  // A file server or sync client holding a write lease, which it gives up
  // when the system tells it that someone opens the file; or never does.
  static int leased = -1;
  for (const bool lets_go : {true, false}) {
    TempDir dir;
    write_file(dir / "leased.m3u", "leased");  // the first to be opened
    write_file(dir / "more.m3u", "more");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    ChildProcess holder(::fork());
    if (holder.pid() == 0) {
      ::close(ready[0]);
      leased = ::open((dir / "leased.m3u").c_str(), O_RDONLY);
      if (lets_go) {
        std::signal(
            SIGIO, +[](int) { (void)::fcntl(leased, F_SETLEASE, F_UNLCK); });
      } else {
        std::signal(SIGIO, SIG_IGN);
      }
      if (::fcntl(leased, F_SETLEASE, F_WRLCK) != 0) ::_exit(2);
      (void)!::write(ready[1], "", 1);
      for (;;) ::pause();
    }
    ::close(ready[1]);
    char byte = 0;
    const bool leasing = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    if (!leasing) GTEST_SKIP() << "this file system takes no leases";
    const auto started = std::chrono::steady_clock::now();
    const auto run = run_tool({dir.prefix() + "game.wsr"});
    // The system would wait 45 s for a holder that does not let go.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_EQ(run.output, "leased.m3u\nmore.m3u\n");
    EXPECT_EQ(read_file(dir / "game.m3u"),
              kSignature + (lets_go ? "leased\r\nmore\r\n" : "more\r\n"))
        << lets_go;
  }
}
#endif

#if defined(__linux__)
TEST(HostileFolders, TheMergedPlaylistIsFlushedThenRenamedThenItsFolderFlushed) {
  TempDir dir;
  write_file(dir / "a.m3u", "a");
  const std::string trace = (dir.path() / "trace").string();
  // LeakSanitizer cannot work under a tracer; the sanitized build then skips it.
  const int status = test::shell("ASAN_OPTIONS=detect_leaks=0 strace -o '" + trace +
                                 "' -e trace=openat,fsync,fdatasync,rename,renameat,renameat2 "
                                 "\"$TOOL\" '" +
                                 dir.prefix() + "game.wsr' >/dev/null 2>&1");
  if (status == 127) GTEST_SKIP() << "strace is not installed";
  ASSERT_EQ(status, 0) << "strace could not trace the tool here";
  std::vector<std::string> steps;
  int temporary_fd = -1;
  std::string line;
  for (std::istringstream calls(read_file(trace).value_or("")); std::getline(calls, line);) {
    const std::size_t result = line.rfind("= ");
    const int number = result == std::string::npos ? -1 : std::atoi(line.c_str() + result + 2);
    if (line.starts_with("openat(") && line.find(".m3umerge-") != std::string::npos) {
      temporary_fd = number;
    } else if (line.starts_with("fsync(") || line.starts_with("fdatasync(")) {
      const int fd = std::atoi(line.c_str() + line.find('(') + 1);
      steps.push_back(fd == temporary_fd ? "file flushed"
                                         : "fd " + std::to_string(fd) + " flushed");
    } else if (line.starts_with("rename")) {
      steps.push_back("renamed from fd " +
                      std::to_string(std::atoi(line.c_str() + line.find('(') + 1)));
    }
  }
  ASSERT_EQ(steps.size(), 3u) << read_file(trace).value_or("");
  EXPECT_EQ(steps[0], "file flushed");
  EXPECT_EQ(steps[1].substr(0, 8), "renamed ");
  // The folder the rename happened in is flushed after it.
  EXPECT_EQ("renamed from " + steps[2].substr(0, steps[2].size() - 8), steps[1]);
}
#endif

TEST(HostileFolders, WithoutArgumentsAClosedStandardInputOrATerminalEndsCleanly) {
  TempDir dir;
  const std::string messages = "wsr ファイル名を渡して下さい。\n何かキーを押すと終了します。\n";
  const std::string output = (dir.path() / "output").string();
  EXPECT_EQ(test::shell("\"$TOOL\" <&- >'" + output + "'"), 0);
  EXPECT_EQ(read_file(output), messages);
  // On a terminal the tool waits for a line; script(1) gives it one.
  const int status = test::shell(
      "printf 'typed\\n' | timeout 20 script -qec \"$TOOL\" /dev/null >'" + output + "'");
  if (status == 127) GTEST_SKIP() << "script(1) is not installed";
  EXPECT_EQ(status, 0);
  std::string screen = read_file(output).value_or("");
  std::erase(screen, '\r');  // the terminal ends lines in CR LF
  // The terminal echoes the typed line whenever it arrives; take it out.
  const std::size_t echo = screen.find("typed\n");
  ASSERT_NE(echo, std::string::npos) << screen;
  screen.erase(echo, 6);
  EXPECT_EQ(screen, messages);
}

TEST(HostileFolders, WithoutArgumentsAsksFirstThenWaitsUntilALineArrives) {
  TempDir dir;
  const std::string output = (dir.path() / "output").string();
  int input[2];
  ASSERT_EQ(::pipe(input), 0);
  ChildProcess child(::fork());
  if (child.pid() == 0) {
    ::dup2(input[0], STDIN_FILENO);
    ::close(input[0]);
    ::close(input[1]);
    // A file, which the C library buffers fully.
    const int file = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(file, STDOUT_FILENO);
    ::execl(M3UMERGE_TOOL_PATH, M3UMERGE_TOOL_PATH, nullptr);
    ::_exit(127);
  }
  ::close(input[0]);
  // An open, empty input: a window started by a double click stays open,
  // with the request already shown.
  int status = 0;
  EXPECT_FALSE(child.ended(status, 300)) << "ended without waiting";
  EXPECT_EQ(read_file(output), "wsr ファイル名を渡して下さい。\n何かキーを押すと終了します。\n");
  const auto previous = std::signal(SIGPIPE, SIG_IGN);  // in case it has gone
  (void)!::write(input[1], "\n", 1);
  std::signal(SIGPIPE, previous);
  ::close(input[1]);
  ASSERT_TRUE(child.ended(status, 10000));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
#endif

}  // namespace
}  // namespace m3umerge
