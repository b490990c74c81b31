// Pure decoding of registry values into text, and the cut of such a text
// that sessions make, apart from the registry calls so that it can be
// tested and fuzzed natively.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "registry/text.h"

namespace kvdrm {

// Length of the text held by a REG_SZ value read with the wide call: its
// UTF-16 units up to the first NUL unit, or all `count` of them when the
// value was stored without one.
size_t RegTextLengthW(const WChar *units, size_t count);

// Signed decimal form of a REG_DWORD, as ReadRegStringW gives it: no padding,
// a leading minus for negative values. `out` needs 12 bytes; returns the
// length written (without the NUL that follows).
size_t FormatRegDword(uint32_t value, char out[12]);

// The control-file directory of a CTX text: the length in units up to and
// including its last ':' or '\' (0 when there is none). In UTF-16 no unit
// of another character, surrogates included, equals a separator, so the
// scan needs no code page's rules.
size_t LastSeparatorW(const WChar *text, size_t len);

}  // namespace kvdrm
