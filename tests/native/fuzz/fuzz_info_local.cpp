// DrmGetInfo's local answers with a heap buffer of exactly the stated size
// (4 bytes at least for codes 135 to 137, as the header allows), so that a
// byte written past it is an ASan report. The input chooses the information
// code, the stated size, whether a length variable is given and what the
// buffer held before. The answers themselves are tabled in tests/proxy
// (info_test); here only what holds for every code: the call with a small
// buffer gives the status, length and leading bytes of the call with a
// large one, whatever the buffer held, and the answer is zero-padded.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "include/kvdrm.h"
#include "proxy/info_local.h"

namespace {
constexpr int32_t kLarge = 4096;
constexpr int32_t kUntouched = 99;
}  // namespace

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
  if (stated > kLarge) stated = stated % (kLarge + 1);

  static unsigned char large[kLarge];
  memset(large, static_cast<uint8_t>(~fill), sizeof large);
  int32_t largeLength = kUntouched;
  int32_t largeStatus = kvdrm::LocalInfo(code, large, kLarge, &largeLength);
  if (largeStatus != KVDRM_OK && largeStatus != KVDRM_E_NO_SESSION) abort();
  size_t answered = largeLength == kUntouched ? 0 : static_cast<size_t>(largeLength);
  if (answered > static_cast<size_t>(kLarge)) abort();
  for (size_t i = answered; i < static_cast<size_t>(kLarge); ++i)
    if (large[i] != 0) abort();

  bool word = code >= 135 && code <= 137;
  size_t room = stated > 0 ? static_cast<size_t>(stated) : 0;
  bool none = nullBuffer && room == 0;
  if (word && room < 4) room = 4;
  unsigned char *buf = none ? nullptr : static_cast<unsigned char *>(malloc(room ? room : 1));
  if (buf) memset(buf, fill, room ? room : 1);
  int32_t length = kUntouched;
  int32_t status = kvdrm::LocalInfo(code, buf, stated, withLength ? &length : nullptr);

  if (status != largeStatus) abort();
  if (withLength && length != largeLength) abort();
  // A zero-size answer: the one byte handed over stays put.
  if (buf && room == 0 && buf[0] != fill) abort();
  for (size_t i = 0; buf && i < room; ++i)
    if (buf[i] != large[i]) abort();
  free(buf);
  return 0;
}
