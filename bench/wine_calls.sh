#!/usr/bin/env bash
# The calls a Windows executable makes per listed file under Wine: runs it on folders of 50 and
# of 250 small Chinese-named files with a call trace (WINEDEBUG=+relay) and prints, for each
# function called across a DLL boundary by the program's own process, (calls on 250 - calls on
# 50) / 200. Output goes to a file, as a release engineer's log would.
#
#   bash bench/wine_calls.sh [EXE]     # default: build-windows/Tabulon.exe (built if missing)
#
# Calls inside the executable (its own code, the statically linked C++ library) are not seen;
# those of the C runtime DLL (malloc, memcpy) and of the system are.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
exe=${1:-$top/build-windows/Tabulon.exe}
if [[ ! -f $exe ]]; then
  (cd "$top" && cmake --preset windows >/dev/null &&
    cmake --build --preset windows --target Tabulon >/dev/null)
fi
exe=$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")
work=$(mktemp -d "${TMPDIR:-/tmp}/tabulon-calls.XXXXXX")
trap 'rm -rf "$work"' EXIT

# trace COUNT: the calls of the program's process on COUNT files, one "module.function" a line.
trace() {
  local dir=$work/f$1 pid i
  mkdir "$dir"
  for ((i = 0; i < $1; i++)); do head -c $((i * 37 % 4096)) /dev/urandom >"$dir/资源文件$i.pak"; done
  printf '[updateserver]\r\nURL=http://update.example.com/game\r\n' >"$dir/client.ini"
  printf '[set]\r\nw=1\r\n' >"$dir/set.ini"
  printf '[game]\r\nn=1\r\n' >"$dir/game.ini"
  cp "$exe" "$dir/$(basename "$exe")"
  (cd "$dir" && LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 WINEDEBUG=+pid,+relay \
    WINEDLLOVERRIDES="mscoree,mshtml=" wine "./$(basename "$exe")" </dev/null \
    >"$work/console$1.txt" 2>"$work/trace$1.txt") || true
  # The program's process is the one whose calls return into its image (0x140000000 on).
  pid=$(grep -a 'ret=14000' "$work/trace$1.txt" | cut -d: -f1 | sort | uniq -c | sort -rn |
    awk 'NR == 1 {print $2}')
  grep -a "^$pid:" "$work/trace$1.txt" | grep -ao 'Call [A-Za-z0-9_]*\.[A-Za-z0-9_]*' |
    cut -d' ' -f2 | sort | uniq -c | awk '{print $2, $1}' | sort >"$work/calls$1.txt"
}

trace 50
trace 250
echo "calls per file of $exe (output to a file):"
join -a 2 -e 0 -o 0,1.2,2.2 "$work/calls50.txt" "$work/calls250.txt" |
  awk '{d = ($3 - $2) / 200; if (d >= 0.05) printf "%8.2f %s\n", d, $1}' | sort -rn
