#!/usr/bin/env bash
# Builds the whole project with AddressSanitizer and UndefinedBehaviorSanitizer in build-asan and
# runs the whole test suite on that build. Any sanitizer report fails the run.
# Usage: scripts/check-sanitizers.sh [compiler]   (default: clang++ when present, else g++)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-asan"
compiler="${1:-}"
if [ -z "$compiler" ]; then
  if command -v clang++ >/dev/null; then compiler=clang++; else compiler=g++; fi
else
  # A build folder per chosen compiler: CMake keeps the compiler a folder was configured with.
  build="$top/build-asan-$(basename "$compiler")"
fi

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER="$compiler" -DTABULON_SANITIZE=address,undefined -DTABULON_BUILD_TESTS=ON
cmake --build "$build" -j2

# The end-to-end tests run the sanitized Tabulon.exe too: its reports fail those tests, since
# a sanitizer ends the process with a status of its own.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:exitcode=86:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:exitcode=87
ctest --test-dir "$build" --output-on-failure -j2
