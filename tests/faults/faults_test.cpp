// Faults injected into data source setup: each installer call failing in
// turn (the installer double), and registry faults (the driver in one view
// only, a data source key that cannot be opened for writing, the data
// sources root that cannot be opened with full access). The setup code is
// compiled into this program with a scripted stand-in for the dialog, so
// renames run without a window. Every request ends with its documented
// result and status, no other data source is touched (the whole
// Software\ODBC tree and the file data source folder are pictured before
// and after), and a request that cannot finish keeps the old data source.
#include <windows.h>
#include <string.h>


#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "setup/dialog.h"
#include "setup/setup_request.h"
#include "tests/common/snapshot.h"
#include "tests/odbcdouble/odbc_double.h"
#include "tests/common/setup_helpers.h"
#include "tests/common/attribute_list_text.h"

using namespace setuptest;
using testlib::DataSourcePath;
using testlib::KeyExists;
using testlib::UniqueName;
using testlib::AttributeList;

namespace {

// The stand-in dialog: renames to `renameTo` (as typed and accepted) and,
// like the real dialog's SQLWriteDSNToIni, enters that name in the list.
struct Script {
  std::string renameTo;
} g_script;

}  // namespace

namespace kvdrm {
HWND OpenSetupDialog() { return nullptr; }
DialogResult ShowSetupDialog(AttributeSet &set) {
  if (g_script.renameTo.empty()) return kDialogClosed;
  TextSetZ(set.values[kAttrDsn], g_script.renameTo.c_str());
  SetListed(HKEY_CURRENT_USER, g_script.renameTo);
  return kDialogClosed;
}
}  // namespace kvdrm

namespace {

const BOOL kTrue = static_cast<BOOL>(-1);
const int kInvalidName = 7, kComponentNotFound = 6, kRequestFailed = 11;
HWND const kParent = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));

enum Request { kAdd, kConfigure, kRename, kRemove };
const char *const kRequestNames[] = {"add B", "configure A", "rename A to B", "remove A"};

// What became of the data sources A (existing before) and B (the new name).
enum Fate { kIntact, kGone, kGoneFileKept, kRewritten, kWritten, kAbsent };

