// ConfigDSN against the installer double: what it asks the installer
// (file data sources, the removal path, the configuration mode) and what
// it reports when a request cannot be carried out.
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/common/imports.h"
#include "tests/odbcdouble/odbc_double.h"
#include "tests/common/setup_helpers.h"
#include "tests/common/attribute_list_text.h"

using namespace setuptest;
using testlib::DataSourcePath;
using testlib::KeyExists;
using testlib::UniqueName;
using testlib::AttributeList;

namespace {

const BOOL kTrue = static_cast<BOOL>(-1);
const int kInvalidName = 7, kComponentNotFound = 6, kRequestFailed = 11;

typedef BOOL(__stdcall *ConfigFn)(HWND, UINT, LPCSTR, LPCSTR);

class DoubleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    st = odbcdouble::Attach();
    ASSERT_NE(nullptr, st) << "odbccp32.dll is not the double";
    odbcdouble::Reset(st);
    config = reinterpret_cast<ConfigFn>(reinterpret_cast<void *>(testlib::KvdrmProc("ConfigDSN")));
    ASSERT_NE(nullptr, config);
  }
  BOOL Config(UINT request, const std::string &list, HWND parent = nullptr) {
    return config(parent, request, driver.name.c_str(), list.c_str());
  }
  BOOL ConfigNull(UINT request) { return config(nullptr, request, driver.name.c_str(), nullptr); }
  std::string Args(int i) const { return st->calls[i].args; }
  // The one error posted by the last request, which must be the request's
  // last installer call (the real installer's other calls clear the queue).
  void ExpectPosted(int code) {
    ASSERT_EQ(1, st->errorCount);
    EXPECT_EQ(uint32_t(code), st->errors[0].code);
    EXPECT_STRNE("", st->errors[0].message);
    ASSERT_GT(st->callCount, 0);
    EXPECT_STREQ("SQLPostInstallerError", st->calls[st->callCount - 1].function);
  }
  void ExpectNothingStored() {
    EXPECT_EQ(0, odbcdouble::CountCalls(st, "SQLWriteFileDSN"));
    EXPECT_EQ(0, odbcdouble::CountCalls(st, "SQLGetConfigMode"));
  }

  odbcdouble::State *st = nullptr;
  ConfigFn config = nullptr;
  ScopedDriver driver{UniqueName("drv"), ScopedDriver::kBoth};
};

TEST_F(DoubleTest, AddWritesTheFileDataSourceInBothPasses) {
  std::string name = UniqueName("ds");
  Cleanup cleanup({name});
  // 0x10001: only the low 16 bits count, so this is an add with defaults.
  ASSERT_EQ(kTrue, Config(0x10001, AttributeList({"DSN=" + name})));
  EXPECT_EQ(Sz("Kolvar Muster Firmendaten"), ReadValue(HKEY_CURRENT_USER, DataSourcePath(name), "Description").data);
  ASSERT_EQ(2, odbcdouble::CountCalls(st, "SQLWriteFileDSN"));
  int i = odbcdouble::FindCall(st, "SQLWriteFileDSN");
  EXPECT_EQ(name + "|ODBC|DSN|" + name, Args(i));
  EXPECT_EQ(name + "|ODBC|DSN|" + name, Args(odbcdouble::FindCall(st, "SQLWriteFileDSN", i + 1)));
  EXPECT_EQ(0, st->errorCount);
  // An add reads nothing from the profile and removes nothing.
  EXPECT_EQ(0, odbcdouble::CountCalls(st, "SQLGetPrivateProfileString"));
  EXPECT_EQ(0, odbcdouble::CountCalls(st, "SQLSetConfigMode"));
}

TEST_F(DoubleTest, FailingFileDataSourceWriteIsNoFailure) {
  std::string name = UniqueName("ds");
  Cleanup cleanup({name});
  st->fail[odbcdouble::kWriteFileDSN] = true;
  EXPECT_EQ(kTrue, Config(1, AttributeList({"DSN=" + name})));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, DataSourcePath(name)));
  EXPECT_EQ(0, st->errorCount);
}

