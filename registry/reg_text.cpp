#include "registry/reg_text.h"

#include <string.h>

namespace kvdrm {

size_t RegTextLength(const char *bytes, size_t size) {
  const void *nul = memchr(bytes, 0, size);
  return nul ? static_cast<size_t>(static_cast<const char *>(nul) - bytes) : size;
}

size_t RegTextLengthW(const WChar *units, size_t count) {
  size_t n = 0;
  while (n < count && units[n] != u'\0') ++n;
  return n;
}

size_t FormatRegDword(uint32_t value, char out[12]) {
  char digits[10];
  size_t n = 0, len = 0;
  int32_t s = static_cast<int32_t>(value);
  // Work on the magnitude as unsigned: -2147483648 has no positive int32.
  uint32_t mag = s < 0 ? 0u - value : value;
  do {
    digits[n++] = static_cast<char>('0' + mag % 10);
    mag /= 10;
  } while (mag != 0);
  if (s < 0) out[len++] = '-';
  while (n > 0) out[len++] = digits[--n];
  out[len] = '\0';
  return len;
}

}  // namespace kvdrm
