#include "setup/storage.h"

#include <stdlib.h>
#include <string.h>

#include "registry/registry.h"
#include "registry/wide.h"
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

// ---- Values, read exactly ----

// Appends n bytes to a growing buffer; false when memory is short.
bool Append(Text &buffer, const void *bytes, size_t n) {
  char *grown = static_cast<char *>(realloc(buffer.data, buffer.length + n + 1));
  if (!grown) return false;
  if (n) memcpy(grown + buffer.length, bytes, n);
  buffer.data = grown;
  buffer.length += n;
  grown[buffer.length] = '\0';
  return true;
}

DWORD TakeDword(const char *&p) {
  DWORD v;
  memcpy(&v, p, sizeof v);
  p += sizeof v;
  return v;
}

// One value of a packed key: its NUL-terminated name and its bytes.
struct PackedValue {
  const WCHAR *name;
  DWORD nameUnits;
  DWORD type;
  DWORD size;
  const BYTE *data;
};

// Steps through a packed key; false at its end.
bool NextValue(const char *&p, const char *end, PackedValue &v) {
  if (!p || p >= end) return false;
  v.nameUnits = TakeDword(p);
  v.name = reinterpret_cast<const WCHAR *>(p);
  p += (v.nameUnits + 1) * sizeof(WCHAR);
  v.type = TakeDword(p);
  v.size = TakeDword(p);
  v.data = reinterpret_cast<const BYTE *>(p);
  p += v.size + (v.size & 1);
  return true;
}

// A key's values packed one after the other: name length in units, name
// with its NUL, type, size, bytes (the numbers as DWORDs), padded to an
// even length so that every name starts on a WCHAR boundary of the
// buffer. The buffers come from the key's own largest name and value, so
// names and data of any length and any script are kept.
// ERROR_OUTOFMEMORY when memory is short.
LONG PackValues(HKEY key, Text &out) {
  LONG rc = ERROR_MORE_DATA;
  // A value that grows between the sizing and the reading: size again.
  for (int attempt = 0; attempt < 4 && rc == ERROR_MORE_DATA; ++attempt) {
    TextFree(out);
    DWORD count = 0, nameMax = 0, dataMax = 0;
    rc = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &nameMax, &dataMax,
                          nullptr, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    WCHAR *name = static_cast<WCHAR *>(malloc((nameMax + 1) * sizeof(WCHAR)));
    BYTE *data = static_cast<BYTE *>(malloc(dataMax + 1));
    if (!name || !data) rc = ERROR_OUTOFMEMORY;
    for (DWORD i = 0; rc == ERROR_SUCCESS && i < count; ++i) {
      DWORD nameUnits = nameMax + 1, type = REG_NONE, size = dataMax;
      rc = RegEnumValueW(key, i, name, &nameUnits, nullptr, &type, data, &size);
      if (rc == ERROR_NO_MORE_ITEMS) {  // one went meanwhile
        rc = ERROR_SUCCESS;
        break;
      }
      if (rc != ERROR_SUCCESS) break;
      static const char kPad = 0;
      if (!Append(out, &nameUnits, sizeof nameUnits) || !Append(out, name, (nameUnits + 1) * sizeof(WCHAR)) ||
          !Append(out, &type, sizeof type) || !Append(out, &size, sizeof size) || !Append(out, data, size) ||
          !Append(out, &kPad, size & 1))
        rc = ERROR_OUTOFMEMORY;
    }
    free(name);
    free(data);
  }
  if (rc != ERROR_SUCCESS) TextFree(out);
  return rc;
}

// Reads one value exactly: type and bytes. ERROR_FILE_NOT_FOUND when absent.
LONG ReadValue(HKEY key, const WCHAR *name, DWORD &type, Text &data) {
  TextFree(data);
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD size = 0;
    LONG rc = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
    if (rc != ERROR_SUCCESS) return rc;
    char *bytes = static_cast<char *>(malloc(size + 1));
    if (!bytes) return ERROR_OUTOFMEMORY;
    rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE *>(bytes), &size);
    if (rc == ERROR_SUCCESS) {
      bytes[size] = '\0';
      data.data = bytes;
      data.length = size;
      return rc;
    }
    free(bytes);
    if (rc != ERROR_MORE_DATA) return rc;
  }
  return ERROR_MORE_DATA;
}