TEST_F(DoubleTest, OtherCodesConfigureFromTheProfile) {
  const struct {
    UINT request;
  } cases[] = {{2}, {4}, {5}, {6}, {7}, {0x10002}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.request);
    std::string name = UniqueName("ds");
    Cleanup cleanup({name});
    odbcdouble::Reset(st);
    odbcdouble::SetProfile(st, name.c_str(), "Description", "from profile");
    odbcdouble::SetProfile(st, name.c_str(), "CTX", "H:\\P.CTX");
    ASSERT_EQ(kTrue, Config(c.request, AttributeList({"DSN=" + name, "DBQ=H:\\Q"})));
    EXPECT_EQ(Sz("from profile"), ReadValue(HKEY_CURRENT_USER, DataSourcePath(name), "Description").data);
    EXPECT_EQ(Sz("H:\\Q"), ReadValue(HKEY_CURRENT_USER, DataSourcePath(name), "DBQ").data);
    EXPECT_EQ(Sz("H:\\P.CTX"), ReadValue(HKEY_CURRENT_USER, DataSourcePath(name), "CTX").data);
    // Both reads from the initial name's section; DBQ was supplied.
    EXPECT_EQ(2, odbcdouble::CountCalls(st, "SQLGetPrivateProfileString"));
    EXPECT_EQ(name + "|Description||256|odbc.ini", Args(odbcdouble::FindCall(st, "SQLGetPrivateProfileString")));
    EXPECT_EQ(2, odbcdouble::CountCalls(st, "SQLWriteFileDSN"));
    EXPECT_EQ(0, odbcdouble::CountCalls(st, "SQLSetConfigMode")) << "nothing is removed";
  }
}

TEST_F(DoubleTest, RemovalReadsTheFileDirectoryUnderBothModeAndRestores) {
  std::string name = UniqueName("ds");
  Cleanup cleanup({name});
  TempDir dir;
  std::string file = dir.File(name + ".DSN");
  ASSERT_TRUE(FileExists(file));
  testlib::ScopedKey ds(HKEY_CURRENT_USER, DataSourcePath(name));
  SetListed(HKEY_CURRENT_USER, name);
  odbcdouble::SetDefaultDsnDir(st, dir.path.c_str());
  st->configMode = 1;  // ODBC_USER_DSN: not the mode of the directory read

  ASSERT_EQ(kTrue, Config(3, AttributeList({"DSN=" + name}), reinterpret_cast<HWND>(1)));
  EXPECT_FALSE(FileExists(file));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, DataSourcePath(name)));
  EXPECT_FALSE(ReadValue(HKEY_CURRENT_USER, kListKey, name.c_str()).present);
  EXPECT_EQ(0, odbcdouble::CountCalls(st, "SQLWriteFileDSN"));
  EXPECT_EQ(0, st->errorCount);
  EXPECT_EQ(1, st->configMode) << "mode restored";

  // Per pass: mode 0, the directory read under it, the mode back.
  int from = odbcdouble::FindCall(st, "SQLGetConfigMode");
  ASSERT_GE(from, 0);
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass);
    int set0 = odbcdouble::FindCall(st, "SQLSetConfigMode", from);
    ASSERT_GE(set0, 0);
    EXPECT_EQ("0", Args(set0));
    ASSERT_STREQ("SQLGetPrivateProfileString", st->calls[set0 + 1].function);
    EXPECT_EQ("ODBC File DSN|DefaultDSNDir||256|odbc.ini", Args(set0 + 1));
    EXPECT_EQ(0, st->calls[set0 + 1].mode);
    ASSERT_STREQ("SQLSetConfigMode", st->calls[set0 + 2].function);
    EXPECT_EQ("1", Args(set0 + 2));
    from = set0 + 3;
  }
  EXPECT_EQ(-1, odbcdouble::FindCall(st, "SQLSetConfigMode", from));
}

TEST_F(DoubleTest, RemovalWithoutFileDirectoryDeletesNoFile) {
  std::string name = UniqueName("ds");
  Cleanup cleanup({name});
  // "\" + name + ".DSN" from an empty directory would be a file at the root.
  testlib::ScopedKey ds(HKEY_CURRENT_USER, DataSourcePath(name));
  EXPECT_EQ(kTrue, Config(3, AttributeList({"DSN=" + name})));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, DataSourcePath(name)));
  // Removing again finds nothing and is no failure.
  EXPECT_EQ(kTrue, Config(3, AttributeList({"DSN=" + name})));
  EXPECT_EQ(0, st->errorCount);
}

