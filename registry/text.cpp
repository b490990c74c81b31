#include "registry/text.h"

#include <stdlib.h>
#include <string.h>

namespace kvdrm {

bool TextSet(Text &t, const char *bytes, size_t n) {
  char *copy = nullptr;
  if (n) {
    copy = static_cast<char *>(malloc(n + 1));
    if (!copy) return false;
    memcpy(copy, bytes, n);
    copy[n] = '\0';
  }
  TextFree(t);
  t.data = copy;
  t.length = n;
  return true;
}

bool TextSetZ(Text &t, const char *z) { return TextSet(t, z, z ? strlen(z) : 0); }

void TextFree(Text &t) {
  free(t.data);
  t.data = nullptr;
  t.length = 0;
}

bool TextEqual(const Text &t, const char *bytes, size_t n) {
  return t.length == n && (n == 0 || memcmp(t.data, bytes, n) == 0);
}

}  // namespace kvdrm
