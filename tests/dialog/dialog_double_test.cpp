// The setup dialog's OK against the installer double: which installer calls
// it makes, in which order, and what it does when they refuse.
#include <windows.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/common/testlib.h"
#include "tests/common/dialog_driver.h"
#include "tests/odbcdouble/odbc_double.h"
#include "tests/common/attribute_list_text.h"

using namespace dlgtest;
using testlib::UniqueName;
using testlib::AttributeList;

namespace {

constexpr int kName = 17;
const char kDuplicateText[] = "Data source name already exists.";
const char kInvalidText[] =
    "Invalid data source name. The first character must be a letter and it may not contain any of the "
    "following characters: [ ] { } ( ) ? * = ! @ , ; \\";

class DialogWithDouble : public ::testing::Test {
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
  odbcdouble::State *state = nullptr;
};

std::string SourceList(const std::string &name) {
  return AttributeList({"DSN=" + name, "Description=d", "DBQ=C:\\D", "CTX=C:\\D\\M.CTX"});
}

TEST_F(DialogWithDouble, KeepingTheNameSkipsTheDuplicateTestAndRegisters) {
  DataSource cleanup(UniqueName("keep"), false);
  odbcdouble::SetProfile(state, cleanup.name().c_str(), "Description", "exists");
  RunDialog(2, SourceList(cleanup.name()), [&](Ui &ui) {
    odbcdouble::ClearLog(state);
    ui.Click(IDOK);
    EXPECT_TRUE(ui.WaitClosed());
  });
  for (const std::string &args : Calls("SQLGetPrivateProfileString"))
    EXPECT_EQ(std::string::npos, args.find("|<null>|")) << "an entry list was read: " << args;
  EXPECT_EQ(std::vector<std::string>{cleanup.name()}, Calls("SQLValidDSN"));
  EXPECT_EQ(std::vector<std::string>{cleanup.name() + "|" + Driver()}, Calls("SQLWriteDSNToIni"));
  EXPECT_LT(odbcdouble::FindCall(state, "SQLValidDSN"), odbcdouble::FindCall(state, "SQLWriteDSNToIni"));
}

TEST_F(DialogWithDouble, ADuplicateIsFoundInTheProfileBeforeAnyValidation) {
  DataSource a(UniqueName("a"), false);
  const std::string other = UniqueName("other");
  odbcdouble::SetProfile(state, other.c_str(), "CTX", "C:\\X.CTX");
  RunDialog(2, SourceList(a.name()), [&](Ui &ui) {
    odbcdouble::ClearLog(state);
    ui.Clear(kName);
    ui.FocusOn(kName);
    ui.Chars(other);
    ui.Click(IDOK);
    EXPECT_EQ(kDuplicateText, AnswerMessageBox(ui));
    EXPECT_TRUE(ui.Open());
    ui.Click(IDCANCEL);
  });
  std::vector<std::string> reads = Calls("SQLGetPrivateProfileString");
  ASSERT_FALSE(reads.empty());
  EXPECT_EQ(other + "|<null>||256|odbc.ini", reads.front());
  EXPECT_TRUE(Calls("SQLValidDSN").empty());
  EXPECT_TRUE(Calls("SQLWriteDSNToIni").empty());
}

TEST_F(DialogWithDouble, ARefusedNameNeverReachesWriteDsnToIni) {
  const std::string name = "[" + UniqueName("bad");
  DataSource cleanup(name, false);
  RunDialog(1, SourceList(name), [&](Ui &ui) {
    ui.Click(IDOK);
    EXPECT_EQ(kInvalidText, AnswerMessageBox(ui));
    EXPECT_TRUE(ui.Open());
    ui.Click(IDCANCEL);
  });
  EXPECT_EQ(std::vector<std::string>{name}, Calls("SQLValidDSN"));
  EXPECT_TRUE(Calls("SQLWriteDSNToIni").empty());
  EXPECT_FALSE(Stored(name));
}

// Names that would make the installer wipe its list ("ODBC Data Sources")
// or its settings never reach it: storage could not store them afterwards,
// and the list would already be gone. A '/' is an ordinary character.
TEST_F(DialogWithDouble, NamesStorageRefusesAreNeverRegistered) {
  const std::string names[] = {"ODBC Data Sources", "odbc DATA sources", "ODBC File dsn"};
  for (const std::string &name : names) {
    SCOPED_TRACE(name);
    odbcdouble::Reset(state);
    RunDialog(1, SourceList(name), [&](Ui &ui) {
      ui.Click(IDOK);
      EXPECT_EQ(kInvalidText, AnswerMessageBox(ui));
      EXPECT_TRUE(ui.Open());
      ui.Click(IDCANCEL);
    });
    EXPECT_TRUE(Calls("SQLWriteDSNToIni").empty());
  }
  const std::string slashed = "a/b-" + UniqueName("slash");
  DataSource cleanup(slashed, false);
  odbcdouble::Reset(state);
  RunDialog(1, SourceList(slashed), [&](Ui &ui) { ui.Click(IDOK); });
  EXPECT_EQ(1u, Calls("SQLWriteDSNToIni").size());
  EXPECT_TRUE(Stored(slashed));
}

TEST_F(DialogWithDouble, AFailedWriteDsnToIniIsTheInvalidNameMessage) {
  DataSource cleanup(UniqueName("wfail"), false);
  state->fail[odbcdouble::kWriteDSNToIni] = true;
  RunDialog(1, SourceList(cleanup.name()), [&](Ui &ui) {
    ui.Click(IDOK);
    EXPECT_EQ(kInvalidText, AnswerMessageBox(ui));
    EXPECT_TRUE(ui.Open());
    // Once the installer takes the name, the same OK goes through.
    state->fail[odbcdouble::kWriteDSNToIni] = false;
    ui.Click(IDOK);
    EXPECT_TRUE(ui.WaitClosed());
  });
  EXPECT_EQ(2u, Calls("SQLWriteDSNToIni").size());
  EXPECT_TRUE(Stored(cleanup.name()));
}

}  // namespace
