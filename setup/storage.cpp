#include "setup/storage.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "registry/registry.h"
#include "setup/system_calls.h"

namespace kvdrm {

static_assert(kModeBoth == ODBC_BOTH_DSN && kModeSystem == ODBC_SYSTEM_DSN, "installer modes");
static_assert(kErrorComponentNotFound == ODBC_ERROR_COMPONENT_NOT_FOUND &&
                  kErrorInvalidName == ODBC_ERROR_INVALID_NAME &&
                  kErrorRequestFailed == ODBC_ERROR_REQUEST_FAILED && kErrorOutOfMemory == ODBC_ERROR_OUT_OF_MEM,
              "installer error codes");
static_assert(kPassAccess[0] == KEY_ALL_ACCESS && kPassAccess[1] == (KEY_ALL_ACCESS | KEY_WOW64_64KEY),
              "pass access masks");

namespace {

// ---- The journal ----

// Appends n bytes to a growing buffer; false when memory is short.
bool Append(Text &buffer, const void *bytes, size_t n) {
  char *grown = static_cast<char *>(realloc(buffer.data, buffer.length + n + 1));
  if (!grown) return false;
  memcpy(grown + buffer.length, bytes, n);
  buffer.data = grown;
  buffer.length += n;
  grown[buffer.length] = '\0';
  return true;
}

// A key's values packed one after the other: name length, name, type, size,
// bytes (the lengths as DWORDs). ERROR_OUTOFMEMORY when memory is short.
LONG PackValues(HKEY key, Text &out) {
  DWORD count = 0, nameMax = 0, dataMax = 0;
  LONG rc = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &nameMax, &dataMax,
                             nullptr, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  char *name = static_cast<char *>(malloc(nameMax + 1));
  BYTE *data = static_cast<BYTE *>(malloc(dataMax + 1));
  for (DWORD i = 0; rc == ERROR_SUCCESS && i < count; ++i) {
    if (!name || !data) {
      rc = ERROR_OUTOFMEMORY;
      break;
    }
    DWORD nameLength = nameMax + 1, type = REG_NONE, size = dataMax;
    rc = RegEnumValueA(key, i, name, &nameLength, nullptr, &type, data, &size);
    if (rc != ERROR_SUCCESS) break;
    if (!Append(out, &nameLength, sizeof nameLength) || !Append(out, name, nameLength) ||
        !Append(out, &type, sizeof type) || !Append(out, &size, sizeof size) || !Append(out, data, size))
      rc = ERROR_OUTOFMEMORY;
  }
  free(name);
  free(data);
  return rc;
}

DWORD TakeDword(const char *&p) {
  DWORD v;
  memcpy(&v, p, sizeof v);
  p += sizeof v;
  return v;
}

// Writes back the values PackValues took, after removing whatever the key
// holds now.
void UnpackValues(HKEY key, const Text &packed) {
  char name[256];
  DWORD n = sizeof name;
  // Index 0 each time: every deletion moves the next value there.
  for (int guard = 0; guard < 100000 && RegEnumValueA(key, 0, name, &n, nullptr, nullptr, nullptr, nullptr) ==
                                            ERROR_SUCCESS;
       ++guard, n = sizeof name)
    if (RegDeleteValueA(key, name) != ERROR_SUCCESS) break;
  const char *p = packed.data, *end = packed.data + packed.length;
  while (p && p < end) {
    DWORD nameLength = TakeDword(p);
    Text valueName = {nullptr, 0};
    if (!TextSet(valueName, p, nameLength)) return;
    p += nameLength;
    DWORD type = TakeDword(p), size = TakeDword(p);
    RegSetValueExA(key, TextStr(valueName), 0, type, reinterpret_cast<const BYTE *>(p), size);
    TextFree(valueName);
    p += size;
  }
}

// Whether a key (or value) that failed to open with this error is not
// there: absent, or named so that none can be (a name of 100 KB, say). One
// that exists but may not be opened answers ERROR_ACCESS_DENIED.
bool NoSuchKey(LONG rc) { return rc != ERROR_SUCCESS && rc != ERROR_ACCESS_DENIED && rc != ERROR_OUTOFMEMORY; }

// Remembers the key of data source `name` (isKey) or its value in the list.
// A location that cannot even be read is one the request cannot change.
LONG Remember(Journal &journal, HKEY root, REGSAM view, bool isKey, const char *name) {
  if (journal.count == static_cast<int>(sizeof journal.entries / sizeof journal.entries[0]))
    return ERROR_OUTOFMEMORY;
  SavedEntry e = {root, view, isKey, false, REG_NONE, {nullptr, 0}, {nullptr, 0}};
  if (!TextSetZ(e.name, name)) return ERROR_OUTOFMEMORY;
  Text path = {nullptr, 0};
  LONG rc = ERROR_OUTOFMEMORY;
  if (isKey ? RegPath(path, kOdbcIniKey, name) : TextSetZ(path, kDataSourceListKey)) {
    RegKey key;
    rc = RegOpenKeyExA(root, TextStr(path), 0, KEY_QUERY_VALUE | view, key.out());
    if (rc == ERROR_SUCCESS && isKey) {
      e.existed = true;
      rc = PackValues(key.get(), e.data);
    } else if (rc == ERROR_SUCCESS) {
      DWORD size = 0;
      rc = RegQueryValueExA(key.get(), name, nullptr, &e.type, nullptr, &size);
      if (rc == ERROR_SUCCESS) {
        e.data.data = static_cast<char *>(malloc(size + 1));
        rc = e.data.data ? RegQueryValueExA(key.get(), name, nullptr, &e.type,
                                            reinterpret_cast<BYTE *>(e.data.data), &size)
                         : ERROR_OUTOFMEMORY;
        e.data.length = size;
        e.existed = rc == ERROR_SUCCESS;
      }
    }
    // Absent, or a name no key or value can have: put back as absent.
    if (NoSuchKey(rc)) rc = ERROR_SUCCESS;
  }
  TextFree(path);
  if (rc != ERROR_SUCCESS) {
    TextFree(e.name);
    TextFree(e.data);
    return rc;
  }
  journal.entries[journal.count++] = e;
  return ERROR_SUCCESS;
}

void PutBackEntry(const SavedEntry &e) {
  const char *name = TextStr(e.name);
  if (!e.isKey) {
    RegKey list;
    if (RegOpenKeyExA(e.root, kDataSourceListKey, 0, KEY_SET_VALUE | e.view, list.out()) != ERROR_SUCCESS) return;
    if (e.existed)
      RegSetValueExA(list.get(), name, 0, e.type, reinterpret_cast<const BYTE *>(e.data.data),
                     static_cast<DWORD>(e.data.length));
    else
      RegDeleteValueA(list.get(), name);
    return;
  }
  // The key goes first, so that one made anew has the letter case it had.
  // Deleting a key needs no write access to its parent. A key that keeps
  // subkeys stays, and gets its values back.
  RegKey parent;
  if (RegOpenKeyExA(e.root, kOdbcIniKey, 0, KEY_READ | e.view, parent.out()) == ERROR_SUCCESS)
    RegDeleteKeyA(parent.get(), name);
  if (!e.existed) return;
  Text path = {nullptr, 0};
  RegKey key;
  if (RegPath(path, kOdbcIniKey, name) &&
      RegCreateKeyExA(e.root, path.data, 0, nullptr, 0, KEY_ALL_ACCESS | e.view, nullptr, key.out(), nullptr) ==
          ERROR_SUCCESS)
    UnpackValues(key.get(), e.data);
  TextFree(path);
}

// ---- Checks and changes ----

// The keys one request works on, made before anything is changed, so that
// a shortage of memory stops the request whole.
enum { kDriverKey, kNameKey, kInitialKey, kKeyCount };

struct Keys {
  Text path[kKeyCount] = {};
  ~Keys() {
    for (Text &k : path) TextFree(k);
  }
};

bool MakeKeys(Keys &keys, const char *driver, const char *name, const char *initial) {
  return RegPath(keys.path[kDriverKey], kOdbcInstKey, driver ? driver : "") &&
         RegPath(keys.path[kNameKey], kOdbcIniKey, name) && RegPath(keys.path[kInitialKey], kOdbcIniKey, initial);
}

// The driver's registration must open for reading in the view; nothing is
// read from it. Reading is all a standard user may do there. An empty
// description would name the whole ODBCINST.INI key.
bool DriverRegistered(const char *driver, const Text &driverKey, REGSAM view) {
  if (!driver || !*driver) return false;
  RegKey key;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, TextStr(driverKey), 0, KEY_QUERY_VALUE | view, key.out()) ==
         ERROR_SUCCESS;
}

// Whether two data source names name the same registry key: the registry
// compares names without regard to letter case (of the whole character
// set, not only A to Z), and the same way in every locale. The invariant
// locale without linguistic casing upper-cases so (no Turkish dotted or
// dotless i), and is KERNEL32's: a request without a window loads no
// window library for it. -1 when memory is short.
int SameRegistryName(const Text &x, const Text &y) {
  if (x.length != y.length) return 0;
  if (TextEqual(x, y.data, y.length)) return 1;
  int n = static_cast<int>(x.length);
  // x and y as read, then upper-cased (not in place, which LCMapStringW
  // does not promise).
  WCHAR *wide = static_cast<WCHAR *>(malloc(4 * x.length * sizeof(WCHAR)));
  if (!wide) return -1;
  int nx = MultiByteToWideChar(CP_ACP, 0, x.data, n, wide, n);
  int ny = MultiByteToWideChar(CP_ACP, 0, y.data, n, wide + n, n);
  if (nx > 0) nx = LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, wide, nx, wide + 2 * n, n);
  if (ny > 0) ny = LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, wide + n, ny, wide + 3 * n, n);
  bool same = nx == ny && (nx <= 0 || memcmp(wide + 2 * n, wide + 3 * n, nx * sizeof(WCHAR)) == 0);
  free(wide);
  return same;
}

