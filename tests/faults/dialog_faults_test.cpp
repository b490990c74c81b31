// The setup dialog's OK against the installer double (real dialog under
// Xvfb): which installer calls it makes, in which order, and what it does
// when they refuse or fail. A refused OK answers with its message and
// leaves the dialog open; a Cancel then keeps the old data source whole,
// and an OK that goes through afterwards stores. No other data source
// changes.
#include <windows.h>

#include <string.h>

#include <string>
#include <vector>

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

class DialogFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    NEED_DISPLAY();
    state = odbcdouble::Attach();
    ASSERT_NE(nullptr, state) << "the installer double was not loaded";
    odbcdouble::Reset(state);
  }
  // The arguments of each recorded call to `function`, in order.
  std::vector<std::string> Calls(const char *function) const {
    std::vector<std::string> args;
    for (int i = odbcdouble::FindCall(state, function); i >= 0; i = odbcdouble::FindCall(state, function, i + 1))
      args.push_back(state->calls[i].args);
    return args;
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

std::string SourceList(const std::string &name) {
  return AttributeList({"DSN=" + name, "Description=d", "DBQ=C:\\D", "CTX=C:\\D\\M.CTX"});
}

// A name typed before OK is checked in this order: a duplicate in the
// installer's profile first, then the names that would make the installer
// wipe its list ("ODBC Data Sources") or its settings, which storage could
// not store afterwards, with the list already gone; then the installer's
// SQLValidDSN. Only a name that passes all three reaches SQLWriteDSNToIni.
// A '/' is an ordinary character.
TEST_F(DialogFaults, TypedNamesAreCheckedInOrderBeforeRegistering) {
  const std::string duplicate = UniqueName("dup"), slashed = "a/b-" + UniqueName("slash"),
                    invalid = "[" + UniqueName("bad");
  DataSource initial(UniqueName("init"), false), cleanSlashed(slashed, false), cleanInvalid(invalid, false);
  // The message (null: accepted) and whether SQLValidDSN was asked.
  const struct {
    std::string name;
    const char *message;
    bool askedInstaller;
  } rows[] = {{duplicate, kDuplicateText, false},       {"ODBC Data Sources", kInvalidText, false},
              {"odbc DATA sources", kInvalidText, false}, {"ODBC File dsn", kInvalidText, false},
              {invalid, kInvalidText, true},             {slashed, nullptr, true}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    odbcdouble::Reset(state);
    odbcdouble::SetProfile(state, duplicate.c_str(), "CTX", "C:\\X.CTX");
    RunDialog(kAdd, SourceList(initial.name()), [&](Ui &ui) {
      odbcdouble::ClearLog(state);
      ui.OkWithName(row.name);
      if (!row.message) EXPECT_TRUE(ui.WaitClosed());
      else EXPECT_EQ(row.message, AnswerMessageBox(ui));
      EXPECT_EQ(row.message != nullptr, ui.Open());
    });
    std::vector<std::string> reads = Calls("SQLGetPrivateProfileString");
    EXPECT_EQ(row.name + "|<null>||256|odbc.ini", reads.empty() ? "<none>" : reads.front()) << "the entry list";
    EXPECT_EQ(row.askedInstaller ? std::vector<std::string>{row.name} : std::vector<std::string>{},
              Calls("SQLValidDSN"));
    EXPECT_EQ(row.message ? std::vector<std::string>{} : std::vector<std::string>{row.name + "|" + Driver()},
              Calls("SQLWriteDSNToIni"));
    // The list's own key exists whatever happens.
    if (row.askedInstaller) {
      EXPECT_EQ(!row.message, Stored(row.name));
    }
  }
}

// A rename that SQLValidDSN refuses or that SQLWriteDSNToIni fails to
// register: the message, the dialog stays open. A Cancel then keeps the old
// data source whole; an OK once the installer takes the name renames it.
// The dialog's loop dispatches every message of the caller's thread, so a
// second request can arrive meanwhile: it is refused, and the open request
// goes on with its own state.
TEST_F(DialogFaults, RenameThroughInstallerFailuresAndANestedRequest) {
  const struct {
    odbcdouble::Fn fails;
    bool retry;
    int writes;  // calls of SQLWriteDSNToIni
  } rows[] = {{odbcdouble::kValidDSN, false, 0}, {odbcdouble::kWriteDSNToIni, false, 1},
              {odbcdouble::kWriteDSNToIni, true, 2}};
  for (const auto &row : rows) {
    SCOPED_TRACE(std::string(row.fails == odbcdouble::kValidDSN ? "SQLValidDSN refuses" : "SQLWriteDSNToIni fails") +
                 (row.retry ? ", then OK" : ", then Cancel"));
    DataSource a(UniqueName("a")), b(UniqueName("b"), false), bystander(UniqueName("by"));
    odbcdouble::Reset(state);
    Profile(a.name());
    snap::Picture before = snap::Take({});
    state->fail[row.fails] = true;
    BOOL nested = kTrue;
    const std::string nestedList = AttributeList({"DSN=" + bystander.name(), "Description=nested"});
    BOOL r = RunDialog(kConfigure, AttributeList({"DSN=" + a.name()}), [&](Ui &ui) {
      ui.OnUiThread([&] { nested = testlib::KvdrmConfigDSN()(nullptr, kConfigure, Driver().c_str(), nestedList.c_str()); });
      ui.OkWithName(b.name());
      EXPECT_EQ(kInvalidText, AnswerMessageBox(ui));
      EXPECT_TRUE(ui.Open()) << "the dialog stays open after the message";
      state->fail[row.fails] = false;
      ui.Click(row.retry ? IDOK : IDCANCEL);
      EXPECT_TRUE(ui.WaitClosed());
    });
    EXPECT_EQ(kTrue, r);
    EXPECT_EQ(FALSE, nested);
    EXPECT_EQ(row.writes, odbcdouble::CountCalls(state, "SQLWriteDSNToIni"));
    EXPECT_TRUE(row.retry || odbcdouble::CountCalls(state, "SQLWriteFileDSN") == 0) << "nothing stored after Cancel";
    EXPECT_EQ(row.retry ? "<missing>" : "Stored description", StoredValue(a.name(), "Description"));
    EXPECT_EQ(row.retry ? "Stored description" : "<missing>", StoredValue(b.name(), "Description"));
    const std::vector<std::string> changed = row.retry ? std::vector<std::string>{a.name(), b.name()}
                                                       : std::vector<std::string>{};
    for (const std::string &d : snap::Differences(before, snap::Take({}), changed)) ADD_FAILURE() << d;
  }
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
  BOOL r = RunDialog(kConfigure, AttributeList({"DSN=" + a.name()}), [&](Ui &ui) {
    ui.Click(IDOK);
    EXPECT_TRUE(ui.WaitClosed());
  });
  EXPECT_EQ(FALSE, r);
  ASSERT_EQ(1, state->errorCount);
  EXPECT_NE(nullptr, strstr(state->errors[0].message, "access denied")) << state->errors[0].message;
  EXPECT_EQ(0, odbcdouble::CountCalls(state, "SQLWriteDSNToIni"));
  testlib::Value description = testlib::ReadValue(HKEY_LOCAL_MACHINE, testlib::DataSourcePath(a.name()), "Description");
  EXPECT_STREQ("Stored description", description.data.c_str());
  EXPECT_EQ(ERROR_SUCCESS, testlib::SetEveryoneAccess(key.get(), KEY_ALL_ACCESS));  // so that it can go
}

}  // namespace
