#!/usr/bin/env bash
# Builds the release folder and packs it as one zip:
#   dist/KVDRM-<version>/      bin/ include/ lib/ sample/ docs/ README.md
#   dist/KVDRM-<version>.zip
# The same commit gives the same zip: file times are the commit's, the
# order is sorted, no extra attributes are stored.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
BUILD_DIR="${BUILD_DIR:-$root/build}"
mkdir -p "$BUILD_DIR"
BUILD_DIR="$(cd "$BUILD_DIR" && pwd)"

cmake -S "$root" -B "$BUILD_DIR" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-mingw.cmake" >/dev/null
cmake --build "$BUILD_DIR" --target kvdrm kvdrm_check kvdrm_import_libs

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD_DIR/CMakeCache.txt")"
name="KVDRM-$version"
dist="$root/dist"
stage="$dist/$name"
rm -rf "$stage" "$dist/$name.zip"
cmake --install "$BUILD_DIR" --prefix "$stage" >/dev/null

# The sample manager must build from the release folder alone.
check="$BUILD_DIR/package-sample"
rm -rf "$check"
cmake -S "$stage/sample" -B "$check" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$stage/sample/toolchain-i686-mingw.cmake" >/dev/null
cmake --build "$check" >/dev/null
rm -rf "$check"

epoch="$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)"
find "$stage" -exec touch -h -d "@$epoch" {} +
(cd "$dist" && find "$name" -type f | LC_ALL=C sort | TZ=UTC zip -q -X -D "$name.zip" -@)
echo "release folder: $stage"
(cd "$stage" && find . -type f | LC_ALL=C sort | sed 's|^\./|   |')
echo "zip: $dist/$name.zip ($(stat -c %s "$dist/$name.zip") bytes, sha256 $(sha256sum <"$dist/$name.zip" | cut -c1-16))"
