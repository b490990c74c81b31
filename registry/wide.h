// The setup library's UTF-16 texts (char16_t, see text.h) as the platform's
// WCHAR, and back: the same 16-bit units under another C++ type.
#pragma once
#include <windows.h>

#include "registry/text.h"

namespace kvdrm {

static_assert(sizeof(WCHAR) == sizeof(WChar), "WCHAR is 16 bits");

inline const WCHAR *W(const WChar *s) { return reinterpret_cast<const WCHAR *>(s); }
inline WCHAR *W(WChar *s) { return reinterpret_cast<WCHAR *>(s); }
inline const WCHAR *W(const WText &t) { return W(WTextStr(t)); }
inline const WChar *U(const WCHAR *s) { return reinterpret_cast<const WChar *>(s); }
inline WChar *U(WCHAR *s) { return reinterpret_cast<WChar *>(s); }

}  // namespace kvdrm
