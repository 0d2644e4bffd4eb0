#!/usr/bin/env bash
# Runs Tabulon.exe under valgrind's memcheck on a copy of the sample release folder: any invalid
# access, use of uninitialised memory or leak (definite, indirect or possible) fails the run. The
# tool's own exit status must be 0 as well, so memcheck reports its errors with status 99. Memory
# still reachable at exit would be shown, not failed.
# Usage: scripts/valgrind.sh [path/to/Tabulon.exe]   (default: built in build-valgrind)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
exe="${1:-}"
if ! command -v valgrind >/dev/null; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq valgrind >/dev/null
fi
if [ -z "$exe" ]; then
  # Debug information for readable reports; optimised as the shipped build is.
  cmake -S "$top" -B "$top/build-valgrind" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTABULON_BUILD_TESTS=OFF >/dev/null
  cmake --build "$top/build-valgrind" --target Tabulon >/dev/null
  exe="$top/build-valgrind/Tabulon.exe"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$top/examples/release" "$work/release"
cp "$exe" "$work/release/Tabulon.exe"

run() {  # expected exit status of the tool, name of the pass
  set +e
  valgrind --tool=memcheck --leak-check=full --show-leak-kinds=all \
    --errors-for-leak-kinds=definite,indirect,possible --track-origins=yes --error-exitcode=99 \
    --log-file="$work/valgrind.log" "$work/release/Tabulon.exe" </dev/null >"$work/output.txt"
  status=$?
  set -e
  echo "=== valgrind, $2: tool exit status $status (expected $1)"
  grep -E "ERROR SUMMARY|definitely lost|indirectly lost|possibly lost|still reachable|All heap" \
    "$work/valgrind.log" | sed 's/^==[0-9]*== //'
  if ((status != $1)); then
    cat "$work/valgrind.log"
    iconv -f GBK -t UTF-8 "$work/output.txt" || true
    echo "valgrind: FAILED"
    exit 1
  fi
}

run 0 "first run (writes the lists)"
run 0 "second run (replaces them)"
# The paths where things go wrong: a refused name, unreadable entries, a read-only client.ini and
# a missing game.ini.
touch "$work/release/"$'cr\rname.bin'
ln -s nowhere "$work/release/dangling.bin"
mkfifo "$work/release/fifo.bin"
chmod 0444 "$work/release/client.ini"
rm "$work/release/game.ini"
run 1 "run with failures"
echo "valgrind: clean"
