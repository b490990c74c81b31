// Faults injected into data source setup: each installer call failing in
// turn (the installer double), and keys that open for reading only (a data
// source key, the data sources root, all of HKEY_LOCAL_MACHINE for a
// standard user). The setup code is compiled into this program with a
// scripted stand-in for the dialog, so renames run without a window. Every
// request ends with its documented result and status, no other data source
// is touched (the whole Software\ODBC tree and the file data source folder
// are pictured before and after), and a request that cannot finish keeps
// the old data source.
#include <windows.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "setup/dialog.h"
#include "setup/setup_request.h"
#include "tests/common/snapshot.h"
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

HWND const kParent = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));

enum Request { kAdd, kConfigure, kRename, kRemove };
const char *const kRequestNames[] = {"add B", "configure A", "rename A to B", "remove A"};

// What became of the data sources A (existing before) and B (the new name).
enum Fate { kIntact, kGone, kGoneFileKept, kRewritten, kWritten, kAbsent };

// A key that the caller may read but not open with full access; its DACL
// is restored when it goes.
struct LockedKey {
  LockedKey(HKEY root, const std::string &path, REGSAM view = 0) {
    if (testlib::OpenKey(root, path, READ_CONTROL | WRITE_DAC, key, view) != ERROR_SUCCESS) return;
    DWORD size = 0;
    RegGetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, nullptr, &size);
    saved.resize(size);
    if (RegGetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, saved.data(), &size) != ERROR_SUCCESS) return;
    // RegSetKeySecurity changes this key only; existing subkeys keep theirs.
    locked = testlib::SetEveryoneAccess(key.get(), KEY_READ | DELETE | WRITE_DAC | READ_CONTROL) == ERROR_SUCCESS;
    locked = locked && !testlib::KeyOpens(root, path, KEY_ALL_ACCESS, view);  // else the platform ignores DACLs
  }
  ~LockedKey() {
    if (!saved.empty()) RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, saved.data());
  }
  kvdrm::RegKey key;
  bool locked = false;
  std::vector<BYTE> saved;
};

// Which keys open for reading only: B's, A's, the data sources root of
// HKEY_CURRENT_USER, or (a standard user) the driver's registration, A and
// the data sources root in both views of HKEY_LOCAL_MACHINE.
enum Lock { kLockB, kLockA, kLockRoot, kLockMachine };
struct LockRow {
  Lock lock;
  uint16_t mode;  // the installer's configuration mode
  Request request;
  int error;  // when not 0, posted with "access denied"
  Fate fateA, fateB;  // under HKEY_CURRENT_USER
};

class Faults : public DoubleTest {
 protected:
  void SetUp() override {
    DoubleTest::SetUp();
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
    MakeDataSource(name, "old", root, view);
    dir.File(name + ".DSN");
  }

  BOOL Run(Request r) {
    const char *d = driver.name.c_str();
    switch (r) {
      case kAdd: return ConfigDSN(nullptr, 1, d, AttributeList({"DSN=" + b}).c_str());
      case kConfigure: return ConfigDSN(nullptr, 2, d, AttributeList({"DSN=" + a}).c_str());
      case kRename:
        g_script.renameTo = b;
        return ConfigDSN(kParent, 2, d, AttributeList({"DSN=" + a}).c_str());
      case kRemove: return ConfigDSN(nullptr, 3, d, AttributeList({"DSN=" + a}).c_str());
    }
    return FALSE;
  }

  bool Listed(const std::string &name) { return ReadValue(HKEY_CURRENT_USER, kListKey, name.c_str()).present; }

  void ExpectFate(const std::string &name, Fate f) {
    SCOPED_TRACE(name == a ? "A" : "B");
    bool key = KeyExists(HKEY_CURRENT_USER, DataSourcePath(name));
    switch (f) {
      case kIntact:
        EXPECT_TRUE(key);
        EXPECT_EQ(Sz("old"), Stored(name, "Description"));
        EXPECT_EQ(Sz("old"), Stored(name, "CTX"));
        EXPECT_TRUE(Listed(name));
        EXPECT_TRUE(HasFile(name));
        break;
      case kGone:
      case kGoneFileKept:
        EXPECT_FALSE(key);
        EXPECT_FALSE(Listed(name));
        EXPECT_EQ(f == kGoneFileKept, HasFile(name));
        break;
      case kRewritten:
      case kWritten:
        EXPECT_TRUE(key);
        EXPECT_EQ(Sz(driver.name), Stored(name, "Driver"));
        EXPECT_NE(Sz("old"), Stored(name, "Description"));
        break;
      case kAbsent:
        EXPECT_FALSE(key);
        break;
    }
  }

  snap::Picture Picture() { return snap::Take({dir.path}); }
  // Nothing but the named data sources may differ.
  void ExpectOnlyChanged(const snap::Picture &before, const std::vector<std::string> &own) {
    for (const std::string &d : snap::Differences(before, Picture(), own)) ADD_FAILURE() << d;
  }
  void ExpectBystandersKept(const snap::Picture &before) { ExpectOnlyChanged(before, {a, b}); }

