#include "setup/storage.h"

#include <odbcinst.h>

#include "registry/registry_std.h"
#include "setup/attributes.h"

namespace kvdrm {

static_assert(kModeBoth == ODBC_BOTH_DSN && kModeSystem == ODBC_SYSTEM_DSN, "installer modes");
static_assert(kErrorComponentNotFound == ODBC_ERROR_COMPONENT_NOT_FOUND &&
                  kErrorInvalidName == ODBC_ERROR_INVALID_NAME &&
                  kErrorRequestFailed == ODBC_ERROR_REQUEST_FAILED && kErrorOutOfMemory == ODBC_ERROR_OUT_OF_MEM,
              "installer error codes");
static_assert(kPassAccess[0] == KEY_ALL_ACCESS && kPassAccess[1] == (KEY_ALL_ACCESS | KEY_WOW64_64KEY),
              "pass access masks");

namespace {

const char kOdbcIni[] = "Software\\ODBC\\ODBC.INI";
const char kDataSourceList[] = "Software\\ODBC\\ODBC.INI\\ODBC Data Sources";
const char kDriverKeys[] = "Software\\ODBC\\ODBCINST.INI\\";

// The driver's registration must open for reading in the pass's view;
// nothing is read from it. Reading is all a standard user may do there.
// An empty description would name the whole ODBCINST.INI key.
bool DriverRegistered(REGSAM access) {
  const char *driver = g_attributes.driver;
  if (!driver || !*driver) return false;
  RegKey key;
  std::string path = std::string(kDriverKeys) + driver;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE | (access & KEY_WOW64_64KEY),
                       key.out()) == ERROR_SUCCESS;
}

// Whether two data source names name the same registry key: the registry
// compares names without regard to letter case (of the whole character
// set, not only A to Z).
bool SameRegistryName(const std::string &x, const std::string &y) {
  if (x.size() != y.size()) return false;
  if (x == y) return true;
  auto wide = [](const std::string &s) {
    std::wstring w(s.size(), L'\0');
    int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), &w[0], static_cast<int>(w.size()));
    w.resize(n > 0 ? n : 0);
    if (!w.empty()) CharUpperBuffW(&w[0], static_cast<DWORD>(w.size()));
    return w;
  };
  return wide(x) == wide(y);
}

// Creates (or opens) the data source key of `name` with the pass's mask and
// closes it again: the check that a rename can write before it removes.
LONG ProbeDataSourceKey(HKEY root, REGSAM access, const std::string &name, bool *created) {
  RegKey key;
  DWORD disposition = 0;
  std::string path = std::string(kOdbcIni) + "\\" + name;
  LONG rc = RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, access, nullptr, key.out(), &disposition);
  *created = rc == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY;
  return rc;
}

// Takes back a key that ProbeDataSourceKey made when the rename went no
// further. Deleting a key needs no write access to its parent.
void DeleteNewDataSourceKey(HKEY root, REGSAM access, const std::string &name) {
  RegKey parent;
  if (RegOpenKeyExA(root, kOdbcIni, 0, KEY_READ | (access & KEY_WOW64_64KEY), parent.out()) == ERROR_SUCCESS)
    RegDeleteKeyA(parent.get(), name.c_str());
}

}  // namespace

bool CanStoreDataSource(const std::string &name) {
  WORD mode = ODBC_BOTH_DSN;
  if (!SQLGetConfigMode(&mode)) return false;
  HKEY root = kRegistryRoots[RootIndexForMode(mode)];
  for (REGSAM access : kPassAccess) {
    bool created = false;
    if (!DriverRegistered(access) || ProbeDataSourceKey(root, access, name, &created) != ERROR_SUCCESS) continue;
    if (created) DeleteNewDataSourceKey(root, access, name);
    return true;
  }
  return false;
}

