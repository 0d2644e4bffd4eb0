#!/usr/bin/env bash
# Builds the whole project with sanitizers and runs the whole test suite on that build; the
# end-to-end tests run the sanitized Tabulon.exe too, and any sanitizer report fails the run.
#   scripts/check-sanitizers.sh [address|thread] [compiler]
# address (the default): AddressSanitizer and UndefinedBehaviorSanitizer, in build-asan.
# thread: ThreadSanitizer, in build-tsan, with clang. It sees every access the project's own
#   code makes, but not the inside of uninstrumented libraries: the C library's iconv, stdio and
#   locale code keep hidden state that no report would show shared between threads. That is why
#   each header states which of its functions may run on several threads at once, and why the
#   digest thread calls only such functions.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
kind="${1:-address}"
compiler="${2:-}"
case "$kind" in
  address) sanitizers=address,undefined build="$top/build-asan" ;;
  thread) sanitizers=thread build="$top/build-tsan" ;;
  *) echo "usage: $0 [address|thread] [compiler]" >&2; exit 2 ;;
esac
if [ -z "$compiler" ]; then
  if command -v clang++ >/dev/null; then compiler=clang++; else compiler=g++; fi
else
  # A build folder per chosen compiler: CMake keeps the compiler a folder was configured with.
  build="$build-$(basename "$compiler")"
fi

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER="$compiler" -DTABULON_SANITIZE="$sanitizers" -DTABULON_BUILD_TESTS=ON
cmake --build "$build" -j2

# A sanitizer ends the process with a status of its own, which fails the end-to-end tests too.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:exitcode=86:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:exitcode=87
export TSAN_OPTIONS=halt_on_error=1:exitcode=88:second_deadlock_stack=1
ctest --test-dir "$build" --output-on-failure -j2
