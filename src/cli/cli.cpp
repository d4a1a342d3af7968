#include "cli/cli.h"

#include <cstdio>

#include "playlist/merge.h"

namespace m3umerge {
namespace {

constexpr const NativeChar* kLocaleName = M3U_NATIVE("japanese");
constexpr NativeStringView kAskForFileName = M3U_NATIVE("wsr ファイル名を渡して下さい。");
constexpr NativeStringView kPressAKey = M3U_NATIVE("何かキーを押すと終了します。");

}  // namespace

int run_command_line(int argc, NativeChar** argv) {
  platform::prepare_process(kLocaleName);
  if (argc < 2) {
    platform::print_line(kAskForFileName);
    platform::print_line(kPressAKey);
    (void)std::fflush(stdout);
    // One buffered byte: on a console in line mode that means the user ended
    // a line; at the end of input it returns at once.
    (void)std::fgetc(stdin);
    return 0;
  }
  for (int i = 1; i < argc; ++i) {
    (void)merge_playlists(argv[i]);
  }
  return 0;
}

}  // namespace m3umerge
