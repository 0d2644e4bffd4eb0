#!/usr/bin/env bash
# Tabulon next to md5sum and md5deep -j2 over the same folders, page cache warm, on this machine:
# wall time ratios, growth with the number of files (up to 200,000 small ones), each MD5 level,
# peak memory, system calls per file, and the MD5 kernels alone; the release folder also read
# from disk, the page cache dropped before each run (as root only: skipped, and said so, else);
# and, where Wine and MinGW-w64 are there, the Windows Tabulon.exe under Wine on every folder
# beside a floor program (bench/winfloor.c) and the Linux build, output to a file and to a pipe.
# See bench/README.md for the targets and the figures.
#
#   bash bench/run.sh           # everything, medians of 7 runs (9 for the small folders, 5 for
#                               # the Windows build)
#   bash bench/run.sh --quick   # medians of 5 (3 for the Windows build), without the two
#                               # folders of about 2 GiB and the 200,000 small files
#
# The folders are made in a temporary directory (about 6.2 GiB, 1.2 GiB in quick mode) and
# removed at the end. A Wine prefix is created when there is none; a Wine server that runs
# already is used and left alone.
set -euo pipefail
export LC_ALL=C

top=$(cd "$(dirname "$0")/.." && pwd)
quick=0
case "${1:-}" in
  --quick) quick=1 ;;
  "") ;;
  *) echo "usage: $0 [--quick]" >&2; exit 2 ;;
esac
if ((quick)); then
  large_runs=5; small_runs=5; windows_runs=3
else
  large_runs=7; small_runs=9; windows_runs=5
fi

for tool in cmake ninja md5sum md5deep split awk lscpu python3; do
  command -v "$tool" >/dev/null || { echo "$0: $tool is missing" >&2; exit 1; }
done

echo "=== Building the preset bench (build-bench)"
(cd "$top" && cmake --preset bench >/dev/null &&
  cmake --build --preset bench --target Tabulon TabulonAtLevel md5_lanes_bench >/dev/null)
tabulon=$top/build-bench/Tabulon.exe
at_level=$top/build-bench/bench/TabulonAtLevel.exe
windows=""
floor=""
if command -v wine >/dev/null && command -v x86_64-w64-mingw32-g++ >/dev/null; then
  echo "=== Building the preset windows (build-windows), Tabulon.exe only, and bench/winfloor.c"
  (cd "$top" && cmake --preset windows >/dev/null &&
    cmake --build --preset windows --target Tabulon >/dev/null)
  windows=$top/build-windows/Tabulon.exe
  floor=$top/build-bench/winfloor.exe
  x86_64-w64-mingw32-gcc -O2 -municode -o "$floor" "$top/bench/winfloor.c"
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  prefix=${WINEPREFIX:-$HOME/.wine}
  if [[ ! -f $prefix/system.reg ]]; then
    echo "=== Creating the Wine prefix $prefix (once, quietly; about a minute)"
    LANG=zh_CN.UTF-8 wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
  # One Wine server for the whole benchmark, so that a run does not pay for starting it. It
  # stays a minute after the last run and then ends by itself; a server that runs already
  # (wineserver -p exits with 2) is used as it is and never stopped.
  status=0
  wineserver -p60 2>/dev/null || status=$?
  case $status in
    0) echo "=== Started a Wine server for $prefix; it ends a minute after the benchmark" ;;
    2) echo "=== Using the Wine server that runs already for $prefix (left running)" ;;
    *) echo "$0: wineserver -p60 failed with status $status" >&2; exit 1 ;;
  esac
else
  echo "=== No wine or MinGW-w64 here: the Windows build is not measured"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tabulon-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/config"
printf '[updateserver]\r\nURL=http://update.example.com/game\r\n' >"$work/config/client.ini"
printf '[set]\r\nwidth=1280\r\n' >"$work/config/set.ini"
printf '[game]\r\nname=demo\r\n' >"$work/config/game.ini"

