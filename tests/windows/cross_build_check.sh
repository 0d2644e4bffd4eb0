#!/usr/bin/env bash
# Runs the Linux Tabulon.exe and the Windows one (under Wine, once as on a Chinese Windows and once
# as on an English one) on the same set of folders and checks that all three runs write
# byte-identical files and print the same console texts, apart from the path separator, the drive
# prefix (Z:) and the CR LF line ends of the Windows console.
#
#   tests/windows/cross_build_check.sh [--linux-build DIR] [--windows-build DIR] [--keep]
#
# Without a build directory the script builds that executable itself (build-crosscheck-linux,
# build-crosscheck-windows). Exits 0 when everything matches, 1 on any difference, 2 when it
# cannot run.
set -euo pipefail

top=$(cd "$(dirname "$0")/../.." && pwd)
linux_build=""
windows_build=""
keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --linux-build) linux_build=$(cd "$2" && pwd); shift 2 ;;
    --windows-build) windows_build=$(cd "$2" && pwd); shift 2 ;;
    --keep) keep=1; shift ;;
    *) echo "usage: $0 [--linux-build DIR] [--windows-build DIR] [--keep]" >&2; exit 2 ;;
  esac
done

wine_run="$top/cmake/wine-run.sh"

build_tabulon() {  # build_tabulon DIR [CMAKE ARGUMENT...]
  local dir=$1
  shift
  echo "building $dir" >&2
  cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTABULON_BUILD_TESTS=OFF "$@" \
    >/dev/null
  cmake --build "$dir" --target Tabulon -j2 >/dev/null
}

if [ -z "$linux_build" ]; then
  linux_build="$top/build-crosscheck-linux"
  build_tabulon "$linux_build"
fi
if [ -z "$windows_build" ]; then
  windows_build="$top/build-crosscheck-windows"
  build_tabulon "$windows_build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake"
fi
linux_exe="$linux_build/Tabulon.exe"
windows_exe="$windows_build/Tabulon.exe"
for exe in "$linux_exe" "$windows_exe"; do
  [ -f "$exe" ] || { echo "missing $exe" >&2; exit 2; }
done
if ! head -c 2 "$windows_exe" | grep -q '^MZ'; then
  echo "$windows_exe is not a Windows executable" >&2
  exit 2
fi

work=$(mktemp -d /tmp/tabulon-crosscheck.XXXXXX)
if [ "$keep" -eq 0 ]; then
  trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
fi

# ---- The folders. Each function fills the folder given as $1. Names are UTF-8 on disk, as a
# Linux release folder holds them.

folder_sample() {
  cp -r "$top/examples/release/." "$1/"
}

folder_chinese() {
  local f=$1
  printf '[updateserver]\r\nURL=http://cdn.example/\xe6\xb8\xb8\xe6\x88\x8f\r\n' >"$f/client.ini"
  printf 'a=1\r\n' >"$f/set.ini"
  printf 'b=2\r\n' >"$f/game.ini"
  printf 'pak' >"$f/资源.pak"
  printf 'cfg' >"$f/启动器.cfg"
  printf 'val' >"$f/值.txt"
  printf 'trail byte 0x5C' >"$f/乗り物.bin"  # 乗 is 0x81 0x5C in code page 936
  printf 'traditional' >"$f/說明.txt"
  printf 'full width' >"$f/ＡＢＣ.txt"
  printf 'full width' >"$f/ａｂｃ.txt"
  printf 'greek' >"$f/Σ.txt"
  printf 'greek' >"$f/τ.txt"
  mkdir "$f/中文目录"
  # Names that code page 936 cannot carry: refused by both builds.
  printf 'thai' >"$f/ก.txt"
  printf 'korean' >"$f/한국어.txt"
  printf 'emoji' >"$f/😀.txt"
  printf 'final sigma' >"$f/ς.txt"
  printf 'raw gbk' >"$f/$(printf '\xd6\xd0\xce\xc4').raw"
}

folder_many() {
  local f=$1
  printf '[updateserver]\r\nURL=http://cdn.example/game/\r\n' >"$f/client.ini"
  printf '' >"$f/set.ini"
  printf '' >"$f/game.ini"
  local i
  for i in $(seq 1 24); do printf 'file %d\n' "$i" >"$f/file$i.dat"; done
  # Names equal apart from letter case are two files here but one file on Windows, so the
  # folder holds no other spelling of update_file.ini or client.ini.
  for name in A.txt a.txt B b a.txt.bak a_b a-b 'with space.txt' '[x]' '{q}' '~x' Zeta.DAT zeta.txt \
    update_file.ini.old tabulon.exe patchwell.EXE .hidden Patchwell.exe; do
    printf '%s' "$name" >"$f/$name"
  done
  head -c 300000 /dev/zero | tr '\0' 'z' >"$f/big.bin"
  : >"$f/empty.bin"
}