TEST_F(DoubleTest, ConfigModeUnreadableFails) {
  std::string name = UniqueName("ds");
  Cleanup cleanup({name});
  st->fail[odbcdouble::kGetConfigMode] = true;
  EXPECT_EQ(FALSE, Config(1, AttributeList({"DSN=" + name})));
  ExpectPosted(kRequestFailed);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, DataSourcePath(name)));
  EXPECT_EQ(0, odbcdouble::CountCalls(st, "SQLWriteFileDSN"));
}

TEST_F(DoubleTest, NoNameFails) {
  std::string lower = UniqueName("lower");
  Cleanup cleanup({lower});
  const struct {
    const char *what;
    bool null;
    std::string list;
    UINT request;
  } cases[] = {
      {"null list, add", true, "", 1},
      {"empty list, configure", false, AttributeList({}), 2},
      {"empty list, remove", false, AttributeList({}), 3},
      {"lower-case key only", false, AttributeList({"dsn=" + lower}), 1},
      {"empty name", false, AttributeList({"DSN="}), 1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    odbcdouble::Reset(st);
    EXPECT_EQ(FALSE, c.null ? ConfigNull(c.request) : Config(c.request, c.list));
    ExpectPosted(kInvalidName);
    ExpectNothingStored();
  }
}

// A list without a name never acts on the name an earlier request left.
TEST_F(DoubleTest, RequestWithoutNameForgetsTheEarlierName) {
  std::string name = UniqueName("ds");
  Cleanup cleanup({name});
  ASSERT_EQ(kTrue, Config(1, AttributeList({"DSN=" + name})));
  DeleteDataSourceEverywhere(name);

  odbcdouble::ClearLog(st);
  EXPECT_EQ(FALSE, ConfigNull(2));
  ExpectPosted(kInvalidName);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, DataSourcePath(name)));

  testlib::ScopedKey ds(HKEY_CURRENT_USER, DataSourcePath(name));
  odbcdouble::ClearLog(st);
  EXPECT_EQ(FALSE, Config(3, AttributeList({"Description=x"})));
  ExpectPosted(kInvalidName);
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, DataSourcePath(name)));
  ExpectNothingStored();
}

TEST_F(DoubleTest, UnregisteredDriverFailsToWriteButNotToRemove) {
  std::string name = UniqueName("ds");
  Cleanup cleanup({name});
  std::string list = AttributeList({"DSN=" + name});
  for (UINT request : {1u, 2u}) {
    SCOPED_TRACE(request);
    odbcdouble::Reset(st);
    EXPECT_EQ(FALSE, config(nullptr, request, "KvdrmTest-no-such-driver", list.c_str()));
    ExpectPosted(kComponentNotFound);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, DataSourcePath(name)));
    EXPECT_EQ(0, odbcdouble::CountCalls(st, "SQLWriteFileDSN"));
  }
  // A data source outlives its driver's registration, and can still go.
  ASSERT_EQ(kTrue, Config(1, list));
  odbcdouble::Reset(st);
  EXPECT_EQ(kTrue, config(nullptr, 3, "KvdrmTest-no-such-driver", list.c_str()));
  EXPECT_EQ(0, st->errorCount);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, DataSourcePath(name)));
  // An empty description would name ODBCINST.INI itself.
  odbcdouble::Reset(st);
  EXPECT_EQ(FALSE, config(nullptr, 1, "", list.c_str()));
  ExpectPosted(kComponentNotFound);
}

TEST_F(DoubleTest, DataSourceKeyNotCreatableFails) {
  // Registry key names are limited to 255 characters.
  std::string name(300, 'k');
  Cleanup cleanup({name});
  EXPECT_EQ(FALSE, Config(1, AttributeList({"DSN=" + name})));
  ExpectPosted(kRequestFailed);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, DataSourcePath(name)));
  // The file data source is still attempted in both passes.
  EXPECT_EQ(2, odbcdouble::CountCalls(st, "SQLWriteFileDSN"));
}

// KVDRM.dll's own import of RegSetValueExA, pointed at this stand-in: the
// write of the value named g_failingValue fails, the others go through.
typedef LONG(WINAPI *SetValueFn)(HKEY, LPCSTR, DWORD, DWORD, const BYTE *, DWORD);
SetValueFn g_setValue;
const char *g_failingValue = "";
LONG WINAPI SetValueFailingOne(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE *data, DWORD size) {
  if (name && lstrcmpiA(name, g_failingValue) == 0) return ERROR_WRITE_FAULT;
  return g_setValue(key, name, reserved, type, data, size);
}

