// Helpers shared by the Windows-side tests.
#pragma once
#include <windows.h>

#include <string>

#include "proxy/arity.h"
#include "registry/registry.h"
#include "tests/manager/test_manager.h"

namespace testlib {

// Windows path of a file or folder of the build tree's bin folder, e.g.
// BinPath("mgr\\ok\\") for the folder of the "ok" test manager.
std::string BinPath(const std::string &relative);
std::string ManagerDir(const std::string &variant);  // with trailing backslash

// A name unique to this process, for registry keys the test creates:
// OwnPrefix() + stem + a number. The prefix ("KvdrmTest-<process id>-")
// tells this program's names from those of test programs running beside it.
std::string UniqueName(const std::string &stem);
const std::string &OwnPrefix();

// Creates root\Software\ODBC\ODBC.INI\<name> (in the view `view`, 0 or
// KEY_WOW64_64KEY) and removes it with everything below when destroyed.
class ScopedKey {
 public:
  ScopedKey(HKEY root, const std::string &path, REGSAM view = 0);
  ~ScopedKey();
  ScopedKey(const ScopedKey &) = delete;
  ScopedKey &operator=(const ScopedKey &) = delete;
  HKEY get() const { return key_.get(); }
  void SetString(const char *value, const std::string &text);
  // Raw write: any type, any bytes (for hostile values).
  void SetRaw(const char *value, DWORD type, const void *data, DWORD size);

 private:
  HKEY root_;
  std::string path_;
  REGSAM view_;
  kvdrm::RegKey key_;
};

std::string DataSourcePath(const std::string &name);  // Software\ODBC\ODBC.INI\<name>

// Replaces the key's DACL by one (protected from inheritance) that grants
// Everyone `access` and nothing more: the way to make a key that opens for
// reading but not with KEY_ALL_ACCESS. The handle needs WRITE_DAC.
LONG SetEveryoneAccess(HKEY key, DWORD access);

// Registry helpers of the tests. Keys are held by the product's
// kvdrm::RegKey, which closes them when it goes.
//
// Opens root\path with `access` in the view `view`; the registry's error.
LONG OpenKey(HKEY root, const std::string &path, REGSAM access, kvdrm::RegKey &key, REGSAM view = 0);
// Creates (or opens) root\path with KEY_ALL_ACCESS; the registry's error.
LONG CreateKey(HKEY root, const std::string &path, kvdrm::RegKey &key, REGSAM view = 0);
// True when the key opens with `access` in the given view.
bool KeyOpens(HKEY root, const std::string &path, REGSAM access, REGSAM view = 0);
// True when a key exists (opens for reading) in the given view.
bool KeyExists(HKEY root, const std::string &path, REGSAM view = 0);
// Writes `text` as REG_SZ with its terminating NUL; the registry's error.
LONG SetString(HKEY key, const char *value, const std::string &text);

// A registry value as seen by the test: present or not, its type and text.
struct Value {
  bool present = false;
  DWORD type = REG_NONE;
  std::string data;  // raw bytes, terminating NUL included
};
// Reads a value of any size.
Value ReadValue(HKEY root, const std::string &path, const char *name, REGSAM view = 0);

// Removes a data source wherever a test may have left it: its key and its
// "ODBC Data Sources" value, in HKCU and HKLM, both views.
void DeleteDataSourceEverywhere(const std::string &name);

// KVDRM.dll as a driver sees it, loaded by name from beside the program.
HMODULE Kvdrm();
FARPROC KvdrmProc(const char *name);
// Its ConfigDSN, as the installer calls it.
typedef BOOL(__stdcall *ConfigDsnFn)(HWND, UINT, LPCSTR, LPCSTR);
inline ConfigDsnFn KvdrmConfigDSN() {
  return reinterpret_cast<ConfigDsnFn>(reinterpret_cast<void *>(KvdrmProc("ConfigDSN")));
}

// Its ConfigDSNW, as a Unicode installer calls it.
typedef BOOL(__stdcall *ConfigDsnWFn)(HWND, UINT, LPCWSTR, LPCWSTR);
inline ConfigDsnWFn KvdrmConfigDSNW() {
  return reinterpret_cast<ConfigDsnWFn>(reinterpret_cast<void *>(KvdrmProc("ConfigDSNW")));
}

// UTF-8 (the tests' own spelling of any script) to UTF-16 and back; a
// string of several texts keeps its NULs.
std::u16string U16(const std::string &utf8);
std::string Utf8(const std::u16string &utf16);
// A text of the program's ANSI code page in UTF-16.
std::u16string FromAcp(const std::string &ansi);

// The same registry helpers under names in any script, through the wide
// calls: a value's type and bytes exactly, a key's presence, and a data
// source's removal from both roots and views.
Value ReadValueW(HKEY root, const std::u16string &path, const std::u16string &name, REGSAM view = 0);
bool KeyExistsW(HKEY root, const std::u16string &path, REGSAM view = 0);
void DeleteDataSourceEverywhereW(const std::u16string &name);
// A text as a REG_SZ holds it: UTF-16 and one NUL.
inline std::string SzW(const std::u16string &text) {
  return std::string(reinterpret_cast<const char *>(text.c_str()), (text.size() + 1) * 2);
}

typedef int32_t(__stdcall *BeginFn)(DrmArg *, DrmArg, DrmArg, const char *);
typedef int32_t(__stdcall *EndFn)(DrmArg);
BeginFn Begin();
EndFn End();

// The record behind a session handle, as 52 slots.
inline const uint32_t *Slots(DrmArg handle) { return reinterpret_cast<const uint32_t *>(handle); }

// The log and knobs of the test manager a session loaded (slot 3), or null.
testmgr::State *ManagerState(DrmArg handle);
testmgr::State *ManagerStateOf(HMODULE manager);

// True when a module of this path is loaded in the process.
bool IsLoaded(const std::string &path);

}  // namespace testlib
