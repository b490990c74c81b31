#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test: the Windows
# side under Wine (with an X display for the setup dialog) and the pure code
# natively, fuzzers included for a few seconds each. Tests run side by side
# (KVDRM_TEST_JOBS, default: the number of cores). Arguments go to the
# Windows side's ctest, e.g. -R dialog.
# Without an X display the dialog tests fail; KVDRM_SKIP_DIALOG_TESTS=1
# leaves them out (and needs no display).
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
skip=()
if [ -n "${KVDRM_SKIP_DIALOG_TESTS:-}" ] && [ "$KVDRM_SKIP_DIALOG_TESTS" != 0 ]; then
  # Asked for: no display at all, not even one the caller has.
  unset DISPLAY
  skip=(-LE display)
  echo "NOTE: KVDRM_SKIP_DIALOG_TESTS is set: the dialog tests are left out:" \
    $(ctest --test-dir "$BUILD_DIR" -N -L display -FA . | sed -n 's/^ *Test *#[0-9]*: //p')
else
  display_start || {
    echo "test: no X display for the dialog tests; KVDRM_SKIP_DIALOG_TESTS=1 runs without them" >&2
    exit 1
  }
fi
wine_server_start
cleanup() {
  wine_server_stop
  display_stop
}
trap cleanup EXIT

jobs="${KVDRM_TEST_JOBS:-$(nproc)}"
status=0
ctest --test-dir "$BUILD_DIR" --output-on-failure --timeout 600 -j "$jobs" "${skip[@]}" "$@" || status=$?
if [ -f "$root/tests/native/CMakeLists.txt" ]; then
  NATIVE_DIR="$BUILD_DIR-native"
  cmake -S "$root/tests/native" -B "$NATIVE_DIR" -G Ninja >/dev/null
  cmake --build "$NATIVE_DIR"
  ctest --test-dir "$NATIVE_DIR" --output-on-failure --timeout 600 -j "$jobs" || status=$?
fi
if ((${#skip[@]})); then echo "NOTE: the dialog tests were left out (KVDRM_SKIP_DIALOG_TESTS is set)"; fi
exit $status
