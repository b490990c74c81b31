// DrmGetInfo's local answers with a heap buffer of exactly the stated size
// (4 bytes at least for codes 135 to 137), so that a byte written past it is
// an ASan report. The input chooses the
// information code, the stated size, whether a length variable is given
// and what the buffer held before.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "include/kvdrm.h"
#include "proxy/info_local.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 10) return 0;
  int32_t code, stated;
  memcpy(&code, data, 4);
  memcpy(&stated, data + 4, 4);
  uint8_t fill = data[8];
  bool withLength = data[9] & 1;
  bool nullBuffer = data[9] & 2;
  // Keep the common codes common; sizes stay small so that runs are quick
  // (negative sizes stay as they are: nothing may be filled then).
  if (data[9] & 4) code = static_cast<int32_t>(static_cast<uint32_t>(code) % 140);
  if (stated > 4096) stated = stated % 4097;

  // Codes 135 to 137 answer 4 bytes whatever the stated size: their callers
  // always give room for them.
  bool word = code >= 135 && code <= 137;
  size_t room = stated > 0 ? static_cast<size_t>(stated) : 0;
  bool none = nullBuffer && room == 0;
  if (word && room < 4) room = 4;
  unsigned char *buf = none ? nullptr : static_cast<unsigned char *>(malloc(room ? room : 1));
  unsigned char *answer = buf;
  if (buf && room == 0) {
    // A zero-size answer: hand over a pointer to a byte that must stay put.
    buf[0] = fill;
  } else if (buf) {
    memset(buf, fill, room);
  }
  int32_t length = 99;
  int32_t status = kvdrm::LocalInfo(code, answer, stated, withLength ? &length : nullptr);

  int32_t wantStatus = code == 6 ? KVDRM_E_NO_SESSION : KVDRM_OK;
  int32_t wantLength = 99;
  if (code == 1 || code == 3 || code == 4) wantLength = 2;
  if (code == 2) wantLength = 11;
  if (code >= 135 && code <= 137) wantLength = 4;
  if (status != wantStatus) abort();
  if (withLength && length != wantLength) abort();

  if (buf && room == 0) {
    if (buf[0] != fill) abort();
  }
  for (size_t i = 0; buf && i < room; ++i) {
    unsigned char want = 0;
    if (code == 2 && i < sizeof kvdrm::kDriverFileName) want = static_cast<unsigned char>(kvdrm::kDriverFileName[i]);
    if (buf[i] != want) abort();
  }
  free(buf);
  return 0;
}
