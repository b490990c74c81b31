// The request flow against the installer double: what ConfigDSN asks the
// installer (file data sources, the removal path, the configuration mode),
// what it reports when a request cannot be carried out, and the setup
// dialog in the loop. The setup code is compiled into this program with a
// scripted stand-in for the dialog, so renames and cancels happen without
// a window.
#include <windows.h>

#include <gtest/gtest.h>

#include "setup/dialog.h"
#include "setup/setup_request.h"
#include "setup/system_calls.h"
#include "tests/common/imports.h"
#include "tests/common/setup_helpers.h"
#include "tests/common/attribute_list_text.h"

using namespace setuptest;
using testlib::DataSourcePath;
using testlib::KeyExists;
using testlib::UniqueName;
using testlib::AttributeList;

namespace {

// What the stand-in dialog saw and does.
struct Script {
  int shown = 0;
  bool rename = false;
  std::string newName;  // "" acts as Cancel
  std::string seen[kvdrm::kAttributeCount + 1];
  std::string seenInitial, seenDriver;
} g_script;

}  // namespace

namespace kvdrm {
HWND OpenSetupDialog() { return nullptr; }
DialogResult ShowSetupDialog(AttributeSet &set) {
  ++g_script.shown;
  for (int i = 1; i <= kAttributeCount; ++i) g_script.seen[i] = testlib::Utf8(WTextStr(set.values[i]));
  g_script.seenInitial = testlib::Utf8(WTextStr(set.initialName));
  g_script.seenDriver = set.driver ? testlib::Utf8(set.driver) : "<null>";
  if (g_script.rename) WTextSetZ(set.values[kAttrDsn], testlib::U16(g_script.newName).c_str());
  return kDialogClosed;
}
}  // namespace kvdrm

namespace {

HWND const kParent = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));

class FlowTest : public DoubleTest {
 protected:
  void SetUp() override {
    DoubleTest::SetUp();
    g_script = Script();
  }
  BOOL Run(UINT request, const std::string &list, HWND parent = kParent, const char *drv = nullptr) {
    return ConfigDSN(parent, request, drv ? drv : driver.name.c_str(), list.c_str());
  }
  std::string call(int i) const { return std::string(st->calls[i].function) + "|" + st->calls[i].args; }
  void RenameTo(const std::string &name) {
    g_script.rename = true;
    g_script.newName = name;
  }
  // A stored data source with its list value and file data source.
  void Existing(const std::string &name, HKEY root = HKEY_CURRENT_USER, REGSAM view = 0) {
    MakeDataSource(name, "old", root, view);
    dir.File(name + ".DSN");
  }
};

