#!/usr/bin/env bash
# Mutation check: does the test suite notice small faults in the product?
# For each fault of the list (tests/mutations.txt) it applies the fault to a
# scratch copy of the working tree, rebuilds, runs the suite (Wine ctest and
# native ctest) and tells whether the fault was killed (a test failed, or
# the build refused the fault) or survived. Not part of scripts/test.sh: a
# run over the whole list takes an hour or more.
#
#   scripts/mutate.sh [-R regex] [-E regex] [-l list] [--check] [label ...]
#     label ...   only these faults (default: every fault of the list)
#     -R / -E     only the tests matching / not matching (ctest -R / -E)
#     -l list     another list file
#     --check     only check the list against the code, run nothing
#
# The scratch folder is $MUTATE_DIR (default <build dir>-mutate): pristine/
# (the tree as it was at the start), src/ (the tree the faults go into),
# build/ with its own Wine prefix, build-native/. It is kept between faults
# and between runs, so rebuilds are incremental; the prefix's registry is
# reset before every fault. The unmutated tree must pass first. A fault can
# make a program hang: there a test program fails after MUTATE_TEST_SECONDS
# (120), the whole Wine suite after MUTATE_SUITE_SECONDS (900).
set -euo pipefail
# Read whole before it runs: the file may change during a long run.
{
root="$(cd "$(dirname "$0")/.." && pwd)"

list="$root/tests/mutations.txt"
check_only=0
ctest_filter=()
labels=()
while (($#)); do
  case "$1" in
    -R | -E) ctest_filter+=("$1" "${2:?$1 needs a regex}"); shift 2 ;;
    -l) list="$(realpath "${2:?-l needs a file}")"; shift 2 ;;
    --check) check_only=1; shift ;;
    -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    -*) echo "mutate: unknown option $1" >&2; exit 2 ;;
    *) labels+=("$1"); shift ;;
  esac
done

