#!/usr/bin/env bash
# Builds Tabulon.exe for this system and runs it on a copy of the sample release folder
# (examples/release), so the committed sample never changes. Prints the console text (GBK,
# shown here in UTF-8) and the two lists it wrote.
#
#   bash scripts/run-sample.sh            # the copy goes into a new temporary folder
#   bash scripts/run-sample.sh FOLDER     # the copy is made as FOLDER, which must not exist yet
#
# The script deletes nothing: the copy stays for a look, and a FOLDER that exists is refused.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build"

if (($# > 1)); then
  echo "usage: $0 [FOLDER]" >&2
  exit 2
fi
if (($# == 1)); then
  sample=$1
  if [[ -e $sample || -L $sample ]]; then
    echo "$0: $sample exists; name a folder that does not exist yet, or none" >&2
    exit 2
  fi
  mkdir -p "$(dirname "$sample")"
else
  sample=$(mktemp -d "${TMPDIR:-/tmp}/tabulon-sample.XXXXXX")/release
fi

(cd "$top" && cmake --preset native >/dev/null && cmake --build --preset native --target Tabulon)

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
