#!/usr/bin/env bash
# Builds the whole project with sanitizers and runs the whole test suite on that build; the
# end-to-end tests run the sanitized Tabulon.exe too, and any sanitizer report fails the run
# (each sanitizer ends the process with a status of its own; see CMakePresets.json).
#   scripts/check-sanitizers.sh [address|thread]
# address (the default): AddressSanitizer and UndefinedBehaviorSanitizer, preset asan.
# thread: ThreadSanitizer, preset tsan. It sees every access the project's own code makes, but
#   not the inside of uninstrumented libraries: the C library's iconv, stdio and locale code
#   keep hidden state that no report would show shared between threads. That is why each header
#   states which of its functions may run on several threads at once, and why the digest
#   threads call only such functions.
set -euo pipefail
cd "$(dirname "$0")/.."
case "${1:-address}" in
  address) preset=asan ;;
  thread) preset=tsan ;;
  *) echo "usage: $0 [address|thread]" >&2; exit 2 ;;
esac

cmake --preset "$preset"
cmake --build --preset "$preset"
ctest --preset "$preset"
