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
// values, security and class, and values of "ODBC Data Sources". Start it
// zeroed ({}).
struct SavedEntry {
  HKEY root;
  REGSAM view;    // 0 or KEY_WOW64_64KEY
  bool isKey;     // the key of `name`; else `name`'s value in the list
  bool existed;
  bool ours;      // in the request's own root and views; else a place the installer wrote
  bool removed;   // the request deleted this key (a rename or a removal)
  DWORD type;     // of a list value
  WText name;
  Text data;      // a list value's bytes, or a key's values packed
  WText keyClass;
  Text security;  // the key's access list, as a self-relative descriptor
};
struct Journal {
  SavedEntry entries[16];
  int count;
};

// Puts back every remembered entry, the latest first (so an entry
// remembered twice ends as it was first seen), then forgets them. A key
// that is still there gets back the values the request changed, in place:
// its access list, class and subkeys are never touched. A key the request
// made is deleted; one it deleted is made again with its access list,
// class and values.
void PutBack(Journal &journal);
// Forgets the entries: what the request did stays.
void Forget(Journal &journal);

// Persists or removes the data source that `set` describes, after the
// dialog (if any) has closed. Decides with PlanStorage, reads the
// installer's configuration mode, checks in every view it changes that
// each change can be made, remembers what is there in set.journal, then
// removes the initial name's key and list value (a rename or removal) and
// writes values[1]'s key: "Driver" always; "Description", "DBQ" and "CTX"
// as the request gave them, and for a configure the ones it did not give
// as the key held them (a rename copies them exactly). The first change
// that fails ends the request (the caller puts back the journal). The file
// data sources follow, best effort, only when all of that succeeded.
StoreOutcome StoreDataSource(const AttributeSet &set, bool dialogShown);

// The dialog's OK before the installer registers `name`, which replaces its
// key's values with a bare "Driver" and lists it: whether the request could
// store `name` now (every check that storage makes, the removal of the old
// name in a rename included), and if so, what the installer may change
// remembered in set.journal: the key and list value of `name` in the
// request's own root and views, and in the other places an installer is
// known to write (some write under HKEY_LOCAL_MACHINE whatever the mode).
// Out of memory is an outcome of its own.
enum Registration { kCanRegister, kCannotStore, kRegistrationOutOfMemory };
Registration PrepareRegistration(const AttributeSet &set, const WChar *name);
// After the installer's registration, successful or not: forgets the
// places outside the request's own that it left as they were, so that a
// put-back never writes to another root's data source of the same name.
void SettleRegistration(Journal &journal);

// One entry of the installer's profile "odbc.ini": at most 255 characters,
// "" when missing. A null entry asks for the section's entry names, so the
// result is non-empty exactly when the section has entries.
void ReadProfileValue(const WChar *section, const WChar *entry, WChar (&out)[256]);

// The platform's rules for names: the registry's letter case and the ANSI
// code page (see NameRules).
extern const NameRules kNameRules;

}  // namespace kvdrm
