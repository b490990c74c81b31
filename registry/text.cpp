#include "registry/text.h"

#include <stdlib.h>
#include <string.h>

namespace kvdrm {

void TextFree(Text &t) {
  free(t.data);
  t.data = nullptr;
  t.length = 0;
}

size_t WLength(const WChar *z) {
  size_t n = 0;
  if (z)
    while (z[n]) ++n;
  return n;
}

bool WTextSet(WText &t, const WChar *units, size_t n) {
  WChar *copy = nullptr;
  if (n) {
    copy = static_cast<WChar *>(malloc((n + 1) * sizeof(WChar)));
    if (!copy) return false;
    memcpy(copy, units, n * sizeof(WChar));
    copy[n] = 0;
  }
  WTextFree(t);
  t.data = copy;
  t.length = n;
  return true;
}

bool WTextSetZ(WText &t, const WChar *z) { return WTextSet(t, z, WLength(z)); }

void WTextFree(WText &t) {
  free(t.data);
  t.data = nullptr;
  t.length = 0;
}

bool WTextEqual(const WText &t, const WChar *units, size_t n) {
  return t.length == n && (n == 0 || memcmp(t.data, units, n * sizeof(WChar)) == 0);
}

bool WSame(const WChar *a, const WChar *b) {
  size_t n = WLength(a);
  return n == WLength(b) && (n == 0 || memcmp(a, b, n * sizeof(WChar)) == 0);
}

}  // namespace kvdrm
