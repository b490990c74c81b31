#include "registry/dbcs.h"

namespace kvdrm {

namespace {
bool IsSeparator(char c) { return c == ':' || c == '\\'; }
}  // namespace

SeparatorScan LastSeparator(const char *text, size_t len, LeadByteTest isLead) {
  SeparatorScan scan = {0, false};
  bool previousWasSeparator = false;
  for (size_t i = 0; i < len;) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (isLead(c) && i + 1 < len) {
      i += 2;
      previousWasSeparator = false;
      continue;
    }
    bool separator = IsSeparator(static_cast<char>(c));
    if (separator) scan = {i + 1, previousWasSeparator};
    previousWasSeparator = separator;
    ++i;
  }
  return scan;
}

size_t LastSeparatorW(const WChar *text, size_t len) {
  while (len > 0 && text[len - 1] != u':' && text[len - 1] != u'\\') --len;
  return len;
}

bool HasBackslash(const char *text, size_t len, LeadByteTest isLead) {
  for (size_t i = 0; i < len; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (isLead(c) && i + 1 < len)
      ++i;
    else if (c == '\\')
      return true;
  }
  return false;
}

}  // namespace kvdrm
