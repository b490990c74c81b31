#include "proxy/locate.h"

#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "include/kvdrm.h"
#include "registry/reg_text.h"
#include "registry/registry.h"
#include "registry/wide.h"

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
    // The ANSI call on purpose: the driver names the data source in the
    // ANSI code page, and the registry turns it into the key's name exactly
    // as setup, which refuses names that code page cannot hold, stored it.
    if (RegOpenKeyExA(kRegistryRoots[i], path.data, 0, KEY_QUERY_VALUE, key.out()) != ERROR_SUCCESS) continue;
    out.root = i;
    read = ReadRegStringW(key.get(), L"CTX", out.ctx);
    break;
  }
  TextFree(path);
  if (!read) return false;

  out.directory = LastSeparatorW(out.ctx.data, out.ctx.length);
  static const WChar kFile[] = u"" KVDRM_MANAGER_FILE;
  WChar *managerPath = static_cast<WChar *>(malloc(out.directory * sizeof(WChar) + sizeof kFile));
  if (!managerPath) return false;
  if (out.directory) memcpy(managerPath, out.ctx.data, out.directory * sizeof(WChar));
  memcpy(managerPath + out.directory, kFile, sizeof kFile);
  out.managerPath.data = managerPath;
  out.managerPath.length = out.directory + sizeof kFile / sizeof kFile[0] - 1;
  return true;
}

void FreeManagerLookup(ManagerLookup &lookup) {
  lookup.root = -1;
  WTextFree(lookup.ctx);
  lookup.directory = 0;
  WTextFree(lookup.managerPath);
}

HMODULE LoadManager(const ManagerLookup &lookup) {
  if (!lookup.managerPath.data) return nullptr;
  const WCHAR *path = W(lookup.managerPath);
  if (!lookup.directory) return LoadLibraryW(path);

  // Most full paths fit here; a longer one, or one that grew with the
  // current directory between the two calls, gets a buffer of its size.
  WCHAR fits[MAX_PATH];
  WCHAR *full = fits, *big = nullptr;
  DWORD room = MAX_PATH;
  HMODULE module = nullptr;
  for (;;) {
    DWORD n = GetFullPathNameW(path, room, full, nullptr);
    if (n == 0) break;  // its error stands
    if (n < room) {
      module = LoadLibraryExW(full, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
      break;
    }
    free(big);
    full = big = static_cast<WCHAR *>(malloc(n * sizeof(WCHAR)));
    if (!big) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    room = n;
  }
  if (big) {
    DWORD error = GetLastError();
    free(big);
    SetLastError(error);
  }
  return module;
}

}  // namespace kvdrm
