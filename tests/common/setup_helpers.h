// Helpers of the data source setup tests: driver registrations and
// reading back what storage wrote.
#pragma once
#include <windows.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "tests/common/testlib.h"

namespace setuptest {

inline std::string DriverPath(const std::string &driver) { return "Software\\ODBC\\ODBCINST.INI\\" + driver; }

// A driver registered under HKLM\Software\ODBC\ODBCINST.INI in the
// 32-bit view, the 64-bit view, or both, with Setup = the built KVDRM.dll.
// Wine 8's SQLConfigDataSource loads the library named by "Driver" instead
// of "Setup", so both name it.
struct ScopedDriver {
  enum Views { k32 = 1, k64 = 2, kBoth = 3 };
  explicit ScopedDriver(const std::string &name, int views = k32) : name(name) {
    if (views & k32) v32 = new testlib::ScopedKey(HKEY_LOCAL_MACHINE, DriverPath(name), 0);
    if (views & k64) v64 = new testlib::ScopedKey(HKEY_LOCAL_MACHINE, DriverPath(name), KEY_WOW64_64KEY);
    for (testlib::ScopedKey *k : {v32, v64})
      if (k) {
        k->SetString("Setup", testlib::BinPath("KVDRM.dll"));
        k->SetString("Driver", testlib::BinPath("KVDRM.dll"));
      }
  }
  ~ScopedDriver() {
    delete v32;
    delete v64;
  }
  ScopedDriver(const ScopedDriver &) = delete;
  ScopedDriver &operator=(const ScopedDriver &) = delete;
  std::string name;
  testlib::ScopedKey *v32 = nullptr, *v64 = nullptr;
};

// A registry value as seen by the test: present or not, its type and text.
struct Value {
  bool present = false;
  DWORD type = REG_NONE;
  std::string data;  // raw bytes, terminating NUL included
};

inline Value ReadValue(HKEY root, const std::string &path, const char *name, REGSAM view = 0) {
  Value v;
  HKEY k;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, &k) != ERROR_SUCCESS) return v;
  char buf[2048];
  DWORD size = sizeof buf;
  if (RegQueryValueExA(k, name, nullptr, &v.type, reinterpret_cast<BYTE *>(buf), &size) == ERROR_SUCCESS) {
    v.present = true;
    v.data.assign(buf, size);
  }
  RegCloseKey(k);
  return v;
}

// The text a REG_SZ value must hold: the bytes and one NUL.
inline std::string Sz(const std::string &text) { return text + '\0'; }

inline const char kListKey[] = "Software\\ODBC\\ODBC.INI\\ODBC Data Sources";

// Enters `name` in root's "ODBC Data Sources" as the installer would. The
// list key itself is shared and stays; Cleanup removes the value.
inline void SetListed(HKEY root, const std::string &name, REGSAM view = 0) {
  HKEY k;
  if (RegCreateKeyExA(root, kListKey, 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &k, nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExA(k, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>("x"), 2);
  RegCloseKey(k);
}

// Removes a data source key wherever a test may have left it.
inline void DeleteDataSourceEverywhere(const std::string &name) {
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
    for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY)}) {
      HKEY k;
      if (RegOpenKeyExA(root, "Software\\ODBC\\ODBC.INI", 0, KEY_ALL_ACCESS | view, &k) == ERROR_SUCCESS) {
        RegDeleteTreeA(k, name.c_str());
        RegCloseKey(k);
      }
      if (RegOpenKeyExA(root, kListKey, 0, KEY_ALL_ACCESS | view, &k) == ERROR_SUCCESS) {
        RegDeleteValueA(k, name.c_str());
        RegCloseKey(k);
      }
    }
}

// Deletes the data source keys of the given names when it goes.
struct Cleanup {
  explicit Cleanup(std::initializer_list<std::string> list) : names(list) {
    for (const std::string &n : names) DeleteDataSourceEverywhere(n);
  }
  ~Cleanup() {
    for (const std::string &n : names) DeleteDataSourceEverywhere(n);
  }
  std::vector<std::string> names;
};

// A fresh directory under the temp folder, removed (with its files, one
// level of subfolders) when it goes.
struct TempDir {
  TempDir() {
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    path = std::string(base) + testlib::UniqueName("dir");
    CreateDirectoryA(path.c_str(), nullptr);
  }
  ~TempDir() { Remove(path, 2); }
  static void Remove(const std::string &dir, int depth) {
    WIN32_FIND_DATAA f;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &f);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        std::string n = f.cFileName;
        if (n == "." || n == "..") continue;
        if (f.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          if (depth > 0) Remove(dir + "\\" + n, depth - 1);
        } else {
          DeleteFileA((dir + "\\" + n).c_str());
        }
      } while (FindNextFileA(h, &f));
      FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
  }
  std::string File(const std::string &relative) const {
    std::string p = path + "\\" + relative;
    HANDLE h = CreateFileA(p.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return p;
  }
  std::string path;
};

inline bool FileExists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace setuptest