class Faults : public ::testing::Test {
 protected:
  void SetUp() override {
    st = odbcdouble::Attach();
    ASSERT_NE(nullptr, st) << "odbccp32.dll is not the double";
    odbcdouble::Reset(st);
    g_script = Script();
    // Bystander in every root and view, and A, the data source the
    // requests work on.
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
      for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY)}) Existing(neighbour, root, view);
    Existing(a, HKEY_CURRENT_USER, 0);
  }
  void TearDown() override { g_script = Script(); }

  void Answers() {
    odbcdouble::SetDefaultDsnDir(st, dir.path.c_str());
    odbcdouble::SetProfile(st, a.c_str(), "Description", "from profile");
    odbcdouble::SetProfile(st, a.c_str(), "DBQ", "D:\\PROFILE");
    odbcdouble::SetProfile(st, a.c_str(), "CTX", "D:\\PROFILE\\P.CTX");
  }

  void Existing(const std::string &name, HKEY root, REGSAM view) {
    kvdrm::RegKey k;
    ASSERT_EQ(ERROR_SUCCESS, testlib::CreateKey(root, DataSourcePath(name), k, view));
    for (const char *v : {"Description", "DBQ", "CTX", "Driver"}) testlib::SetString(k.get(), v, "old");
    SetListed(root, name, view);
    dir.File(name + ".DSN");
  }

  BOOL Run(Request r, const std::string *drv = nullptr) {
    const std::string &d = drv ? *drv : driver.name;
    switch (r) {
      case kAdd: return ConfigDSN(nullptr, 1, d.c_str(), AttributeList({"DSN=" + b}).c_str());
      case kConfigure: return ConfigDSN(nullptr, 2, d.c_str(), AttributeList({"DSN=" + a}).c_str());
      case kRename:
        g_script.renameTo = b;
        return ConfigDSN(kParent, 2, d.c_str(), AttributeList({"DSN=" + a}).c_str());
      case kRemove: return ConfigDSN(nullptr, 3, d.c_str(), AttributeList({"DSN=" + a}).c_str());
    }
    return FALSE;
  }

  std::string Text(const std::string &name, const char *value, HKEY root = HKEY_CURRENT_USER, REGSAM view = 0) {
    Value v = ReadValue(root, DataSourcePath(name), value, view);
    return v.present ? v.data : "<absent>";
  }
  bool Listed(const std::string &name) { return ReadValue(HKEY_CURRENT_USER, kListKey, name.c_str()).present; }
  bool File(const std::string &name) { return FileExists(dir.path + "\\" + name + ".DSN"); }

  void ExpectFate(const std::string &name, Fate f) {
    SCOPED_TRACE(name == a ? "A" : "B");
    bool key = KeyExists(HKEY_CURRENT_USER, DataSourcePath(name));
    switch (f) {
      case kIntact:
        EXPECT_TRUE(key);
        EXPECT_EQ(Sz("old"), Text(name, "Description"));
        EXPECT_EQ(Sz("old"), Text(name, "CTX"));
        EXPECT_TRUE(Listed(name));
        EXPECT_TRUE(File(name));
        break;
      case kGone:
      case kGoneFileKept:
        EXPECT_FALSE(key);
        EXPECT_FALSE(Listed(name));
        EXPECT_EQ(f == kGoneFileKept, File(name));
        break;
      case kRewritten:
      case kWritten:
        EXPECT_TRUE(key);
        EXPECT_EQ(Sz(driver.name), Text(name, "Driver"));
        EXPECT_NE(Sz("old"), Text(name, "Description"));
        break;
      case kAbsent:
        EXPECT_FALSE(key);
        break;
    }
  }

  void ExpectResult(BOOL got, int error) {
    EXPECT_EQ(error ? FALSE : kTrue, got);
    if (error) {
      ASSERT_EQ(1, st->errorCount);
      EXPECT_EQ(uint32_t(error), st->errors[0].code);
      EXPECT_STRNE("", st->errors[0].message);
    } else {
      EXPECT_EQ(0, st->errorCount);
    }
  }

  snap::Picture Picture() { return snap::Take({dir.path}); }
  // Nothing but A and B may differ.
  void ExpectBystandersKept(const snap::Picture &before) {
    for (const std::string &d : snap::Differences(before, Picture(), {a, b})) ADD_FAILURE() << d;
  }

  odbcdouble::State *st = nullptr;
  ScopedDriver driver{UniqueName("drv"), ScopedDriver::kBoth};
  std::string neighbour = UniqueName("neighbour"), a = UniqueName("A"), b = UniqueName("B");
  Cleanup cleanup{{neighbour, a, b}};
  TempDir dir;
};

// Each installer call fails in turn, under each kind of request.
TEST_F(Faults, EachInstallerCallFailsInTurn) {
  struct Row {
    odbcdouble::Fn fn;
    const char *name;
    // Per request kind (add, configure, rename, remove): error (0 = TRUE),
    // fate of A, fate of B.
    int error[4];
    Fate fateA[4], fateB[4];
    bool reached[4];  // whether the request calls the failing function at all
  };
  const Row rows[] = {
      // No mode, no root: nothing is stored or removed, and that is a failure.
      {odbcdouble::kGetConfigMode, "SQLGetConfigMode", {kRequestFailed, kRequestFailed, kRequestFailed, kRequestFailed},
       {kIntact, kIntact, kIntact, kIntact}, {kAbsent, kAbsent, kAbsent, kAbsent}, {true, true, true, true}},
      // Only used around the file directory read; its failure is ignored.
      {odbcdouble::kSetConfigMode, "SQLSetConfigMode", {0, 0, 0, 0}, {kIntact, kRewritten, kGone, kGone},
       {kWritten, kAbsent, kWritten, kAbsent}, {false, false, true, true}},
      // Every profile entry reads as empty: a configure rewrites A with empty
      // texts (the installer's answer cannot tell a failed read from an empty
      // entry), and with no file directory a removal leaves the file.
      {odbcdouble::kGetPrivateProfileString,
       "SQLGetPrivateProfileString",
       {0, 0, 0, 0},
       {kIntact, kRewritten, kGoneFileKept, kGoneFileKept},
       {kWritten, kAbsent, kWritten, kAbsent},
       {false, true, true, true}},
      // The file data source is the installer's to place; its failure is no
      // failure of the request.
      {odbcdouble::kWriteFileDSN, "SQLWriteFileDSN", {0, 0, 0, 0}, {kIntact, kRewritten, kGone, kGone},
       {kWritten, kAbsent, kWritten, kAbsent}, {true, true, true, false}},
  };
  for (const Row &row : rows) {
    for (int r = kAdd; r <= kRemove; ++r) {
      SCOPED_TRACE(std::string(row.name) + " fails; " + kRequestNames[r]);
      DeleteDataSourceEverywhere(b);
      DeleteDataSourceEverywhere(a);
      DeleteFileA((dir.path + "\\" + b + ".DSN").c_str());
      Existing(a, HKEY_CURRENT_USER, 0);
      odbcdouble::Reset(st);
      Answers();
      snap::Picture before = Picture();
      st->fail[row.fn] = true;
      BOOL got = Run(static_cast<Request>(r));
      st->fail[row.fn] = false;
      g_script = Script();
      EXPECT_EQ(row.reached[r], odbcdouble::CountCalls(st, row.name) > 0);
      ExpectResult(got, row.error[r]);
      ExpectFate(a, row.fateA[r]);
      ExpectFate(b, row.fateB[r]);
      ExpectBystandersKept(before);
      if (row.fateA[r] == kRewritten) {
        bool profileFails = row.fn == odbcdouble::kGetPrivateProfileString;
        EXPECT_EQ(Sz(profileFails ? "" : "D:\\PROFILE\\P.CTX"), Text(a, "CTX"));
      }
      // The mode the installer had stays.
      EXPECT_EQ(0, st->configMode);
    }
  }
}

