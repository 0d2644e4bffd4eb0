#!/usr/bin/env bash
# Builds Tabulon.exe for this system and runs it on a copy of the sample release folder
# (examples/release), so the committed sample never changes. Prints the console text (GBK,
# shown here in UTF-8) and the two lists it wrote.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build"
sample="${1:-/tmp/tabulon-sample}"

(cd "$top" && cmake --preset native >/dev/null && cmake --build --preset native --target Tabulon)

rm -rf "$sample"
cp -r "$top/examples/release" "$sample"
cp "$build/Tabulon.exe" "$sample/"
set +e
"$sample/Tabulon.exe" </dev/null | iconv -f GBK -t UTF-8
status=${PIPESTATUS[0]}
set -e
echo "--- exit status: $status"
for file in update_file.ini client.ini set_e.ini; do
  echo "--- $sample/$file"
  iconv -f GBK -t UTF-8 "$sample/$file" | tr -d '\r'
done
