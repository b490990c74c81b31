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
#include "tests/common/imports.h"
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
DialogResult ShowSetupDialog(AttributeSet &set);
}  // namespace kvdrm

namespace {

// Registry changes that the setup code (linked into this program) makes
// through the program's imports while `on`: a request that cannot be made
// must find out before it changes anything, not change and put back, since
// a session in another process may read the data source meanwhile.
struct ChangeCount {
  bool on = false;
  int changes = 0;
  void *create = nullptr, *set = nullptr, *deleteKey = nullptr, *deleteValue = nullptr;
} g_count;

template <typename Fn>
Fn Original(void *p) {
  return reinterpret_cast<Fn>(p);
}
LONG WINAPI CountCreate(HKEY k, LPCWSTR sub, DWORD r, LPWSTR cls, DWORD opt, REGSAM sam, LPSECURITY_ATTRIBUTES sa,
                        PHKEY out, LPDWORD disp) {
  g_count.changes += g_count.on;
  return Original<decltype(&RegCreateKeyExW)>(g_count.create)(k, sub, r, cls, opt, sam, sa, out, disp);
}
LONG WINAPI CountSet(HKEY k, LPCWSTR name, DWORD r, DWORD type, const BYTE *data, DWORD size) {
  g_count.changes += g_count.on;
  return Original<decltype(&RegSetValueExW)>(g_count.set)(k, name, r, type, data, size);
}
LONG WINAPI CountDeleteKey(HKEY k, LPCWSTR sub) {
  g_count.changes += g_count.on;
  return Original<decltype(&RegDeleteKeyW)>(g_count.deleteKey)(k, sub);
}
LONG WINAPI CountDeleteValue(HKEY k, LPCWSTR name) {
  g_count.changes += g_count.on;
  return Original<decltype(&RegDeleteValueW)>(g_count.deleteValue)(k, name);
}

}  // namespace

namespace kvdrm {
DialogResult ShowSetupDialog(AttributeSet &set) {
  if (g_script.renameTo.empty()) return kDialogClosed;
  std::u16string typed(g_script.renameTo.begin(), g_script.renameTo.end());  // ASCII
  WTextSetZ(set.values[kAttrDsn], typed.c_str());
  // The installer's registration of the name, not the request's own change.
  const bool counting = g_count.on;
  g_count.on = false;
  SetListed(HKEY_CURRENT_USER, g_script.renameTo);
  g_count.on = counting;
  return kDialogClosed;
}
}  // namespace kvdrm

namespace {

HWND const kParent = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));

enum Request { kAdd, kConfigure, kRename, kRemove, kCaseRename, kLowerCaseRename };
const char *const kRequestNames[] = {"add B",    "configure A", "rename A to B", "remove A", "rename A to its upper case",
                                     "rename A to its lower case"};

// What became of the data sources A (existing before) and B (the new name).
// A configure names no value but the name, so the ones A holds stay; a
// rename takes them to B.
enum Fate { kIntact, kGone, kGoneFileKept, kRewritten, kWritten, kCopied, kAbsent };

// A key that the caller may read but not open with full access (or, given
// no KEY_READ in `everyone`, not even read); its DACL is restored when it
// goes.
struct LockedKey {
  LockedKey(HKEY root, const std::string &path, REGSAM view,
            DWORD everyone = KEY_READ | DELETE | WRITE_DAC | READ_CONTROL) {
    if (testlib::OpenKey(root, path, READ_CONTROL | WRITE_DAC, key, view) != ERROR_SUCCESS) return;
    DWORD size = 0;
    RegGetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, nullptr, &size);
    saved.resize(size);
    if (RegGetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, saved.data(), &size) != ERROR_SUCCESS) return;
    // RegSetKeySecurity changes this key only; existing subkeys keep theirs.
    // Else the platform ignores the DACL.
    REGSAM denied = (everyone & KEY_QUERY_VALUE) ? KEY_ALL_ACCESS : KEY_READ;
    locked = testlib::SetEveryoneAccess(key.get(), everyone) == ERROR_SUCCESS &&
             !testlib::KeyOpens(root, path, denied, view);
  }
  ~LockedKey() {
    if (!saved.empty()) RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, saved.data());
  }
  kvdrm::RegKey key;
  bool locked = false;
  std::vector<BYTE> saved;
};

// One request under one fault: an installer call that fails, or keys that
// open for reading only (B's, A's, the data sources root of
// HKEY_CURRENT_USER, or for a standard user the driver's registration, A
// and the data sources root in both views of HKEY_LOCAL_MACHINE), or that
// root with A's key not even readable.
enum Lock { kNoLock, kLockB, kLockA, kLockRoot, kLockMachine, kLockRootHideA };
const odbcdouble::Fn kNoFailure = odbcdouble::kFnCount;
struct Row {
  odbcdouble::Fn fails;
  Lock lock;
  uint16_t mode;  // the installer's configuration mode
  Request request;
  int error;  // for a lock, posted with "access denied"
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
      case kCaseRename:
      case kLowerCaseRename:
        for (char c : a) {
          int u = static_cast<unsigned char>(c);
          g_script.renameTo += static_cast<char>(r == kCaseRename ? toupper(u) : tolower(u));
        }
        return ConfigDSN(kParent, 2, d, AttributeList({"DSN=" + a}).c_str());
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
      case kRewritten:  // the driver written, the rest kept, listed as before
        EXPECT_TRUE(Listed(name));
        [[fallthrough]];
      case kCopied:
        EXPECT_TRUE(key);
        EXPECT_EQ(Sz(driver.name), Stored(name, "Driver"));
        EXPECT_EQ(Sz("old"), Stored(name, "Description"));
        EXPECT_EQ(Sz("old"), Stored(name, "DBQ"));
        EXPECT_EQ(Sz("old"), Stored(name, "CTX"));
        break;
      case kWritten:  // an add's defaults
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