// A key that the caller may read but not open with full access.
struct LockedKey {
  LockedKey(HKEY root, const std::string &path, REGSAM view = 0) {
    if (testlib::OpenKey(root, path, READ_CONTROL | WRITE_DAC, key, view) != ERROR_SUCCESS) return;
    DWORD size = 0;
    RegGetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, nullptr, &size);
    saved.resize(size);
    if (RegGetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, saved.data(), &size) != ERROR_SUCCESS) saved.clear();

    // RegSetKeySecurity changes this key only; existing subkeys keep theirs.
    locked = testlib::SetEveryoneAccess(key.get(), KEY_READ | DELETE | WRITE_DAC | READ_CONTROL) == ERROR_SUCCESS;
  }
  ~LockedKey() {
    if (key && locked && !saved.empty()) RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, saved.data());
  }
  kvdrm::RegKey key;
  bool locked = false;
  std::vector<BYTE> saved;
};

bool OpensWithFullAccess(HKEY root, const std::string &path, REGSAM view = 0) {
  return testlib::KeyOpens(root, path, KEY_ALL_ACCESS, view);
}

// The driver registered in one view only: the other pass finds no driver,
// writes nothing and is no failure.
TEST_F(Faults, DriverInOneViewOnly) {
  ScopedDriver only32(UniqueName("drv32"), ScopedDriver::k32), only64(UniqueName("drv64"), ScopedDriver::k64);
  const struct {
    const char *label;
    const ScopedDriver *drv;
    uint16_t mode;
    bool in32, in64;  // where B's key must be under HKLM (system mode)
  } cases[] = {
      {"32-bit view, system", &only32, 2, true, false},
      {"64-bit view, system", &only64, 2, false, true},
      {"32-bit view, user", &only32, 1, false, false},
      {"64-bit view, user", &only64, 1, false, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    DeleteDataSourceEverywhere(b);
    odbcdouble::Reset(st);
    Answers();
    st->configMode = c.mode;
    snap::Picture before = Picture();
    ExpectResult(Run(kAdd, &c.drv->name), 0);
    if (c.mode == 2) {
      EXPECT_EQ(c.in32, KeyExists(HKEY_LOCAL_MACHINE, DataSourcePath(b), 0));
      EXPECT_EQ(c.in64, KeyExists(HKEY_LOCAL_MACHINE, DataSourcePath(b), KEY_WOW64_64KEY));
      EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, DataSourcePath(b)));
      EXPECT_EQ(1, odbcdouble::CountCalls(st, "SQLWriteFileDSN")) << "only the pass that found the driver";
    } else {
      EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, DataSourcePath(b)));
      EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, DataSourcePath(b), 0));
      EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, DataSourcePath(b), KEY_WOW64_64KEY));
    }
    EXPECT_EQ(c.mode, st->configMode);
    ExpectBystandersKept(before);
  }

  // A system data source in both views, removed with the driver in one:
  // a removal needs no driver, so both copies go.
  DeleteDataSourceEverywhere(b);
  Existing(b, HKEY_LOCAL_MACHINE, 0);
  Existing(b, HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY);
  odbcdouble::Reset(st);
  Answers();
  st->configMode = 2;
  std::string list = AttributeList({"DSN=" + b});
  ExpectResult(ConfigDSN(nullptr, 3, only32.name.c_str(), list.c_str()), 0);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, DataSourcePath(b), 0));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, DataSourcePath(b), KEY_WOW64_64KEY));
  EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, kListKey, b.c_str(), KEY_WOW64_64KEY).present);
}

