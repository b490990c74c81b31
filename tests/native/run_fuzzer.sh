#!/bin/sh
# run_fuzzer.sh FUZZER SEED_DIR WORK_DIR [libFuzzer options...]
# Runs one fuzzer from the seed corpus (and the regression inputs kept with
# it) without writing into the repository: new inputs go to WORK_DIR/corpus,
# crash inputs to WORK_DIR/. Fails when the fuzzer finds a crash.
set -eu
fuzzer="$1"; seeds="$2"; work="$3"; shift 3
mkdir -p "$work/corpus"
# The seeds directory may be missing for a new fuzzer; libFuzzer needs
# every directory it is given to exist.
[ -d "$seeds" ] || seeds="$work/corpus"
"$fuzzer" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$work/" "$@" "$work/corpus" "$seeds" 2>"$work/log" || {
  status=$?
  tail -n 60 "$work/log" >&2
  exit $status
}
# The counts the report quotes.
grep -E '^stat::(number_of_executed_units|peak_rss_mb|new_units_added)' "$work/log" || true
grep -E 'Done [0-9]+ runs' "$work/log" || true
