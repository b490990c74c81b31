#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test: the Windows
# side under Wine (with an X display for the setup dialog) and the pure code
# natively, fuzzers included for a few seconds each.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"

BUILD_DIR="${BUILD_DIR:-$root/build}"
mkdir -p "$BUILD_DIR"
BUILD_DIR="$(cd "$BUILD_DIR" && pwd)"
. "$root/scripts/wine-env.sh"
. "$root/scripts/display.sh"

cmake -S "$root" -B "$BUILD_DIR" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-mingw.cmake" >/dev/null
cmake --build "$BUILD_DIR"

# One wineserver for the whole run, one X display; both stop when we do,
# so no run hangs on a server that an earlier one left. The display comes
# first: Wine's desktop process, started with the server, picks the display
# driver for every window of the prefix, and without DISPLAY it has none.
display_start
wine_server_start
cleanup() {
  wine_server_stop
  display_stop
}
trap cleanup EXIT

status=0
ctest --test-dir "$BUILD_DIR" --output-on-failure --timeout 600 "$@" || status=$?
if [ -f "$root/tests/native/CMakeLists.txt" ]; then
  NATIVE_DIR="$BUILD_DIR-native"
  cmake -S "$root/tests/native" -B "$NATIVE_DIR" -G Ninja >/dev/null
  cmake --build "$NATIVE_DIR"
  ctest --test-dir "$NATIVE_DIR" --output-on-failure --timeout 600 || status=$?
fi
exit $status
