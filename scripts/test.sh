#!/usr/bin/env bash
# Runs the whole test suite: installs what is missing, then the Linux build and its tests, the
# same tests under AddressSanitizer and UndefinedBehaviorSanitizer and under ThreadSanitizer,
# bounded fuzzing, the kill test, valgrind, and the Windows build with its tests under Wine and
# the cross-build check.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

bash scripts/install-deps.sh

echo "=== Linux build and tests"
cmake --preset native
cmake --build --preset native
ctest --preset native

echo "=== Sanitizers (AddressSanitizer, UndefinedBehaviorSanitizer)"
bash scripts/check-sanitizers.sh address

echo "=== ThreadSanitizer"
bash scripts/check-sanitizers.sh thread

echo "=== Fuzzing, ${TABULON_FUZZ_SECONDS:-60} s per target"
bash scripts/fuzz.sh "${TABULON_FUZZ_SECONDS:-60}"

echo "=== Kill test"
bash tests/kill_test.sh build/Tabulon.exe

echo "=== valgrind memcheck"
bash scripts/valgrind.sh build/Tabulon.exe

echo "=== Windows build, its tests under Wine, and the cross-build check"
TABULON_LINUX_BUILD=build bash .ci/windows.sh
