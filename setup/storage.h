// Storing and removing a data source: its registry key in both registry
// views, its "ODBC Data Sources" value and its file data source.
#pragma once
#include <windows.h>

#include <string>

#include "setup/storage_plan.h"

namespace kvdrm {

// Persists or removes the data source that g_attributes describes, after
// the dialog (if any) has closed. Decides with PlanStorage, reads the
// installer's configuration mode and runs the two passes.
StoreOutcome StoreDataSource(uint32_t request, bool dialogShown);

// One pass's removal of `name`: its key under root\Software\ODBC\ODBC.INI,
// then its file data source (in the installer's "DefaultDSNDir", read under
// ODBC_BOTH_DSN, then `mode` is restored) and its "ODBC Data Sources" value.
// False, with nothing removed, when the key exists but cannot be deleted.
// keepListValue leaves the "ODBC Data Sources" value (a rename in letter
// case only, whose new list value is the same value).
bool RemoveDataSourceEntries(HKEY root, REGSAM access, const std::string &name, WORD mode,
                             bool keepListValue = false);

// One pass's write of values[1]: the key with "Description", "DBQ", "CTX"
// and "Driver", then the file data source. True when the key was created
// and all four values were written.
bool WriteDataSourceEntries(HKEY root, REGSAM access);

}  // namespace kvdrm
