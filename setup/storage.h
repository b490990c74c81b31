// Storing and removing a data source: its registry key in both registry
// views, its "ODBC Data Sources" value and its file data source.
#pragma once
#include <windows.h>

#include "setup/attributes.h"
#include "setup/storage_plan.h"

namespace kvdrm {

// Persists or removes the data source that `set` describes, after the
// dialog (if any) has closed. Decides with PlanStorage, reads the
// installer's configuration mode and runs the two passes: in each, the
// initial name's key, file data source and list value go (a rename or
// removal), then values[1]'s key is written with "Description", "DBQ",
// "CTX" and "Driver", and its file data source.
StoreOutcome StoreDataSource(const AttributeSet &set, uint32_t request, bool dialogShown);

// Whether storage could write the data source `name` of `driver` now: the
// driver is registered and the key can be created or opened for writing in
// at least one view, under the root of the installer's configuration mode.
// Leaves no key behind; false when memory is short. The dialog asks before
// the installer's registration of the name, which replaces the key's
// values with a bare "Driver".
bool CanStoreDataSource(const char *driver, const char *name);

// One entry of the installer's profile "odbc.ini": at most 255 characters,
// "" when missing. A null entry asks for the section's entry names, so the
// result is non-empty exactly when the section has entries.
void ReadProfileValue(const char *section, const char *entry, char (&out)[256]);

}  // namespace kvdrm