// Whether the key holds `name` with exactly this type and these bytes.
bool HoldsValue(HKEY key, const WCHAR *name, DWORD type, const void *bytes, DWORD size) {
  DWORD nowType = REG_NONE;
  Text now = {nullptr, 0};
  bool same = ReadValue(key, name, nowType, now) == ERROR_SUCCESS && nowType == type && now.length == size &&
              (size == 0 || memcmp(now.data, bytes, size) == 0);
  TextFree(now);
  return same;
}

// Registry names compare without regard to letter case.
bool SameValueName(const WCHAR *a, int aUnits, const WCHAR *b, int bUnits) {
  return CompareStringOrdinal(a, aUnits, b, bUnits, TRUE) == CSTR_EQUAL;
}

// Finds a value in a packed key by name; false when absent.
bool FindPacked(const Text &packed, const WCHAR *name, PackedValue &found) {
  const char *p = packed.data, *end = packed.data + packed.length;
  int units = static_cast<int>(wcslen(name));
  PackedValue v;
  while (NextValue(p, end, v)) {
    if (SameValueName(v.name, static_cast<int>(v.nameUnits), name, units)) {
      found = v;
      return true;
    }
  }
  return false;
}

// Makes the key's values those packed, in place: a value the key has and
// the packed set lacks goes, a value that differs is written back, and the
// rest is left alone. The key itself (access list, class, subkeys) is not
// touched. Goes on past a value that fails, so that as much as can be is
// put back.
void RestoreValues(HKEY key, const Text &packed) {
  DWORD count = 0, nameMax = 0;
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &nameMax, nullptr,
                       nullptr, nullptr) == ERROR_SUCCESS) {
    WCHAR *name = static_cast<WCHAR *>(malloc((nameMax + 1) * sizeof(WCHAR)));
    // From the last index down, so that a deletion moves no value still to
    // be looked at.
    for (DWORD i = count; name && i-- > 0;) {
      DWORD units = nameMax + 1;
      if (RegEnumValueW(key, i, name, &units, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) continue;
      // Same name in another letter case: made again below as it was.
      PackedValue v;
      if (!FindPacked(packed, name, v) || wcscmp(v.name, name) != 0) RegDeleteValueW(key, name);
    }
    free(name);
  }
  const char *p = packed.data, *end = packed.data + packed.length;
  PackedValue v;
  while (NextValue(p, end, v))
    if (!HoldsValue(key, v.name, v.type, v.data, v.size)) RegSetValueExW(key, v.name, 0, v.type, v.data, v.size);
}

// ---- The journal ----

// Whether a key (or value) that failed to open with this error is not
// there: absent, or named so that none can be (a name of 100 KB, say). One
// that exists but may not be opened answers ERROR_ACCESS_DENIED.
bool NoSuchKey(LONG rc) { return rc != ERROR_SUCCESS && rc != ERROR_ACCESS_DENIED && rc != ERROR_OUTOFMEMORY; }

void FreeEntry(SavedEntry &e) {
  WTextFree(e.name);
  TextFree(e.data);
  WTextFree(e.keyClass);
  TextFree(e.security);
}

// Where a remembered place lies: the data source's key, or the list that
// holds its value.
bool PlacePath(WText &path, bool isKey, const WChar *name) {
  return isKey ? RegPathW(path, kOdbcIniKeyW, name) : WTextSetZ(path, U(kDataSourceListKeyW));
}

