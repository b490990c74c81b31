// Counted texts on the C runtime's heap, for the few texts whose length the
// library does not choose (attribute values, registry values). Plain
// records: no constructors, no destructors; the owner frees them. Pure code,
// built natively too.
//
// Text holds bytes: a key path in the ANSI code page (the driver names its
// data source in it), or a value's raw data. WText
// holds UTF-16 code units, the setup library's own form: char16_t, not
// wchar_t, because the pure code is built natively as well, where wchar_t
// is 32 bits; the Windows side reads it as WCHAR (registry/wide.h).
#pragma once
#include <stddef.h>

namespace kvdrm {

// `data` is null for the empty text, else NUL-terminated at `length`.
struct Text {
  char *data;
  size_t length;
};

void TextFree(Text &t);

typedef char16_t WChar;

struct WText {
  WChar *data;
  size_t length;  // in code units
};

size_t WLength(const WChar *z);  // null is 0
bool WTextSet(WText &t, const WChar *units, size_t n);
bool WTextSetZ(WText &t, const WChar *z);
void WTextFree(WText &t);
inline const WChar *WTextStr(const WText &t) { return t.data ? t.data : u""; }
bool WTextEqual(const WText &t, const WChar *units, size_t n);
// Whether two NUL-terminated texts are the same, unit for unit.
bool WSame(const WChar *a, const WChar *b);

}  // namespace kvdrm
