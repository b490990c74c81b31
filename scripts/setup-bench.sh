#!/usr/bin/env bash
# Fetches the sources of Google Benchmark from Debian (the package
# "benchmark" of the same suite as the installed system) and unpacks them
# into <dest>/benchmark-src, where the build of bench/ picks them up and
# compiles them with the cross toolchain. Does nothing that is already done.
#   scripts/setup-bench.sh <dest>
set -euo pipefail
dest="${1:?usage: setup-bench.sh <dest folder>}"
mkdir -p "$dest"
dest="$(cd "$dest" && pwd)"
src="$dest/benchmark-src"
[ -f "$src/CMakeLists.txt" ] && exit 0

# The package manager's output goes to a log, shown when a step fails.
log="$dest/setup-bench.log"
: >"$log"
quiet() {
  if ! "$@" >>"$log" 2>&1 </dev/null; then
    echo "setup-bench: FAILED: $*; the end of $log:" >&2
    tail -n 25 "$log" >&2
    exit 1
  fi
}

# A deb-src twin of every deb entry of the system's Debian sources, so that
# apt-get source finds the package of the very suite the system runs.
srclist=/etc/apt/sources.list.d/kvdrm-deb-src.sources
if ! grep -rqs -e '^Types:.*deb-src' -e '^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  if [ "$(id -u)" != 0 ]; then
    echo "setup-bench: no deb-src entry; run as root once to add $srclist" >&2
    exit 1
  fi
  sed -e 's/^Types: *deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources >"$srclist"
  echo "setup-bench: updating the package lists (with sources)"
  quiet apt-get update -q
fi

work="$dest/benchmark-deb"
mkdir -p "$work"
cd "$work"
if ! ls benchmark_*.dsc >/dev/null 2>&1; then
  echo "setup-bench: fetching the sources of Google Benchmark"
  quiet apt-get source --download-only benchmark
fi
dsc="$(ls benchmark_*.dsc | head -n1)"
version="$(sed -n 's/^Version: //p' "$dsc")"
# The benchmarks were written against 1.7.1 (Debian 12); say so if the suite
# brings another one.
case "$version" in
  1.7.1*) ;;
  *) echo "setup-bench: note: Google Benchmark $version, not 1.7.1" >&2 ;;
esac
rm -rf "$src.tmp"
quiet dpkg-source --no-check -x "$dsc" "$src.tmp"
mv "$src.tmp" "$src"
echo "setup-bench: $version unpacked into $src"