// The key's class and access list, for a key that must be made again.
// Both are best effort: a key whose access list may not be read is made
// again with the default one.
LONG RememberKeyItself(HKEY key, SavedEntry &e) {
  DWORD classUnits = 0;
  LONG rc = RegQueryInfoKeyW(key, nullptr, &classUnits, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr);
  if (rc == ERROR_SUCCESS && classUnits) {
    WChar *keyClass = static_cast<WChar *>(malloc((classUnits + 1) * sizeof(WChar)));
    if (!keyClass) return ERROR_OUTOFMEMORY;
    DWORD units = classUnits + 1;
    if (RegQueryInfoKeyW(key, W(keyClass), &units, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr) == ERROR_SUCCESS &&
        units <= classUnits) {
      keyClass[units] = 0;
      e.keyClass.data = keyClass;
      e.keyClass.length = units;
    } else {
      free(keyClass);
    }
  }
  DWORD size = 0;
  if (RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size) == ERROR_INSUFFICIENT_BUFFER && size) {
    char *sd = static_cast<char *>(malloc(size));
    if (!sd) return ERROR_OUTOFMEMORY;
    if (RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, sd, &size) == ERROR_SUCCESS) {
      e.security.data = sd;
      e.security.length = size;
    } else {
      free(sd);
    }
  }
  return ERROR_SUCCESS;
}

// Remembers the key of data source `name` (isKey) or its value in the list.
// A location that cannot even be read is one the request cannot change.
// `itself`: also the key's class and access list, for a key that may be
// deleted (by the request, or by the installer's registration) and must
// then be made again; a key only written to is put back in place.
LONG Remember(Journal &journal, HKEY root, REGSAM view, bool isKey, const WChar *name, bool ours, bool itself) {
  if (journal.count == static_cast<int>(sizeof journal.entries / sizeof journal.entries[0]))
    return ERROR_OUTOFMEMORY;
  SavedEntry e = {};
  e.root = root;
  e.view = view;
  e.isKey = isKey;
  e.ours = ours;
  e.type = REG_NONE;
  if (!WTextSetZ(e.name, name)) return ERROR_OUTOFMEMORY;
  WText path = {nullptr, 0};
  LONG rc = ERROR_OUTOFMEMORY;
  if (PlacePath(path, isKey, name)) {
    RegKey key;
    // READ_CONTROL for the access list; a key that grants only reading
    // values is remembered without it.
    rc = RegOpenKeyExW(root, W(path), 0, (isKey ? KEY_READ : KEY_QUERY_VALUE) | view, key.out());
    if (rc == ERROR_ACCESS_DENIED && isKey) rc = RegOpenKeyExW(root, W(path), 0, KEY_QUERY_VALUE | view, key.out());
    if (rc == ERROR_SUCCESS && isKey) {
      e.existed = true;
      rc = PackValues(key.get(), e.data);
      if (rc == ERROR_SUCCESS && itself) rc = RememberKeyItself(key.get(), e);
    } else if (rc == ERROR_SUCCESS) {
      rc = ReadValue(key.get(), W(name), e.type, e.data);
      e.existed = rc == ERROR_SUCCESS;
    }
    // Absent, or a name no key or value can have: put back as absent.
    if (NoSuchKey(rc)) rc = ERROR_SUCCESS;
  }
  WTextFree(path);
  if (rc != ERROR_SUCCESS) {
    FreeEntry(e);
    return rc;
  }
  journal.entries[journal.count++] = e;
  return ERROR_SUCCESS;
}

bool SamePlace(const SavedEntry &a, const SavedEntry &b) {
  return a.root == b.root && a.view == b.view && a.isKey == b.isKey &&
         SameValueName(W(a.name), static_cast<int>(a.name.length), W(b.name), static_cast<int>(b.name.length));
}

// Makes the key of `e` again as it was: with its class and access list,
// then its values. `itself` says which remembered entry of the same key
// holds its class and access list as first seen.
void MakeKeyAgain(const SavedEntry &e, const SavedEntry &itself) {
  WText path = {nullptr, 0};
  if (!RegPathW(path, kOdbcIniKeyW, WTextStr(e.name))) return;
  SECURITY_ATTRIBUTES sa = {sizeof sa, itself.security.data, FALSE};
  WCHAR *keyClass = itself.keyClass.data ? W(itself.keyClass.data) : nullptr;
  RegKey key;
  LONG rc = RegCreateKeyExW(e.root, W(path), 0, keyClass, 0, KEY_ALL_ACCESS | e.view,
                            itself.security.data ? &sa : nullptr, key.out(), nullptr);
  // The handle that makes the key has the access it asked for, whatever
  // the access list grants later openers. Some platforms make the key with
  // the default access list whatever the descriptor given: it is set again.
  if (rc == ERROR_SUCCESS) {
    RestoreValues(key.get(), e.data);
    if (itself.security.data) RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, itself.security.data);
  }
  WTextFree(path);
}

