// Beginning and ending sessions: find the data source's control file, load
// OdbcDrm.dll from its directory (its own DLLs found beside it), resolve the 48 manager entries by ordinal
// and let the manager accept the session in the record.
#include <windows.h>

#include "include/kvdrm.h"
#include "proxy/locate.h"

using namespace kvdrm;

// The layout is shared with OdbcDrm.dll, which writes slots 1 and 2.
static_assert(sizeof(KvdrmSessionRecord) == KVDRM_RECORD_SLOTS * 4, "the record is 52 slots of 32 bits");

namespace {

typedef int32_t(__stdcall *BeginEntry)(KvdrmSession *, KvdrmArg, KvdrmArg, const char *);
typedef int32_t(__stdcall *EndEntry)(KvdrmSession);

}  // namespace

extern "C" int32_t __stdcall DrmBeginSession(KvdrmSession *handle, KvdrmArg a2, KvdrmArg a3,
                                             const char *dataSource) {
  KvdrmSessionRecord *rec = static_cast<KvdrmSessionRecord *>(HeapAlloc(
      GetProcessHeap(), HEAP_ZERO_MEMORY | HEAP_GENERATE_EXCEPTIONS, sizeof(KvdrmSessionRecord)));
  // The caller holds the record from here on, whatever the outcome, and
  // releases it with DrmEndSession.
  *handle = reinterpret_cast<KvdrmSession>(rec);

  ManagerLookup where = {};
  bool found = LookupManager(dataSource, where);  // the key is closed again by now
  rec->marker = KVDRM_RECORD_MARKER;
  HMODULE module = found ? LoadManager(where) : nullptr;
  FreeManagerLookup(where);
  rec->module = reinterpret_cast<uint32_t>(module);
  if (!module) return KVDRM_E_NO_MANAGER;

  int32_t status = KVDRM_OK;
  for (int n = 1; n <= KVDRM_MANAGER_ENTRIES; ++n) {
    // Go on after a miss so that every entry found stays in its slot.
    rec->entry[n - 1] = reinterpret_cast<uint32_t>(GetProcAddress(module, MAKEINTRESOURCEA(n)));
    if (!rec->entry[n - 1]) status = KVDRM_E_NO_MANAGER;
  }
  if (status != KVDRM_OK) return status;

  status = reinterpret_cast<BeginEntry>(rec->entry[KVDRM_MGR_DrmBeginSession - 1])(handle, a2, a3, dataSource);
  if (rec->ack != KVDRM_RECORD_MARKER) status = KVDRM_E_NO_MANAGER;
  return status;
}

extern "C" int32_t __stdcall DrmEndSession(KvdrmSession handle) {
  KvdrmSessionRecord *rec = reinterpret_cast<KvdrmSessionRecord *>(handle);
  int32_t status = KVDRM_OK;
  if (uint32_t end = rec->entry[KVDRM_MGR_DrmEndSession - 1])
    status = reinterpret_cast<EndEntry>(end)(rec->managerSession);
  HMODULE module = reinterpret_cast<HMODULE>(rec->module);
  HeapFree(GetProcessHeap(), 0, rec);
  if (module) FreeLibrary(module);
  return status;
}
