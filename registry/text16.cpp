#include "registry/text16.h"

#include <stdlib.h>
#include <string.h>

namespace kvdrm {

bool Text16Set(Text16 &t, const char16_t *units, size_t n) {
  char16_t *copy = nullptr;
  if (n) {
    copy = static_cast<char16_t *>(malloc((n + 1) * sizeof(char16_t)));
    if (!copy) return false;
    memcpy(copy, units, n * sizeof(char16_t));
    copy[n] = u'\0';
  }
  Text16Free(t);
  t.data = copy;
  t.length = n;
  return true;
}

void Text16Free(Text16 &t) {
  free(t.data);
  t.data = nullptr;
  t.length = 0;
}

}  // namespace kvdrm
