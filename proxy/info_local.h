// The answers DrmGetInfo gives without a session; pure, so that it can be
// tested and fuzzed natively.
#pragma once
#include <stdint.h>

namespace kvdrm {

constexpr char kDriverFileName[] = "KVODBC.DLL";

// Fills answer[0..size) with zeros, then answers `code`. Never writes past
// `size` bytes, except the 4-byte answer of codes 135 to 137; a null answer
// or length is not dereferenced.
int32_t LocalInfo(int32_t code, void *answer, int32_t size, int32_t *length);

}  // namespace kvdrm
