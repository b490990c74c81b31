// Attribute list parsing and filling. The input is the list's bytes; the
// harness adds the two closing NULs and keeps the list in a heap block of
// exactly that size, so a read past the list's end is an ASan report.
// Invariants only (the rules case by case are tabled in setup_logic_test):
// every value found lies in the list, right after its own key and '=' at
// the start of a pair; filling leaves the name and supplied values alone
// and gives every other value the add default or the profile's answer.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>

#include "setup/attribute_list.h"

namespace {

void FakeProfile(const char *section, const char *entry, char (&out)[256]) {
  snprintf(out, sizeof out, "%s:%s", section, entry);
}

}  // namespace

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

  bool isAdd = size > 0 && (data[0] & 1);
  kvdrm::Text values[kvdrm::kAttributeCount + 1] = {};
  for (int i = 1; i <= kvdrm::kAttributeCount; ++i)
    if (!kvdrm::TextSetZ(values[i], got.values[i])) abort();
  if (!kvdrm::FillAbsent(isAdd, got, "Sec", values, FakeProfile)) abort();
  for (int i = 1; i <= kvdrm::kAttributeCount; ++i) {
    std::string value(kvdrm::TextStr(values[i]), values[i].length);
    if (i == 1 || got.values[i]) {
      if (value != (got.values[i] ? got.values[i] : "")) abort();
    } else if (isAdd) {
      if (value.empty()) abort();
    } else {
      if (value != std::string("Sec:") + kvdrm::kAttributeKeys[i]) abort();
    }
  }
  for (kvdrm::Text &v : values) kvdrm::TextFree(v);
  return 0;
}
