// Beginning and ending sessions: find the data source's control file, load
// OdbcDrm.dll from its directory, resolve the 48 manager entries by ordinal
// and let the manager accept the session in the record.
#include "proxy/exports.h"
#include "proxy/locate.h"
#include "proxy/manager.h"
#include "proxy/record.h"

using namespace kvdrm;

namespace {

typedef int32_t(__stdcall *BeginEntry)(DrmArg *, DrmArg, DrmArg, const char *);
typedef int32_t(__stdcall *EndEntry)(DrmArg);

}  // namespace

extern "C" int32_t __stdcall DrmBeginSession(DrmArg *handle, DrmArg a2, DrmArg a3,
                                             const char *dataSource) {
  SessionRecord *rec = static_cast<SessionRecord *>(
      HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY | HEAP_GENERATE_EXCEPTIONS, sizeof(SessionRecord)));
  // The caller holds the record from here on, whatever the outcome, and
  // releases it with DrmEndSession.
  *handle = reinterpret_cast<DrmArg>(rec);

  ManagerLookup where;
  LookupManager(dataSource, where);  // the key is closed again by now
  rec->marker = kRecordMarker;
  HMODULE module = LoadLibraryA(where.managerPath.c_str());
  rec->module = module;
  if (!module) return kStatusNoManager;

  int32_t status = kStatusOk;
  for (int n = 1; n <= kManagerEntries; ++n) {
    // Go on after a miss so that every entry found stays in its slot.
    rec->entry[n - 1] = reinterpret_cast<ManagerEntry>(GetProcAddress(module, MAKEINTRESOURCEA(n)));
    if (!rec->entry[n - 1]) status = kStatusNoManager;
  }
  if (status != kStatusOk) return status;

  status = reinterpret_cast<BeginEntry>(rec->entry[kMgr_DrmBeginSession - 1])(handle, a2, a3, dataSource);
  if (rec->ack != kRecordMarker) status = kStatusNoManager;
  return status;
}

extern "C" int32_t __stdcall DrmEndSession(DrmArg handle) {
  SessionRecord *rec = reinterpret_cast<SessionRecord *>(handle);
  int32_t status = kStatusOk;
  if (ManagerEntry end = rec->entry[kMgr_DrmEndSession - 1])
    status = reinterpret_cast<EndEntry>(end)(rec->managerSession);
  HMODULE module = static_cast<HMODULE>(rec->module);
  HeapFree(GetProcessHeap(), 0, rec);
  if (module) FreeLibrary(module);
  return status;
}
