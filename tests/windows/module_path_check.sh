#!/usr/bin/env bash
# The Windows Tabulon.exe asks for its own path with a buffer of 260 UTF-16 units, doubled until
# the path fits. This puts it into folders where that path (Z:\...\Tabulon.exe under Wine) is
# exactly as long as each size up to 2,080, one unit shorter and one longer, and checks that each
# run lists the file of its own folder. It starts the runs from the Unix side: Wine starts paths
# of MAX_PATH units and more that CreateProcessW, in a Windows test program, refuses.
#
#   tests/windows/module_path_check.sh path/to/Tabulon.exe
#
# Exits 0 when every run worked on its own folder, 1 otherwise.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
exe=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
work=$(cd "$(mktemp -d /tmp/tabulon-path.XXXXXX)" && pwd -P)
trap 'rm -rf "$work"' EXIT

failed=0
for size in 260 520 1040 2080; do
  for length in $((size - 1)) $size $((size + 1)); do
    # Folders of at most 200 characters; "Z:" + the folder + "\Tabulon.exe" has `length`.
    folder=$work/$length
    left=$((length - 2 - ${#folder} - 12))
    for ((parts = (left + 200) / 201; parts > 0; parts--)); do
      part=$(((left + parts - 1) / parts))
      folder+=/$(printf "%$((part - 1))s" "" | tr ' ' d)
      left=$((left - part))
    done
    mkdir -p "$folder"
    cp "$exe" "$folder/Tabulon.exe"
    printf 'x' >"$folder/x.bin"
    printf '[updateserver]\r\nURL=http://cdn.example/game\r\n' >"$folder/client.ini"
    printf 's' >"$folder/set.ini"
    printf 'g' >"$folder/game.ini"
    status=0
    "$top/cmake/wine-run.sh" "$folder/Tabulon.exe" </dev/null >"$work/console.txt" || status=$?
    if ((status != 0)) || ! grep -aq '^value_key3=x\.bin' "$folder/client.ini"; then
      echo "executable path of $length units: the run did not list its own folder" \
        "(exit status $status)" >&2
      failed=1
    fi
  done
done
echo "executable paths of 259 to 2,081 units: $([[ $failed == 0 ]] && echo "all worked" || echo "FAILED")"
exit "$failed"
