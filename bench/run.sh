#!/usr/bin/env bash
# Tabulon next to md5sum over the same folders, on this machine: wall time ratios, linear cost in
# the number of files, peak memory, and MD5 alone next to OpenSSL. See bench/README.md.
#
#   bash bench/run.sh           # everything, median of 7 (9 for the small folders)
#   bash bench/run.sh --quick   # median of 5, without the folder of 8 files of 256 MiB
#
# The folders are made in a temporary directory (about 3.1 GiB, 1.1 GiB in quick mode) and
# removed at the end. TABULON_BENCH_BUILD names the build directory (default build-bench).
set -euo pipefail
export LC_ALL=C

top=$(cd "$(dirname "$0")/.." && pwd)
build=${TABULON_BENCH_BUILD:-$top/build-bench}
quick=0
case "${1:-}" in
  --quick) quick=1 ;;
  "") ;;
  *) echo "usage: $0 [--quick]" >&2; exit 2 ;;
esac
if ((quick)); then large_runs=5; small_runs=5; else large_runs=7; small_runs=9; fi

for tool in cmake ninja md5sum split awk lscpu; do
  command -v "$tool" >/dev/null || { echo "$0: $tool is missing" >&2; exit 1; }
done

echo "=== Building Release in $build"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTABULON_BUILD_BENCHMARKS=ON \
  >/dev/null
cmake --build "$build" -j2 --target Tabulon TabulonOneThread md5_bench >/dev/null
tabulon=$build/Tabulon.exe
one_thread=$build/bench/TabulonOneThread.exe

