#!/usr/bin/env bash
# Runs the whole test suite: installs what is missing, builds and tests the Linux build.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

bash scripts/install-deps.sh

echo "=== Linux build and tests"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DTABULON_BUILD_TESTS=ON
cmake --build build -j2
ctest --test-dir build --output-on-failure -j2
