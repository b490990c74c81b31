#include "proxy/info_local.h"

#include <string.h>

#include "include/kvdrm.h"

namespace kvdrm {

int32_t LocalInfo(int32_t code, void *answer, int32_t size, int32_t *length) {
  unsigned char *buf = static_cast<unsigned char *>(answer);
  size_t room = (buf && size > 0) ? static_cast<size_t>(size) : 0;
  if (room) memset(buf, 0, room);

  switch (code) {
    case 1: case 3: case 4:
      // The answer is a 16-bit zero, already there from the fill.
      if (length) *length = 2;
      return KVDRM_OK;
    case 2: {
      // Copy what fits of the name and its NUL; the length is the whole name's.
      size_t n = sizeof kDriverFileName;
      if (n > room) n = room;
      if (n) memcpy(buf, kDriverFileName, n);
      if (length) *length = static_cast<int32_t>(sizeof kDriverFileName);
      return KVDRM_OK;
    }
    case 6:
      return KVDRM_E_NO_SESSION;
    case 135: case 136: case 137:
      // A 32-bit zero, whatever size the caller stated: these codes are
      // always asked with room for it.
      if (buf) memset(buf, 0, 4);
      if (length) *length = 4;
      return KVDRM_OK;
    default:
      return KVDRM_OK;
  }
}

}  // namespace kvdrm
