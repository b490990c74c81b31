#!/usr/bin/env bash
# The demonstration as a test, in the test prefix: a data source and a
# driver of names of its own, removed through the installer at the end.
set -euo pipefail
build="$1"
work="$build/kit-demo"
rm -rf "$work"
mkdir -p "$work/data"
printf '; control file of the demonstration test\r\n' >"$work/data/TEST.CTX"
cp "$build/bin/sample/OdbcDrm.dll" "$work/data/OdbcDrm.dll"
win() { local p="Z:$1"; echo "${p//\//\\}"; }
args=(--dsn "KvdrmTest-demo-$$" --driver "KvdrmTest demo driver $$"
      --dbq "$(win "$work/data")" --ctx "$(win "$work/data")\\TEST.CTX" --trace "$(win "$work")\\trace.txt"
      --check "$(win "$build/bin/kvdrm-check.exe")" --remove)
watcher=""
if [ -n "${KVDRM_SKIP_DIALOG_TESTS:-}" ] && [ "$KVDRM_SKIP_DIALOG_TESTS" != 0 ]; then
  echo "kit_demo: the dialog step is skipped (KVDRM_SKIP_DIALOG_TESTS is set)"
elif [ -z "${DISPLAY:-}" ]; then
  echo "kit_demo: no X display (DISPLAY is unset); KVDRM_SKIP_DIALOG_TESTS=1 skips the dialog step" >&2
  exit 1
else
  # The setup dialog step, on the display scripts/test.sh starts, with its
  # screenshot handshake.
  mkdir -p "$work/signals"
  args+=(--dialog "$(win "$work/signals")")
  . "$(dirname "$0")/../../scripts/display.sh"
  shot_on_signal "$work/signals" "$work/setup-dialog.png"
  watcher=$SHOT_WATCHER
fi
set +e
"$build/wine-run.sh" "$build/bin/kvdrm-demo.exe" "${args[@]}" </dev/null 2>&1 | tr -d '\r' >"$work/out.txt"
status=${PIPESTATUS[0]}
set -e
if [ -n "$watcher" ]; then kill "$watcher" 2>/dev/null || true; wait "$watcher" 2>/dev/null || true; fi
cat "$work/out.txt"
tail -n 1 "$work/out.txt" | grep -q '^DEMO OK: .*removed again$' || { echo "no DEMO OK verdict" >&2; exit 1; }
[ "$status" = 0 ] || exit "$status"
rm -rf "$work"
