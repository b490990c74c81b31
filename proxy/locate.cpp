#include "proxy/locate.h"

#include "proxy/ctx_path.h"
#include "registry/registry.h"

namespace kvdrm {

const char kDataSourcesKey[] = "Software\\ODBC\\ODBC.INI\\";
const char kManagerFile[] = "OdbcDrm.dll";

void LookupManager(const char *dataSource, ManagerLookup &out) {
  std::string path(kDataSourcesKey);
  if (dataSource) path += dataSource;
  out.root = -1;
  out.ctx.clear();
  for (int i = 0; i < 2; ++i) {
    RegKey key;
    // A key that does not open with full access, for whatever reason,
    // counts as absent and the next root is tried.
    if (RegOpenKeyExA(kRegistryRoots[i], path.c_str(), 0, KEY_ALL_ACCESS, key.out()) != ERROR_SUCCESS)
      continue;
    out.root = i;
    ReadRegString(key.get(), "CTX", out.ctx);
    break;
  }
  out.directory.assign(out.ctx, 0, ControlFileDirectoryLength(out.ctx.data(), out.ctx.size()));
  out.managerPath = out.directory + kManagerFile;
}

}  // namespace kvdrm