# Names a Linux folder can hold but Windows cannot create or open: blanks at either end, a line
# break, the characters Windows reserves, a trailing dot, device names.
folder_awkward_names() {
  local f=$1
  printf '[updateserver]\r\nURL=http://cdn.example\r\n' >"$f/client.ini"
  local name
  for name in ' lead.bin' 'trail.bin ' "'quoted'" $'line\nbreak' 'a*b' 'a:b' 'a\b' 'a?b' 'a"b' \
    'a<b>' 'a|b' 'dot.' 'nul.txt' 'CON' 'com1.log' 'ok.bin'; do
    printf '%s' "$name" >"$f/$name"
  done
}

# Links: the INI files are links into a subfolder, which both builds update through the link.
folder_links() {
  local f=$1
  mkdir "$f/conf"
  printf '[updateserver]\r\nURL=http://links.example\r\n' >"$f/conf/client.ini"
  printf '[file]\r\nvalue_count=0\r\n' >"$f/conf/update.ini"
  ln -s conf/client.ini "$f/client.ini"
  ln -s conf/update.ini "$f/update_file.ini"
  printf 'data' >"$f/data.bin"
  ln -s data.bin "$f/link.bin"
  ln "$f/data.bin" "$f/hard.bin"
  ln -s conf "$f/conflink"
  printf '' >"$f/set.ini"
  printf '' >"$f/game.ini"
}

# A folder whose path is longer than the 260 characters of the Windows A services.
folder_deep() {
  local f=$1
  printf '[updateserver]\r\nURL=http://deep.example\r\n' >"$f/client.ini"
  printf 's\r\n' >"$f/set.ini"
  printf 'g\r\n' >"$f/game.ini"
  printf 'deep' >"$f/deep.bin"
}

folder_former() {
  local f=$1
  local i
  {
    printf '; release list\n[updateserver]\nURL = http://old.example/\n\n[file]\nvalue_count=15\n'
    for i in $(seq 0 14); do printf 'value_key%d=old%02d.bin\nvalue_%d=%032d\n' "$i" "$i" "$i" "$i"; done
    printf '[other]\nkeep=this\n'
  } >"$f/client.ini"
  {
    printf '[file]\r\nvalue_count=15\r\n'
    for i in $(seq 0 14); do
      printf 'value_key%d=old%02d.bin|%032d\r\nvalue_%d=http://old.example/client/old%02d.bin\r\n' \
        "$i" "$i" "$i" "$i" "$i"
    done
    printf '\r\n[notes]\r\nby=hand'
  } >"$f/update_file.ini"
  printf 'one' >"$f/one.bin"
  printf 'two' >"$f/two.bin"
  printf 'three' >"$f/three.bin"
  printf '' >"$f/set.ini"
  printf '' >"$f/game.ini"
}

folder_encoding() {
  local f=$1
  local i
  {
    printf '[set]\r\nkey=value\r\n\r\nlone\rCR\r\ncr before end\r\r\n'
    printf 'gbk=\xd6\xd0\xce\xc4\r\nnul=a\0b\r\n'
    head -c 258 /dev/zero | tr '\0' 'a'; printf '\r\n'
    head -c 259 /dev/zero | tr '\0' 'b'; printf '\r\n'
    head -c 600 /dev/zero | tr '\0' 'c'; printf '\r\n'
    # Lines of every length, so that CR LF pairs straddle the runtime's buffer boundaries.
    for i in $(seq 1 300); do head -c "$i" /dev/zero | tr '\0' 'x'; printf '\r\n'; done
    printf 'last line without end'
  } >"$f/set.ini"
  {
    printf 'lf only\nsecond\n\n'
    for i in $(seq 1 280); do head -c "$i" /dev/zero | tr '\0' 'y'; printf '\n'; done
    printf 'before ctrl-z\r\nab\x1acd\r\nnever read\r\n'
  } >"$f/game.ini"
  printf '[updateserver]\nURL=http://cdn.example\n[launcher]\ntitle=x\r\x1a\r\nafter\n' \
    >"$f/client.ini"
  printf 'data' >"$f/data.bin"
}

# CR LF pairs, a lone CR and a Ctrl+Z placed on the block boundaries (512 and 4096 bytes) at
# which the Windows C runtime reads a text file.
folder_boundaries() {
  local f=$1 target
  append_line_ending_at() {  # FILE OFFSET END: fills with 'q' so that END starts at OFFSET
    local size
    size=$(stat -c %s "$1")
    head -c $(($2 - size)) /dev/zero | tr '\0' 'q' >>"$1"
    printf "$3" >>"$1"
  }
  : >"$f/set.ini"
  for target in 511 1023 4095 8191 12287 16383; do append_line_ending_at "$f/set.ini" "$target" '\r\n'; done
  : >"$f/game.ini"
  append_line_ending_at "$f/game.ini" 4095 '\rx\r\n'
  append_line_ending_at "$f/game.ini" 8191 '\r'
  append_line_ending_at "$f/game.ini" 8192 '\x1a tail\r\n'
  printf '[updateserver]\r\nURL=b\r\n' >"$f/client.ini"
}