  void RunLocked(const LockRow &row) {
    SCOPED_TRACE(std::string(kRequestNames[row.request]) + ", lock " + std::to_string(row.lock) + ", mode " +
                 std::to_string(row.mode));
    DeleteDataSourceEverywhere(b);
    Existing(a, HKEY_CURRENT_USER, 0);
    if (row.lock == kLockB) Existing(b, HKEY_CURRENT_USER, 0);
    std::vector<std::unique_ptr<LockedKey>> locks;
    const std::string ini = "Software\\ODBC\\ODBC.INI";
    switch (row.lock) {
      case kLockB: locks.emplace_back(new LockedKey(HKEY_CURRENT_USER, DataSourcePath(b))); break;
      case kLockA: locks.emplace_back(new LockedKey(HKEY_CURRENT_USER, DataSourcePath(a))); break;
      case kLockRoot: locks.emplace_back(new LockedKey(HKEY_CURRENT_USER, ini)); break;
      case kLockMachine:
        for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY)}) {
          Existing(a, HKEY_LOCAL_MACHINE, view);
          for (const std::string &path : {DriverPath(driver.name), DataSourcePath(a), ini})
            locks.emplace_back(new LockedKey(HKEY_LOCAL_MACHINE, path, view));
        }
        break;
    }
    for (const auto &l : locks) ASSERT_TRUE(l->locked);
    odbcdouble::Reset(st);
    Answers();
    st->configMode = row.mode;
    snap::Picture before = Picture();
    ExpectResult(Run(row.request), row.error);
    g_script = Script();
    if (row.error) {
      EXPECT_NE(nullptr, strstr(st->errors[0].message, "access denied")) << st->errors[0].message;
    }
    ExpectFate(a, row.fateA);
    ExpectFate(b, row.fateB);
    EXPECT_EQ(row.mode, st->configMode);
    // A failed request changes nothing but B's list entry, which the
    // stand-in dialog makes.
    ExpectOnlyChanged(before, row.error ? std::vector<std::string>{b} : std::vector<std::string>{a, b});
  }

  std::string neighbour = UniqueName("neighbour"), a = UniqueName("A"), b = UniqueName("B");
  Cleanup cleanup{{neighbour, a, b}};
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
        EXPECT_EQ(Sz(profileFails ? "" : "D:\\PROFILE\\P.CTX"), Stored(a, "CTX"));
      }
      // The mode the installer had stays.
      EXPECT_EQ(0, st->configMode);
    }
  }
}

// A data source key that opens for reading only: adding over it fails and
// leaves it as it was; renaming onto it fails and keeps the old data source
// whole; configuring it fails and changes nothing. A standard user adds,
// configures, renames and removes user data sources as ever; a system data
// source fails, says why, and stays as it was.
TEST_F(Faults, KeysThatOpenForReadingOnly) {
  const LockRow rows[] = {
      {kLockB, 0, kAdd, kRequestFailed, kIntact, kIntact},
      {kLockB, 0, kRename, kRequestFailed, kIntact, kIntact},
      {kLockA, 0, kConfigure, kRequestFailed, kIntact, kAbsent},
      {kLockMachine, 1, kAdd, 0, kIntact, kWritten},
      {kLockMachine, 1, kConfigure, 0, kRewritten, kAbsent},
      {kLockMachine, 1, kRename, 0, kGone, kWritten},
      {kLockMachine, 1, kRemove, 0, kGone, kAbsent},
      {kLockMachine, 2, kConfigure, kRequestFailed, kIntact, kAbsent},
      {kLockMachine, 2, kRemove, kRequestFailed, kIntact, kAbsent},
  };
  for (const LockRow &row : rows) RunLocked(row);
}

// The data sources root of HKEY_CURRENT_USER does not open with full
// access (run alone: every program that writes data sources would fail
// meanwhile). A's key cannot be deleted: removal and rename fail and keep A
// whole; A's own key is still writable, so configuring it works. (Whether
// a new key can be created under the root is the platform's affair.)
TEST_F(Faults, RootNotWritable) {
  const LockRow rows[] = {
      {kLockRoot, 0, kRemove, kRequestFailed, kIntact, kAbsent},
      {kLockRoot, 0, kRename, kRequestFailed, kIntact, kAbsent},
      {kLockRoot, 0, kConfigure, 0, kRewritten, kAbsent},
  };
  for (const LockRow &row : rows) RunLocked(row);
}

// A value named like the data source beside the keys is no obstacle:
// values and keys do not share names.
TEST_F(Faults, ValueOfTheSameNameBesideTheKeys) {
  kvdrm::RegKey ini;
  ASSERT_EQ(ERROR_SUCCESS, testlib::OpenKey(HKEY_CURRENT_USER, kvdrm::kOdbcIniKey, KEY_ALL_ACCESS, ini));
  ASSERT_EQ(ERROR_SUCCESS, testlib::SetString(ini.get(), b.c_str(), "v"));
  Answers();
  ExpectResult(Run(kAdd), 0);
  ExpectFate(b, kWritten);
  EXPECT_EQ(Sz("v"), ReadValue(HKEY_CURRENT_USER, "Software\\ODBC\\ODBC.INI", b.c_str()).data);
  RegDeleteValueA(ini.get(), b.c_str());
}

// Renaming to the same name in other letter case: registry keys, value
// names and file names do not tell case apart, so the "old" entries are
// the new ones. Nothing may be lost, the list entry the dialog made
// included.
TEST_F(Faults, RenameThatOnlyChangesLetterCase) {
  std::string upper = a;
  for (char &c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  ASSERT_NE(a, upper);
  Answers();
  snap::Picture before = Picture();
  g_script.renameTo = upper;
  ExpectResult(ConfigDSN(kParent, 2, driver.name.c_str(), AttributeList({"DSN=" + a}).c_str()), 0);
  g_script = Script();
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, DataSourcePath(upper)));
  EXPECT_EQ(Sz(driver.name), Stored(upper, "Driver"));
  EXPECT_TRUE(Listed(upper)) << "the list entry the dialog made is gone";
  ExpectBystandersKept(before);
}

}  // namespace