// Whether the place is now as `e` remembers it (a key: its values only).
bool Unchanged(const SavedEntry &e) {
  WText path = {nullptr, 0};
  if (!PlacePath(path, e.isKey, WTextStr(e.name))) return false;
  RegKey key;
  LONG rc = RegOpenKeyExW(e.root, W(path), 0, KEY_QUERY_VALUE | e.view, key.out());
  WTextFree(path);
  if (!e.isKey) {
    if (rc != ERROR_SUCCESS) return !e.existed && NoSuchKey(rc);
    if (!e.existed) return NoSuchKey(RegQueryValueExW(key.get(), W(e.name), nullptr, nullptr, nullptr, nullptr));
    return HoldsValue(key.get(), W(e.name), e.type, e.data.data, static_cast<DWORD>(e.data.length));
  }
  if (rc != ERROR_SUCCESS) return !e.existed && NoSuchKey(rc);
  if (!e.existed) return false;
  Text now = {nullptr, 0};
  bool same = PackValues(key.get(), now) == ERROR_SUCCESS && now.length == e.data.length &&
              (now.length == 0 || memcmp(now.data, e.data.data, now.length) == 0);
  TextFree(now);
  return same;
}

void PutBackEntry(const Journal &journal, int index) {
  const SavedEntry &e = journal.entries[index];
  const WCHAR *name = W(e.name);
  if (!e.isKey) {
    RegKey list;
    if (RegOpenKeyExW(e.root, kDataSourceListKeyW, 0, KEY_QUERY_VALUE | KEY_SET_VALUE | e.view, list.out()) !=
        ERROR_SUCCESS)
      return;
    if (!e.existed)
      RegDeleteValueW(list.get(), name);
    else if (!HoldsValue(list.get(), name, e.type, e.data.data, static_cast<DWORD>(e.data.length)))
      RegSetValueExW(list.get(), name, 0, e.type, reinterpret_cast<const BYTE *>(e.data.data),
                     static_cast<DWORD>(e.data.length));
    return;
  }
  // Deleting a key needs no write access to its parent.
  RegKey parent;
  bool parentOpen = RegOpenKeyExW(e.root, kOdbcIniKeyW, 0, KEY_READ | e.view, parent.out()) == ERROR_SUCCESS;
  if (!e.existed) {
    // The request made it: it goes, unless it has gained subkeys.
    if (parentOpen) RegDeleteKeyW(parent.get(), name);
    return;
  }
  // The first remembered state of this key holds its class and access list
  // as the request found them.
  int first = index;
  for (int i = 0; i < index; ++i)
    if (journal.entries[i].existed && SamePlace(journal.entries[i], e)) {
      first = i;
      break;
    }
  const SavedEntry &itself = journal.entries[first];
  WText path = {nullptr, 0};
  if (!RegPathW(path, kOdbcIniKeyW, WTextStr(e.name))) return;
  RegKey key;
  LONG rc = RegOpenKeyExW(e.root, W(path), 0, KEY_QUERY_VALUE | KEY_SET_VALUE | e.view, key.out());
  WTextFree(path);
  if (rc == ERROR_SUCCESS && !e.removed) {
    RestoreValues(key.get(), e.data);
    return;
  }
  // Gone, or deleted by the request and made again under another letter
  // case (a rename in case only): it is made anew as it was.
  key.Close();
  if (rc == ERROR_SUCCESS && parentOpen) RegDeleteKeyW(parent.get(), name);
  if (rc == ERROR_SUCCESS || NoSuchKey(rc)) MakeKeyAgain(e, itself);
}

// ---- Checks and changes ----

// The keys one request works on, made before anything is changed, so that
// a shortage of memory stops the request whole.
enum { kDriverKey, kNameKey, kInitialKey, kKeyCount };

struct Keys {
  WText path[kKeyCount] = {};
  ~Keys() {
    for (WText &k : path) WTextFree(k);
  }
};

