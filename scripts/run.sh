#!/usr/bin/env bash
# The main job: set up, build KVDRM.dll and show its export table.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
BUILD_DIR="${BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$BUILD_DIR" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-mingw.cmake" >/dev/null
cmake --build "$BUILD_DIR" --target kvdrm
i686-w64-mingw32-objdump -p "$BUILD_DIR/bin/KVDRM.dll" | sed -n '/^The Export Tables/,/^$/p;/Ordinal\/Name Pointer/,/^$/p'
i686-w64-mingw32-objdump -p "$BUILD_DIR/bin/KVDRM.dll" | grep 'DLL Name'