LONG RemoveDataSourceEntries(HKEY root, REGSAM access, const std::string &name, WORD mode, bool keepListValue) {
  // The key goes first: when it cannot be deleted, the list entry and the
  // file data source stay too, so that no half of a data source is left.
  // A key that is not there (or whose name no key can have) is gone.
  RegKey list;
  LONG rc = RegOpenKeyExA(root, kOdbcIni, 0, access, list.out());
  if (rc == ERROR_SUCCESS) rc = RegDeleteKeyA(list.get(), name.c_str());
  list.Close();
  if (rc != ERROR_SUCCESS) {
    RegKey probe;
    LONG exists = RegOpenKeyExA(root, (std::string(kOdbcIni) + "\\" + name).c_str(), 0,
                                KEY_READ | (access & KEY_WOW64_64KEY), probe.out());
    if (exists == ERROR_SUCCESS || exists == ERROR_ACCESS_DENIED) return rc;
  }

  SQLSetConfigMode(ODBC_BOTH_DSN);
  std::string directory = ReadProfileValue("ODBC File DSN", "DefaultDSNDir");
  SQLSetConfigMode(mode);
  if (!directory.empty() && HasFileDataSource(name)) DeleteFileA((directory + "\\" + name + ".DSN").c_str());

  RegKey names;
  if (!keepListValue && RegOpenKeyExA(root, kDataSourceList, 0, access, names.out()) == ERROR_SUCCESS)
    RegDeleteValueA(names.get(), name.c_str());
  return ERROR_SUCCESS;
}

LONG WriteDataSourceEntries(HKEY root, REGSAM access) {
  const AttributeSet &a = g_attributes;
  const std::string &name = a.values[kAttrDsn];
  RegKey key;
  std::string path = std::string(kOdbcIni) + "\\" + name;
  LONG rc = RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, access, nullptr, key.out(), nullptr);
  if (rc == ERROR_SUCCESS) {
    // A failed value does not stop the later ones.
    const char *const names[4] = {"Description", "DBQ", "CTX", "Driver"};
    const std::string texts[4] = {a.values[kAttrDescription], a.values[kAttrDbq], a.values[kAttrCtx],
                                  a.driver ? a.driver : ""};
    for (int i = 0; i < 4; ++i) {
      LONG v = WriteRegString(key.get(), names[i], texts[i]);
      if (rc == ERROR_SUCCESS) rc = v;
    }
  }
  key.Close();
  // The installer places the file; its result is not ours to judge (some
  // installers implement no file data sources at all).
  if (HasFileDataSource(name)) SQLWriteFileDSN(name.c_str(), "ODBC", "DSN", name.c_str());
  return rc;
}

StoreOutcome StoreDataSource(uint32_t request, bool dialogShown) {
  const AttributeSet &a = g_attributes;
  StoragePlan plan = PlanStorage(request, a.initialName, a.values[kAttrDsn], dialogShown, AcpLeadByte);
  PassResult results[2];
  if (!plan.act) return JudgePasses(plan, results);

  WORD mode = ODBC_BOTH_DSN;
  if (!SQLGetConfigMode(&mode)) {
    StoreOutcome out;
    out.ok = false;
    out.error = kErrorRequestFailed;
    out.message = "Could not read the configuration mode";
    return out;
  }
  HKEY root = kRegistryRoots[RootIndexForMode(mode)];
  for (int pass = 0; pass < 2; ++pass) {
    REGSAM access = kPassAccess[pass];
    PassResult &r = results[pass];
    // Checked before anything is removed, so that a rename never deletes
    // the old entries in a view where the new ones cannot be written. A
    // removal needs no driver.
    r.driverFound = DriverRegistered(access);
    if (plan.write && !r.driverFound) continue;
    if (plan.removeInitial) {
      const std::string &name = a.values[kAttrDsn];
      // A rename in letter case only: registry value names do not tell case
      // apart, so the old name's list value is the one the dialog has just
      // made for the new name, and stays. Key and file are made anew.
      bool caseOnly = plan.write && SameRegistryName(a.initialName, name);
      bool created = false;
      LONG rc = plan.write ? ProbeDataSourceKey(root, access, name, &created) : ERROR_SUCCESS;
      // The old entries go only where the new key can be made.
      if (rc == ERROR_SUCCESS) {
        rc = RemoveDataSourceEntries(root, access, a.initialName, mode, caseOnly);
        if (rc != ERROR_SUCCESS && created) DeleteNewDataSourceKey(root, access, name);
      }
      if (rc != ERROR_SUCCESS) {
        r.removeFailed = true;
        r.denied = rc == ERROR_ACCESS_DENIED;
        continue;
      }
    }
    if (plan.write) {
      LONG rc = WriteDataSourceEntries(root, access);
      r.written = rc == ERROR_SUCCESS;
      r.denied = rc == ERROR_ACCESS_DENIED;
    }
  }
  return JudgePasses(plan, results);
}

}  // namespace kvdrm