bool MakeKeys(Keys &keys, const WChar *driver, const WChar *name, const WChar *initial) {
  return RegPathW(keys.path[kDriverKey], kOdbcInstKeyW, driver ? driver : u"") &&
         RegPathW(keys.path[kNameKey], kOdbcIniKeyW, name) && RegPathW(keys.path[kInitialKey], kOdbcIniKeyW, initial);
}

// The driver's registration must open for reading in the view; nothing is
// read from it. Reading is all a standard user may do there. An empty
// description would name the whole ODBCINST.INI key.
bool DriverRegistered(const WChar *driver, const WText &driverKey, REGSAM view) {
  if (!driver || !*driver) return false;
  RegKey key;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, W(driverKey), 0, KEY_QUERY_VALUE | view, key.out()) == ERROR_SUCCESS;
}

// The registry compares names by their upper case, for the whole character
// set and the same way in every locale. The invariant locale without
// linguistic casing upper-cases so (no Turkish dotted or dotless i), and is
// KERNEL32's: a request without a window loads no window library for it.
WChar RegistryUpper(WChar c) {
  WCHAR in = static_cast<WCHAR>(c), out = in;
  if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, &in, 1, &out, 1) != 1) out = in;
  return static_cast<WChar>(out);
}

// Whether two data source names name the same registry key.
bool SameRegistryName(const WChar *x, const WChar *y) {
  size_t n = WLength(x);
  if (n != WLength(y)) return false;
  for (size_t i = 0; i < n; ++i)
    if (x[i] != y[i] && RegistryUpper(x[i]) != RegistryUpper(y[i])) return false;
  return true;
}