// A rename: A's entries go, B is written with the values A's key held
// (not the profile's answers); then A's file goes (found in the directory that the installer names
// under ODBC_BOTH_DSN, the mode set back after) and B's is written.
TEST_F(FlowTest, ConfigureRenameRemovesTheOldNameThenWritesTheNew) {
  std::string a = UniqueName("A"), b = UniqueName("B");
  Cleanup cleanup({a, b});
  Existing(a);
  odbcdouble::SetProfile(st, a.c_str(), "Description", "desc of A");
  odbcdouble::SetProfile(st, a.c_str(), "DBQ", "D:\\A");
  odbcdouble::SetProfile(st, a.c_str(), "CTX", "D:\\A\\A.CTX");
  st->configMode = 1;  // ODBC_USER_DSN: not the mode of the directory read
  RenameTo(b);

  ExpectResult(Run(2, AttributeList({"DSN=" + a})), 0);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, DataSourcePath(a)));
  EXPECT_FALSE(ReadValue(HKEY_CURRENT_USER, kListKey, a.c_str()).present);
  EXPECT_FALSE(HasFile(a));
  // What A held, not what the profile answers: the request named none.
  EXPECT_EQ(Sz("old"), Stored(b, "Description"));
  EXPECT_EQ(Sz("old"), Stored(b, "DBQ"));
  EXPECT_EQ(Sz("old"), Stored(b, "CTX"));
  EXPECT_EQ(Sz(driver.name), Stored(b, "Driver"));
  // The files come last, once the registry is done: A's goes (the mode set
  // to ODBC_BOTH_DSN for the directory read, then back), then B's is written.
  int set0 = odbcdouble::FindCall(st, "SQLSetConfigMode", odbcdouble::FindCall(st, "SQLGetConfigMode"));
  ASSERT_GE(set0, 0);
  EXPECT_EQ("SQLSetConfigMode|0", call(set0));
  EXPECT_EQ("SQLGetPrivateProfileString|ODBC File DSN|DefaultDSNDir||256|odbc.ini", call(set0 + 1));
  EXPECT_EQ(0, st->calls[set0 + 1].mode);
  EXPECT_EQ("SQLSetConfigMode|1", call(set0 + 2));
  EXPECT_EQ("SQLWriteFileDSN|" + b + "|ODBC|DSN|" + b, call(set0 + 3));
  EXPECT_EQ(set0 + 4, st->callCount) << "nothing after the file";
  const int from = set0 + 4;
  EXPECT_EQ(-1, odbcdouble::FindCall(st, "SQLSetConfigMode", from));
  EXPECT_EQ(1, st->configMode) << "mode restored";
}

// A system data source of a driver known to the 64-bit view only: the
// 64-bit pass renames; the default view's old entries stay.
TEST_F(FlowTest, RenameTouchesOnlyViewsWithTheDriver) {
  std::string a = UniqueName("A"), b = UniqueName("B");
  Cleanup cleanup({a, b});
  ScopedDriver only64(UniqueName("drv64"), ScopedDriver::k64);
  Existing(a, HKEY_LOCAL_MACHINE, 0);
  Existing(a, HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY);
  st->configMode = 2;
  RenameTo(b);
  ASSERT_EQ(kTrue, Run(2, AttributeList({"DSN=" + a}), kParent, only64.name.c_str()));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, DataSourcePath(a), 0));
  EXPECT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, kListKey, a.c_str(), 0).present);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, DataSourcePath(b), 0));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, DataSourcePath(a), KEY_WOW64_64KEY));
  EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, kListKey, a.c_str(), KEY_WOW64_64KEY).present);
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, DataSourcePath(b), KEY_WOW64_64KEY));
  EXPECT_EQ(2, st->configMode);
}

