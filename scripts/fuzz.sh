#!/usr/bin/env bash
# Runs every native fuzzer longer than the test run does (default 60 s each)
# and prints the executions of each. New inputs collect in the build tree
# (build-native/fuzz-long/<fuzzer>/corpus), never in the repository; a crash
# input is left there as crash-* and the script fails.
#   scripts/fuzz.sh [seconds] [fuzzer ...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
shift || true
BUILD_DIR="${BUILD_DIR:-$root/build}"
NATIVE_DIR="$BUILD_DIR-native"
cmake -S "$root/tests/native" -B "$NATIVE_DIR" -G Ninja >/dev/null
cmake --build "$NATIVE_DIR"

if (($#)); then
  fuzzers=("$@")
else
  mapfile -t fuzzers < <(cd "$NATIVE_DIR" && ls fuzz_* 2>/dev/null | grep -v '\.' || true)
fi
status=0
for f in "${fuzzers[@]}"; do
  work="$NATIVE_DIR/fuzz-long/$f"
  echo "== $f (${seconds} s)"
  "$root/tests/native/run_fuzzer.sh" "$NATIVE_DIR/$f" "$root/tests/native/corpus/$f" "$work" \
    -max_total_time="$seconds" || { status=1; echo "!! $f failed; inputs in $work" >&2; }
done
exit $status