// Whether the ANSI code page holds the name exactly: it goes there and
// back unchanged, with no best-fit character ('α' as 'a') on the way.
bool FitsCodePage(const WChar *name) {
  int n = 0;
  bool ascii = true;
  for (; name[n]; ++n) ascii = ascii && name[n] < 0x80;
  // Every ANSI code page holds ASCII as it is.
  if (ascii) return true;
  UINT acp = GetACP();
  // Best-fit mappings are what is refused; UTF-7 and UTF-8 take no flags.
  DWORD flags = acp == CP_UTF7 || acp == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  int bytes = WideCharToMultiByte(CP_ACP, flags, W(name), n, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return false;
  char *narrow = static_cast<char *>(malloc(bytes));
  WCHAR *back = static_cast<WCHAR *>(malloc((n + 1) * sizeof(WCHAR)));
  bool fits = narrow && back && WideCharToMultiByte(CP_ACP, flags, W(name), n, narrow, bytes, nullptr, nullptr) == bytes &&
              MultiByteToWideChar(CP_ACP, 0, narrow, bytes, back, n + 1) == n &&
              memcmp(back, name, n * sizeof(WCHAR)) == 0;
  free(narrow);
  free(back);
  return fits;
}

bool ListHas(HKEY root, REGSAM view, const WChar *name) {
  RegKey list;
  return RegOpenKeyExW(root, kDataSourceListKeyW, 0, KEY_QUERY_VALUE | view, list.out()) == ERROR_SUCCESS &&
         RegQueryValueExW(list.get(), W(name), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

// Whether `name`'s key (at `path`) and list value can go in this view: an
// absent key can; a present one must open with the access, under a root
// that opens with it, and have no subkeys (the registry deletes only a
// key without subkeys); a listed name needs the list to open with it.
LONG CheckRemove(HKEY root, REGSAM access, const WChar *name, const WText &path, bool listValue) {
  RegKey key;
  LONG rc = RegOpenKeyExW(root, W(path), 0, access, key.out());
  if (rc == ERROR_SUCCESS) {
    DWORD subkeys = 0;
    rc = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr, nullptr);
    if (rc == ERROR_SUCCESS && subkeys) rc = ERROR_ACCESS_DENIED;
    RegKey parent;
    if (rc == ERROR_SUCCESS) rc = RegOpenKeyExW(root, kOdbcIniKeyW, 0, access, parent.out());
  } else if (NoSuchKey(rc)) {
    rc = ERROR_SUCCESS;
  }
  if (rc == ERROR_SUCCESS && listValue && ListHas(root, access & KEY_WOW64_64KEY, name)) {
    RegKey list;
    rc = RegOpenKeyExW(root, kDataSourceListKeyW, 0, access, list.out());
  }
  return rc;
}

// Whether the key at `path` can be written in this view: opened with the
// access when it exists, else made under the nearest key above it.
LONG CheckWrite(HKEY root, REGSAM access, const WText &path) {
  RegKey key;
  LONG rc = RegOpenKeyExW(root, W(path), 0, access, key.out());
  static const WCHAR *const kAbove[] = {kOdbcIniKeyW, L"Software\\ODBC", L"Software"};
  for (const WCHAR *above : kAbove) {
    if (rc != ERROR_FILE_NOT_FOUND) break;
    rc = RegOpenKeyExW(root, above, 0, KEY_CREATE_SUB_KEY | (access & KEY_WOW64_64KEY), key.out());
  }
  return rc;
}

// The newest remembered entry of the place, or null.
SavedEntry *Latest(Journal &journal, HKEY root, REGSAM view, bool isKey, const WChar *name) {
  for (int i = journal.count; i-- > 0;) {
    SavedEntry &e = journal.entries[i];
    if (e.root == root && e.view == view && e.isKey == isKey && WSame(WTextStr(e.name), name)) return &e;
  }
  return nullptr;
}

// The first remembered entry of the key: as the request found it (a name
// in another letter case is the same key).
const SavedEntry *Earliest(const Journal &journal, HKEY root, REGSAM view, const WChar *name) {
  int units = static_cast<int>(WLength(name));
  for (int i = 0; i < journal.count; ++i) {
    const SavedEntry &e = journal.entries[i];
    if (e.root == root && e.view == view && e.isKey &&
        SameValueName(W(e.name), static_cast<int>(e.name.length), W(name), units))
      return &e;
  }
  return nullptr;
}

// Removes `name`'s key (at `path`) and, unless keepListValue, its list
// value. Absent ones are gone already.
LONG RemoveEntries(Journal &journal, HKEY root, REGSAM access, const WChar *name, const WText &path,
                   bool keepListValue) {
  RegKey parent;
  LONG rc = RegOpenKeyExW(root, kOdbcIniKeyW, 0, access, parent.out());
  if (rc == ERROR_SUCCESS) rc = RegDeleteKeyW(parent.get(), W(name));
  if (rc == ERROR_SUCCESS) {
    if (SavedEntry *e = Latest(journal, root, access & KEY_WOW64_64KEY, true, name)) e->removed = true;
  } else {
    RegKey probe;
    if (NoSuchKey(RegOpenKeyExW(root, W(path), 0, KEY_READ | (access & KEY_WOW64_64KEY), probe.out())))
      rc = ERROR_SUCCESS;
  }
  if (rc != ERROR_SUCCESS || keepListValue || !ListHas(root, access & KEY_WOW64_64KEY, name)) return rc;
  RegKey list;
  rc = RegOpenKeyExW(root, kDataSourceListKeyW, 0, access, list.out());
  if (rc == ERROR_SUCCESS) rc = RegDeleteValueW(list.get(), W(name));
  return rc;
}

LONG WriteText(HKEY key, const WCHAR *valueName, const WChar *text) {
  size_t n = WLength(text);
  return RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE *>(text ? text : u""),
                        static_cast<DWORD>((n + 1) * sizeof(WChar)));
}

// Writes values[1]'s key: "Driver", and "Description", "DBQ" and "CTX" as
// asked. A configure keeps a value it was not given as the key held it
// when the request began (`found`, the initial name's key in this view):
// written back exactly, which for the same key leaves it as it was, and
// for a rename copies it, whatever its type. Where no such key was found
// the request's own text is written.
LONG WriteEntries(HKEY root, REGSAM access, const AttributeSet &a, const WText &path, const SavedEntry *found) {
  RegKey key;
  // An existing key is opened, not made again: creating one that exists
  // may clear its class on some platforms.
  LONG rc = RegOpenKeyExW(root, W(path), 0, access, key.out());
  if (rc == ERROR_FILE_NOT_FOUND) rc = RegCreateKeyExW(root, W(path), 0, nullptr, 0, access, nullptr, key.out(), nullptr);
  static const WCHAR *const kNames[] = {nullptr, nullptr, L"Description", L"DBQ", L"CTX"};
  const bool keep = found && found->existed && ClassifyRequest(a.request) == kRequestConfigure;
  for (int i = kAttrDescription; rc == ERROR_SUCCESS && i <= kAttrCtx; ++i) {
    PackedValue v;
    if (!keep || a.given[i])
      rc = WriteText(key.get(), kNames[i], WTextStr(a.values[i]));
    else if (FindPacked(found->data, kNames[i], v) && !HoldsValue(key.get(), kNames[i], v.type, v.data, v.size))
      rc = RegSetValueExW(key.get(), kNames[i], 0, v.type, v.data, v.size);
  }
  if (rc == ERROR_SUCCESS) rc = WriteText(key.get(), L"Driver", a.driver);
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
  bool caseOnly = false;  // a rename in letter case only
  StorageTarget targets[2] = {};
  int count = 0;
  Keys keys;
};

// Plans the request for the name `name` and checks that every change can be
// made. A failure outcome when it cannot (nothing changed); ok otherwise.
StoreOutcome Prepare(const AttributeSet &a, const WChar *name, bool dialogShown, Prepared &p) {
  const WChar *initial = WTextStr(a.initialName);
  p.plan = PlanStorage(a.request, initial, name, dialogShown, kNameRules);
  if (!p.plan.act) return {p.plan.error == 0, p.plan.error, p.plan.message};
  if (!g_sys.SQLGetConfigMode(&p.mode)) return {false, kErrorRequestFailed, "Could not read the configuration mode"};
  p.root = kRegistryRoots[RootIndexForMode(p.mode)];
  // A rename in letter case only: registry value names do not tell case
  // apart, so the old name's list value is the one the dialog has just
  // made for the new name, and stays. The key is made anew.
  p.caseOnly = p.plan.write && p.plan.removeInitial && SameRegistryName(initial, name);
  if (!MakeKeys(p.keys, a.driver, name, initial)) return kOutOfMemory;
  const bool driverFound[2] = {DriverRegistered(a.driver, p.keys.path[kDriverKey], 0),
                               DriverRegistered(a.driver, p.keys.path[kDriverKey], KEY_WOW64_64KEY)};
  p.count = PlanTargets(p.plan, RootIndexForMode(p.mode), driverFound, p.targets);
  if (p.plan.write && !p.count) return {false, kErrorComponentNotFound, "Driver not registered"};
  for (int i = 0; i < p.count; ++i) {
    const StorageTarget &t = p.targets[i];
    REGSAM access = KEY_ALL_ACCESS | t.view;
    LONG rc =
        t.remove ? CheckRemove(p.root, access, initial, p.keys.path[kInitialKey], !p.caseOnly) : ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) return Failure(true, rc);
    rc = t.write ? CheckWrite(p.root, access, p.keys.path[kNameKey]) : ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) return Failure(false, rc);
  }
  return {};
}

