// The registry's letter case for the characters the tests use, written
// apart from the product's: ASCII, and the two letters outside it whose
// upper case is an ASCII letter. Pure, for the Wine and the native tests.
#pragma once

namespace testmodel {

inline char16_t RegistryUpper(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - u'a' + u'A');
  if (c == u'\u0131') return u'I';  // dotless i
  if (c == u'\u017F') return u'S';  // long s
  return c;
}

}  // namespace testmodel
