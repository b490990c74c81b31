// Attribute list parsing. The input is the list's bytes; the
// harness adds the two closing NULs and keeps the list in a heap block of
// exactly that size, so a read past the list's end is an ASan report.
// Invariants only (the rules case by case, and filling, are tabled in
// setup_logic_test): every value found lies in the list, right after its
// own key and '=' at the start of a pair, and no pair of that key comes
// later; a key that has a pair is found.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <memory>

#include "setup/attribute_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 1 << 16) return 0;
  std::unique_ptr<char[]> list(new char[size + 2]);
  memcpy(list.get(), data, size);
  list[size] = list[size + 1] = 0;
  const char *begin = list.get(), *end = begin;
  while (*end) end += strlen(end) + 1;  // the list ends at its first empty text

  kvdrm::ParsedAttributes got;
  kvdrm::ParseAttributeList(begin, got);
  for (int i = 1; i <= kvdrm::kAttributeCount; ++i) {
    const char *v = got.values[i];
    if (!v) continue;
    size_t keyLength = strlen(kvdrm::kAttributeKeys[i]);
    if (v < begin + keyLength + 1 || v >= end) abort();
    const char *pair = v - keyLength - 1;
    if ((pair != begin && pair[-1] != 0) || memcmp(pair, kvdrm::kAttributeKeys[i], keyLength) != 0 ||
        pair[keyLength] != '=')
      abort();
  }

  for (const char *pair = begin; *pair; pair += strlen(pair) + 1)
    for (int i = 1; i <= kvdrm::kAttributeCount; ++i) {
      size_t keyLength = strlen(kvdrm::kAttributeKeys[i]);
      if (strncmp(pair, kvdrm::kAttributeKeys[i], keyLength) == 0 && pair[keyLength] == '=' &&
          (!got.values[i] || got.values[i] < pair + keyLength + 1))
        abort();
    }
  return 0;
}
