#!/usr/bin/env bash
# Benchmarks KVDRM.dll against the same work done directly, under Wine, and
# prints the table of figures. Not part of the tests: timings depend on the
# machine and its load. Arguments go to the benchmark program, e.g.
#   scripts/bench.sh --json bench.json
#   scripts/bench.sh --benchmark_repetitions=30 --benchmark_filter=forward
# The build tree is build-bench/ (BUILD_DIR overrides), with its own Wine
# prefix; Google Benchmark's Debian sources are fetched into it once.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"

BUILD_DIR="${BUILD_DIR:-$root/build-bench}"
mkdir -p "$BUILD_DIR"
BUILD_DIR="$(cd "$BUILD_DIR" && pwd)"
"$root/scripts/setup-bench.sh" "$BUILD_DIR/_deps"

cmake -S "$root" -B "$BUILD_DIR" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-mingw.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DKVDRM_TESTS=OFF -DKVDRM_BENCH=ON \
  -DKVDRM_BENCHMARK_SOURCE="$BUILD_DIR/_deps/benchmark-src" >/dev/null
cmake --build "$BUILD_DIR" --target kvdrm_bench -j 2

. "$root/scripts/wine-env.sh"
# The server first: winepath below would otherwise start one that lingers
# and keeps wine_server_start from making its own persistent one.
wine_server_start
trap wine_server_stop EXIT
# JSON goes where the caller asked, relative to the caller's directory.
args=()
while (($#)); do
  case "$1" in
    --json) args+=(--json "$(winepath -w "$(realpath -m "${2:?--json needs a file}")")"); shift 2 ;;
    --json=*) args+=(--json "$(winepath -w "$(realpath -m "${1#--json=}")")"); shift ;;
    *) args+=("$1"); shift ;;
  esac
done

echo "machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)," \
     "load average $(cut -d' ' -f1-3 /proc/loadavg), $(wine --version)"

# The forwarders as built: a matching forwarder should be a tail jump.
for f in DrmMove@12 DrmOpenView@36 DrmSetFilter@20; do
  echo "--- _$f"
  i686-w64-mingw32-objdump -d --no-show-raw-insn --disassemble="_$f" "$BUILD_DIR/bin/KVDRM.dll" |
    awk '/^[0-9a-f]+ <_/ {on = 1; next} on && NF {print} on && /\t(jmp|ret)/ {exit}' || true
done

wine "$BUILD_DIR/bin/kvdrm_bench.exe" "${args[@]}"
