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
set +e
"$build/wine-run.sh" "$build/bin/kvdrm-demo.exe" --dsn "KvdrmTest-demo-$$" --driver "KvdrmTest demo driver $$" \
  --dbq "$(win "$work/data")" --ctx "$(win "$work/data")\\TEST.CTX" --trace "$(win "$work")\\trace.txt" \
  --check "$(win "$build/bin/kvdrm-check.exe")" --remove </dev/null 2>&1 | tr -d '\r' >"$work/out.txt"
status=${PIPESTATUS[0]}
set -e
cat "$work/out.txt"
tail -n 1 "$work/out.txt" | grep -q '^DEMO OK: .*removed again$' || { echo "no DEMO OK verdict" >&2; exit 1; }
[ "$status" = 0 ] || exit "$status"
rm -rf "$work"