// Cancel empties the name in the dialog: nothing is stored, and that is
// no failure.
TEST_F(FlowTest, DialogOnlyForAddOrConfigureWithParent) {
  const struct {
    UINT request;
    bool parent, cancel;
    int shown;
    bool keyStays;
  } cases[] = {
      {1, true, false, 1, true},  {2, true, false, 1, true},  {6, true, false, 1, true},
      {7, true, false, 1, true},  {0x10001, true, false, 1, true}, {3, true, false, 0, false},
      {0x10003, true, false, 0, false}, {1, false, false, 0, true}, {2, false, false, 0, true},
      {3, false, false, 0, false}, {1, true, true, 1, true},  {2, true, true, 1, true},
      {6, true, true, 1, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(::testing::Message() << c.request << (c.parent ? " with parent" : " without")
                                      << (c.cancel ? ", cancelled" : ""));
    std::string a = UniqueName("A");
    Cleanup cleanup({a});
    Existing(a);
    g_script = Script();
    if (c.cancel) RenameTo("");
    odbcdouble::ClearLog(st);
    EXPECT_EQ(kTrue, Run(c.request, AttributeList({"DSN=" + a}), c.parent ? kParent : nullptr));
    EXPECT_EQ(c.shown, g_script.shown);
    EXPECT_EQ(c.keyStays, KeyExists(HKEY_CURRENT_USER, DataSourcePath(a)));
    if (c.cancel) {
      EXPECT_EQ(0, st->callCount - odbcdouble::CountCalls(st, "SQLGetPrivateProfileString"))
          << "only the profile reads of filling";
      EXPECT_EQ(Sz("old"), Stored(a, "Description"));
    }
  }
}

TEST_F(FlowTest, DialogWorksOnTheParsedAndFilledSet) {
  std::string a = UniqueName("A");
  Cleanup cleanup({a});
  ASSERT_EQ(kTrue, Run(1, AttributeList({"DSN=" + a, "Description=typed"})));
  EXPECT_EQ(a, g_script.seen[1]);
  EXPECT_EQ(a, g_script.seenInitial);
  EXPECT_EQ("typed", g_script.seen[2]);
  EXPECT_EQ("C:\\KOLVAR\\KOLVARD.CTX", g_script.seen[4]) << "filled before the dialog";
  EXPECT_EQ(driver.name, g_script.seenDriver);

  // A later request without a name shows an empty name, not the last one.
  g_script = Script();
  EXPECT_EQ(kTrue, Run(2, AttributeList({})));
  EXPECT_EQ(1, g_script.shown);
  EXPECT_EQ("", g_script.seen[1]);
  EXPECT_EQ("", g_script.seenInitial);
}

// Each library bound at run time made unavailable in turn, for a request
// without a window: it needs the installer's library only. Without that
// one it fails before it touches anything (and no installer is there to
// take an error); the next request binds what was missing.
TEST_F(FlowTest, ARequestWithoutAWindowNeedsTheInstallerOnly) {
  for (int dll = 0; dll < kvdrm::kSystemDllCount; ++dll) {
    SCOPED_TRACE(testlib::Utf8(reinterpret_cast<const char16_t *>(kvdrm::g_systemDlls[dll])));
    std::string a = UniqueName("A");
    Cleanup cleanup({a});
    odbcdouble::ClearLog(st);
    const WCHAR *saved = kvdrm::g_systemDlls[dll];
    kvdrm::g_systemDlls[dll] = L"kvdrm-absent.dll";
    BOOL result = Run(1, AttributeList({"DSN=" + a}), nullptr);
    kvdrm::g_systemDlls[dll] = saved;
    const bool needed = dll == kvdrm::kOdbccp32;
    EXPECT_EQ(needed ? FALSE : kTrue, result);
    EXPECT_EQ(!needed, KeyExists(HKEY_CURRENT_USER, DataSourcePath(a)));
    if (needed) {
      EXPECT_EQ(0, st->callCount) << "no installer call";
      EXPECT_EQ(0, st->errorCount);
    }
  }
  std::string b = UniqueName("B");
  Cleanup cleanup({b});
  EXPECT_EQ(kTrue, Run(1, AttributeList({"DSN=" + b}), nullptr));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, DataSourcePath(b)));
}

TEST_F(FlowTest, UnregisteredDriverFailsToWriteButNotToRemove) {
  std::string name = UniqueName("ds");
  Cleanup cleanup({name});
  std::string list = AttributeList({"DSN=" + name});
  // An empty description would name ODBCINST.INI itself.
  for (const char *missing : {"KvdrmTest-no-such-driver", ""}) {
    for (UINT request : {1u, 2u}) {
      SCOPED_TRACE(::testing::Message() << "\"" << missing << "\", " << request);
      odbcdouble::Reset(st);
      ExpectResult(Run(request, list, nullptr, missing), kComponentNotFound);
      EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, DataSourcePath(name)));
      EXPECT_EQ(0, odbcdouble::CountCalls(st, "SQLWriteFileDSN"));
    }
  }
  // A data source outlives its driver's registration, and can still go.
  ASSERT_EQ(kTrue, Run(1, list, nullptr));
  odbcdouble::Reset(st);
  ExpectResult(Run(3, list, nullptr, "KvdrmTest-no-such-driver"), 0);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, DataSourcePath(name)));
}

}  // namespace
