// Where a session finds its manager: the data source key, its CTX value,
// the control-file directory and the manager file. DrmBeginSession and the
// diagnostic tool both use this, so the two cannot disagree.
#pragma once
#include <windows.h>
#include <stddef.h>

#include "registry/text.h"

namespace kvdrm {

// A plain record: start it zeroed ({}), free it with FreeManagerLookup.
// CTX is read and the manager loaded with the wide calls, so a folder named
// in any script works, whatever the ANSI code page.
struct ManagerLookup {
  int root;             // index into kRegistryRoots of the key that opened; -1 none
  WText ctx;            // the CTX value as read (empty when absent)
  size_t directory;     // units of ctx up to its last ':' or '\' character: the control-file directory
  WText managerPath;    // the directory + "OdbcDrm.dll", as CTX gives it (relative when CTX is)
};

// Opens root\Software\ODBC\ODBC.INI\<dataSource> for reading in each
// registry root in turn (a null name counts as empty; the name is ANSI, as
// the driver gives it); the first key that opens decides, with or without a
// CTX value. False when memory is short: then no manager path is set and a
// session loads nothing.
bool LookupManager(const char *dataSource, ManagerLookup &out);
void FreeManagerLookup(ManagerLookup &lookup);

// Loads the manager the lookup names. With a directory, its own DLLs are
// searched in that folder first (LOAD_WITH_ALTERED_SEARCH_PATH): a manager
// ships DLLs beside it, and a plain load would look for them in the
// program's folder and the current directory instead. The path is made full
// first (from the current directory, and a drive's own for "D:"), the file a
// plain load opens: the altered search takes its folder from the path, and
// a relative one is left undefined. A bare name keeps the program's search
// order. Returns null, with the last error, when it does not load.
HMODULE LoadManager(const ManagerLookup &lookup);

}  // namespace kvdrm
