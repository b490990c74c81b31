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

// The keys one request works on, made before anything is changed, so that
// a shortage of memory stops the request whole.
enum { kDriverKey, kNameKey, kInitialKey, kKeyCount };

void FreeKeys(Text (&keys)[kKeyCount]) {
  for (Text &k : keys) TextFree(k);
}

bool MakeKeys(Text (&keys)[kKeyCount], const char *driver, const char *name, const char *initial) {
  if (RegPath(keys[kDriverKey], kOdbcInstKey, driver ? driver : "") && RegPath(keys[kNameKey], kOdbcIniKey, name) &&
      RegPath(keys[kInitialKey], kOdbcIniKey, initial))
    return true;
  FreeKeys(keys);
  return false;
}

// The driver's registration must open for reading in the pass's view;
// nothing is read from it. Reading is all a standard user may do there.
// An empty description would name the whole ODBCINST.INI key.
bool DriverRegistered(const char *driver, const Text &driverKey, REGSAM access) {
  if (!driver || !*driver) return false;
  RegKey key;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, TextStr(driverKey), 0, KEY_QUERY_VALUE | (access & KEY_WOW64_64KEY),
                       key.out()) == ERROR_SUCCESS;
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

// Creates (or opens) a data source key with the pass's mask and closes it
// again: the check that a rename can write before it removes.
LONG ProbeDataSourceKey(HKEY root, REGSAM access, const Text &path, bool *created) {
  RegKey key;
  DWORD disposition = 0;
  LONG rc = RegCreateKeyExA(root, TextStr(path), 0, nullptr, 0, access, nullptr, key.out(), &disposition);
  *created = rc == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY;
  return rc;
}

// Takes back a key that ProbeDataSourceKey made when the rename went no
// further. Deleting a key needs no write access to its parent.
void DeleteNewDataSourceKey(HKEY root, REGSAM access, const char *name) {
  RegKey parent;
  if (RegOpenKeyExA(root, kOdbcIniKey, 0, KEY_READ | (access & KEY_WOW64_64KEY), parent.out()) == ERROR_SUCCESS)
    RegDeleteKeyA(parent.get(), name);
}

// One pass's removal of `name` (whose key is `path`): its key, then its file
// data source (in the installer's "DefaultDSNDir", read under ODBC_BOTH_DSN,
// then `mode` is restored) and its "ODBC Data Sources" value. The
// registry's error, with nothing removed, when the key exists but cannot be
// deleted; ERROR_SUCCESS when it is gone. keepListValue leaves the list
// value (a rename in letter case only, whose new list value is this one).
LONG RemoveDataSourceEntries(HKEY root, REGSAM access, const char *name, const Text &path, WORD mode,
                             bool keepListValue) {
  // The key goes first: when it cannot be deleted, the list entry and the
  // file data source stay too, so that no half of a data source is left.
  // A key that is not there (or whose name no key can have) is gone.
  RegKey list;
  LONG rc = RegOpenKeyExA(root, kOdbcIniKey, 0, access, list.out());
  if (rc == ERROR_SUCCESS) rc = RegDeleteKeyA(list.get(), name);
  list.Close();
  if (rc != ERROR_SUCCESS) {
    RegKey probe;
    LONG exists = RegOpenKeyExA(root, TextStr(path), 0, KEY_READ | (access & KEY_WOW64_64KEY), probe.out());
    if (exists == ERROR_SUCCESS || exists == ERROR_ACCESS_DENIED) return rc;
  }

  g_sys.SQLSetConfigMode(ODBC_BOTH_DSN);
  char directory[256], file[1024];
  ReadProfileValue("ODBC File DSN", "DefaultDSNDir", directory);
  g_sys.SQLSetConfigMode(mode);
  // A file name has at most 255 characters: a path that does not fit here
  // names no file there could be.
  int n = _snprintf(file, sizeof file, "%s\\%s.DSN", directory, name);
  if (*directory && HasFileDataSource(name) && n >= 0 && n < static_cast<int>(sizeof file)) DeleteFileA(file);

  RegKey names;
  if (!keepListValue && RegOpenKeyExA(root, kDataSourceListKey, 0, access, names.out()) == ERROR_SUCCESS)
    RegDeleteValueA(names.get(), name);
  return ERROR_SUCCESS;
}

