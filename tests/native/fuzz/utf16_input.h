// The setup fuzzers' inputs are UTF-16: the bytes read as little-endian code
// units, an odd last byte dropped, so that a seed is its text saved as
// UTF-16LE whatever the host's byte order.
#pragma once
#include <stddef.h>
#include <stdint.h>

// Writes the size / 2 units of data to out and returns their number.
inline size_t ReadUnitsLE(const uint8_t *data, size_t size, char16_t *out) {
  const size_t n = size / 2;
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
  return n;
}
