#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 machine, as
# root, and does nothing that is already done. Safe to run again.
set -euo pipefail

packages=(
  cmake ninja-build googletest
  g++-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
  wine wine32:i386 wine64
  xvfb xauth x11-apps imagemagick
  clang libclang-rt-14-dev zip
  llvm-14 lld-14
  locales
)

missing=()
for p in "${packages[@]}"; do
  # dpkg-query keeps the architecture qualifier, so wine32:i386 is asked as such.
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  if [ "$(id -u)" != 0 ]; then
    echo "setup: missing packages (${missing[*]}); run this script as root" >&2
    exit 1
  fi
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The code page 932 tests run Wine under LC_ALL=ja_JP.UTF-8: without that
# locale Wine cannot name files with double-byte characters.
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf-\?8'; then
  localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
