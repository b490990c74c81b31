// Pure decoding of registry values into text, apart from the registry calls
// so that it can be tested and fuzzed natively.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "registry/text.h"

namespace kvdrm {

// Length of the text held by a REG_SZ value of `size` bytes: the bytes up to
// the first NUL, or all of them when the value was stored without one.
size_t RegTextLength(const char *bytes, size_t size);
// The same for a REG_SZ read with the wide call: its UTF-16 units up to the
// first NUL unit, or all `count` of them.
size_t RegTextLengthW(const WChar *units, size_t count);

// Signed decimal form of a REG_DWORD, as ReadRegString gives it: no padding,
// a leading minus for negative values. `out` needs 12 bytes; returns the
// length written (without the NUL that follows).
size_t FormatRegDword(uint32_t value, char out[12]);

}  // namespace kvdrm
