// Which OdbcDrm.dll a data source leads to: the key it reads (HKEY_CURRENT_USER
// before HKEY_LOCAL_MACHINE, read access enough, the empty name) and the
// file the real loader actually loaded for it, in any script (CTX written
// and paths read with the wide calls). A bare-name load is made visible by
// letting it find the ok3 copy (SetDllDirectory). The pure cut of the CTX
// text alone: tests/native.
#include <gtest/gtest.h>
#include <string.h>

#include <memory>

#include "tests/common/proxy_util.h"

using namespace testlib;
using namespace proxytest;

namespace {

// Begins and ends one session of `name`; returns the path of the manager it
// loaded, in UTF-8 ("" when none loaded, then the status must be -1101).
std::string LoadedFor(const char *name) {
  EXPECT_EQ(nullptr, GetModuleHandleA("OdbcDrm.dll")) << "a manager is still loaded";
  DrmArg h = 0;
  int32_t status = Begin()(&h, 0, 0, name);
  std::string path = LoadedPath8(h);
  EXPECT_EQ(path.empty() ? -1101 : 0, status);
  EXPECT_EQ(0, End()(h));
  return path;
}

// A UTF-8 path for the wide calls.
std::wstring WidePath(const std::string &utf8) {
  const std::u16string w = U16(utf8);
  return std::wstring(w.begin(), w.end());
}

enum Setup { kPlain, kCurrentDirQX, kDllDirOk3, kCurrentDirQdrive };
const char kNoKey[] = "<no key>", kNoValue[] = "<no CTX value>";

// Texts in UTF-8, CTX written with the wide call (an ANSI write stores the
// same for a text the code page holds).
struct LoadRow {
  const char *what;
  std::string user;              // HKCU's CTX value, or kNoKey, kNoValue
  std::string expected;          // path of the loaded manager; "" when none loads
  Setup setup = kPlain;
  std::string machine = kNoKey;  // HKLM's CTX value, or kNoKey
  const char *before = "", *after = "";  // around the data source name
};

// The key a name leads to (HKEY_CURRENT_USER's whenever it exists, with or
// without a CTX value; HKEY_LOCAL_MACHINE's only when there is none; the name
// exactly as given) and the manager its CTX value leads to.
TEST(ControlFileDirectory, LoadsTheManagerOfThatDirectory) {
  const std::string q = kDrive, ok = ManagerDir("ok") + "KOLVARD.CTX";
  const std::string zFwd = [] {
    std::string p = BinPath("qdrive\\X\\KOLVARD.CTX");
    for (char &c : p)
      if (c == '\\') c = '/';
    return p;
  }();
  // In code page 1252, Wine's default: a character above 0x7F of the code
  // page before a '\'. (Folders the code page cannot name: tests/wide.)
  ASSERT_EQ(1252u, GetACP());
  const std::string eightBit = BinPath("qdrive\\X") + "\xC3\xA9";  // U+00E9
  // Under the current directory qdrive, X\X\ holds a manager too: a relative
  // directory given as it is to the altered search is taken from its own
  // folder again, and Wine then loads X\X\OdbcDrm.dll.
  const std::string nested = BinPath("qdrive\\X\\X");
  // A folder whose full path is longer than MAX_PATH.
  const std::string deep = BinPath("qdrive\\") + std::string(240, 'd');
  ASSERT_GT(deep.size() + strlen("\\OdbcDrm.dll"), static_cast<size_t>(MAX_PATH));
  for (const std::string &dir : {eightBit, nested, deep}) {
    CreateDirectoryW(WidePath(dir).c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(WidePath(ManagerFile("ok")).c_str(), WidePath(dir + "\\OdbcDrm.dll").c_str(), FALSE)) << dir;
  }
  const LoadRow rows[] = {
      {"backslash path", BinPath("qdrive\\X\\KOLVARD.CTX"), BinPath("qdrive\\X\\OdbcDrm.dll")},
      {"an 8-bit character before a backslash", eightBit + "\\KOLVARD.CTX", eightBit + "\\OdbcDrm.dll"},
      {"a full path longer than MAX_PATH", deep + "\\KOLVARD.CTX", deep + "\\OdbcDrm.dll"},
      {"relative: from another current directory than the program's", "X\\KOLVARD.CTX", BinPath("qdrive\\X\\OdbcDrm.dll"), kCurrentDirQdrive},
      {"directory without trailing backslash loads its parent's", BinPath("qdrive\\X"), BinPath("qdrive\\OdbcDrm.dll")},
      {"directory with trailing backslash", BinPath("qdrive\\X\\"), BinPath("qdrive\\X\\OdbcDrm.dll")},
      {"parent without a manager", BinPath("mgr\\ok"), ""},
      {"drive-relative, root current directory", q + "KOLVARD.CTX", q + "\\OdbcDrm.dll"},
      {"drive-relative follows the drive's current directory", q + "KOLVARD.CTX", q + "\\X\\OdbcDrm.dll", kCurrentDirQX},
      {"forward slashes keep only the drive", q + "/X/KOLVARD.CTX", q + "\\OdbcDrm.dll"},
      {"forward slashes on the current drive", zFwd, ""},
      {"no separator: bare name, nothing in the search order", "KOLVARD.CTX", ""},
      {"no separator: bare name found in the search order", "KOLVARD.CTX", ManagerFile("ok3"), kDllDirOk3},
      {"empty value: bare name", "", ManagerFile("ok3"), kDllDirOk3},
      {"HKLM's key when HKCU has none", kNoKey, ManagerFile("ok"), kDllDirOk3, ok},
      {"HKCU's CTX wins", ManagerDir("ok2") + "KOLVARD.CTX", ManagerFile("ok2"), kPlain, ok},
      {"HKCU's key without CTX shadows HKLM's: bare name", kNoValue, ManagerFile("ok3"), kDllDirOk3, ok},
      {"HKCU's key without CTX, nothing in the search order", kNoValue, "", kPlain, ok},
      // Registry names ignore case, so only trimming would change the key.
      {"name with a blank before it", ok, "", kPlain, kNoKey, " "},
      {"name with a blank after it", ok, "", kPlain, kNoKey, "", " "},
  };
  for (const LoadRow &r : rows) {
    SCOPED_TRACE(std::string(r.what) + ": CTX=" + r.user + ", HKLM CTX=" + r.machine);
    std::string name = UniqueName("dir");
    std::unique_ptr<ScopedKey> cu, lm;
    if (r.user != kNoKey) cu.reset(new ScopedKey(HKEY_CURRENT_USER, DataSourcePath(name)));
    if (r.machine != kNoKey) lm.reset(new ScopedKey(HKEY_LOCAL_MACHINE, DataSourcePath(name)));
    if (cu) {
      ASSERT_EQ(ERROR_SUCCESS, SetString8(cu->get(), r.user == kNoValue ? L"DBQ" : L"CTX", r.user));
    }
    if (lm) {
      ASSERT_EQ(ERROR_SUCCESS, SetString8(lm->get(), L"CTX", r.machine));
    }

    // What the row needs of the process: the drive's current directory, the
    // DLL search folder; put back after the session.
    char cwd[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof cwd, cwd);
    ASSERT_TRUE(r.setup != kCurrentDirQX || SetCurrentDirectoryA((q + "\\X").c_str()));
    ASSERT_TRUE(r.setup != kDllDirOk3 || SetDllDirectoryA(ManagerDir("ok3").c_str()));
    ASSERT_TRUE(r.setup != kCurrentDirQdrive || SetCurrentDirectoryA(BinPath("qdrive").c_str()));
    std::string loaded = LoadedFor((r.before + name + r.after).c_str());
    SetDllDirectoryA(nullptr);
    SetCurrentDirectoryA(cwd);
    EXPECT_TRUE(r.expected.empty() ? loaded.empty() : SamePath8(r.expected, loaded)) << "loaded " << loaded;
  }
  for (const std::string &dir : {eightBit, nested, deep}) {
    DeleteFileW(WidePath(dir + "\\OdbcDrm.dll").c_str());
    RemoveDirectoryW(WidePath(dir).c_str());
  }
}

// A standard user's system data source: HKEY_LOCAL_MACHINE opens for
// reading only, and that is all a session needs. The user's own key, read
// only too, still shadows it.
TEST(ControlFileDirectory, KeysThatOpenOnlyForReadingAreUsed) {
  std::string name = UniqueName("readonly");
  std::string path = DataSourcePath(name);
  ScopedKey lm(HKEY_LOCAL_MACHINE, path);
  lm.SetString("CTX", ManagerDir("ok") + "KOLVARD.CTX");
  // Everyone may read the key and change its DACL back; nobody may write.
  ASSERT_EQ(ERROR_SUCCESS, testlib::SetEveryoneAccess(lm.get(), KEY_READ | WRITE_DAC | DELETE));
  kvdrm::RegKey probe;
  ASSERT_EQ(ERROR_ACCESS_DENIED, OpenKey(HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS, probe))
      << "the platform does not enforce the key's security";
  EXPECT_TRUE(SamePath(ManagerFile("ok"), LoadedFor(name.c_str())));
  {
    ScopedKey cu(HKEY_CURRENT_USER, path);
    cu.SetString("CTX", ManagerDir("ok2") + "KOLVARD.CTX");
    ASSERT_EQ(ERROR_SUCCESS, testlib::SetEveryoneAccess(cu.get(), KEY_READ | WRITE_DAC | DELETE));
    EXPECT_TRUE(SamePath(ManagerFile("ok2"), LoadedFor(name.c_str())));
  }

  // Our handle was opened with full access before the DACL changed; use it
  // to open the key up again so that it can be removed.
  SECURITY_DESCRIPTOR open;
  InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE);
  EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(lm.get(), DACL_SECURITY_INFORMATION, &open));
}

// The empty and the null name read a CTX value of the data sources key
// itself; what was there is put back afterwards.
TEST(ControlFileDirectory, EmptyAndNullNameReadTheDataSourcesKeyItself) {
  const std::string root = "Software\\ODBC\\ODBC.INI";
  kvdrm::RegKey key;
  ASSERT_EQ(ERROR_SUCCESS, CreateKey(HKEY_CURRENT_USER, root, key));
  const Value old = ReadValue(HKEY_CURRENT_USER, root, "CTX");
  ASSERT_EQ(ERROR_SUCCESS, SetString(key.get(), "CTX", ManagerDir("ok4") + "KOLVARD.CTX"));
  EXPECT_TRUE(SamePath(ManagerFile("ok4"), LoadedFor(""))) << "empty name";
  EXPECT_TRUE(SamePath(ManagerFile("ok4"), LoadedFor(nullptr))) << "null name";
  if (old.present)
    RegSetValueExA(key.get(), "CTX", 0, old.type, reinterpret_cast<const BYTE *>(old.data.data()),
                   static_cast<DWORD>(old.data.size()));
  else
    RegDeleteValueA(key.get(), "CTX");
}

}  // namespace
