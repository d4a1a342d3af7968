#!/usr/bin/env bash
# A real player plays what m3umerge writes: builds a folder of short silent
# WAV files and playlists that name them (UTF-8 with signature, Windows-1252
# with accented names, CR LF and LF, several #EXTM3U lines), merges them, and
# has mpv load the merged playlist headless. A Lua hook reports each entry it
# opened or failed to open; every entry must open, in the merged order.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

if ! install_packages mpv python3; then
  echo "SKIP: mpv cannot be installed here, so no player test"
  exit 0
fi
tool="$PWD/build/native/m3umerge"
[ -x "$tool" ] || { cmake --preset native >/dev/null && cmake --build --preset native --target m3umerge; }
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT

python3 - "$folder" <<'PY'
import os, struct, sys, wave
folder = sys.argv[1]
os.makedirs(os.path.join(folder, "sons"))
for name in ["夏の夕暮れ.wav", "風に乗って.wav", "sons/Déjà vu.wav", "sons/Señor Café.wav", "plain.wav"]:
    with wave.open(os.path.join(folder, name), "wb") as w:
        w.setnchannels(1); w.setsampwidth(2); w.setframerate(8000)
        w.writeframes(struct.pack("<h", 0) * 800)  # a tenth of a second
utf8 = "#EXTM3U\r\n#EXTINF:1,山田花子 - 夏の夕暮れ\r\n夏の夕暮れ.wav\r\n#EXTINF:1,風に乗って\r\n風に乗って.wav\r\n"
with open(os.path.join(folder, "a-japanese.m3u"), "wb") as f:
    f.write(b"\xef\xbb\xbf" + utf8.encode("utf-8"))
latin = "#EXTM3U\n#EXTINF:1,Déjà vu\nsons/Déjà vu.wav\n#EXTINF:1,Señor Café\nsons/Señor Café.wav\n"
with open(os.path.join(folder, "b-accents.m3u"), "wb") as f:
    f.write(latin.encode("cp1252"))
with open(os.path.join(folder, "c-plain.m3u"), "wb") as f:
    f.write(b"#EXTM3U\r\nplain.wav")
PY
"$tool" "$folder/mix.wsr" >/dev/null

cat >"$folder/report.lua" <<'LUA'
mp.add_hook("on_preloaded", 50, function()
  io.stdout:write("opened " .. mp.get_property("path") .. "\n")
end)
mp.add_hook("on_load_fail", 50, function()
  io.stdout:write("failed " .. mp.get_property("stream-open-filename") .. "\n")
end)
LUA
set +e
report=$(cd "$folder" && mpv --no-config --ao=null --vo=null --really-quiet \
  --script="$folder/report.lua" "$folder/mix.m3u" 2>/dev/null)
status=$?
set -e
echo "$report"
expected="opened $folder/夏の夕暮れ.wav
opened $folder/風に乗って.wav
opened $folder/sons/Déjà vu.wav
opened $folder/sons/Señor Café.wav
opened $folder/plain.wav"
if [ "$report" != "$expected" ]; then
  echo "FAIL: mpv opened (exit $status):" >&2
  echo "$report" >&2
  exit 1
fi
# mpv exits non-zero when an entry failed; here none may have.
[ "$status" -eq 0 ] || { echo "FAIL: mpv exited $status" >&2; exit 1; }
echo "player: mpv played all 5 entries in the merged order"