  void RunRow(const Row &row) {
    static const char *const fns[] = {"SQLGetPrivateProfileString", "SQLGetConfigMode", "SQLSetConfigMode",
                                      "SQLWriteFileDSN"};
    SCOPED_TRACE(::testing::Message() << kRequestNames[row.request] << ", installer call " << row.fails
                                      << " fails, lock " << row.lock << ", mode " << row.mode);
    DeleteDataSourceEverywhere(a);
    DeleteDataSourceEverywhere(b);
    DeleteFileA((dir.path + "\\" + b + ".DSN").c_str());
    Existing(a, HKEY_CURRENT_USER, 0);
    if (row.lock == kLockB) Existing(b, HKEY_CURRENT_USER, 0);
    const REGSAM views[] = {0, KEY_WOW64_64KEY};
    if (row.lock == kLockMachine)
      for (REGSAM view : views) Existing(a, HKEY_LOCAL_MACHINE, view);
    odbcdouble::Reset(st);
    Answers();
    st->configMode = row.mode;
    snap::Picture before = Picture();

    std::vector<std::unique_ptr<LockedKey>> locks;
    auto lock = [&](HKEY root, const std::string &path, REGSAM view) {
      locks.emplace_back(new LockedKey(root, path, view));
      ASSERT_TRUE(locks.back()->locked) << path;
    };
    const std::string ini = "Software\\ODBC\\ODBC.INI";
    if (row.lock == kLockB) lock(HKEY_CURRENT_USER, DataSourcePath(b), 0);
    if (row.lock == kLockA) lock(HKEY_CURRENT_USER, DataSourcePath(a), 0);
    if (row.lock == kLockRoot || row.lock == kLockRootHideA) lock(HKEY_CURRENT_USER, ini, 0);
    if (row.lock == kLockRootHideA) {
      locks.emplace_back(new LockedKey(HKEY_CURRENT_USER, DataSourcePath(a), 0, WRITE_DAC | READ_CONTROL));
      ASSERT_TRUE(locks.back()->locked) << "A unreadable";
    }
    if (row.lock == kLockMachine)
      for (REGSAM view : views)
        for (const std::string &path : {DriverPath(driver.name), DataSourcePath(a), ini})
          lock(HKEY_LOCAL_MACHINE, path, view);
    if (HasFatalFailure()) return;
    if (row.fails != kNoFailure) st->fail[row.fails] = true;
    const HMODULE self = GetModuleHandleA(nullptr);
    testlib::ImportPatch create(self, "advapi32.dll", "RegCreateKeyExW", reinterpret_cast<void *>(CountCreate)),
        set(self, "advapi32.dll", "RegSetValueExW", reinterpret_cast<void *>(CountSet)),
        deleteKey(self, "advapi32.dll", "RegDeleteKeyW", reinterpret_cast<void *>(CountDeleteKey)),
        deleteValue(self, "advapi32.dll", "RegDeleteValueW", reinterpret_cast<void *>(CountDeleteValue));
    ASSERT_TRUE(create.ok() && set.ok() && deleteKey.ok() && deleteValue.ok());
    g_count.create = create.original();
    g_count.set = set.original();
    g_count.deleteKey = deleteKey.original();
    g_count.deleteValue = deleteValue.original();
    g_count.changes = 0;
    g_count.on = true;
    BOOL got = Run(row.request);
    g_count.on = false;
    locks.clear();
    if (row.error && row.lock != kNoLock) {
      EXPECT_EQ(0, g_count.changes) << "changed, then found out it could not";
    }
    if (row.fails != kNoFailure) {
      EXPECT_GT(odbcdouble::CountCalls(st, fns[row.fails]), 0) << "not reached";
    }
    g_script = Script();
    ExpectResult(got, row.error);
    if (row.error && row.lock != kNoLock) {
      EXPECT_NE(nullptr, strstr(st->errors[0].message, "access denied")) << st->errors[0].message;
    }
    ExpectFate(a, row.fateA);
    ExpectFate(b, row.fateB);
    EXPECT_EQ(row.mode, st->configMode) << "the installer's mode stays";
    // A failed request changes nothing but B's list entry, which the
    // stand-in dialog makes.
    ExpectOnlyChanged(before, row.error ? std::vector<std::string>{b} : std::vector<std::string>{a, b});
  }

