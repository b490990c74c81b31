// Counted UTF-16 texts on the C runtime's heap, the twin of text.h for what
// the wide registry and loader calls read and take (a CTX value, a manager
// path), so that no character is lost to the ANSI code page. char16_t, not
// wchar_t: the pure code builds natively too, where wchar_t has 32 bits;
// the platform code casts at the Windows call. Pure code.
#pragma once
#include <stddef.h>

namespace kvdrm {

// `data` is null for the empty text, else NUL-terminated at `length`
// (counted in UTF-16 units).
struct Text16 {
  char16_t *data;
  size_t length;
};

// Replaces t with units[0..n) (n may be 0, units then may be null). False,
// with t unchanged, when memory is short.
bool Text16Set(Text16 &t, const char16_t *units, size_t n);
void Text16Free(Text16 &t);
// The text as a NUL-terminated string; u"" for the empty text.
inline const char16_t *Text16Str(const Text16 &t) { return t.data ? t.data : u""; }

}  // namespace kvdrm
