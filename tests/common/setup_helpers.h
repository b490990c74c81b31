// Helpers of the data source setup tests: driver registrations and
// reading back what storage wrote.
#pragma once
#include <windows.h>
#include <string.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "tests/common/testlib.h"
#include "tests/odbcdouble/odbc_double.h"

namespace setuptest {

// ConfigDSN's TRUE has all bits set. The installer errors it posts.
const BOOL kTrue = static_cast<BOOL>(-1);
enum { kComponentNotFound = 6, kInvalidName = 7, kRequestFailed = 11 };

inline std::string DriverPath(const std::string &driver) { return "Software\\ODBC\\ODBCINST.INI\\" + driver; }

// A driver registered under HKLM\Software\ODBC\ODBCINST.INI in the
// 32-bit view, the 64-bit view, or both, with Setup = the built KVDRM.dll.
// Wine 8's SQLConfigDataSource loads the library named by "Driver" instead
// of "Setup", so both name it.
struct ScopedDriver {
  enum Views { k32 = 1, k64 = 2, kBoth = 3 };
  explicit ScopedDriver(const std::string &name, int views = k32) : name(name) {
    for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY)}) {
      if (!(views & (view ? k64 : k32))) continue;
      keys.emplace_back(new testlib::ScopedKey(HKEY_LOCAL_MACHINE, DriverPath(name), view));
      keys.back()->SetString("Setup", testlib::BinPath("KVDRM.dll"));
      keys.back()->SetString("Driver", testlib::BinPath("KVDRM.dll"));
    }
  }
  std::string name;
  std::vector<std::unique_ptr<testlib::ScopedKey>> keys;
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

// A stored data source: its key with the four values all `text`, listed.
inline void MakeDataSource(const std::string &name, const std::string &text, HKEY root = HKEY_CURRENT_USER,
                           REGSAM view = 0) {
  kvdrm::RegKey k;
  ASSERT_EQ(ERROR_SUCCESS, testlib::CreateKey(root, testlib::DataSourcePath(name), k, view));
  for (const char *v : {"Description", "DBQ", "CTX", "Driver"}) testlib::SetString(k.get(), v, text);
  SetListed(root, name, view);
}

// A value of a data source as stored (REG_SZ bytes with the NUL), or "<absent>".
inline std::string Stored(const std::string &name, const char *value, HKEY root = HKEY_CURRENT_USER,
                          REGSAM view = 0) {
  Value v = ReadValue(root, testlib::DataSourcePath(name), value, view);
  return v.present ? v.data : "<absent>";
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

// A fresh directory under the temp folder, removed with everything in it
// when it goes.
struct TempDir {
  TempDir() {
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    path = std::string(base) + testlib::UniqueName("dir");
    CreateDirectoryA(path.c_str(), nullptr);
  }
  ~TempDir() { Remove(path); }
  static void Remove(const std::string &dir) {
    WIN32_FIND_DATAA f;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &f);
    for (bool more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileA(h, &f)) {
      std::string p = dir + "\\" + f.cFileName;
      if (!(f.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        DeleteFileA(p.c_str());
      else if (strcmp(f.cFileName, ".") != 0 && strcmp(f.cFileName, "..") != 0)
        Remove(p);
    }
    if (h != INVALID_HANDLE_VALUE) FindClose(h);
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

// A test beside the installer double: its state reset, the file data
// sources in `dir`, a driver registered in both views.
class DoubleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    st = odbcdouble::Attach();
    ASSERT_NE(nullptr, st) << "odbccp32.dll is not the double";
    odbcdouble::Reset(st);
    odbcdouble::SetDefaultDsnDir(st, dir.path.c_str());
  }
  // ConfigDSN's result: kTrue with no error posted, or FALSE with `error`
  // posted as the request's last installer call (the real installer's
  // other calls clear its error queue).
  void ExpectResult(BOOL got, int error) {
    EXPECT_EQ(error ? FALSE : kTrue, got);
    ASSERT_EQ(error ? 1 : 0, st->errorCount);
    if (!error) return;
    EXPECT_EQ(uint32_t(error), st->errors[0].code);
    EXPECT_STRNE("", st->errors[0].message);
    ASSERT_GT(st->callCount, 0);
    EXPECT_STREQ("SQLPostInstallerError", st->calls[st->callCount - 1].function);
  }
  bool HasFile(const std::string &name) const { return FileExists(dir.path + "\\" + name + ".DSN"); }

  odbcdouble::State *st = nullptr;
  TempDir dir;
  ScopedDriver driver{testlib::UniqueName("drv"), ScopedDriver::kBoth};
};

}  // namespace setuptest
