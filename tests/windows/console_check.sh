#!/usr/bin/env bash
# The Windows Tabulon.exe with its console on a terminal, under Wine with a Chinese and with an
# English locale (code pages 936 and 1252): the texts must read right on the terminal, whatever
# the console's code page. Wine draws its console on the Unix terminal in UTF-8, so the Chinese
# texts must arrive there as UTF-8; GBK bytes written to the console unconverted would arrive as
# code page 437 or 1252 characters.
#
#   tests/windows/console_check.sh path/to/Tabulon.exe
#
# Each run then waits for a key in the console window: a single key, with no Enter, must end it.
#
# Exits 0 when both runs show the texts and end on one key, 1 otherwise.
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
  # script gives the run a pseudo-terminal, which Wine takes for its console; the key goes
  # in through script once the closing text is shown.
  rm -f "$work/keys"
  mkfifo "$work/keys"
  (cd "$work/release" && LANG=$locale LC_ALL=$locale exec timeout 120 \
    script -qec "wine Tabulon.exe" /dev/null <"$work/keys" >"$work/terminal.txt" 2>&1) &
  run=$!
  exec 3>"$work/keys"
  for ((waited = 0; waited < 600; waited++)); do
    grep -aq '按任意键关闭' "$work/terminal.txt" 2>/dev/null && break
    sleep 0.1
  done
  printf x >&3
  status=0
  for ((waited = 0; waited < 100; waited++)); do
    kill -0 "$run" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$run" 2>/dev/null; then
    echo "console under $locale: one key did not end the wait" >&2
    failed=1
    kill "$run" 2>/dev/null || true
  fi
  wait "$run" || status=$?
  exec 3>&-
  if ((status != 0)); then
    echo "console under $locale: the run ended with status $status" >&2
    failed=1
  fi
  for text in 初始化配置文件信息 开始搜索文件 正在写入 写入完成; do
    if ! grep -aq "$text" "$work/terminal.txt"; then
      echo "console under $locale: \"$text\" does not read right on the terminal" >&2
      failed=1
    fi
  done
  echo "console under $locale: $(grep -ac '正在写入' "$work/terminal.txt") file lines read right"
done
exit "$failed"
