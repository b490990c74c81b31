// Beginning and ending sessions: find the data source's control file, load
// OdbcDrm.dll from its directory, resolve the 48 manager entries by ordinal
// and let the manager accept the session in the record.
#include <string.h>

#include <string>

#include "proxy/ctx_path.h"
#include "proxy/exports.h"
#include "proxy/manager.h"
#include "proxy/record.h"
#include "registry/registry.h"

using namespace kvdrm;

namespace {

const char kDataSourcesKey[] = "Software\\ODBC\\ODBC.INI\\";
const char kManagerFile[] = "OdbcDrm.dll";

typedef int32_t(__stdcall *BeginEntry)(DrmArg *, DrmArg, DrmArg, const char *);
typedef int32_t(__stdcall *EndEntry)(DrmArg);

// The manager's path: the control-file directory of the first data source
// key that opens, HKEY_CURRENT_USER first, followed by the file name.
std::string ManagerPath(const char *dataSource) {
  std::string path(kDataSourcesKey);
  if (dataSource) path += dataSource;
  std::string ctx;
  for (HKEY root : kRegistryRoots) {
    RegKey key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, key.out()) != ERROR_SUCCESS) continue;
    // The first key that opens decides, with or without a CTX value.
    ReadRegString(key.get(), "CTX", ctx);
    break;
  }
  ctx.resize(ControlFileDirectoryLength(ctx.data(), ctx.size()));
  return ctx + kManagerFile;
}

}  // namespace

extern "C" int32_t __stdcall DrmBeginSession(DrmArg *handle, DrmArg a2, DrmArg a3,
                                             const char *dataSource) {
  SessionRecord *rec = static_cast<SessionRecord *>(
      HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY | HEAP_GENERATE_EXCEPTIONS, sizeof(SessionRecord)));
  // The caller holds the record from here on, whatever the outcome, and
  // releases it with DrmEndSession.
  *handle = reinterpret_cast<DrmArg>(rec);

  std::string manager = ManagerPath(dataSource);
  rec->marker = kRecordMarker;
  HMODULE module = LoadLibraryA(manager.c_str());
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
