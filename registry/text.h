// Counted texts on the C runtime's heap, for the few texts whose length the
// library does not choose (attribute values, registry values). Plain
// records: no constructors, no destructors; the owner frees them. Pure code,
// built natively too.
#pragma once
#include <stddef.h>

namespace kvdrm {

// `data` is null for the empty text, else NUL-terminated at `length`.
struct Text {
  char *data;
  size_t length;
};

// Replaces t with bytes[0..n) (n may be 0, bytes then may be null). False,
// with t unchanged, when memory is short.
bool TextSet(Text &t, const char *bytes, size_t n);
bool TextSetZ(Text &t, const char *z);  // a NUL-terminated text; null is ""
void TextFree(Text &t);
// The text as a NUL-terminated string; "" for the empty text.
inline const char *TextStr(const Text &t) { return t.data ? t.data : ""; }
bool TextEqual(const Text &t, const char *bytes, size_t n);

}  // namespace kvdrm