bool ListHas(HKEY root, REGSAM view, const char *name) {
  RegKey list;
  return RegOpenKeyExA(root, kDataSourceListKey, 0, KEY_QUERY_VALUE | view, list.out()) == ERROR_SUCCESS &&
         RegQueryValueExA(list.get(), name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

// Whether `name`'s key (at `path`) and list value can go in this view: an
// absent key can; a present one must open with the access, under a root
// that opens with it, and have no subkeys (the registry deletes only a
// key without subkeys); a listed name needs the list to open with it.
LONG CheckRemove(HKEY root, REGSAM access, const char *name, const Text &path, bool listValue) {
  RegKey key;
  LONG rc = RegOpenKeyExA(root, TextStr(path), 0, access, key.out());
  if (rc == ERROR_SUCCESS) {
    DWORD subkeys = 0;
    rc = RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr, nullptr);
    if (rc == ERROR_SUCCESS && subkeys) rc = ERROR_ACCESS_DENIED;
    RegKey parent;
    if (rc == ERROR_SUCCESS) rc = RegOpenKeyExA(root, kOdbcIniKey, 0, access, parent.out());
  } else if (NoSuchKey(rc)) {
    rc = ERROR_SUCCESS;
  }
  if (rc == ERROR_SUCCESS && listValue && ListHas(root, access & KEY_WOW64_64KEY, name)) {
    RegKey list;
    rc = RegOpenKeyExA(root, kDataSourceListKey, 0, access, list.out());
  }
  return rc;
}

// Whether the key at `path` can be written in this view: opened with the
// access when it exists, else made under the nearest key above it.
LONG CheckWrite(HKEY root, REGSAM access, const Text &path) {
  RegKey key;
  LONG rc = RegOpenKeyExA(root, TextStr(path), 0, access, key.out());
  static const char *const kAbove[] = {kOdbcIniKey, "Software\\ODBC", "Software"};
  for (const char *above : kAbove) {
    if (rc != ERROR_FILE_NOT_FOUND) break;
    rc = RegOpenKeyExA(root, above, 0, KEY_CREATE_SUB_KEY | (access & KEY_WOW64_64KEY), key.out());
  }
  return rc;
}

// Removes `name`'s key (at `path`) and, unless keepListValue, its list
// value. Absent ones are gone already.
LONG RemoveEntries(HKEY root, REGSAM access, const char *name, const Text &path, bool keepListValue) {
  RegKey parent;
  LONG rc = RegOpenKeyExA(root, kOdbcIniKey, 0, access, parent.out());
  if (rc == ERROR_SUCCESS) rc = RegDeleteKeyA(parent.get(), name);
  if (rc != ERROR_SUCCESS) {
    RegKey probe;
    if (NoSuchKey(RegOpenKeyExA(root, TextStr(path), 0, KEY_READ | (access & KEY_WOW64_64KEY), probe.out())))
      rc = ERROR_SUCCESS;
  }
  if (rc != ERROR_SUCCESS || keepListValue || !ListHas(root, access & KEY_WOW64_64KEY, name)) return rc;
  RegKey list;
  rc = RegOpenKeyExA(root, kDataSourceListKey, 0, access, list.out());
  if (rc == ERROR_SUCCESS) rc = RegDeleteValueA(list.get(), name);
  return rc;
}

// Writes values[1]'s key with "Description", "DBQ", "CTX" and "Driver".
LONG WriteEntries(HKEY root, REGSAM access, const AttributeSet &a, const Text &path) {
  RegKey key;
  LONG rc = RegCreateKeyExA(root, TextStr(path), 0, nullptr, 0, access, nullptr, key.out(), nullptr);
  const char *const names[4] = {"Description", "DBQ", "CTX", "Driver"};
  const char *const texts[4] = {TextStr(a.values[kAttrDescription]), TextStr(a.values[kAttrDbq]),
                                TextStr(a.values[kAttrCtx]), a.driver ? a.driver : ""};
  for (int i = 0; rc == ERROR_SUCCESS && i < 4; ++i) rc = WriteRegString(key.get(), names[i], texts[i], strlen(texts[i]));
  return rc;
}

StoreOutcome Failure(bool removing, LONG rc) {
  if (rc == ERROR_OUTOFMEMORY) return kOutOfMemory;
  if (removing)
    return {false, kErrorRequestFailed,
            rc == ERROR_ACCESS_DENIED ? "Could not remove the data source: access denied"
                                      : "Could not remove the data source"};
  return {false, kErrorRequestFailed,
          rc == ERROR_ACCESS_DENIED ? "Could not write the data source: access denied"
                                    : "Could not write the data source"};
}

// What a request is about to do, found out without changing anything.
struct Prepared {
  StoragePlan plan;
  WORD mode = ODBC_BOTH_DSN;
  HKEY root = nullptr;
  int caseOnly = 0;  // a rename in letter case only
  StorageTarget targets[2] = {};
  int count = 0;
  Keys keys;
};

// Plans the request for the name `name` and checks that every change can be
// made. A failure outcome when it cannot (nothing changed); ok otherwise.
StoreOutcome Prepare(const AttributeSet &a, const char *name, bool dialogShown, Prepared &p) {
  const char *initial = TextStr(a.initialName);
  p.plan = PlanStorage(a.request, initial, name, dialogShown, AcpLeadByte);
  if (!p.plan.act) return {p.plan.error == 0, p.plan.error, p.plan.message};
  if (!g_sys.SQLGetConfigMode(&p.mode)) return {false, kErrorRequestFailed, "Could not read the configuration mode"};
  p.root = kRegistryRoots[RootIndexForMode(p.mode)];
  Text typed = {const_cast<char *>(name), strlen(name)};
  // A rename in letter case only: registry value names do not tell case
  // apart, so the old name's list value is the one the dialog has just
  // made for the new name, and stays. The key is made anew.
  p.caseOnly = p.plan.write && p.plan.removeInitial ? SameRegistryName(a.initialName, typed) : 0;
  if (p.caseOnly < 0 || !MakeKeys(p.keys, a.driver, name, initial)) return kOutOfMemory;
  const bool driverFound[2] = {DriverRegistered(a.driver, p.keys.path[kDriverKey], 0),
                               DriverRegistered(a.driver, p.keys.path[kDriverKey], KEY_WOW64_64KEY)};
  p.count = PlanTargets(p.plan, RootIndexForMode(p.mode), driverFound, p.targets);
  if (p.plan.write && !p.count) return {false, kErrorComponentNotFound, "Driver not registered"};
  for (int i = 0; i < p.count; ++i) {
    const StorageTarget &t = p.targets[i];
    REGSAM access = KEY_ALL_ACCESS | t.view;
    LONG rc = t.remove ? CheckRemove(p.root, access, initial, p.keys.path[kInitialKey], p.caseOnly != 1)
                       : ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) return Failure(true, rc);
    rc = t.write ? CheckWrite(p.root, access, p.keys.path[kNameKey]) : ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) return Failure(false, rc);
  }
  return {};
}

