#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 machine, as
# root, and does nothing that is already done. Safe to run again.
# One line per step; the package manager's own output goes to
# $BUILD_DIR/setup.log (build/ by default) and is shown when a step fails.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

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
# The code page 932 tests run Wine under LC_ALL=ja_JP.UTF-8: without that
# locale Wine cannot name files with double-byte characters.
need_locale=0
locale -a 2>/dev/null | grep -qix 'ja_JP.utf-\?8' || need_locale=1
((${#missing[@]} + need_locale)) || exit 0

if [ "$(id -u)" != 0 ]; then
  echo "setup: missing packages (${missing[*]}); run this script as root" >&2
  exit 1
fi

BUILD_DIR="${BUILD_DIR:-$root/build}"
mkdir -p "$BUILD_DIR"
log="$(cd "$BUILD_DIR" && pwd)/setup.log"
: >"$log"

# step <what> <command...>: one line on the terminal, the output in the log.
step() {
  local what="$1"
  shift
  echo "setup: $what"
  echo "== $what: $*" >>"$log"
  if ! "$@" >>"$log" 2>&1 </dev/null; then
    echo "setup: FAILED: $what; the end of $log:" >&2
    tail -n 25 "$log" >&2
    exit 1
  fi
}

if ((${#missing[@]})) && ! dpkg --print-foreign-architectures | grep -qx i386; then
  step "adding the i386 architecture" dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
if ((${#missing[@]})); then
  step "updating the package lists" apt-get update -q
  step "installing ${missing[*]}" \
    apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
if ((need_locale)); then
  step "making the ja_JP.UTF-8 locale" localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
echo "setup: done (log: $log)"
