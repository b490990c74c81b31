// The control-file directory cut of a UTF-16 CTX text: everything up to and
// including the last ':' or '\\' unit, nothing when there is neither; '/'
// is no separator, and no other unit is one, whatever its bytes (surrogates
// and NULs included). Checked against a plain forward scan for the last
// separator.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "registry/reg_text.h"
#include "utf16_input.h"

namespace {
bool IsSeparator(char16_t c) { return c == u':' || c == u'\\'; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // Exactly the units on the heap: a read past them is an ASan report.
  const size_t count = size / 2;
  char16_t *path = static_cast<char16_t *>(malloc(count ? count * sizeof(char16_t) : 1));
  if (!path) abort();
  ReadUnitsLE(data, size, path);

  size_t expected = 0;
  for (size_t i = 0; i < count; ++i)
    if (IsSeparator(path[i])) expected = i + 1;
  size_t cut = kvdrm::LastSeparatorW(path, count);
  if (cut != expected) abort();

  // The cut never looks past the length it is given: a shorter prefix cuts
  // to the same place or earlier.
  if (count > 0 && kvdrm::LastSeparatorW(path, count - 1) > cut) abort();
  free(path);
  return 0;
}
