#!/usr/bin/env bash
# The Windows half of CI: cross-builds Tabulon.exe and the whole test suite with MinGW-w64 in
# build-windows, shows the executable's manifest and imports, runs the suite under Wine through
# CTest (the tests that run the tool end to end once more as on an English Windows), and compares
# the Windows executable's results, as on a Chinese and on an English Windows, with the Linux
# one's.
#
# The packages (g++-mingw-w64-x86-64, wine64, locales) are installed by .ci/run. Set
# TABULON_LINUX_BUILD to a Linux build directory that holds Tabulon.exe to compare with it;
# otherwise the cross-build check builds its own.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

# Wine takes its ANSI code page from the locale: zh_CN.UTF-8 gives code page 936, en_US.UTF-8
# gives 1252. The tool must behave the same under both.
for language in zh_CN en_US; do
  if ! locale -a 2>/dev/null | grep -qix "$language\.utf-\?8"; then
    echo "=== Generating the $language.UTF-8 locale"
    localedef -i "$language" -f UTF-8 "$language.UTF-8"
  fi
done

export WINEDEBUG=-all
if [ ! -f "${WINEPREFIX:-$HOME/.wine}/system.reg" ]; then
  echo "=== Creating the Wine prefix"
  LANG=zh_CN.UTF-8 WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
  wineserver -w
fi

echo "=== Windows cross build (build-windows)"
cmake --preset windows
cmake --build --preset windows

exe=build-windows/Tabulon.exe
echo "=== $exe: manifest"
x86_64-w64-mingw32-windres -i "$exe" -O rc | grep -E 'requestedExecutionLevel|FileVersion'
if ! x86_64-w64-mingw32-windres -i "$exe" -O rc | grep -q 'requestedExecutionLevel level=""asInvoker""'; then
  echo "the manifest of $exe does not declare asInvoker" >&2
  exit 1
fi
echo "=== $exe: DLLs it loads"
imports=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')
echo "$imports"
# Fully static: nothing beyond the DLLs that come with Windows.
if echo "$imports" | grep -viqE '^(kernel32|msvcrt|user32|advapi32)\.dll$'; then
  echo "$exe needs a DLL that Windows does not ship" >&2
  exit 1
fi

echo "=== Windows test suite under Wine"
ctest --preset windows

echo "=== The console on a terminal, under a Chinese and an English locale"
bash tests/windows/console_check.sh build-windows/Tabulon.exe

echo "=== The executable's own path around every size of its buffer"
bash tests/windows/module_path_check.sh build-windows/Tabulon.exe

echo "=== The zip for release machines"
rm -f build-windows/Tabulon-*-windows-x64.zip
(cd build-windows && cpack >/dev/null)
zip_file=$(ls build-windows/Tabulon-*-windows-x64.zip)
python3 -m zipfile -l "$zip_file"
python3 -m zipfile -l "$zip_file" | grep -q '/Tabulon\.exe '

echo "=== Cross-build check: Linux and Windows Tabulon.exe on the same folders"
check_args=(--windows-build build-windows)
if [ -n "${TABULON_LINUX_BUILD:-}" ]; then check_args+=(--linux-build "$TABULON_LINUX_BUILD"); fi
bash tests/windows/cross_build_check.sh "${check_args[@]}"
