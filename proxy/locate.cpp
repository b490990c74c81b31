#include "proxy/locate.h"

#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "include/kvdrm.h"
#include "registry/registry.h"

namespace kvdrm {

bool LookupManager(const char *dataSource, ManagerLookup &out) {
  FreeManagerLookup(out);
  Text path = {nullptr, 0};
  if (!RegPath(path, kOdbcIniKey, dataSource)) return false;
  bool read = true;
  for (int i = 0; i < 2; ++i) {
    RegKey key;
    // Reading is all a session does: a standard user's system data source
    // opens for reading only. A key that does not open counts as absent.
    if (RegOpenKeyExA(kRegistryRoots[i], path.data, 0, KEY_QUERY_VALUE, key.out()) != ERROR_SUCCESS) continue;
    out.root = i;
    read = ReadRegString(key.get(), "CTX", out.ctx);
    break;
  }
  TextFree(path);
  if (!read) return false;

  out.directory = LastSeparator(out.ctx.data, out.ctx.length, AcpLeadByte).end;
  static const char kFile[] = KVDRM_MANAGER_FILE;
  char *managerPath = static_cast<char *>(malloc(out.directory + sizeof kFile));
  if (!managerPath) return false;
  if (out.directory) memcpy(managerPath, out.ctx.data, out.directory);
  memcpy(managerPath + out.directory, kFile, sizeof kFile);
  out.managerPath.data = managerPath;
  out.managerPath.length = out.directory + sizeof kFile - 1;
  return true;
}

void FreeManagerLookup(ManagerLookup &lookup) {
  lookup.root = -1;
  TextFree(lookup.ctx);
  lookup.directory = 0;
  TextFree(lookup.managerPath);
}

HMODULE LoadManager(const ManagerLookup &lookup) {
  if (!lookup.managerPath.data) return nullptr;
  if (!lookup.directory) return LoadLibraryA(lookup.managerPath.data);
  return LoadLibraryExA(lookup.managerPath.data, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace kvdrm