  std::string neighbour = UniqueName("neighbour"), a = UniqueName("A"), b = UniqueName("B");
  Cleanup cleanup{{neighbour, a, b}};
};

// Each installer call fails in turn, under the kinds of request that make
// it (the configuration mode is read alike by all).
TEST_F(Faults, EachInstallerCallFailsInTurn) {
  const Row rows[] = {
      // No mode, no root: nothing is stored or removed, and that is a failure.
      {odbcdouble::kGetConfigMode, kNoLock, 0, kAdd, kRequestFailed, kIntact, kAbsent},
      {odbcdouble::kGetConfigMode, kNoLock, 0, kRemove, kRequestFailed, kIntact, kAbsent},
      // Only used around the file directory read; its failure is ignored.
      {odbcdouble::kSetConfigMode, kNoLock, 0, kRename, 0, kGone, kCopied},
      {odbcdouble::kSetConfigMode, kNoLock, 0, kRemove, 0, kGone, kAbsent},
      // Every profile entry reads as empty: a configure still keeps what A
      // holds, and with no file directory a removal leaves the file.
      {odbcdouble::kGetPrivateProfileString, kNoLock, 0, kConfigure, 0, kRewritten, kAbsent},
      {odbcdouble::kGetPrivateProfileString, kNoLock, 0, kRename, 0, kGoneFileKept, kCopied},
      {odbcdouble::kGetPrivateProfileString, kNoLock, 0, kRemove, 0, kGoneFileKept, kAbsent},
      // The file data source is the installer's to place; its failure is no
      // failure of the request.
      {odbcdouble::kWriteFileDSN, kNoLock, 0, kAdd, 0, kIntact, kWritten},
      {odbcdouble::kWriteFileDSN, kNoLock, 0, kRename, 0, kGone, kCopied},
  };
  for (const Row &row : rows) RunRow(row);
}

// A data source key that opens for reading only: adding over it fails and
// leaves it as it was; renaming onto it fails and keeps the old data source
// whole; configuring it, or removing it (which its access list would
// allow), fails and changes nothing. A standard user adds, configures,
// renames and removes user data sources as ever; a system data source
// fails, says why, and stays as it was.
TEST_F(Faults, KeysThatOpenForReadingOnly) {
  const Row rows[] = {
      {kNoFailure, kLockB, 0, kAdd, kRequestFailed, kIntact, kIntact},
      {kNoFailure, kLockB, 0, kRename, kRequestFailed, kIntact, kIntact},
      {kNoFailure, kLockA, 0, kConfigure, kRequestFailed, kIntact, kAbsent},
      {kNoFailure, kLockA, 0, kRemove, kRequestFailed, kIntact, kAbsent},
      {kNoFailure, kLockMachine, 1, kAdd, 0, kIntact, kWritten},
      {kNoFailure, kLockMachine, 1, kConfigure, 0, kRewritten, kAbsent},
      {kNoFailure, kLockMachine, 1, kRename, 0, kGone, kCopied},
      {kNoFailure, kLockMachine, 1, kRemove, 0, kGone, kAbsent},
      {kNoFailure, kLockMachine, 2, kConfigure, kRequestFailed, kIntact, kAbsent},
      {kNoFailure, kLockMachine, 2, kRemove, kRequestFailed, kIntact, kAbsent},
  };
  for (const Row &row : rows) RunRow(row);
}

// The data sources root of HKEY_CURRENT_USER does not open with full
// access (run alone: every program that writes data sources would fail
// meanwhile). A's key cannot be deleted: removal and rename fail and keep A
// whole, also when A's key cannot even be read (it is there all the same);
// A's own key is still writable, so configuring it works. (Whether a new
// key can be created under the root is the platform's affair.)
TEST_F(Faults, RootNotWritable) {
  const Row rows[] = {
      {kNoFailure, kLockRoot, 0, kRemove, kRequestFailed, kIntact, kAbsent},
      {kNoFailure, kLockRoot, 0, kRename, kRequestFailed, kIntact, kAbsent},
      {kNoFailure, kLockRootHideA, 0, kRemove, kRequestFailed, kIntact, kAbsent},
      {kNoFailure, kLockRoot, 0, kConfigure, 0, kRewritten, kAbsent},
  };
  for (const Row &row : rows) RunRow(row);
}

// Renaming to the same name in other letter case: registry keys, value
// names and file names do not tell case apart, so the "old" entries are
// the new ones. Nothing may be lost, the list entry the dialog made
// included.
TEST_F(Faults, RenameThatOnlyChangesLetterCase) {
  RunRow({kNoFailure, kNoLock, 0, kCaseRename, 0, kRewritten, kAbsent});
  RunRow({kNoFailure, kNoLock, 0, kLowerCaseRename, 0, kRewritten, kAbsent});
}

// A name that differs in its last character only is another name: the old
// one's key and list entry go.
TEST_F(Faults, RenameToANameDifferingInItsLastCharacter) {
  b = a.substr(0, a.size() - 1) + 'x';
  cleanup.names.push_back(b);
  RunRow({kNoFailure, kNoLock, 0, kRename, 0, kGone, kCopied});
}

}  // namespace