// Deletes the file data source of `name` from the installer's
// "DefaultDSNDir", read under ODBC_BOTH_DSN; `mode` is restored after.
void DeleteFileDataSource(const char *name, WORD mode) {
  g_sys.SQLSetConfigMode(ODBC_BOTH_DSN);
  char directory[256], file[1024];
  ReadProfileValue("ODBC File DSN", "DefaultDSNDir", directory);
  g_sys.SQLSetConfigMode(mode);
  // A file name has at most 255 characters: a path that does not fit here
  // names no file there could be.
  int n = _snprintf(file, sizeof file, "%s\\%s.DSN", directory, name);
  if (*directory && n >= 0 && n < static_cast<int>(sizeof file)) DeleteFileA(file);
}

}  // namespace

void PutBack(Journal &journal) {
  for (int i = journal.count; i-- > 0;) PutBackEntry(journal.entries[i]);
  Forget(journal);
}

void Forget(Journal &journal) {
  for (int i = 0; i < journal.count; ++i) {
    TextFree(journal.entries[i].name);
    TextFree(journal.entries[i].data);
  }
  journal.count = 0;
}

void ReadProfileValue(const char *section, const char *entry, char (&out)[256]) {
  out[0] = '\0';
  g_sys.SQLGetPrivateProfileString(section, entry, "", out, sizeof out, "odbc.ini");
  // An entry list (null entry) ends with a double NUL; a full buffer may
  // come back without any terminator.
  out[sizeof out - 1] = '\0';
}

