// Registry value decoding: the text length of a REG_SZ value's bytes and
// the decimal form of a REG_DWORD, checked against plain references.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "registry/reg_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // libFuzzer's buffer is exactly `size` bytes on the heap: a read past the
  // value's bytes is an ASan report.
  const char *bytes = reinterpret_cast<const char *>(data);
  size_t len = kvdrm::RegTextLength(bytes, size);
  size_t expect = 0;
  while (expect < size && bytes[expect] != 0) ++expect;
  if (len != expect) abort();

  // Every 4-byte window is a REG_DWORD some value could hold.
  for (size_t at = 0; at + 4 <= size && at < 64; at += 4) {
    uint32_t v;
    memcpy(&v, data + at, 4);
    char got[12];
    memset(got, 0x7F, sizeof got);
    size_t n = kvdrm::FormatRegDword(v, got);
    char ref[16];
    int m = snprintf(ref, sizeof ref, "%d", static_cast<int32_t>(v));
    if (m < 0 || n != static_cast<size_t>(m) || got[n] != 0 || memcmp(got, ref, n) != 0) abort();
  }
  return 0;
}