folder_nul_first() {
  local f=$1
  printf '\0starts with NUL\r\nnext\r\n' >"$f/set.ini"
  printf '\x1a' >"$f/game.ini"
  printf '[updateserver]\r\nURL=u' >"$f/client.ini"
}

folder_read_only() {
  local f=$1
  printf '[updateserver]\r\nURL=http://ro.example\r\n' >"$f/client.ini"
  printf 's\r\n' >"$f/set.ini"
  printf 'g\r\n' >"$f/game.ini"
  printf 'a' >"$f/a.bin"
  printf 'b' >"$f/b.bin"
  chmod a-w "$f/client.ini"
}

# INI files in UTF-16 LE: client.ini with characters that have no GBK form and an odd last byte,
# update_file.ini of the byte-order mark alone.
folder_utf16() {
  local f=$1
  {
    printf '\xff\xfe'
    printf '[updateserver]\r\nURL=http://cdn.example/游戏\r\n[launcher]\nface=😀\rlang=中文\n' |
      iconv -f UTF-8 -t UTF-16LE
    printf '\x7f'
  } >"$f/client.ini"
  printf '\xff\xfe' >"$f/update_file.ini"
  printf 's' >"$f/set.ini"
  printf 'g' >"$f/game.ini"
  printf 'pak' >"$f/资源.pak"
  printf 'val' >"$f/值.txt"
}

folder_missing_configs() {
  printf 'only' >"$1/only.bin"
}

# The names the tool knows in other letter cases, as a folder prepared on Windows has them, the
# tool's own name in capitals, and two names equal but for case, which Wine lists as Linux does.
folder_known_names() {
  local f=$1
  printf '[updateserver]\r\nURL=http://case.example\r\n' >"$f/Client.ini"
  printf 's\r\n' >"$f/SET.INI"
  printf 'g\r\n' >"$f/Game.Ini"
  printf '[file]\r\nvalue_count=0\r\n' >"$f/UPDATE_FILE.INI"
  printf 'old' >"$f/Set_E.ini"
  printf 'former tool' >"$f/TABULON.EXE"
  printf 'upper' >"$f/README.txt"
  printf 'mixed' >"$f/Readme.txt"
  printf 'data' >"$f/data.pak"
}

# A folder named Client.ini; and client.ini spelled twice, which neither build touches.
folder_client_ini_folder() {
  mkdir "$1/Client.ini"
  printf 's\r\n' >"$1/set.ini"
  printf 'data' >"$1/data.pak"
}

folder_client_ini_twice() {
  printf '[updateserver]\r\nURL=http://one.example\r\n' >"$1/client.ini"
  printf '[updateserver]\r\nURL=http://two.example\r\n' >"$1/CLIENT.INI"
  printf 's\r\n' >"$1/set.ini"
  printf 'g\r\n' >"$1/game.ini"
  printf 'data' >"$1/data.pak"
}

scenarios=(sample chinese many awkward_names links deep former encoding boundaries nul_first read_only
  utf16 missing_configs known_names client_ini_folder client_ini_twice)
compared_files=(update_file.ini client.ini set_e.ini game_e.ini client_e.ini UPDATE_FILE.INI
  Client.ini CLIENT.INI Set_E.ini)

# The Windows executable runs on a Chinese Windows and on an English one (system code pages 936
# and 1252, chosen by the locale Wine runs under); each run must give what the Linux build gives.
wine_locales=(zh_CN.UTF-8 en_US.UTF-8)

passed=0
failed=0
report_same() {
  passed=$((passed + 1))
  printf '  same       %s\n' "$1"
}
report_difference() {
  failed=$((failed + 1))
  printf '  DIFFERENT  %s\n' "$1"
}

# The Windows console text with LF line ends and the folder as the Linux build prints it. Both
# print paths in code page 936.
normalise_windows_output() {  # FILE WINDOWS_FOLDER LINUX_FOLDER
  local windows_folder linux_folder
  windows_folder=$(printf 'Z:%s\\' "${2//\//\\}" | iconv -f UTF-8 -t GBK)
  linux_folder=$(printf '%s/' "$3" | iconv -f UTF-8 -t GBK)
  FOLDER="$windows_folder" LINUX_FOLDER="$linux_folder" \
    perl -0777 -pe 's/\r\n/\n/g; s/\Q$ENV{FOLDER}\E/$ENV{LINUX_FOLDER}/g' "$1"
}