// One pass's write of values[1]: the key with "Description", "DBQ", "CTX"
// and "Driver", then the file data source. ERROR_SUCCESS when the key was
// created and all four values were written, else the first error.
LONG WriteDataSourceEntries(HKEY root, REGSAM access, const AttributeSet &a, const Text &path) {
  const char *name = TextStr(a.values[kAttrDsn]);
  RegKey key;
  LONG rc = RegCreateKeyExA(root, TextStr(path), 0, nullptr, 0, access, nullptr, key.out(), nullptr);
  if (rc == ERROR_SUCCESS) {
    // A failed value does not stop the later ones.
    const char *const names[4] = {"Description", "DBQ", "CTX", "Driver"};
    const char *const texts[4] = {TextStr(a.values[kAttrDescription]), TextStr(a.values[kAttrDbq]),
                                  TextStr(a.values[kAttrCtx]), a.driver ? a.driver : ""};
    for (int i = 0; i < 4; ++i) {
      LONG v = WriteRegString(key.get(), names[i], texts[i], strlen(texts[i]));
      if (rc == ERROR_SUCCESS) rc = v;
    }
  }
  key.Close();
  // The installer places the file; its result is not ours to judge (some
  // installers implement no file data sources at all).
  if (HasFileDataSource(name)) g_sys.SQLWriteFileDSN(name, "ODBC", "DSN", name);
  return rc;
}

}  // namespace

void ReadProfileValue(const char *section, const char *entry, char (&out)[256]) {
  out[0] = '\0';
  g_sys.SQLGetPrivateProfileString(section, entry, "", out, sizeof out, "odbc.ini");
  // An entry list (null entry) ends with a double NUL; a full buffer may
  // come back without any terminator.
  out[sizeof out - 1] = '\0';
}

bool CanStoreDataSource(const char *driver, const char *name) {
  WORD mode = ODBC_BOTH_DSN;
  if (!g_sys.SQLGetConfigMode(&mode)) return false;
  HKEY root = kRegistryRoots[RootIndexForMode(mode)];
  Text keys[kKeyCount] = {};
  if (!MakeKeys(keys, driver, name, "")) return false;
  bool can = false;
  for (REGSAM access : kPassAccess) {
    bool created = false;
    if (!DriverRegistered(driver, keys[kDriverKey], access) ||
        ProbeDataSourceKey(root, access, keys[kNameKey], &created) != ERROR_SUCCESS)
      continue;
    if (created) DeleteNewDataSourceKey(root, access, name);
    can = true;
    break;
  }
  FreeKeys(keys);
  return can;
}

StoreOutcome StoreDataSource(const AttributeSet &a, uint32_t request, bool dialogShown) {
  const char *name = TextStr(a.values[kAttrDsn]), *initial = TextStr(a.initialName);
  StoragePlan plan = PlanStorage(request, initial, name, dialogShown, AcpLeadByte);
  PassResult results[2];
  if (!plan.act) return JudgePasses(plan, results);

  WORD mode = ODBC_BOTH_DSN;
  if (!g_sys.SQLGetConfigMode(&mode)) return {false, kErrorRequestFailed, "Could not read the configuration mode"};
  // A rename in letter case only: registry value names do not tell case
  // apart, so the old name's list value is the one the dialog has just
  // made for the new name, and stays. Key and file are made anew.
  int caseOnly = plan.write && plan.removeInitial ? SameRegistryName(a.initialName, a.values[kAttrDsn]) : 0;
  Text keys[kKeyCount] = {};
  if (caseOnly < 0 || !MakeKeys(keys, a.driver, name, initial)) return kOutOfMemory;
  HKEY root = kRegistryRoots[RootIndexForMode(mode)];
  for (int pass = 0; pass < 2; ++pass) {
    REGSAM access = kPassAccess[pass];
    PassResult &r = results[pass];
    // Checked before anything is removed, so that a rename never deletes
    // the old entries in a view where the new ones cannot be written. A
    // removal needs no driver.
    r.driverFound = DriverRegistered(a.driver, keys[kDriverKey], access);
    if (plan.write && !r.driverFound) continue;
    if (plan.removeInitial) {
      bool created = false;
      LONG rc = plan.write ? ProbeDataSourceKey(root, access, keys[kNameKey], &created) : ERROR_SUCCESS;
      // The old entries go only where the new key can be made.
      if (rc == ERROR_SUCCESS) {
        rc = RemoveDataSourceEntries(root, access, initial, keys[kInitialKey], mode, caseOnly == 1);
        if (rc != ERROR_SUCCESS && created) DeleteNewDataSourceKey(root, access, name);
      }
      if (rc != ERROR_SUCCESS) {
        r.removeFailed = true;
        r.denied = rc == ERROR_ACCESS_DENIED;
        continue;
      }
    }
    if (plan.write) {
      LONG rc = WriteDataSourceEntries(root, access, a, keys[kNameKey]);
      r.written = rc == ERROR_SUCCESS;
      r.denied = rc == ERROR_ACCESS_DENIED;
    }
  }
  FreeKeys(keys);
  return JudgePasses(plan, results);
}

}  // namespace kvdrm
