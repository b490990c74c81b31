// Registry value decoding: the text length of a REG_SZ value read with the
// wide call, checked against a plain count of its units up to the first NUL
// unit (the decimal form of a REG_DWORD is swept in tests/native/unit).
#include <stdint.h>
#include <stdlib.h>

#include "registry/reg_text.h"
#include "utf16_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // Exactly the value's units on the heap: a read past them is an ASan
  // report.
  const size_t count = size / 2;
  char16_t *units = static_cast<char16_t *>(malloc(count ? count * sizeof(char16_t) : 1));
  if (!units) abort();
  ReadUnitsLE(data, size, units);
  size_t len = kvdrm::RegTextLengthW(units, count);
  size_t expect = 0;
  while (expect < count && units[expect] != 0) ++expect;
  free(units);
  if (len != expect) abort();
  return 0;
}