Registration PrepareRegistration(const AttributeSet &a, const char *name) {
  Prepared p;
  StoreOutcome out = Prepare(a, name, true, p);
  if (!out.ok || !p.plan.act) return out.error == kErrorOutOfMemory ? kRegistrationOutOfMemory : kCannotStore;
  // Where the installer writes is its own affair (some write under
  // HKEY_LOCAL_MACHINE whatever the mode): every place it might is kept.
  const struct {
    HKEY root;
    REGSAM view;
  } kPlaces[] = {{HKEY_CURRENT_USER, 0}, {HKEY_LOCAL_MACHINE, 0}, {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY}};
  static const bool kIsKey[] = {true, false};
  for (const auto &place : kPlaces)
    for (bool isKey : kIsKey) {
      // A place this process cannot read, it cannot change either.
      LONG rc = Remember(*a.journal, place.root, place.view, isKey, name);
      if (rc == ERROR_OUTOFMEMORY) return kRegistrationOutOfMemory;
    }
  return kCanRegister;
}

StoreOutcome StoreDataSource(const AttributeSet &a, bool dialogShown) {
  const char *name = TextStr(a.values[kAttrDsn]), *initial = TextStr(a.initialName);
  Prepared p;
  StoreOutcome out = Prepare(a, name, dialogShown, p);
  if (!out.ok || !p.plan.act) return out;

  // Everything the changes touch, as it is now: the journal puts it back.
  for (int i = 0; i < p.count; ++i) {
    const StorageTarget &t = p.targets[i];
    LONG rc = ERROR_SUCCESS;
    if (t.remove) {
      rc = Remember(*a.journal, p.root, t.view, true, initial);
      if (rc == ERROR_SUCCESS && p.caseOnly != 1) rc = Remember(*a.journal, p.root, t.view, false, initial);
    }
    if (rc == ERROR_SUCCESS && t.write) rc = Remember(*a.journal, p.root, t.view, true, name);
    if (rc != ERROR_SUCCESS) return Failure(t.remove, rc);
  }
  for (int i = 0; i < p.count; ++i) {
    const StorageTarget &t = p.targets[i];
    REGSAM access = KEY_ALL_ACCESS | t.view;
    LONG rc = t.remove ? RemoveEntries(p.root, access, initial, p.keys.path[kInitialKey], p.caseOnly == 1) : ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) return Failure(true, rc);
    rc = t.write ? WriteEntries(p.root, access, a, p.keys.path[kNameKey]) : ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) return Failure(false, rc);
  }

  // The file data sources come last and never fail the request: a standard
  // user may not write the installer's folder, and some installers have no
  // file data sources at all. Their results are not ours to judge.
  if (p.plan.removeInitial && IsFileName(initial, AcpLeadByte)) DeleteFileDataSource(initial, p.mode);
  if (p.plan.write && IsFileName(name, AcpLeadByte)) g_sys.SQLWriteFileDSN(name, "ODBC", "DSN", name);
  return {};
}

}  // namespace kvdrm
