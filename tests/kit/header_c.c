/* The public header in a C translation unit without <windows.h>: it must
 * compile warning-free and its declarations must call KVDRM.dll. */
#include "include/kvdrm.h"

#include <string.h>

#define KC_COUNT(ordinal, name, values) +1
enum { kManagerRows = 0 KVDRM_MANAGER_TABLE(KC_COUNT) };
#undef KC_COUNT

/* 0 when all is well; otherwise the number of the first check that failed. */
int KitHeaderFromC(void) {
  char answer[16];
  int32_t length = 0;
  if (kManagerRows != KVDRM_MANAGER_ENTRIES) return 1;
  if (sizeof(KvdrmSessionRecord) != KVDRM_RECORD_SLOTS * 4) return 2;
  if (DrmGetInfo(KVDRM_NO_SESSION, KVDRM_INFO_DRIVER_FILE, answer, sizeof answer, &length) != KVDRM_OK) return 3;
  if (length != 11 || strcmp(answer, "KVODBC.DLL") != 0) return 4;
  if (DrmGetInfo(KVDRM_NO_SESSION, 6, answer, sizeof answer, &length) != KVDRM_E_NO_SESSION) return 5;
  if (DrmOnExecute(0, 0, 0) != KVDRM_OK) return 6;
  return 0;
}
