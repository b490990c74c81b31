// Attribute list parsing. The input is the list's UTF-16 units (its bytes
// read little-endian); the harness adds the two closing NULs and keeps the
// list in a heap block of exactly that size, so a read past the list's end
// is an ASan report. Invariants only (the rules case by case, and filling,
// are tabled in setup_logic_test): every value found lies in the list,
// right after its own key and '=' at the start of a pair, and no pair of
// that key comes later; a key that has a pair is found; the list's length
// is counted up to its closing empty text.
#include <stdint.h>
#include <stdlib.h>

#include <memory>

#include "setup/attribute_list.h"
#include "utf16_input.h"

namespace {

using kvdrm::WChar;

size_t Length(const WChar *s) {
  size_t n = 0;
  while (s[n]) ++n;
  return n;
}

// Whether s begins with prefix; reads no further into s than its NUL.
bool StartsWith(const WChar *s, const WChar *prefix) {
  for (; *prefix; ++s, ++prefix)
    if (*s != *prefix) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 1 << 16) return 0;
  const size_t units = size / 2;
  std::unique_ptr<WChar[]> list(new WChar[units + 2]);
  ReadUnitsLE(data, size, list.get());
  list[units] = list[units + 1] = 0;
  const WChar *begin = list.get(), *end = begin;
  while (*end) end += Length(end) + 1;  // the list ends at its first empty text

  if (kvdrm::AttributeListLength(begin) != static_cast<size_t>(end - begin) + 1) abort();

  // The parse starts afresh: nothing of an earlier result stays.
  static const WChar kStale[] = u"stale";
  kvdrm::ParsedAttributes got;
  for (const WChar *&v : got.values) v = kStale;
  kvdrm::ParseAttributeList(begin, got);
  for (int i = 1; i <= kvdrm::kAttributeCount; ++i) {
    const WChar *v = got.values[i];
    if (!v) continue;
    if (v == kStale) abort();
    const WChar *key = kvdrm::kAttributeKeys[i];
    size_t keyLength = Length(key);
    if (v < begin + keyLength + 1 || v >= end) abort();
    const WChar *pair = v - keyLength - 1;
    if ((pair != begin && pair[-1] != 0) || !StartsWith(pair, key) || pair[keyLength] != u'=') abort();
  }

  for (const WChar *pair = begin; *pair; pair += Length(pair) + 1)
    for (int i = 1; i <= kvdrm::kAttributeCount; ++i) {
      const WChar *key = kvdrm::kAttributeKeys[i];
      size_t keyLength = Length(key);
      if (StartsWith(pair, key) && pair[keyLength] == u'=' &&
          (!got.values[i] || got.values[i] < pair + keyLength + 1))
        abort();
    }
  return 0;
}
