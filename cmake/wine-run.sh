#!/bin/bash
# Runs a Windows program under Wine as the tests expect it: a Chinese Windows (ANSI code page 936)
# and no Wine debug output. Used as CMake's cross-compiling emulator, so CTest runs the Windows
# test programs through it. The exit status is the program's.
#
# Wine takes the system's ANSI code page from the Unix locale. TABULON_WINE_LOCALE names another
# UTF-8 locale to run under: en_US.UTF-8 gives an English Windows (code page 1252).
set -u

wine_locale=${TABULON_WINE_LOCALE:-zh_CN.UTF-8}
export LANG=$wine_locale
export LC_ALL=$wine_locale
export WINEDEBUG=-all
# No prompts to install Mono or Gecko, which nothing here needs.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

if [ $# -eq 0 ]; then
  echo "usage: $0 PROGRAM.exe [ARGUMENT...]" >&2
  exit 2
fi

language=${wine_locale%%.*}
if ! locale -a 2>/dev/null | grep -qix "$language\.utf-\?8"; then
  echo "$0: the locale $wine_locale is missing (localedef -i $language -f UTF-8 $wine_locale)" >&2
  exit 2
fi

# The first start of Wine creates its prefix; do that once, quietly, before the program runs.
prefix="${WINEPREFIX:-${HOME:?Wine needs HOME}/.wine}"
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
      wineboot -i >/dev/null 2>&1
      wineserver -w
    fi
  ) 9>"$prefix.init-lock"
fi

case " $* " in
  *" --gtest_list_tests "*)
    # The test list comes through the runtime's text mode with CR LF line ends; CMake's test
    # discovery reads LF only.
    set -o pipefail
    wine "$@" | tr -d '\r'
    ;;
  *)
    exec wine "$@"
    ;;
esac
