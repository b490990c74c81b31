#include "registry/reg_text.h"

namespace kvdrm {

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

size_t LastSeparatorW(const WChar *text, size_t len) {
  while (len > 0 && text[len - 1] != u':' && text[len - 1] != u'\\') --len;
  return len;
}

}  // namespace kvdrm
