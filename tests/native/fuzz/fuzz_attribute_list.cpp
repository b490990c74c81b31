// Attribute list parsing and filling. The input is the list's bytes; the
// harness adds the two closing NULs and keeps the list in a heap block of
// exactly that size, so a read past the list's end is an ASan report. The
// result is compared with a plain reading of the list format, and filling
// must leave supplied values and the name alone.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>

#include "setup/attribute_list.h"

namespace {

std::string g_lastSection;

void FakeProfile(const char *section, const char *entry, char (&out)[256]) {
  g_lastSection = section ? section : "<null>";
  snprintf(out, sizeof out, "profile:%s", entry ? entry : "<null>");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 1 << 16) return 0;
  std::unique_ptr<char[]> list(new char[size + 2]);
  memcpy(list.get(), data, size);
  list[size] = 0;
  list[size + 1] = 0;

  kvdrm::ParsedAttributes got;
  kvdrm::ParseAttributeList(list.get(), got);

  // Reference: pairs up to the first empty text; key up to the first '=';
  // a pair without '=' names nothing; the last pair of a key wins.
  const char *keys[] = {nullptr, "DSN", "Description", "DBQ", "CTX"};
  std::string want[5];
  bool supplied[5] = {false, false, false, false, false};
  size_t at = 0;
  while (at < size + 1 && list[at] != 0) {
    std::string pair(list.get() + at);
    at += pair.size() + 1;
    size_t eq = pair.find('=');
    if (eq == std::string::npos) continue;
    for (int i = 1; i <= 4; ++i) {
      if (pair.compare(0, eq, keys[i]) == 0) {
        supplied[i] = true;
        want[i] = pair.substr(eq + 1);
      }
    }
  }
  for (int i = 1; i <= 4; ++i) {
    if ((got.values[i] != nullptr) != supplied[i]) abort();
    if (got.values[i] && got.values[i] != want[i]) abort();
  }

  // Filling: supplied values stay, the others get the default (add) or
  // the profile entry of the section given (any other request); the name
  // is never filled.
  bool isAdd = size > 0 && (data[0] & 1);
  std::string section = want[1];
  kvdrm::Text values[5] = {};
  for (int i = 1; i <= 4; ++i)
    if (!kvdrm::TextSetZ(values[i], got.values[i])) abort();
  g_lastSection.clear();
  if (!kvdrm::FillAbsent(isAdd, got, section.c_str(), values, FakeProfile)) abort();
  if (want[1] != kvdrm::TextStr(values[1])) abort();
  for (int i = 2; i <= 4; ++i) {
    std::string value(kvdrm::TextStr(values[i]), values[i].length);
    if (supplied[i]) {
      if (value != want[i]) abort();
    } else if (isAdd) {
      const char *byDefault = nullptr;
      for (const kvdrm::SetupField &f : kvdrm::kSetupFields)
        if (f.attribute == i) byDefault = f.addDefault;
      if (!byDefault || value != byDefault) abort();
    } else {
      if (value != std::string("profile:") + keys[i]) abort();
      if (g_lastSection != section) abort();
    }
  }
  for (kvdrm::Text &v : values) kvdrm::TextFree(v);
  return 0;
}