// Deletes the file data source of `name` from the installer's
// "DefaultDSNDir", read under ODBC_BOTH_DSN; `mode` is restored after.
void DeleteFileDataSource(const WChar *name, WORD mode) {
  g_sys.SQLSetConfigMode(ODBC_BOTH_DSN);
  WChar directory[256];
  ReadProfileValue(u"ODBC File DSN", u"DefaultDSNDir", directory);
  g_sys.SQLSetConfigMode(mode);
  size_t d = WLength(directory), n = WLength(name);
  // A file name has at most 255 characters: a longer one names no file.
  if (!d || n > 255) return;
  WCHAR file[256 + 1 + 255 + 5];
  memcpy(file, directory, d * sizeof(WCHAR));
  file[d] = L'\\';
  memcpy(file + d + 1, name, n * sizeof(WCHAR));
  memcpy(file + d + 1 + n, L".DSN", 5 * sizeof(WCHAR));
  DeleteFileW(file);
}

}  // namespace

const NameRules kNameRules = {RegistryUpper, FitsCodePage};

void PutBack(Journal &journal) {
  for (int i = journal.count; i-- > 0;) PutBackEntry(journal, i);
  Forget(journal);
}

void Forget(Journal &journal) {
  for (int i = 0; i < journal.count; ++i) FreeEntry(journal.entries[i]);
  journal.count = 0;
}

