// Where a session finds its manager: the data source key, its CTX value,
// the control-file directory and the manager file. DrmBeginSession and the
// diagnostic tool both use this, so the two cannot disagree.
#pragma once
#include <windows.h>

#include <string>

namespace kvdrm {

extern const char kDataSourcesKey[];  // "Software\ODBC\ODBC.INI\"
extern const char kManagerFile[];     // "OdbcDrm.dll"

struct ManagerLookup {
  int root = -1;            // index into kRegistryRoots of the key that opened; -1 none
  std::string ctx;          // the CTX value as read (empty when absent)
  std::string directory;    // control-file directory: up to the last ':' or '\' character
  std::string managerPath;  // directory + "OdbcDrm.dll", as LoadLibraryA gets it
};

// Opens root\Software\ODBC\ODBC.INI\<dataSource> for reading in
// each registry root in turn (a null name counts as empty); the first key
// that opens decides, with or without a CTX value.
void LookupManager(const char *dataSource, ManagerLookup &out);

}  // namespace kvdrm
