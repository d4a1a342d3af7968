#!/usr/bin/env bash
# The Windows tool on a real (Wine) console: script(1) gives Wine a terminal,
# so GetConsoleMode succeeds and names go out through WriteConsoleW. They
# must come out exactly, in the terminal's UTF-8; redirected, in code page
# 932 with "?" for what it lacks.
#   wine_console_test.sh PATH/TO/m3umerge.exe
set -euo pipefail
exe="$1"
here=$(cd "$(dirname "$0")/.." && pwd)
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
for name in café Ωmega 日本; do printf 'x' >"$folder/$name.m3u"; done
anchor="Z:$(printf '%s' "$folder/game.wsr" | tr / '\\')"
command -v script >/dev/null || { echo "SKIP: script(1) is not installed"; exit 0; }

WINEPREFIX="${WINEPREFIX:-$here/build/windows/wine}" WINEDEBUG=-all \
  timeout 60 script -qec "wine '$exe' '$anchor'" /dev/null </dev/null >"$folder/screen"
# Wine's console hides and shows the cursor around each write, and ends
# lines in CR CR LF.
sed -e 's/\x1b\[?25[lh]//g' -e 's/\r//g' "$folder/screen" | sort >"$folder/console"
printf '%s\n' café.m3u Ωmega.m3u 日本.m3u | sort >"$folder/expected"
diff "$folder/expected" "$folder/console" || { echo "FAIL: console listing"; exit 1; }

"$here/scripts/wine-run.sh" "$exe" "$anchor" </dev/null | sort >"$folder/redirected"
printf 'caf?.m3u\r\n\x83\xb6mega.m3u\r\n\x93\xfa\x96{.m3u\r\n' | sort >"$folder/expected"
cmp "$folder/expected" "$folder/redirected" || { echo "FAIL: redirected listing"; exit 1; }
echo "console: 3 names exact on the console, code page 932 when redirected"