# The list, checked and applied by one small Perl program (Perl is part of
# every Debian system). Fields are separated by "|" with blanks around them
# trimmed; "\|" is a literal "|".
#   faults.pl check <list> <tree>        one line per fault: label, file, verdict
#   faults.pl apply <list> <tree> <label>
read -r -d '' faults_pl <<'PERL' || true
use strict; use warnings;
my ($cmd, $list, $tree, $want) = @ARGV;
open(my $in, '<', $list) or die "mutate: cannot read $list: $!\n";
my $status = 0;
my %seen;
while (my $line = <$in>) {
  chomp $line; $line =~ s/\r$//;
  next if $line =~ /^\s*(#|$)/;
  my @f = map { my $x = $_; $x =~ s/\\\|/|/g; $x =~ s/^\s+|\s+$//g; $x } split /(?<!\\)\|/, $line, -1;
  if (@f != 4 || $f[0] eq '' || $f[1] eq '' || $f[3] eq '') {
    print "?\t?\tMALFORMED line $.: $line\n"; $status = 1; next;
  }
  my ($file, $from, $to, $label) = @f;
  if ($cmd eq 'check' && $seen{$label}++) { print "$label\t$file\tDUPLICATE label\n"; $status = 1; next; }
  next if $cmd eq 'apply' && $label ne $want;
  my $path = "$tree/$file";
  my $text;
  if (open(my $h, '<', $path)) { local $/; $text = <$h>; close $h; }
  if (!defined $text) { print "$label\t$file\tNO FILE $file\n"; $status = 1; next; }
  my $n = () = $text =~ /\Q$from\E/g;
  if ($n != 1) {
    print "$label\t$file\t", ($n ? "AMBIGUOUS: the fragment occurs $n times" : "NOT FOUND: the fragment is not in the file"),
          ": $from\n";
    $status = 1; next;
  }
  if ($cmd eq 'apply') {
    my $at = index($text, $from);
    substr($text, $at, length $from) = $to;
    open(my $out, '>', $path) or die "mutate: cannot write $path: $!\n";
    print $out $text; close $out;
    exit 0;
  }
  print "$label\t$file\tok\n";
}
exit($cmd eq 'apply' ? 3 : $status);
PERL

BUILD_DIR="${BUILD_DIR:-$root/build}"
scratch="${MUTATE_DIR:-$BUILD_DIR-mutate}"
mkdir -p "$scratch"
scratch="$(cd "$scratch" && pwd)"
# One run at a time per scratch folder.
running="$scratch/.running"
if [ -f "$running" ] && kill -0 "$(cat "$running")" 2>/dev/null; then
  echo "mutate: run $(cat "$running") is using $scratch; wait for it, or give this one MUTATE_DIR=<another folder>" >&2
  exit 2
fi
echo $$ >"$running"
trap 'rm -f "$running"' EXIT
pristine="$scratch/pristine" src="$scratch/src"
sbuild="$scratch/build" snative="$scratch/build-native"
results="$scratch/results"
mkdir -p "$src" "$results"

# The working tree as it is now (tracked files with their uncommitted
# changes, and new files not ignored), into pristine/.
rm -rf "$pristine"
mkdir -p "$pristine"
(cd "$root" && git ls-files -z --cached --others --exclude-standard |
  tar --null -T - --ignore-failed-read -cf - 2>/dev/null) | tar -xf - -C "$pristine"

# Every fault must name its place unambiguously in today's code.
rc=0
perl -e "$faults_pl" check "$list" "$pristine" >"$results/check.txt" || rc=$?
if ((rc > 1)); then echo "mutate: could not check $list" >&2; exit 2; fi
declare -A file_of=()
all=()
stale=()
while IFS=$'\t' read -r label file verdict; do
  if [ "$verdict" = ok ]; then
    file_of[$label]="$file"
    all+=("$label")
  else
    stale+=("$label ($file): $verdict")
  fi
done <"$results/check.txt"
if ((${#stale[@]})); then
  echo "mutate: ${#stale[@]} fault(s) of $list no longer fit the code; refresh them:" >&2
  printf '  STALE %s\n' "${stale[@]}" >&2
fi
if [ "$check_only" = 1 ]; then
  echo "mutate: ${#all[@]} fault(s) fit the code"
  ((${#stale[@]} == 0))
  exit
fi
if ((${#labels[@]})); then
  for l in "${labels[@]}"; do
    [ -n "${file_of[$l]:-}" ] || { echo "mutate: no usable fault labelled '$l' in $list" >&2; exit 2; }
  done
else
  labels=("${all[@]}")
fi

# src/ := pristine/, copying only what differs, with a fresh time stamp so
# that the build notices.
sync_tree() {
  local f
  while IFS= read -r -d '' f; do
    if ! cmp -s "$pristine/$f" "$src/$f"; then
      mkdir -p "$(dirname "$src/$f")"
      cp "$pristine/$f" "$src/$f"
    fi
  done < <(cd "$pristine" && find . -type f -print0)
  while IFS= read -r -d '' f; do
    [ -e "$pristine/$f" ] || rm -f "$src/$f"
  done < <(cd "$src" && find . -type f -print0)
}

# build <log>: 0 built; 1 the build refused the tree (compiler, linker or
# the build's own checks); 2 anything else.
build() {
  local log="$1"
  if { cmake -S "$src" -B "$sbuild" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/toolchain-i686-mingw.cmake" \
         -DKVDRM_TEST_TIMEOUT="${MUTATE_TEST_SECONDS:-120}" &&
       cmake --build "$sbuild" &&
       cmake -S "$src/tests/native" -B "$snative" -G Ninja &&
       cmake --build "$snative"; } >"$log" 2>&1; then
    return 0
  fi
  if grep -q -e '^FAILED: ' -e 'CMake Error' -e 'error:' -e 'undefined reference' "$log"; then return 1; fi
  return 2
}

# The display first (Wine's desktop takes the display it finds when the
# server starts), then the scratch prefix, its clean registry kept once.
. "$root/scripts/display.sh"
BUILD_DIR="$sbuild"
. "$root/scripts/wine-env.sh"
display_start
cleanup() {
  wine_server_stop
  display_stop
  rm -f "$running"
}
trap cleanup EXIT
clean_reg="$scratch/clean-registry"
if [ ! -f "$clean_reg/system.reg" ] || [ ! -f "$WINEPREFIX/system.reg" ]; then
  rm -rf "$WINEPREFIX" "$clean_reg"
  mkdir -p "$sbuild"
  wine_prefix_init
  wineserver -w
  mkdir -p "$clean_reg"
  cp "$WINEPREFIX"/*.reg "$clean_reg/"
fi

jobs="${KVDRM_TEST_JOBS:-$(nproc)}"
# run_suite <log>: 0 when every test passed; the failed tests' names in
# <log>.failed; 124 when the suite ran out of time.
run_suite() {
  local log="$1" rc=0
  wineserver -k 2>/dev/null || true
  wineserver -w
  cp "$clean_reg"/*.reg "$WINEPREFIX/"
  wine_server_start
  timeout -k 10 "${MUTATE_SUITE_SECONDS:-900}" \
    ctest --test-dir "$sbuild" --output-on-failure -j "$jobs" "${ctest_filter[@]}" >"$log" 2>&1 || rc=$?
  if [ "$rc" != 124 ] && [ "$rc" != 137 ]; then
    timeout -k 10 600 \
      ctest --test-dir "$snative" --output-on-failure --timeout 120 -j "$jobs" "${ctest_filter[@]}" >>"$log" 2>&1 || rc=$?
  fi
  wineserver -k 2>/dev/null || true
  # ctest's summary: "  5 - faults_test (Failed)" under "The following tests FAILED:".
  awk '/The following tests FAILED:/ {on = 1; next} on && /^[[:space:]]+[0-9]+ - / {print $3; next} {on = 0}' \
    "$log" >"$log.failed"
  return "$rc"
}

echo "mutate: scratch copy in $scratch; display $DISPLAY; ${#labels[@]} fault(s)"
sync_tree
echo "mutate: the unmutated tree first"
if ! build "$results/baseline.build.log"; then
  echo "mutate: the unmutated tree does not build; see $results/baseline.build.log" >&2
  exit 1
fi
if ! run_suite "$results/baseline.test.log"; then
  echo "mutate: the unmutated tree fails: $(tr '\n' ' ' <"$results/baseline.test.log.failed")" >&2
  echo "mutate: see $results/baseline.test.log" >&2
  exit 1
fi

rows=()
killed=0 survived=0 errors=0
for label in "${labels[@]}"; do
  file="${file_of[$label]}"
  start=$SECONDS
  sync_tree
  perl -e "$faults_pl" apply "$list" "$src" "$label" >/dev/null
  outcome="" detail=""
  if build "$results/$label.build.log"; then
    if run_suite "$results/$label.test.log"; then
      outcome=survived
    else
      rc=$?
      outcome=killed
      detail="$(paste -sd ' ' "$results/$label.test.log.failed")"
      if [ "$rc" = 124 ] || [ "$rc" = 137 ]; then detail="suite timed out${detail:+; }$detail"; fi
      [ -n "$detail" ] || detail="(see $results/$label.test.log)"
    fi
  else
    rc=$?
    if [ "$rc" = 1 ]; then
      outcome=killed
      detail="build fails: $(grep -m1 -e '^FAILED: ' -e 'CMake Error' "$results/$label.build.log" | cut -c1-70)"
    else
      outcome=ERROR
      detail="build broke for another reason; see $results/$label.build.log"
    fi
  fi
  case "$outcome" in killed) killed=$((killed + 1)) ;; survived) survived=$((survived + 1)) ;; *) errors=$((errors + 1)) ;; esac
  row="$(printf '%-34s %-9s %s' "$label" "$outcome" "$detail")"
  rows+=("$row")
  echo "$row   [$file, $((SECONDS - start)) s]"
done
# Leave src/ as the unmutated tree.
sync_tree

echo
printf '%-34s %-9s %s\n' fault result "failed tests"
printf '%-34s %-9s %s\n' ----- ------ ------------
printf '%s\n' "${rows[@]}"
echo
summary="mutate: $killed killed of $((killed + survived))"
if ((errors)); then summary+="; $errors not judged (errors)"; fi
echo "$summary"
if ((${#stale[@]})); then echo "mutate: ${#stale[@]} stale fault(s) of the list were not run (see above)"; fi
exit
}
