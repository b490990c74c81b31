// The dialog's installer calls failing (installer double, real dialog
// under Xvfb): SQLValidDSN refusing and SQLWriteDSNToIni failing while a
// data source is renamed. The dialog answers with its message and stays
// open; a Cancel then keeps the old data source whole, and an OK that goes
// through after the failure renames it. No other data source changes.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "tests/common/testlib.h"
#include "tests/common/dialog_driver.h"
#include "tests/common/snapshot.h"
#include "tests/odbcdouble/odbc_double.h"
#include "tests/common/attribute_list_text.h"

using namespace dlgtest;
using testlib::UniqueName;
using testlib::AttributeList;

namespace {

constexpr int kName = 17;
const BOOL kTrue = static_cast<BOOL>(-1);

class DialogFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    NEED_DISPLAY();
    state = odbcdouble::Attach();
    ASSERT_NE(nullptr, state) << "the installer double was not loaded";
    odbcdouble::Reset(state);
  }
  // Types the new name and presses OK; the message box that follows is
  // answered. Returns its text.
  std::string RenameAndAnswer(Ui &ui, const std::string &to) {
    ui.Clear(kName);
    ui.FocusOn(kName);
    ui.Chars(to);
    ui.Click(IDOK);
    return AnswerMessageBox(ui);
  }
  // The double's profile answers for the data source as the real
  // installer would from its key.
  void Profile(const std::string &name) {
    odbcdouble::SetProfile(state, name.c_str(), "Description", "Stored description");
    odbcdouble::SetProfile(state, name.c_str(), "DBQ", "C:\\STORED");
    odbcdouble::SetProfile(state, name.c_str(), "CTX", "C:\\STORED\\STORED.CTX");
  }
  odbcdouble::State *state = nullptr;
};

TEST_F(DialogFaults, RefusedOrUnregisteredNameThenCancelKeepsTheOldDataSource) {
  for (odbcdouble::Fn fn : {odbcdouble::kValidDSN, odbcdouble::kWriteDSNToIni}) {
    SCOPED_TRACE(fn == odbcdouble::kValidDSN ? "SQLValidDSN refuses" : "SQLWriteDSNToIni fails");
    DataSource a(UniqueName("a")), b(UniqueName("b"), false), bystander(UniqueName("by"));
    odbcdouble::Reset(state);
    Profile(a.name());
    snap::Picture before = snap::Take({});
    state->fail[fn] = true;
    std::string message;
    BOOL r = RunDialog(2, AttributeList({"DSN=" + a.name()}), [&](Ui &ui) {
      message = RenameAndAnswer(ui, b.name());
      EXPECT_TRUE(ui.Open()) << "the dialog stays open after the message";
      ui.Click(IDCANCEL);
      EXPECT_TRUE(ui.WaitClosed());
    });
    state->fail[fn] = false;
    EXPECT_EQ(kTrue, r);
    EXPECT_EQ(0u, message.find("Invalid data source name.")) << message;
    EXPECT_EQ(fn == odbcdouble::kValidDSN ? 0 : 1, odbcdouble::CountCalls(state, "SQLWriteDSNToIni"));
    EXPECT_EQ(0, odbcdouble::CountCalls(state, "SQLWriteFileDSN")) << "nothing stored after Cancel";
    EXPECT_EQ("Stored description", StoredValue(a.name(), "Description"));
    EXPECT_FALSE(Stored(b.name()));
    for (const std::string &d : snap::Differences(before, snap::Take({}), {})) ADD_FAILURE() << d;
  }
}

TEST_F(DialogFaults, RenameGoesThroughOnceTheInstallerTakesTheName) {
  DataSource a(UniqueName("a")), b(UniqueName("b"), false), bystander(UniqueName("by"));
  Profile(a.name());
  snap::Picture before = snap::Take({});
  state->fail[odbcdouble::kWriteDSNToIni] = true;
  BOOL r = RunDialog(2, AttributeList({"DSN=" + a.name()}), [&](Ui &ui) {
    RenameAndAnswer(ui, b.name());
    state->fail[odbcdouble::kWriteDSNToIni] = false;
    ui.Click(IDOK);
    EXPECT_TRUE(ui.WaitClosed());
  });
  EXPECT_EQ(kTrue, r);
  EXPECT_FALSE(Stored(a.name()));
  EXPECT_TRUE(Stored(b.name()));
  EXPECT_EQ("Stored description", StoredValue(b.name(), "Description"));
  for (const std::string &d : snap::Differences(before, snap::Take({}), {a.name(), b.name()})) ADD_FAILURE() << d;
}

