#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each for a bounded time on a
# working copy of its committed seed corpus (tests/fuzz/corpus/<target>/, which stays as it is).
# Prints the executions of each target and the crashes it found; exits 1 when any target crashed.
# Usage: scripts/fuzz.sh [seconds per target, default 60] [target...]
# Crashing inputs are kept in build-fuzz/artifacts/<target>/; replay one with
#   build-fuzz/tests/fuzz/<target>_fuzzer <file>
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-fuzz"
seconds="${1:-60}"
shift || true
targets=("$@")
((${#targets[@]})) || targets=(ini_store multibyte_order config_encoding md5 md5_lanes digest_queue)

(cd "$top" && cmake --preset fuzz >/dev/null &&
  cmake --build --preset fuzz --target "${targets[@]/%/_fuzzer}")

failed=0
summary=()
for target in "${targets[@]}"; do
  work="$build/corpus/$target"
  artifacts="$build/artifacts/$target/"
  log="$build/$target.log"
  mkdir -p "$work" "$artifacts"
  echo "=== fuzzing $target for ${seconds}s"
  set +e
  "$build/tests/fuzz/${target}_fuzzer" "$work" "$top/tests/fuzz/corpus/$target" \
    -max_total_time="$seconds" -timeout=10 -max_len=8192 -print_final_stats=1 \
    -artifact_prefix="$artifacts" >"$log" 2>&1
  status=$?
  set -e
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  crashes=$(find "$artifacts" -type f | wc -l)
  if ((status != 0)); then
    failed=1
    tail -40 "$log"
  fi
  summary+=("$target: ${runs:-?} executions, exit status $status, $crashes crash file(s) in $artifacts")
done

echo "=== fuzzing summary (${seconds}s per target)"
printf '%s\n' "${summary[@]}"
exit "$failed"
