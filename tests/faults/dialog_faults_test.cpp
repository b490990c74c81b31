// The dialog's installer calls failing (installer double, real dialog
// under Xvfb): SQLValidDSN refusing and SQLWriteDSNToIni failing while a
// data source is renamed. The dialog answers with its message and stays
// open; a Cancel then keeps the old data source whole, and an OK that goes
// through after the failure renames it. No other data source changes.
#include <windows.h>

#include <stdlib.h>

#include <string>

#include <gtest/gtest.h>

#include "tests/common/testlib.h"
#include "tests/dialog/driver.h"
#include "tests/faults/snapshot.h"
#include "tests/odbcdouble/odbc_double.h"

using namespace dlgtest;
using testlib::UniqueName;

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
    HWND box = WaitMessageBox(ui.uiThread);
    if (!box) return "<no message box>";
    std::string text = Text(GetDlgItem(box, 0xFFFF));
    ui.Click(GetDlgItem(box, IDOK));
    for (int i = 0; i < 100 && IsWindow(box); ++i) Sleep(20);
    ui.Sync();
    return text;
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
    BOOL r = RunDialog(2, Attributes({"DSN=" + a.name()}), [&](Ui &ui) {
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
  BOOL r = RunDialog(2, Attributes({"DSN=" + a.name()}), [&](Ui &ui) {
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

}  // namespace