// A standard user's system data source: its key opens for reading only.
// OK must not let the installer replace the key's values (it would, with a
// bare "Driver") when storage cannot write them again: the request fails
// and says why, and the data source stays as it was.
TEST_F(DialogFaults, ASystemDataSourceThatCannotBeWrittenKeepsItsValues) {
  DataSource a(UniqueName("sys"), false);
  testlib::ScopedKey key(HKEY_LOCAL_MACHINE, testlib::DataSourcePath(a.name()));
  key.SetString("Description", "Stored description");
  key.SetString("CTX", "C:\\STORED\\STORED.CTX");
  ASSERT_EQ(ERROR_SUCCESS, testlib::SetEveryoneAccess(key.get(), KEY_READ | WRITE_DAC));
  Profile(a.name());
  state->configMode = 2;
  BOOL r = RunDialog(2, AttributeList({"DSN=" + a.name()}), [&](Ui &ui) {
    ui.Click(IDOK);
    EXPECT_TRUE(ui.WaitClosed());
  });
  EXPECT_EQ(FALSE, r);
  ASSERT_EQ(1, state->errorCount);
  EXPECT_NE(nullptr, strstr(state->errors[0].message, "access denied")) << state->errors[0].message;
  EXPECT_EQ(0, odbcdouble::CountCalls(state, "SQLWriteDSNToIni"));
  kvdrm::RegKey k;
  char text[64] = "";
  DWORD size = sizeof text;
  ASSERT_EQ(ERROR_SUCCESS, testlib::OpenKey(HKEY_LOCAL_MACHINE, testlib::DataSourcePath(a.name()), KEY_READ, k));
  EXPECT_EQ(ERROR_SUCCESS,
            RegQueryValueExA(k.get(), "Description", nullptr, nullptr, reinterpret_cast<BYTE *>(text), &size));
  k.Close();
  EXPECT_STREQ("Stored description", text);
  SECURITY_DESCRIPTOR open;
  InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE);
  EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, &open));
}

// The dialog's loop dispatches every message of the caller's thread, so a
// second request can arrive while it is open. It is refused, and the open
// request goes on with its own state: here a rename of A to B.
TEST_F(DialogFaults, ARequestWhileTheDialogIsOpenIsRefused) {
  DataSource a(UniqueName("a")), b(UniqueName("b"), false), other(UniqueName("other"));
  Profile(a.name());
  auto configDsn = reinterpret_cast<BOOL(__stdcall *)(HWND, UINT, LPCSTR, LPCSTR)>(
      reinterpret_cast<void *>(testlib::KvdrmProc("ConfigDSN")));
  BOOL nested = kTrue;
  BOOL r = RunDialog(2, AttributeList({"DSN=" + a.name()}), [&](Ui &ui) {
    std::string list = AttributeList({"DSN=" + other.name(), "Description=nested"});
    ui.OnUiThread([&] { nested = configDsn(nullptr, 2, Driver().c_str(), list.c_str()); });
    EXPECT_TRUE(ui.Open());
    ui.Clear(kName);
    ui.FocusOn(kName);
    ui.Chars(b.name());
    ui.Click(IDOK);
    EXPECT_TRUE(ui.WaitClosed());
  });
  EXPECT_EQ(FALSE, nested);
  EXPECT_EQ(kTrue, r);
  EXPECT_FALSE(Stored(a.name()));
  EXPECT_EQ("Stored description", StoredValue(b.name(), "Description"));
  EXPECT_EQ("Stored description", StoredValue(other.name(), "Description"));
}

}  // namespace