work=$(mktemp -d "${TMPDIR:-/tmp}/tabulon-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/config"
printf '[updateserver]\r\nURL=http://update.example.com/game\r\n' >"$work/config/client.ini"
printf '[set]\r\nwidth=1280\r\n' >"$work/config/set.ini"
printf '[game]\r\nname=demo\r\n' >"$work/config/game.ini"

# make_folder NAME COUNT SIZE: a release folder of COUNT random files of SIZE bytes
# (data00000.bin, ...) with the three configuration files; client.ini is listed first.
make_folder() {
  local dir=$work/$1
  mkdir "$dir"
  head -c $(($2 * $3)) /dev/urandom |
    split -b "$3" -d -a 5 --additional-suffix=.bin - "$dir/data"
  cp "$work"/config/*.ini "$dir/"
  cp "$tabulon" "$dir/Tabulon.exe"
}

# The folder as it was before a run: Tabulon's lists and encoded copies go.
reset_folder() {
  cp "$work/config/client.ini" "$1/client.ini"
  rm -f "$1/update_file.ini" "$1"/*_e.ini
}

# The files md5sum reads: all but what Tabulon skips or writes itself.
folder_files() {
  (cd "$1" && ls | grep -v -x -e Tabulon.exe -e update_file.ini -e '.*_e\.ini')
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

# report LABEL MD5_US TABULON_US [LIMIT]: one line of wall times and their ratio.
report() {
  local r
  r=$(ratio "$3" "$2")
  printf '%-34s md5sum %9s ms  Tabulon %9s ms  ratio %s' "$1" "$(ms "$2")" "$(ms "$3")" "$r"
  if [[ -n ${4:-} ]]; then printf '  %s' "$(verdict "$r" "$4" "<=")"; fi
  echo
}

# Checks once that Tabulon lists every file of the folder with md5sum's digest.
check_digests() {
  local dir=$1 exe=$2 listed expected
  reset_folder "$dir"
  # client.ini is listed first, so it is digested before the run writes its list into it.
  expected=$(cd "$dir" && md5sum -- $(folder_files "$dir") | sort)
  cp "$exe" "$dir/Tabulon.exe"
  "$dir/Tabulon.exe" </dev/null >/dev/null || { echo "$0: Tabulon failed in $dir" >&2; exit 1; }
  listed=$(tr -d '\r' <"$dir/client.ini" | awk -F= '
    /^value_key[0-9]+=/ {key[substr($1, 10)] = substr($0, length($1) + 2)}
    /^value_[0-9]+=/ {digest[substr($1, 7)] = $2}
    END {for (i in key) print digest[i] "  " key[i]}' | sort)
  if [[ $listed != "$expected" ]]; then
    echo "$0: Tabulon's digests differ from md5sum's in $dir" >&2
    exit 1
  fi
  reset_folder "$dir"
}

# compare NAME RUNS [EXE...]: alternating runs of md5sum and each EXE over the folder; sets
# md5_us and tab_us[EXE] to the medians.
declare -A tab_us
compare() {
  local dir=$work/$1 runs=$2
  shift 2
  local exes=("$@") files exe i md5_runs=()
  local -A exe_runs=()
  mapfile -t files < <(folder_files "$dir")
  for exe in "${exes[@]}"; do check_digests "$dir" "$exe"; done
  # Warm the page cache and both programs before timing.
  (cd "$dir" && md5sum -- "${files[@]}" >/dev/null)
  for ((i = 0; i < runs; i++)); do
    md5_runs+=("$(cd "$dir" && elapsed_us md5sum -- "${files[@]}")")
    for exe in "${exes[@]}"; do
      cp "$exe" "$dir/Tabulon.exe"
      reset_folder "$dir"
      exe_runs[$exe]+="$(elapsed_us "$dir/Tabulon.exe") "
    done
  done
  reset_folder "$dir"
  cp "$tabulon" "$dir/Tabulon.exe"
  md5_us=$(printf '%s\n' "${md5_runs[@]}" | median)
  for exe in "${exes[@]}"; do
    tab_us[$exe]=$(printf '%s\n' ${exe_runs[$exe]} | median)
  done
}

# peak_rss_kib NAME: Tabulon's peak resident memory over the folder, the largest of 3 runs.
peak_rss_kib() {
  local dir=$work/$1 best=0 kib i
  for i in 1 2 3; do
    reset_folder "$dir"
    /usr/bin/time -f %M -o "$work/rss" "$dir/Tabulon.exe" </dev/null >/dev/null || true
    kib=$(tail -n 1 "$work/rss")
    ((kib > best)) && best=$kib
  done
  reset_folder "$dir"
  echo "$best"
}

# report_rss NAME LABEL LIMIT_MIB
report_rss() {
  local mib
  mib=$(awk -v k="$(peak_rss_kib "$1")" 'BEGIN {printf "%.1f", k / 1024}')
  printf '%-34s %5s MiB  %s\n' "$2" "$mib" "$(verdict "$mib" "$3" "<=" " MiB")"
}

cpu=$(lscpu | awk -F: '/^Model name/ {gsub(/^ +/, "", $2); print $2; exit}')
echo "=== $(date +%Y-%m-%d), $cpu, $(nproc) cores; medians of $large_runs runs" \
  "($small_runs for the small folders), md5sum and Tabulon alternating"
# Other work on the machine slows both programs, and digesting ahead needs a second free core.
echo "load average at the start: $(cut -d ' ' -f 1-3 /proc/loadavg)"

echo "=== Making the folders in $work"
make_folder one-gib 1 $((1 << 30))
make_folder files-1000 1000 4096
make_folder files-10000 10000 4096
((quick)) || make_folder large-8 8 $((256 << 20))

echo "=== Wall time, page cache warm"
compare one-gib "$large_runs" "$tabulon"
report "1 GiB file" "$md5_us" "${tab_us[$tabulon]}" 1.05
compare files-1000 "$small_runs" "$tabulon"
report "1,000 files of 4 KiB" "$md5_us" "${tab_us[$tabulon]}"
tab_1000=${tab_us[$tabulon]}
compare files-10000 "$small_runs" "$tabulon"
report "10,000 files of 4 KiB" "$md5_us" "${tab_us[$tabulon]}" 2
growth=$(ratio "${tab_us[$tabulon]}" "$tab_1000")
printf '%-34s %s  %s\n' "Tabulon(10,000) / Tabulon(1,000)" "$growth" "$(verdict "$growth" 12 "<=")"

if ((!quick)); then
  compare large-8 "$large_runs" "$tabulon" "$one_thread"
  report "8 files of 256 MiB" "$md5_us" "${tab_us[$tabulon]}"
  report "8 files of 256 MiB, one thread" "$md5_us" "${tab_us[$one_thread]}"
fi

echo "=== Peak resident memory of Tabulon (maximum resident set size of /usr/bin/time, largest of 3 runs)"
if [[ -x /usr/bin/time ]]; then
  report_rss one-gib "1 GiB file" 8
  report_rss files-10000 "10,000 files of 4 KiB" 32
else
  echo "skipped: /usr/bin/time is missing (Debian package time)"
fi

echo "=== MD5 alone, bytes per second of CPU time"
min_time=$( ((quick)) && echo 0.5 || echo 2)
ours=$("$build/bench/md5_bench" --benchmark_filter='BM_Md5Append/67108864$' \
  --benchmark_min_time="$min_time" --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null |
  awk -F, '/_median"/ {printf "%.0f", $6}')
printf '%-34s %7.1f MB/s\n' "Md5Append, 64 MiB buffer" "$(awk -v b="$ours" 'BEGIN {print b / 1e6}')"
if command -v openssl >/dev/null; then
  openssl_kb=$(openssl speed -evp md5 -bytes 8192 -seconds "$( ((quick)) && echo 1 || echo 3)" \
    2>/dev/null | awk '$1 == "md5" {sub(/k$/, "", $2); print $2}')
  printf '%-34s %7.1f MB/s\n' "openssl speed -evp md5, 8192 bytes" \
    "$(awk -v k="$openssl_kb" 'BEGIN {print k / 1e3}')"
  r=$(ratio "$ours" "$(awk -v k="$openssl_kb" 'BEGIN {print k * 1e3}')")
  printf '%-34s %s  %s\n' "Md5Append / OpenSSL" "$r" "$(verdict "$r" 0.9 ">=")"
else
  echo "openssl is missing: no comparison"
fi
echo "load average at the end: $(cut -d ' ' -f 1-3 /proc/loadavg)"
