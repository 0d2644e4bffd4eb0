#!/usr/bin/env bash
# The Windows Tabulon.exe with its console on a terminal, under Wine with a Chinese and with an
# English locale (code pages 936 and 1252): the texts must read right on the terminal, whatever
# the console's code page. Wine draws its console on the Unix terminal in UTF-8, so the Chinese
# texts must arrive there as UTF-8; GBK bytes written to the console unconverted would arrive as
# code page 437 or 1252 characters.
#
#   tests/windows/console_check.sh path/to/Tabulon.exe
#
# Exits 0 when both runs show the texts, 1 otherwise.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
exe=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
work=$(mktemp -d /tmp/tabulon-console.XXXXXX)
trap 'rm -rf "$work"' EXIT
export WINEDEBUG=-all

failed=0
for locale in zh_CN.UTF-8 en_US.UTF-8; do
  rm -rf "$work/release"
  cp -r "$top/examples/release" "$work/release"
  cp "$exe" "$work/release/Tabulon.exe"
  # script gives the run a pseudo-terminal, which Wine takes for its console.
  (cd "$work/release" && LANG=$locale LC_ALL=$locale timeout 120 \
    script -qec "wine Tabulon.exe </dev/null" /dev/null >"$work/terminal.txt" 2>&1) || true
  for text in 初始化配置文件信息 开始搜索文件 正在写入 写入完成; do
    if ! grep -aq "$text" "$work/terminal.txt"; then
      echo "console under $locale: \"$text\" does not read right on the terminal" >&2
      failed=1
    fi
  done
  echo "console under $locale: $(grep -ac '正在写入' "$work/terminal.txt") file lines read right"
done
exit "$failed"
