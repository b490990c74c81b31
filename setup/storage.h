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
// The registry's error, with nothing removed, when the key exists but
// cannot be deleted; ERROR_SUCCESS when it is gone.
// keepListValue leaves the "ODBC Data Sources" value (a rename in letter
// case only, whose new list value is the same value).
LONG RemoveDataSourceEntries(HKEY root, REGSAM access, const std::string &name, WORD mode,
                             bool keepListValue = false);

// One pass's write of values[1]: the key with "Description", "DBQ", "CTX"
// and "Driver", then the file data source. ERROR_SUCCESS when the key was
// created and all four values were written, else the first error.
LONG WriteDataSourceEntries(HKEY root, REGSAM access);

// Whether storage could write the data source `name` now: the driver is
// registered and the key can be created or opened for writing in at least
// one view, under the root of the installer's configuration mode. Leaves
// no key behind. The dialog asks before the installer's registration of
// the name, which replaces the key's values with a bare "Driver".
bool CanStoreDataSource(const std::string &name);

}  // namespace kvdrm
