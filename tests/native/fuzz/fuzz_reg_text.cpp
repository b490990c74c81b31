// Registry value decoding: the text length of a REG_SZ value's bytes,
// checked against a plain count (the decimal form of a REG_DWORD is swept
// in tests/native/unit).
#include <stdint.h>
#include <stdlib.h>

#include "registry/reg_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // libFuzzer's buffer is exactly `size` bytes on the heap: a read past the
  // value's bytes is an ASan report.
  const char *bytes = reinterpret_cast<const char *>(data);
  size_t len = kvdrm::RegTextLength(bytes, size);
  size_t expect = 0;
  while (expect < size && bytes[expect] != 0) ++expect;
  if (len != expect) abort();
  return 0;
}
