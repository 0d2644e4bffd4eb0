#!/usr/bin/env bash
# Installs what the build and the test suite need on a Debian 12 machine, only what is missing.
set -euo pipefail

packages=(cmake ninja-build g++ clang libgtest-dev libgmock-dev libbenchmark-dev libsimde-dev
          g++-mingw-w64-x86-64 wine64 wine locales md5deep libclang-rt-14-dev hyperfine
          valgrind python3 time strace)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if ((${#missing[@]})); then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# Wine uses the Chinese ANSI code page (936) only when zh_CN.UTF-8 exists; the Windows tests also
# run on an English Windows (code page 1252), which en_US.UTF-8 gives.
for language in zh_CN en_US; do
  if ! locale -a 2>/dev/null | grep -qi "^$language\.utf-\?8$"; then
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" localedef -i "$language" -f UTF-8 "$language.UTF-8"
  fi
done