# make_folder NAME COUNT SIZE: COUNT random files of SIZE bytes (data00000.bin, ...) and the
# three configuration files; client.ini is listed first.
make_folder() {
  local dir=$work/$1
  mkdir "$dir"
  head -c $(($2 * $3)) /dev/urandom |
    split -b "$3" -d -a 5 --additional-suffix=.bin - "$dir/data"
  cp "$work"/config/*.ini "$dir/"
}

# make_release NAME: 3,000 random files (res0000.pak, ...; client.ini is listed first) whose sizes
# are log-normal (median 64 KiB) with one of
# 256 MiB, the largest, about 2 GiB in all, as a game client's release folder has them.
make_release() {
  local dir=$work/$1
  mkdir "$dir"
  python3 - "$dir" <<'PYTHON'
import math, os, random, sys
rng = random.Random(20261208)
sizes = [min(int(65536 * math.exp(rng.gauss(0, 2.0))), 200 << 20) for _ in range(2999)]
sizes.append(256 << 20)
scale = (2 << 30) / sum(sizes)
for i, size in enumerate(sizes):
    size = size if size == 256 << 20 else int(size * scale)
    with open(os.path.join(sys.argv[1], "res%04d.pak" % i), "wb") as f:
        while size > 0:
            piece = min(size, 8 << 20)
            f.write(os.urandom(piece))
            size -= piece
PYTHON
  cp "$work"/config/*.ini "$dir/"
}

# make_small NAME COUNT: COUNT small files (0 to 4 KiB) with Chinese names (资源0000001.dat, ...),
# as a client's folder of scripts and icons has them.
make_small() {
  local dir=$work/$1
  mkdir "$dir"
  python3 - "$dir" "$2" <<'PYTHON'
import os, random, sys
rng = random.Random(20261209)
for i in range(int(sys.argv[2])):
    with open(os.path.join(sys.argv[1], "\u8d44\u6e90%07d.dat" % i), "wb") as f:
        f.write(os.urandom(rng.randint(0, 4096)))
PYTHON
  cp "$work"/config/*.ini "$dir/"
}

# The folder as it was before a run: Tabulon's lists and encoded copies go.
reset_folder() {
  cp "$work/config/client.ini" "$1/client.ini"
  rm -f "$1/update_file.ini" "$1"/*_e.ini "$1/Tabulon.exe" "$1/winfloor.exe"
}

# The files md5sum reads: all but what Tabulon skips or writes itself.
folder_files() {
  (cd "$1" && ls | grep -v -x -e Tabulon.exe -e update_file.ini -e '.*_e\.ini')
}

# prepare DIR EXE: the folder as it was before any run, with EXE in it as Tabulon.exe.
prepare() {
  reset_folder "$1"
  cp "$2" "$1/Tabulon.exe"
}

# run_prepared DIR EXE [ARGUMENT]: a run of the prepared folder. Windows executables run under
# Wine with the Chinese code page.
run_prepared() {
  if [[ $2 == "$windows" ]]; then
    "$top/cmake/wine-run.sh" "$1/Tabulon.exe" </dev/null >/dev/null || true
  else
    "$1/Tabulon.exe" ${3:+"$3"} </dev/null >/dev/null || true
  fi
}

# run_to HOW DIR EXE: a run of EXE (the Linux or the Windows Tabulon.exe, or the floor program)
# placed in DIR, with its output to a file (HOW file) or through a pipe (HOW pipe).
run_to() {
  local name=Tabulon.exe command=()
  reset_folder "$2"
  [[ $3 == "$floor" ]] && name=winfloor.exe
  cp "$3" "$2/$name"
  command=("$2/$name")
  [[ $3 == "$windows" || $3 == "$floor" ]] && command=("$top/cmake/wine-run.sh" "$2/$name")
  if [[ $1 == file ]]; then
    "${command[@]}" </dev/null >"$work/console.txt" || true
  else
    "${command[@]}" </dev/null | cat >/dev/null || true
  fi
}

# elapsed_us COMMAND...: wall time of one run in microseconds.
elapsed_us() {
  local start=$EPOCHREALTIME
  "$@" >/dev/null </dev/null || true
  local end=$EPOCHREALTIME
  echo $((${end/./} - ${start/./}))
}

median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", a / b}'; }
ms() { awk -v us="$1" 'BEGIN {printf "%.1f", us / 1000}'; }
# verdict VALUE LIMIT OP [UNIT]: "met (<= LIMIT)" or "MISSED (<= LIMIT)".
verdict() { awk -v v="$1" -v limit="$2" -v op="$3" -v unit="${4:-}" 'BEGIN {
  ok = op == "<=" ? v <= limit : v >= limit
  printf "%s (%s %s%s)", ok ? "met" : "MISSED", op, limit, unit}'; }

# client_list DIR: the list in DIR/client.ini as md5sum prints it, sorted: "digest  name", the
# name in UTF-8 (the lists name files in GBK, md5sum in the file system's UTF-8).
client_list() {
  iconv -f GBK -t UTF-8 "$1/client.ini" | tr -d '\r' | awk -F= '
    /^value_key[0-9]+=/ {key[substr($1, 10)] = substr($0, length($1) + 2)}
    /^value_[0-9]+=/ {digest[substr($1, 7)] = $2}
    END {for (i in key) print digest[i] "  " key[i]}' | sort
}

# ---- Folders of many small files with Chinese names. md5sum reads their names through xargs:
# no command line holds 200,000 of them.

# make_many NAME COUNT: COUNT files of 0 to 700 random bytes named like 界面图标_0000001.dat (two
# of sixteen Chinese words and a number), the three configuration files, and $work/NAME.names,
# the names md5sum reads, each ended by a NUL.
make_many() {
  local dir=$work/$1
  mkdir "$dir"
  python3 - "$dir" "$2" <<'PYTHON'
import os, random, sys
rng = random.Random(20261209)
words = "资源 界面 图标 角色 场景 音效 脚本 配置 地图 特效 武器 怪物 技能 任务 道具 称号".split()
for i in range(int(sys.argv[2])):
    name = "%s%s_%07d.dat" % (rng.choice(words), rng.choice(words), i)
    with open(os.path.join(sys.argv[1], name), "wb") as f:
        f.write(os.urandom(rng.randint(0, 700)))
PYTHON
  cp "$work"/config/*.ini "$dir/"
  folder_files "$dir" | tr '\n' '\0' >"$work/$1.names"
}

# md5sum_many NAME: md5sum over the folder's files, their names fed through xargs.
md5sum_many() { (cd "$work/$1" && xargs -0 -a "$work/$1.names" md5sum --); }

# check_many NAME: a run of Tabulon lists every file of the folder with md5sum's digest.
check_many() {
  local dir=$work/$1 listed expected
  reset_folder "$dir"
  expected=$(md5sum_many "$1" | sort)
  prepare "$dir" "$tabulon"
  run_prepared "$dir" "$tabulon"
  listed=$(client_list "$dir")
  if [[ $listed != "$expected" ]]; then
    echo "$0: Tabulon gives other digests than md5sum in $dir" >&2
    exit 1
  fi
}

# compare_many NAME RUNS: alternating runs of md5sum (through xargs) and Tabulon over the folder;
# sets md5_us and many_us to the medians.
compare_many() {
  local dir=$work/$1 i md5_runs=() tabulon_runs=()
  check_many "$1"
  md5sum_many "$1" >/dev/null
  for ((i = 0; i < $2; i++)); do
    md5_runs+=("$(elapsed_us md5sum_many "$1")")
    prepare "$dir" "$tabulon"
    tabulon_runs+=("$(elapsed_us run_prepared "$dir" "$tabulon")")
  done
  reset_folder "$dir"
  md5_us=$(printf '%s\n' "${md5_runs[@]}" | median)
  many_us=$(printf '%s\n' "${tabulon_runs[@]}" | median)
}

# peak_kib NAME: Tabulon's peak resident memory over the folder in KiB, the largest of 3 runs.
peak_kib() {
  local dir=$work/$1 best=0 kib i
  for i in 1 2 3; do
    prepare "$dir" "$tabulon"
    /usr/bin/time -f %M -o "$work/rss" "$dir/Tabulon.exe" </dev/null >/dev/null || true
    kib=$(tail -n 1 "$work/rss")
    ((kib > best)) && best=$kib
  done
  reset_folder "$dir"
  echo "$best"
}

# report_peak_per_file NAME LABEL COUNT LIMIT_KIB: peak_kib per file of the folder of COUNT
# files.
report_peak_per_file() {
  local kib per_file
  kib=$(peak_kib "$1")
  per_file=$(awk -v k="$kib" -v n="$3" 'BEGIN {printf "%.2f", k / n}')
  printf '%-40s %5s MiB  %s KiB per file  %s\n' "$2" \
    "$(awk -v k="$kib" 'BEGIN {printf "%.1f", k / 1024}')" "$per_file" \
    "$(verdict "$per_file" "$4" "<=" " KiB")"
}

# report_syscalls NAME COUNT: system calls per file of Tabulon and of md5sum through xargs, all
# threads and processes counted (strace -c -f).
report_syscalls() {
  local dir=$work/$1 tabulon_calls md5_calls
  prepare "$dir" "$tabulon"
  strace -f -c -o "$work/strace" "$dir/Tabulon.exe" </dev/null >/dev/null || true
  tabulon_calls=$(awk '$NF == "total" {print $4}' "$work/strace")
  (cd "$dir" && strace -f -c -o "$work/strace" xargs -0 -a "$work/$1.names" md5sum -- >/dev/null)
  md5_calls=$(awk '$NF == "total" {print $4}' "$work/strace")
  reset_folder "$dir"
  tabulon_calls=$(awk -v c="$tabulon_calls" -v n="$2" 'BEGIN {printf "%.2f", c / n}')
  md5_calls=$(awk -v c="$md5_calls" -v n="$2" 'BEGIN {printf "%.2f", c / n}')
  printf '%-40s md5sum %5s  Tabulon %5s  %s\n' "system calls per file" "$md5_calls" \
    "$tabulon_calls" "$(verdict "$tabulon_calls" "$md5_calls" "<=")"
}

# Checks once that a run lists every file of the folder with md5sum's digest.
check_digests() {
  local dir=$1 listed expected
  reset_folder "$dir"
  # client.ini is listed first, so it is digested before the run writes its list into it.
  expected=$(cd "$dir" && md5sum -- $(folder_files "$dir") | sort)
  prepare "$1" "$2"
  run_prepared "$@"
  listed=$(client_list "$dir")
  if [[ $listed != "$expected" ]]; then
    echo "$0: Tabulon ($2 ${3:-}) gives other digests than md5sum in $dir" >&2
    exit 1
  fi
}

# compare NAME RUNS VARIANT...: alternating runs of md5sum, md5deep -j2 and each variant ("EXE"
# or "EXE ARGUMENT") over the folder; sets md5_us, deep_us and us[VARIANT] to the medians.
declare -A us
compare() {
  local dir=$work/$1 runs=$2
  shift 2
  local variants=("$@") files variant i md5_runs=() deep_runs=()
  local -A runs_of=()
  mapfile -t files < <(folder_files "$dir")
  for variant in "${variants[@]}"; do check_digests "$dir" $variant; done
  # Warm the page cache and the programs before timing.
  (cd "$dir" && md5sum -- "${files[@]}" >/dev/null)
  for ((i = 0; i < runs; i++)); do
    md5_runs+=("$(cd "$dir" && elapsed_us md5sum -- "${files[@]}")")
    deep_runs+=("$(cd "$dir" && elapsed_us md5deep -j2 -- "${files[@]}")")
    for variant in "${variants[@]}"; do
      prepare "$dir" ${variant%% *}
      runs_of[$variant]+="$(elapsed_us run_prepared "$dir" $variant) "
    done
  done
  reset_folder "$dir"
  md5_us=$(printf '%s\n' "${md5_runs[@]}" | median)
  deep_us=$(printf '%s\n' "${deep_runs[@]}" | median)
  for variant in "${variants[@]}"; do us[$variant]=$(printf '%s\n' ${runs_of[$variant]} | median); done
}

# report LABEL REFERENCE_US TABULON_US LIMIT [REFERENCE_NAME]: wall times and their ratio.
report() {
  local r
  r=$(ratio "$3" "$2")
  printf '%-40s %-8s %9s ms  Tabulon %9s ms  ratio %s' "$1" "${5:-md5sum}" "$(ms "$2")" \
    "$(ms "$3")" "$r"
  if [[ -n $4 ]]; then printf '  %s' "$(verdict "$r" "$4" "<=")"; fi
  echo
}

# report_rss NAME LABEL LIMIT_MIB: Tabulon's peak resident memory, the largest of 3 runs.
report_rss() {
  local mib
  mib=$(awk -v k="$(peak_kib "$1")" 'BEGIN {printf "%.1f", k / 1024}')
  printf '%-40s %5s MiB  %s\n' "$2" "$mib" "$(verdict "$mib" "$3" "<=" " MiB")"
}

# compare_windows NAME: alternating runs of the floor program, the Windows build and the Linux
# build over the folder, output to a file and to a pipe; sets wus[EXE HOW] to the medians.
declare -A wus
compare_windows() {
  local dir=$work/$1 exe how i
  local -A runs_of=()
  check_digests "$dir" "$windows"
  for ((i = 0; i < windows_runs; i++)); do
    for how in file pipe; do
      for exe in "$floor" "$windows" "$tabulon"; do
        runs_of[$exe $how]+="$(elapsed_us run_to "$how" "$dir" "$exe") "
      done
    done
  done
  reset_folder "$dir"
  for exe in "$floor" "$windows" "$tabulon"; do
    for how in file pipe; do
      wus[$exe $how]=$(printf '%s\n' ${runs_of[$exe $how]} | median)
    done
  done
}

# report_windows LABEL FLOOR_LIMIT LINUX_LIMIT: the medians of compare_windows side by side and
# the Windows build's ratios to the floor and to the Linux build, against the limits given.
report_windows() {
  local how f w l to_floor to_linux
  for how in file pipe; do
    f=${wus[$floor $how]} w=${wus[$windows $how]} l=${wus[$tabulon $how]}
    to_floor=$(ratio "$w" "$f") to_linux=$(ratio "$w" "$l")
    printf '%-30s %-4s floor %8s ms  Windows %8s ms  Linux %8s ms  /floor %6s  /Linux %7s' \
      "$1" "$how" "$(ms "$f")" "$(ms "$w")" "$(ms "$l")" "$to_floor" "$to_linux"
    [[ -z $2 ]] || printf '  %s' "$(verdict "$to_floor" "$2" "<=")"
    [[ -z $3 ]] || printf '  %s' "$(verdict "$to_linux" "$3" "<=")"
    echo
  done
}

# ---- Release folder read from disk: the page cache dropped before each run

cold_runs=5  # each reads the folder from disk four times

# drop_page_cache: writes dirty pages back and drops the system's page cache, which needs root;
# false where it cannot.
drop_page_cache() { sync && { echo 3 >/proc/sys/vm/drop_caches; } 2>/dev/null; }

# cat_files N FILE...: only reads the files, N cat processes at once on a share of them each.
cat_files() {
  local n=$1
  shift
  printf '%s\0' "$@" | xargs -0 -P "$n" -n $((($# + n - 1) / n)) cat -- >/dev/null
}

# compare_cold NAME RUNS: alternating runs, each from a cold page cache, of cat (one and four at
# once), md5deep -j2 and Tabulon over the folder; sets cold_cat_us (the faster cat), cold_cat1_us,
# cold_cat4_us, cold_deep_us and cold_us to the medians.
compare_cold() {
  local dir=$work/$1 runs=$2 files i cat1=() cat4=() deep=() tab=()
  mapfile -t files < <(folder_files "$dir")
  for ((i = 0; i < runs; i++)); do
    drop_page_cache
    cat1+=("$(cd "$dir" && elapsed_us cat_files 1 "${files[@]}")")
    drop_page_cache
    cat4+=("$(cd "$dir" && elapsed_us cat_files 4 "${files[@]}")")
    drop_page_cache
    deep+=("$(cd "$dir" && elapsed_us md5deep -j2 -- "${files[@]}")")
    prepare "$dir" "$tabulon"
    drop_page_cache
    tab+=("$(elapsed_us run_prepared "$dir" "$tabulon")")
  done
  reset_folder "$dir"
  cold_cat1_us=$(printf '%s\n' "${cat1[@]}" | median)
  cold_cat4_us=$(printf '%s\n' "${cat4[@]}" | median)
  cold_cat_us=$((cold_cat1_us < cold_cat4_us ? cold_cat1_us : cold_cat4_us))
  cold_deep_us=$(printf '%s\n' "${deep[@]}" | median)
  cold_us=$(printf '%s\n' "${tab[@]}" | median)
}

# report_cold NAME RUNS LABEL: Tabulon from a cold page cache against only reading the files and
# against md5deep -j2; skipped, and said so, where the page cache cannot be dropped.
report_cold() {
  if ! drop_page_cache; then
    echo "$3: skipped, the page cache cannot be dropped here (needs root)"
    return
  fi
  compare_cold "$1" "$2"
  printf '%-40s cat, one at a time %9s ms, four at once %9s ms\n' "$3" "$(ms "$cold_cat1_us")" \
    "$(ms "$cold_cat4_us")"
  report "$3" "$cold_cat_us" "$cold_us" 1.15 "cat"
  report "$3" "$cold_deep_us" "$cold_us" 0.45 "md5deep"
}

cpu=$(lscpu | awk -F: '/^Model name/ {gsub(/^ +/, "", $2); print $2; exit}')
flags=$(grep -o -w -m1 -e avx2 -e avx512f /proc/cpuinfo | sort -u | tr '\n' ' ')
echo "=== $(date +%Y-%m-%d), $cpu ($flags), $(nproc) cores; medians of $large_runs runs" \
  "($small_runs for the small folders); md5sum, md5deep -j2 and Tabulon alternating"
# Other work on the machine slows every program, Tabulon's extra cores most.
echo "load average at the start: $(cut -d ' ' -f 1-3 /proc/loadavg)"

echo "=== Making the folders in $work"
make_folder one-gib 1 $((1 << 30))
make_folder files-1000 1000 4096
make_folder files-10000 10000 4096
make_small small-20000 20000
if ((!quick)); then
  make_folder large-8 8 $((256 << 20))
  make_release release
fi

echo "=== Wall time, page cache warm"
compare one-gib "$large_runs" "$tabulon"
report "1 GiB file" "$md5_us" "${us[$tabulon]}" 1.0
compare files-1000 "$small_runs" "$tabulon"
report "1,000 files of 4 KiB" "$md5_us" "${us[$tabulon]}" ""
tab_1000=${us[$tabulon]}
compare files-10000 "$small_runs" "$tabulon"
report "10,000 files of 4 KiB" "$md5_us" "${us[$tabulon]}" 0.6
growth=$(ratio "${us[$tabulon]}" "$tab_1000")
printf '%-40s %s  %s\n' "Tabulon(10,000) / Tabulon(1,000)" "$growth" "$(verdict "$growth" 11 "<=")"

if ((!quick)); then
  levels=()
  for level in portable avx2 avx512; do levels+=("$at_level $level"); done
  compare large-8 "$large_runs" "$tabulon" "${levels[@]}" "$at_level one-thread"
  report "8 files of 256 MiB" "$md5_us" "${us[$tabulon]}" 0.15
  report "8 files of 256 MiB" "$deep_us" "${us[$tabulon]}" 0.3 "md5deep"
  for level in portable avx2 avx512; do
    report "8 files of 256 MiB, kernel $level" "$md5_us" "${us[$at_level $level]}" ""
  done
  report "8 files of 256 MiB, one thread" "$md5_us" "${us[$at_level one-thread]}" ""
  compare release "$large_runs" "$tabulon"
  report "release folder, 3,000 files, 2 GiB" "$md5_us" "${us[$tabulon]}" 0.15
  report "release folder, 3,000 files, 2 GiB" "$deep_us" "${us[$tabulon]}" "" "md5deep"

  echo "=== Wall time, page cache dropped before each run (sync; echo 3 >/proc/sys/vm/drop_caches)"
  report_cold release "$cold_runs" "release folder, cold cache"
fi

if [[ -n $windows ]]; then
  echo "=== The Windows build under Wine (code page 936) beside the floor program and the Linux" \
    "build, medians of $windows_runs runs, output to a file and through a pipe"
  compare_windows one-gib
  report_windows "1 GiB file" "" ""
  compare_windows files-1000
  report_windows "1,000 files of 4 KiB" "" ""
  compare_windows files-10000
  report_windows "10,000 files of 4 KiB" "" ""
  compare_windows small-20000
  report_windows "20,000 small Chinese names" 1.5 ""
  if ((!quick)); then
    compare_windows large-8
    report_windows "8 files of 256 MiB" "" 1.2
    compare_windows release
    report_windows "release folder" "" 1.2
  fi
fi

echo "=== Peak resident memory of Tabulon (maximum resident set size of /usr/bin/time)"
if [[ -x /usr/bin/time ]]; then
  report_rss files-10000 "10,000 files of 4 KiB" 24
  if ((!quick)); then
    report_rss large-8 "8 files of 256 MiB" 16
    report_rss release "release folder" 16
  fi
else
  echo "skipped: /usr/bin/time is missing (Debian package time)"
fi

echo "=== Many small files (0 to 700 bytes, Chinese names), page cache warm; md5sum through xargs"
make_many small-10000 10000
compare_many small-10000 "$small_runs"
report "10,000 small files" "$md5_us" "$many_us" ""
small_10000=$many_us
if ((!quick)); then
  make_many small-200000 200000
  compare_many small-200000 "$large_runs"
  report "200,000 small files" "$md5_us" "$many_us" 0.8
  growth=$(ratio "$many_us" "$small_10000")
  printf '%-40s %s  %s\n' "Tabulon(200,000) / Tabulon(10,000)" "$growth" \
    "$(verdict "$growth" 22 "<=")"
  if [[ -x /usr/bin/time ]]; then
    report_peak_per_file small-200000 "200,000 small files, peak memory" 200000 0.6
  fi
  rm -rf "$work/small-200000"
fi
if command -v strace >/dev/null; then
  report_syscalls small-10000 10000
else
  echo "system calls per file: skipped, strace is missing"
fi

echo "=== MD5 kernels alone, 16 messages of 4 MiB in memory (CPU time of one core)"
"$top/build-bench/bench/md5_lanes_bench" --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null |
  awk -F, '/_median"/ && $6 != "" {gsub(/"/, ""); sub(/_median$/, "", $1)
    printf "%-40s %8.0f MB/s\n", $1 " " $8, $6 / 1e6}'
echo "load average at the end: $(cut -d ' ' -f 1-3 /proc/loadavg)"