// One value that cannot be written fails the request, and the values after
// it are written all the same.
TEST_F(DoubleTest, FailedValueWriteFailsButTheOthersAreWritten) {
  const char *const values[] = {"Description", "DBQ", "CTX", "Driver"};
  for (const char *failing : values) {
    SCOPED_TRACE(failing);
    std::string name = UniqueName("ds");
    Cleanup cleanup({name});
    odbcdouble::Reset(st);
    g_failingValue = failing;
    {
      testlib::ImportPatch patch(testlib::Kvdrm(), "advapi32.dll", "RegSetValueExA",
                                 reinterpret_cast<void *>(&SetValueFailingOne));
      ASSERT_TRUE(patch.ok()) << "KVDRM.dll does not import ADVAPI32!RegSetValueExA";
      g_setValue = reinterpret_cast<SetValueFn>(patch.original());
      EXPECT_EQ(FALSE, Config(1, AttributeList({"DSN=" + name, "Description=d", "DBQ=E:\\Q", "CTX=E:\\Q\\Q.CTX"})));
    }
    ExpectPosted(kRequestFailed);
    const std::string written[] = {Sz("d"), Sz("E:\\Q"), Sz("E:\\Q\\Q.CTX"), Sz(driver.name)};
    for (int i = 0; i < 4; ++i) {
      Value v = ReadValue(HKEY_CURRENT_USER, DataSourcePath(name), values[i]);
      if (values[i] == failing) {
        EXPECT_FALSE(v.present) << values[i];
      } else {
        EXPECT_EQ(written[i], v.data) << values[i];
      }
    }
  }
}

// Names that reach other keys or files are neither stored nor removed.
TEST_F(DoubleTest, BackslashesAreRefusedSlashesAreOrdinary) {
  std::string leaf = UniqueName("leaf");
  std::string parent = UniqueName("parent");
  std::string slashed = parent + "/" + leaf;
  Cleanup cleanup({parent, leaf, slashed});
  odbcdouble::Reset(st);
  EXPECT_EQ(FALSE, Config(1, AttributeList({"DSN=" + parent + "\\" + leaf})));
  ExpectPosted(kInvalidName);
  ExpectNothingStored();
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, DataSourcePath(parent)));

  // "a/b" is one key of its own, and has no file data source: the file
  // would lie in a subfolder.
  TempDir dir;
  CreateDirectoryA((dir.path + "\\" + parent).c_str(), nullptr);
  std::string nestedFile = dir.File(parent + "\\" + leaf + ".DSN");
  ASSERT_TRUE(FileExists(nestedFile));
  odbcdouble::SetDefaultDsnDir(st, dir.path.c_str());
  odbcdouble::Reset(st);
  ASSERT_EQ(kTrue, Config(1, AttributeList({"DSN=" + slashed})));
  kvdrm::RegKey k;
  ASSERT_EQ(ERROR_SUCCESS, testlib::OpenKey(HKEY_CURRENT_USER, "Software\\ODBC\\ODBC.INI\\" + slashed, KEY_READ, k));
  k.Close();
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, DataSourcePath(parent)));
  EXPECT_EQ(0, odbcdouble::CountCalls(st, "SQLWriteFileDSN"));
  odbcdouble::Reset(st);
  odbcdouble::SetDefaultDsnDir(st, dir.path.c_str());
  ASSERT_EQ(kTrue, Config(3, AttributeList({"DSN=" + slashed})));
  EXPECT_NE(ERROR_SUCCESS, testlib::OpenKey(HKEY_CURRENT_USER, "Software\\ODBC\\ODBC.INI\\" + slashed, KEY_READ, k));
  EXPECT_TRUE(FileExists(nestedFile));

  // Removal of "parent\leaf" must not reach the nested key or a file in a
  // subfolder of the file data source directory.
  std::string file = nestedFile;
  testlib::ScopedKey nested(HKEY_CURRENT_USER, DataSourcePath(parent + "\\" + leaf));
  odbcdouble::Reset(st);
  odbcdouble::SetDefaultDsnDir(st, dir.path.c_str());
  EXPECT_EQ(FALSE, Config(3, AttributeList({"DSN=" + parent + "\\" + leaf})));
  ExpectPosted(kInvalidName);
  EXPECT_TRUE(FileExists(file));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, DataSourcePath(parent + "\\" + leaf)));
  EXPECT_EQ(0, odbcdouble::CountCalls(st, "SQLSetConfigMode")) << "no directory read";
}

}  // namespace
