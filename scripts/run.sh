#!/usr/bin/env bash
# The main job, demonstrated: sets the machine up, builds KVDRM.dll, the
# sample manager, kvdrm-check and the demonstration, then runs it under Wine
# in a prefix of its own (build/demo-prefix): the driver is registered, a
# data source is added through the ODBC installer, and one session runs
# from the driver through KVDRM.dll to the sample manager and back.
#
#   scripts/run.sh            the demonstration
#   scripts/run.sh --dialog   also the setup dialog, on an Xvfb display of
#                             its own, saved as build/demo/setup-dialog.png
#   scripts/run.sh --fresh    start from a new Wine prefix
# The last line is the verdict, DEMO OK or DEMO FAILED; so is the exit status.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dialog=0 fresh=0
for a in "$@"; do
  case "$a" in
    --dialog) dialog=1 ;;
    --fresh) fresh=1 ;;
    *) echo "usage: scripts/run.sh [--dialog] [--fresh]" >&2; exit 2 ;;
  esac
done

"$root/scripts/setup.sh"
BUILD_DIR="${BUILD_DIR:-$root/build}"
mkdir -p "$BUILD_DIR"
BUILD_DIR="$(cd "$BUILD_DIR" && pwd)"

echo "== Building KVDRM.dll, the sample manager, kvdrm-check and the demonstration"
log="$BUILD_DIR/demo-build.log"
if ! { cmake -S "$root" -B "$BUILD_DIR" -G Ninja \
         -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-mingw.cmake" &&
       cmake --build "$BUILD_DIR" --target kvdrm sample_manager kvdrm_check kvdrm_demo; } >"$log" 2>&1; then
  tail -n 30 "$log"
  echo "DEMO FAILED: the build failed (see $log)"
  exit 1
fi
bin="$BUILD_DIR/bin"
echo "   $bin/KVDRM.dll"
i686-w64-mingw32-objdump -p "$bin/KVDRM.dll" | awk '/DLL Name:/ {printf "      imports %s\n", $3}'

. "$root/scripts/wine-env.sh"
export WINEPREFIX="$BUILD_DIR/demo-prefix"
[ "$fresh" = 1 ] && rm -rf "$WINEPREFIX"

# The data directory: a control file with the sample manager beside it,
# where a session will look for OdbcDrm.dll.
demo="$BUILD_DIR/demo"
data="$demo/data"
rm -rf "$demo"
mkdir -p "$data" "$demo/signals"
printf '; control file of the KVDRM demonstration data source\r\n' >"$data/DEMO.CTX"
cp "$bin/sample/OdbcDrm.dll" "$data/OdbcDrm.dll"

xvfb_started=0
if [ "$dialog" = 1 ]; then
  # Before Wine starts: its desktop process takes the display it finds then.
  . "$root/scripts/display.sh"
  display_start
  xvfb_started=1
  echo "== Display $DISPLAY (Xvfb)"
fi
echo "== Starting Wine in $WINEPREFIX"
wine_server_start
cleanup() {
  wine_server_stop
  if [ "$xvfb_started" = 1 ]; then display_stop; fi
  if [ -n "${watcher:-}" ]; then kill "$watcher" 2>/dev/null || true; fi
}
trap cleanup EXIT

winpath() { winepath -w "$1" 2>/dev/null; }
wdata="$(winpath "$data")"
echo "== 0. The data directory $wdata"
ls -l "$data" | awk 'NR > 1 {printf "      %-12s %8s bytes\n", $NF, $5}'

args=(--dbq "$wdata" --ctx "$wdata\\DEMO.CTX" --trace "$(winpath "$demo")\\OdbcDrm.trace"
      --check "$(winpath "$bin/kvdrm-check.exe")")
if [ "$dialog" = 1 ]; then
  echo "== The setup dialog's screenshot goes to $demo/setup-dialog.png"
  args+=(--dialog "$(winpath "$demo/signals")")
  # The demonstration says when its dialog is up and waits for the shot.
  shot_on_signal "$demo/signals" "$demo/setup-dialog.png"
  watcher=$SHOT_WATCHER
fi

set +e
wine "$bin/kvdrm-demo.exe" "${args[@]}" </dev/null 2>&1 | tr -d '\r' | tee "$demo/demo.log"
status=${PIPESTATUS[0]}
set -e
if ! tail -n 1 "$demo/demo.log" | grep -q '^DEMO \(OK\|FAILED\)'; then
  echo "DEMO FAILED: the demonstration ended without a verdict (exit status $status)"
  [ "$status" != 0 ] || status=1
fi
exit "$status"
