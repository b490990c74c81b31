// The status codes this library produces itself; every other code is the
// manager's and passes through unchanged. Apart from record.h so that the
// pure code using them builds natively (the record's layout is 32-bit).
#pragma once
#include <stdint.h>

namespace kvdrm {

constexpr int32_t kStatusOk = 0;
constexpr int32_t kStatusNoManager = -1101;   // load, resolve or handshake failed
constexpr int32_t kStatusNoSession = -1603;   // DrmGetInfo code 6 without a session

}  // namespace kvdrm
