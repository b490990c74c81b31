#!/usr/bin/env bash
# Builds KVDRM.dll twice from the same sources in two build folders of
# different names and compares the bytes.
set -euo pipefail
src="$1" work="$2"
rm -rf "$work"
for d in a b-other-name; do
  cmake -S "$src" -B "$work/$d" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/toolchain-i686-mingw.cmake" \
        -DKVDRM_TESTS=OFF >/dev/null
  cmake --build "$work/$d" --target kvdrm -j 2 >/dev/null
  sleep 1  # a time stamp that slipped into the DLL would now differ
done
if cmp "$work/a/bin/KVDRM.dll" "$work/b-other-name/bin/KVDRM.dll"; then
  echo "KVDRM.dll is the same in both builds: $(sha256sum <"$work/a/bin/KVDRM.dll" | cut -c1-16)"
  rm -rf "$work"
else
  cmp -l "$work/a/bin/KVDRM.dll" "$work/b-other-name/bin/KVDRM.dll" | head -n 20
  echo "KVDRM.dll differs between two builds of the same sources" >&2
  exit 1
fi