// The data source key exists but does not open for writing: adding over it
// fails and leaves it as it was; renaming onto it fails and keeps the old
// data source whole; configuring it fails and changes nothing. A value of the same name beside the keys is no
// obstacle: values and keys do not share names.
TEST_F(Faults, DataSourceKeyNotWritable) {
  Existing(b, HKEY_CURRENT_USER, 0);
  {
    LockedKey lock(HKEY_CURRENT_USER, DataSourcePath(b));
    ASSERT_TRUE(lock.locked);
    ASSERT_FALSE(OpensWithFullAccess(HKEY_CURRENT_USER, DataSourcePath(b))) << "the platform ignores the key's DACL";
    for (Request r : {kAdd, kRename}) {
      SCOPED_TRACE(kRequestNames[r]);
      odbcdouble::Reset(st);
      Answers();
      snap::Picture before = Picture();
      ExpectResult(Run(r), kRequestFailed);
      g_script = Script();
      ExpectFate(a, kIntact);
      EXPECT_EQ(Sz("old"), Text(b, "Description"));
      for (const std::string &d : snap::Differences(before, Picture(), {b})) ADD_FAILURE() << d;
    }
  }
  DeleteDataSourceEverywhere(b);

  // Configuring a data source whose own key opens for reading only.
  {
    LockedKey lock(HKEY_CURRENT_USER, DataSourcePath(a));
    ASSERT_TRUE(lock.locked);
    odbcdouble::Reset(st);
    Answers();
    snap::Picture before = Picture();
    ExpectResult(Run(kConfigure), kRequestFailed);
    ExpectFate(a, kIntact);
    for (const std::string &d : snap::Differences(before, Picture(), {})) ADD_FAILURE() << d;
  }

  // A REG_SZ value named like the data source, in ODBC.INI itself.
  kvdrm::RegKey ini;
  ASSERT_EQ(ERROR_SUCCESS, testlib::OpenKey(HKEY_CURRENT_USER, kvdrm::kOdbcIniKey, KEY_ALL_ACCESS, ini));
  ASSERT_EQ(ERROR_SUCCESS, testlib::SetString(ini.get(), b.c_str(), "v"));
  odbcdouble::Reset(st);
  Answers();
  ExpectResult(Run(kAdd), 0);
  ExpectFate(b, kWritten);
  EXPECT_EQ(Sz("v"), ReadValue(HKEY_CURRENT_USER, "Software\\ODBC\\ODBC.INI", b.c_str()).data);
  RegDeleteValueA(ini.get(), b.c_str());
}

// The data sources root (HKCU\Software\ODBC\ODBC.INI) does not open with
// full access. Requests that must change the root itself fail and change
// nothing; a data source whose own key is writable is still configured.
TEST_F(Faults, RootNotWritable) {
  LockedKey lock(HKEY_CURRENT_USER, "Software\\ODBC\\ODBC.INI");
  ASSERT_TRUE(lock.locked);
  ASSERT_FALSE(OpensWithFullAccess(HKEY_CURRENT_USER, "Software\\ODBC\\ODBC.INI"));
  // Whether a new subkey can still be created under it is the platform's
  // affair: Windows checks KEY_CREATE_SUB_KEY on the parent, Wine 8 does not.
  std::string probePath = DataSourcePath(UniqueName("probe"));
  kvdrm::RegKey probe;
  bool createRefused = testlib::CreateKey(HKEY_CURRENT_USER, probePath, probe) != ERROR_SUCCESS;
  if (!createRefused) {
    probe.Close();
    kvdrm::RegKey ini;
    testlib::OpenKey(HKEY_CURRENT_USER, kvdrm::kOdbcIniKey, KEY_READ, ini);
    RegDeleteKeyA(ini.get(), probePath.substr(probePath.rfind('\\') + 1).c_str());
  }
  printf("[ faults   ] locked data sources root: creating a subkey is %s\n", createRefused ? "refused" : "allowed");

  for (Request r : {kRemove, kRename, kConfigure, kAdd}) {
    SCOPED_TRACE(kRequestNames[r]);
    // A as it was (its own key still opens with full access).
    Existing(a, HKEY_CURRENT_USER, 0);
    odbcdouble::Reset(st);
    Answers();
    snap::Picture before = Picture();
    BOOL got = Run(r);
    g_script = Script();
    switch (r) {
      case kRemove:
      case kRename:
        // A's key cannot be deleted: the removal or rename fails and A
        // stays whole, its list entry and file data source included.
        ExpectResult(got, kRequestFailed);
        ExpectFate(a, kIntact);
        ExpectFate(b, kAbsent);
        for (const std::string &d : snap::Differences(before, Picture(), {b})) ADD_FAILURE() << d;
        break;
      case kConfigure:
        ExpectResult(got, 0);
        ExpectFate(a, kRewritten);
        ExpectBystandersKept(before);
        break;
      case kAdd:
        ExpectResult(got, createRefused ? kRequestFailed : 0);
        ExpectFate(b, createRefused ? kAbsent : kWritten);
        ExpectFate(a, kIntact);
        ExpectBystandersKept(before);
        break;
    }
  }
}