void ReadProfileValue(const WChar *section, const WChar *entry, WChar (&out)[256]) {
  out[0] = 0;
  g_sys.SQLGetPrivateProfileStringW(W(section), W(entry), L"", W(out), 256, L"odbc.ini");
  // An entry list (null entry) ends with a double NUL; a full buffer may
  // come back without any terminator.
  out[255] = 0;
}

Registration PrepareRegistration(const AttributeSet &a, const WChar *name) {
  Prepared p;
  StoreOutcome out = Prepare(a, name, true, p);
  if (!out.ok || !p.plan.act) return out.error == kErrorOutOfMemory ? kRegistrationOutOfMemory : kCannotStore;
  // The request's own places, and the others an installer is known to
  // write whatever the mode; SettleRegistration drops those it left alone.
  const struct {
    HKEY root;
    REGSAM view;
  } kPlaces[] = {{HKEY_CURRENT_USER, 0}, {HKEY_LOCAL_MACHINE, 0}, {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY}};
  for (const auto &place : kPlaces) {
    bool ours = false;
    for (int i = 0; i < p.count; ++i)
      ours = ours || (place.root == p.root && (p.root == HKEY_CURRENT_USER || place.view == p.targets[i].view));
    static const bool kIsKey[] = {true, false};
    for (bool isKey : kIsKey) {
      // A place this process cannot read, it cannot change either.
      LONG rc = Remember(*a.journal, place.root, place.view, isKey, name, ours, true);
      if (rc == ERROR_OUTOFMEMORY) return kRegistrationOutOfMemory;
    }
  }
  return kCanRegister;
}

void SettleRegistration(Journal &journal) {
  int kept = 0;
  for (int i = 0; i < journal.count; ++i) {
    SavedEntry &e = journal.entries[i];
    if (!e.ours && Unchanged(e))
      FreeEntry(e);
    else
      journal.entries[kept++] = e;
  }
  journal.count = kept;
}

StoreOutcome StoreDataSource(const AttributeSet &a, bool dialogShown) {
  const WChar *name = WTextStr(a.values[kAttrDsn]), *initial = WTextStr(a.initialName);
  Prepared p;
  StoreOutcome out = Prepare(a, name, dialogShown, p);
  if (!out.ok || !p.plan.act) return out;

  // Everything the changes touch, as it is now: the journal puts it back.
  for (int i = 0; i < p.count; ++i) {
    const StorageTarget &t = p.targets[i];
    LONG rc = ERROR_SUCCESS;
    if (t.remove) {
      rc = Remember(*a.journal, p.root, t.view, true, initial, true, true);
      if (rc == ERROR_SUCCESS && !p.caseOnly) rc = Remember(*a.journal, p.root, t.view, false, initial, true, false);
    }
    if (rc == ERROR_SUCCESS && t.write) rc = Remember(*a.journal, p.root, t.view, true, name, true, false);
    if (rc != ERROR_SUCCESS) return Failure(t.remove, rc);
  }
  for (int i = 0; i < p.count; ++i) {
    const StorageTarget &t = p.targets[i];
    REGSAM access = KEY_ALL_ACCESS | t.view;
    LONG rc = t.remove ? RemoveEntries(*a.journal, p.root, access, initial, p.keys.path[kInitialKey], p.caseOnly)
                       : ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) return Failure(true, rc);
    // The key the configure found, before the installer's registration
    // (which leaves a bare "Driver") and before this request's changes.
    const SavedEntry *found = Earliest(*a.journal, p.root, t.view, *initial ? initial : name);
    rc = t.write ? WriteEntries(p.root, access, a, p.keys.path[kNameKey], found) : ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) return Failure(false, rc);
  }

  // The file data sources come last and never fail the request: a standard
  // user may not write the installer's folder, and some installers have no
  // file data sources at all. Their results are not ours to judge.
  if (p.plan.removeInitial && IsFileName(initial)) DeleteFileDataSource(initial, p.mode);
  if (p.plan.write && IsFileName(name)) g_sys.SQLWriteFileDSNW(W(name), L"ODBC", L"DSN", W(name));
  return {};
}

}  // namespace kvdrm
