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
# Some virtual machines run a kernel without 32-bit user mode ("32-bit
# emulation disabled" in its log): Wine's 32-bit loader then fails with
# "Exec format error". There qemu's user-mode emulator, registered for
# 32-bit x86 programs, runs them.
runs_i386() { [ ! -e /lib/ld-linux.so.2 ] || /lib/ld-linux.so.2 --version >/dev/null 2>&1; }
need_i386=0
runs_i386 || need_i386=1
# An emulator registered earlier, but not the one chosen below.
if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] &&
  ! grep -qx 'interpreter /usr/bin/qemu-i386' /proc/sys/fs/binfmt_misc/qemu-i386; then
  need_i386=1
  echo -1 >/proc/sys/fs/binfmt_misc/qemu-i386
fi
((${#missing[@]} + need_locale + need_i386)) || exit 0

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
# try <what> <command...>: as step, but a failure is reported and returned.
try() {
  echo "setup: $1"
  echo "== $1: ${*:2}" >>"$log"
  "${@:2}" >>"$log" 2>&1 </dev/null
}
if ((${#missing[@]})); then
  # A mirror caught mid-sync serves an index that does not match its Release
  # file (seen: bookworm-security's i386 list). The other lists still load,
  # so go on; the install below says whether what it needs was there.
  updated=0
  for attempt in 1 2 3; do
    if try "updating the package lists (attempt $attempt)" apt-get update -q; then
      updated=1
      break
    fi
    sleep 5
  done
  ((updated)) || echo "setup: some package lists failed to load (see $log); going on with the rest"
  if ! try "installing ${missing[*]}" \
    apt-get install -y -q --no-install-recommends "${missing[@]}"; then
    # Without the security suite's i386 list, its newer amd64 libraries have
    # no i386 twin of the same version and multiarch refuses wine32. The
    # release's own versions always pair up.
    echo "setup: installing from bookworm's own versions (the newest did not pair up)"
    step "installing ${missing[*]} (bookworm)" \
      apt-get install -y -q --no-install-recommends -t bookworm "${missing[@]}"
  fi
fi
if ((need_locale)); then
  step "making the ja_JP.UTF-8 locale" localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
if ! runs_i386; then
  # qemu 7.2 (bookworm) emulates MAP_FIXED_NOREPLACE badly: Wine's 32-bit
  # start then takes a minute of CPU probing its address space. The
  # backported qemu 10 (static binaries, package qemu-user) takes a second.
  qemu=/usr/bin/qemu-i386
  if ! "$qemu" --version 2>/dev/null | grep -q 'version \([89]\|[1-9][0-9]\)\.'; then
    backports=/etc/apt/sources.list.d/kvdrm-bookworm-backports.sources
    if [ ! -e "$backports" ]; then
      printf '%s\n' 'Types: deb' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm-backports' \
        'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' >"$backports"
    fi
    step "updating the package lists (bookworm-backports)" apt-get update -q
    step "installing qemu-user from bookworm-backports (this kernel runs no 32-bit programs)" \
      apt-get install -y -q --no-install-recommends -t bookworm-backports qemu-user
  fi
  binfmt=/proc/sys/fs/binfmt_misc
  [ -e "$binfmt/register" ] || step "mounting binfmt_misc" mount -t binfmt_misc binfmt_misc "$binfmt"
  if [ -e "$binfmt/qemu-i386" ] && ! grep -qx "interpreter $qemu" "$binfmt/qemu-i386"; then
    echo -1 >"$binfmt/qemu-i386"
  fi
  if [ ! -e "$binfmt/qemu-i386" ]; then
    echo "setup: running 32-bit programs through $qemu"
    # ELF, 32-bit, little-endian, executable or shared object, machine 386.
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F' \
      >"$binfmt/register"
  fi
  if ! runs_i386; then
    echo "setup: FAILED: this machine runs no 32-bit programs, not even through $qemu" >&2
    exit 1
  fi
fi
echo "setup: done (log: $log)"