# Runs the Windows executable copied into WINDOWS_DIR under LOCALE and compares exit status,
# console text, written files and folder contents with the Linux run of the scenario.
run_windows_and_compare() {  # LOCALE WINDOWS_DIR
  local wine_locale=$1 windows_dir=$2 windows_status file
  local output="$work/$scenario.windows-$wine_locale"
  cp "$windows_exe" "$windows_dir/Tabulon.exe"
  set +e
  (cd / && TABULON_WINE_LOCALE=$wine_locale timeout -k 10 120 "$wine_run" \
    "$windows_dir/Tabulon.exe" </dev/null >"$output.raw" 2>"$output.err")
  windows_status=$?
  set -e

  if [ "$linux_status" -eq "$windows_status" ]; then
    report_same "$wine_locale exit status $linux_status"
  else
    report_difference "$wine_locale exit status: Linux $linux_status, Windows $windows_status"
  fi

  normalise_windows_output "$output.raw" "$windows_dir" "$linux_dir" >"$output.out"
  if cmp -s "$work/$scenario.linux.out" "$output.out"; then
    report_same "$wine_locale console text ($(wc -l <"$output.out") lines)"
  else
    report_difference "$wine_locale console text (GBK shown as UTF-8; < Linux, > Windows):"
    diff <(iconv -f GBK -t UTF-8 -c "$work/$scenario.linux.out") \
      <(iconv -f GBK -t UTF-8 -c "$output.out") | head -20 | sed 's/^/      /' || true
  fi

  for file in "${compared_files[@]}"; do
    if [ ! -e "$linux_dir/$file" ] && [ ! -e "$windows_dir/$file" ]; then
      report_same "$wine_locale $file (written by neither)"
    elif [ -d "$linux_dir/$file" ] && [ -d "$windows_dir/$file" ]; then
      report_same "$wine_locale $file (a folder in both)"
    elif cmp -s "$linux_dir/$file" "$windows_dir/$file"; then
      report_same "$wine_locale $file ($(wc -c <"$linux_dir/$file") bytes)"
    else
      report_difference "$wine_locale $file"
      diff <(od -An -c "$linux_dir/$file" 2>&1) <(od -An -c "$windows_dir/$file" 2>&1) \
        | head -10 | sed 's/^/      /' || true
    fi
  done

  # Nothing else may differ either: no leftover temporary file, no other file touched.
  if diff <(cd "$linux_dir" && find . ! -name Tabulon.exe -printf '%p %s %m\n' | LC_ALL=C sort) \
    <(cd "$windows_dir" && find . ! -name Tabulon.exe -printf '%p %s %m\n' | LC_ALL=C sort) \
    >"$output.tree.diff"; then
    report_same "$wine_locale folder contents (names, sizes, modes)"
  else
    report_difference "$wine_locale folder contents:"
    head -10 "$output.tree.diff" | sed 's/^/      /'
  fi
}

for scenario in "${scenarios[@]}"; do
  echo "== $scenario"
  subfolder=$scenario
  if [ "$scenario" = deep ]; then
    long=$(printf 'long-folder-name-%.0s' {1..5})
    subfolder+="/$long/$long/$long/深"
  fi
  linux_dir="$work/linux/$subfolder"
  mkdir -p "$linux_dir"
  "folder_$scenario" "$linux_dir"
  # The same folder for every run: copied with modes, so read-only stays read-only.
  for wine_locale in "${wine_locales[@]}"; do
    mkdir -p "$work/windows-$wine_locale/$subfolder"
    cp -a "$linux_dir/." "$work/windows-$wine_locale/$subfolder/"
  done
  # Each run has its own copy and starts from another current folder, with input at its end.
  cp "$linux_exe" "$linux_dir/Tabulon.exe"
  set +e
  # A run that hangs (a device name opened as a file can block) is stopped: status 124.
  (cd / && timeout -k 10 120 "$linux_dir/Tabulon.exe" </dev/null >"$work/$scenario.linux.out" \
    2>"$work/$scenario.linux.err")
  linux_status=$?
  set -e
  for wine_locale in "${wine_locales[@]}"; do
    run_windows_and_compare "$wine_locale" "$work/windows-$wine_locale/$subfolder"
  done
done

echo
if [ "$failed" -eq 0 ]; then
  echo "The Linux Tabulon.exe and the Windows one under ${wine_locales[*]} gave the same files and" \
    "texts for ${#scenarios[@]} folders."
else
  echo "The Linux and the Windows Tabulon.exe differ (folders kept in $work)."
  trap - EXIT
fi
echo "crosscheck: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
