// DrmGetInfo: forwarded with a session, answered here with the no-session
// handle -1 (no registry, no manager).
#include <windows.h>

#include "include/kvdrm.h"
#include "proxy/info_local.h"

extern "C" int32_t __stdcall DrmGetInfo(KvdrmSession handle, int32_t code, void *answer, int32_t size,
                                        int32_t *length) {
  if (handle != KVDRM_NO_SESSION) {
    const KvdrmSessionRecord *rec = reinterpret_cast<const KvdrmSessionRecord *>(handle);
    typedef int32_t(__stdcall * Entry)(KvdrmSession, int32_t, void *, int32_t, int32_t *);
    return reinterpret_cast<Entry>(rec->entry[KVDRM_MGR_DrmGetInfo - 1])(rec->managerSession, code, answer,
                                                                         size, length);
  }
  return kvdrm::LocalInfo(code, answer, size, length);
}
