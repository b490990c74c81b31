#include "proxy/locate.h"

#include "registry/dbcs.h"
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
    // Reading is all a session does: a standard user's system data source
    // opens for reading only. A key that does not open counts as absent.
    if (RegOpenKeyExA(kRegistryRoots[i], path.c_str(), 0, KEY_QUERY_VALUE, key.out()) != ERROR_SUCCESS)
      continue;
    out.root = i;
    ReadRegString(key.get(), "CTX", out.ctx);
    break;
  }
  out.directory.assign(out.ctx, 0, LastSeparator(out.ctx.data(), out.ctx.size(), AcpLeadByte).end);
  out.managerPath = out.directory + kManagerFile;
}

}  // namespace kvdrm
