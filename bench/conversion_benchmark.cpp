// Throughput of the text conversion on one playlist-sized buffer.
#include <benchmark/benchmark.h>

#include <memory>
#include <span>
#include <string>

#include "playlist/merge.h"
#include "playlist/text.h"

namespace {

using m3umerge::kMaxPlaylistBytes;

// A Windows-1252 playlist of exactly kMaxPlaylistBytes bytes.
std::string windows1252_playlist() {
  const std::string entry =
      "#EXTINF:245,Beyonc\xE9 - D\xE9j\xE0 vu\r\nmusic\\Beyonc\xE9\\D\xE9j\xE0 vu.mp3\r\n"
      "#EXTINF:198,Sigur R\xF3s - Sm\xF6rg\xE5sbord\r\nmusic\\Sigur "
      "R\xF3s\\Sm\xF6rg\xE5sbord.mp3\r\n";
  std::string text = "#EXTM3U\r\n";
  while (text.size() < kMaxPlaylistBytes) text += entry;
  text.resize(kMaxPlaylistBytes);
  return text;
}

std::span<const unsigned char> bytes_of(const std::string& text) {
  return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

void convert(benchmark::State& state, const std::string& input) {
  const auto buffer = std::make_unique<char[]>(input.size() * m3umerge::kMaxUtf8BytesPerByte);
  for (auto _ : state) {
    benchmark::DoNotOptimize(m3umerge::windows1252_to_utf8(bytes_of(input), buffer.get()));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

void BM_Windows1252ToUtf8_Playlist(benchmark::State& state) {
  convert(state, windows1252_playlist());
}
BENCHMARK(BM_Windows1252ToUtf8_Playlist);

void BM_Windows1252ToUtf8_Ascii(benchmark::State& state) {
  convert(state, std::string(kMaxPlaylistBytes, 'a'));
}
BENCHMARK(BM_Windows1252ToUtf8_Ascii);

// Every byte outside ASCII: the slowest input there is.
void BM_Windows1252ToUtf8_AllAccented(benchmark::State& state) {
  convert(state, std::string(kMaxPlaylistBytes, '\xE9'));
}
BENCHMARK(BM_Windows1252ToUtf8_AllAccented);

void BM_HasUtf8Signature(benchmark::State& state) {
  const std::string input = windows1252_playlist();
  for (auto _ : state) benchmark::DoNotOptimize(m3umerge::has_utf8_signature(bytes_of(input)));
}
BENCHMARK(BM_HasUtf8Signature);

}  // namespace

BENCHMARK_MAIN();