// A standard user: the driver's registration and everything of
// HKEY_LOCAL_MACHINE open for reading only. User data sources are added,
// configured, renamed and removed as ever; a system data source fails, says
// why, and stays as it was.
TEST_F(Faults, StandardUser) {
  std::vector<std::unique_ptr<LockedKey>> locks;
  for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY)}) {
    Existing(a, HKEY_LOCAL_MACHINE, view);
    for (const std::string &path : {DriverPath(driver.name), DataSourcePath(a), std::string("Software\\ODBC\\ODBC.INI")})
      locks.emplace_back(new LockedKey(HKEY_LOCAL_MACHINE, path, view));
  }
  for (const auto &l : locks) ASSERT_TRUE(l->locked);
  ASSERT_FALSE(OpensWithFullAccess(HKEY_LOCAL_MACHINE, DriverPath(driver.name)));

  const struct {
    uint16_t mode;
    Request request;
    int error;
    Fate fateA, fateB;  // under HKEY_CURRENT_USER
  } rows[] = {
      {1, kAdd, 0, kIntact, kWritten},
      {1, kConfigure, 0, kRewritten, kAbsent},
      {1, kRename, 0, kGone, kWritten},
      {1, kRemove, 0, kGone, kAbsent},
      {2, kConfigure, kRequestFailed, kIntact, kAbsent},
      {2, kRemove, kRequestFailed, kIntact, kAbsent},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(std::string(kRequestNames[row.request]) + (row.mode == 2 ? ", system" : ", user"));
    DeleteDataSourceEverywhere(b);
    Existing(a, HKEY_CURRENT_USER, 0);
    odbcdouble::Reset(st);
    Answers();
    st->configMode = row.mode;
    ExpectResult(Run(row.request), row.error);
    g_script = Script();
    if (row.error) {
      EXPECT_NE(nullptr, strstr(st->errors[0].message, "access denied")) << st->errors[0].message;
    }
    ExpectFate(a, row.fateA);
    ExpectFate(b, row.fateB);
    for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY)})
      EXPECT_EQ(Sz("old"), Text(a, "Description", HKEY_LOCAL_MACHINE, view)) << "view " << view;
  }
}

// Renaming to the same name in other letter case: registry keys, value
// names and file names do not tell case apart, so the "old" entries are
// the new ones. Nothing may be lost, the list entry the dialog made
// included.
TEST_F(Faults, RenameThatOnlyChangesLetterCase) {
  std::string upper = a;
  for (char &c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  ASSERT_NE(a, upper);
  odbcdouble::Reset(st);
  Answers();
  snap::Picture before = Picture();
  g_script.renameTo = upper;
  ExpectResult(ConfigDSN(kParent, 2, driver.name.c_str(), AttributeList({"DSN=" + a}).c_str()), 0);
  g_script = Script();
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, DataSourcePath(upper)));
  EXPECT_EQ(Sz(driver.name), Text(upper, "Driver"));
  EXPECT_TRUE(Listed(upper)) << "the list entry the dialog made is gone";
  ExpectBystandersKept(before);
}

}  // namespace
