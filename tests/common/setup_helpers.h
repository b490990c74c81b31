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

using testlib::ReadValue;
using testlib::Value;

// The text a REG_SZ value must hold: the bytes and one NUL.
inline std::string Sz(const std::string &text) { return text + '\0'; }

inline const char kListKey[] = "Software\\ODBC\\ODBC.INI\\ODBC Data Sources";

// Enters `name` in root's "ODBC Data Sources" as the installer would. The
// list key itself is shared and stays; Cleanup removes the value.
inline void SetListed(HKEY root, const std::string &name, REGSAM view = 0) {
  kvdrm::RegKey k;
  if (testlib::CreateKey(root, kListKey, k, view) == ERROR_SUCCESS) testlib::SetString(k.get(), name.c_str(), "x");
}

using testlib::DeleteDataSourceEverywhere;

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
