/* A program linked by lld-link (an MSVC-style linker) against the kit's
 * KVDRM.lib, with the public header and no C runtime: the import library
 * must bind the stdcall declarations to KVDRM.dll's undecorated names.
 * Exit status 0 when every call came back as it should. */
#define KVDRM_NO_CONFIGDSN
#include "kvdrm.h"

int __cdecl probe_main(void) {
  char answer[16] = {0};
  int32_t length = 0;
  if (DrmGetInfo(KVDRM_NO_SESSION, KVDRM_INFO_DRIVER_FILE, answer, sizeof answer, &length) != KVDRM_OK) return 1;
  if (length != 11 || answer[0] != 'K' || answer[9] != 'L' || answer[10] != 0) return 2;
  if (DrmSetPDUpdExpression(1, 2, 3, 4, 5, 6) != KVDRM_OK) return 3;
  if (DrmGetInfo(KVDRM_NO_SESSION, 6, answer, sizeof answer, &length) != KVDRM_E_NO_SESSION) return 4;
  return 0;
}
