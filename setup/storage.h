// Storing and removing a data source: its registry key in both registry
// views, its "ODBC Data Sources" value and its file data source. A request
// is all or nothing: everything it would change is checked and remembered
// first, and put back when a change still fails.
#pragma once
#include <windows.h>

#include "setup/attributes.h"
#include "setup/storage_plan.h"

namespace kvdrm {

// What a request may change, as it was before: data source keys with their
// values, and values of "ODBC Data Sources". Start it zeroed ({}).
struct SavedEntry {
  HKEY root;
  REGSAM view;   // 0 or KEY_WOW64_64KEY
  bool isKey;    // the key of `name`; else `name`'s value in the list
  bool existed;
  DWORD type;    // of a list value
  Text name;
  Text data;     // a list value's bytes, or a key's values packed
};
struct Journal {
  SavedEntry entries[16];
  int count;
};

// Puts back every remembered entry, the latest first (so an entry
// remembered twice ends as it was first seen), then forgets them.
void PutBack(Journal &journal);
// Forgets the entries: what the request did stays.
void Forget(Journal &journal);

// Persists or removes the data source that `set` describes, after the
// dialog (if any) has closed. Decides with PlanStorage, reads the
// installer's configuration mode, checks in every view it changes that
// each change can be made, remembers what is there in set.journal, then
// removes the initial name's key and list value (a rename or removal) and
// writes values[1]'s key with "Description", "DBQ", "CTX" and "Driver".
// The first change that fails ends the request (the caller puts back the
// journal). The file data sources follow, best effort, only when all of
// that succeeded.
StoreOutcome StoreDataSource(const AttributeSet &set, bool dialogShown);

// The dialog's OK before the installer registers `name`, which replaces its
// key's values with a bare "Driver" and lists it: whether the request could
// store `name` now (every check that storage makes, the removal of the old
// name in a rename included), and if so, what the installer may change
// (the key and list value of `name` in both roots and views) remembered in
// set.journal. Out of memory is an outcome of its own.
enum Registration { kCanRegister, kCannotStore, kRegistrationOutOfMemory };
Registration PrepareRegistration(const AttributeSet &set, const char *name);

// One entry of the installer's profile "odbc.ini": at most 255 characters,
// "" when missing. A null entry asks for the section's entry names, so the
// result is non-empty exactly when the section has entries.
void ReadProfileValue(const char *section, const char *entry, char (&out)[256]);

}  // namespace kvdrm
