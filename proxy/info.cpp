// DrmGetInfo: forwarded with a session, answered here with the no-session
// handle -1 (no registry, no manager).
#include <string.h>

#include "proxy/exports.h"
#include "proxy/info_local.h"
#include "proxy/manager.h"
#include "proxy/record.h"

using namespace kvdrm;

extern "C" int32_t __stdcall DrmGetInfo(DrmArg handle, int32_t code, void *answer, int32_t size,
                                        int32_t *length) {
  if (handle != kNoSession) {
    const SessionRecord *rec = reinterpret_cast<const SessionRecord *>(handle);
    typedef int32_t(__stdcall * Entry)(DrmArg, int32_t, void *, int32_t, int32_t *);
    return reinterpret_cast<Entry>(rec->entry[kMgr_DrmGetInfo - 1])(rec->managerSession, code, answer,
                                                                    size, length);
  }
  return LocalInfo(code, answer, size, length);
}
