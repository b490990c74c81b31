// ConfigDSN against the installer double: what it asks the installer
// (file data sources, the removal path, the configuration mode) and what
// it reports when a request cannot be carried out.
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/common/imports.h"
#include "tests/common/setup_helpers.h"
#include "tests/common/attribute_list_text.h"

using namespace setuptest;
using testlib::DataSourcePath;
using testlib::KeyExists;
using testlib::UniqueName;
using testlib::AttributeList;

namespace {

class ConfigTest : public DoubleTest {
 protected:
  BOOL Config(UINT request, const std::string &list, const char *drv = nullptr) {
    return config(nullptr, request, drv ? drv : driver.name.c_str(), list.c_str());
  }
  std::string Args(int i) const { return st->calls[i].args; }
  ConfigFn config = KvdrmConfigDSN();
};

TEST_F(ConfigTest, RemovalReadsTheFileDirectoryUnderBothModeAndRestores) {
  std::string name = UniqueName("ds");
  Cleanup cleanup({name});
  std::string file = dir.File(name + ".DSN");
  MakeDataSource(name, "old");
  st->configMode = 1;  // ODBC_USER_DSN: not the mode of the directory read

  ASSERT_EQ(kTrue, config(reinterpret_cast<HWND>(1), 3, driver.name.c_str(), AttributeList({"DSN=" + name}).c_str()));
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

TEST_F(ConfigTest, UnregisteredDriverFailsToWriteButNotToRemove) {
  std::string name = UniqueName("ds");
  Cleanup cleanup({name});
  std::string list = AttributeList({"DSN=" + name});
  // An empty description would name ODBCINST.INI itself.
  for (const char *missing : {"KvdrmTest-no-such-driver", ""}) {
    for (UINT request : {1u, 2u}) {
      SCOPED_TRACE(::testing::Message() << "\"" << missing << "\", " << request);
      odbcdouble::Reset(st);
      ExpectResult(Config(request, list, missing), kComponentNotFound);
      EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, DataSourcePath(name)));
      EXPECT_EQ(0, odbcdouble::CountCalls(st, "SQLWriteFileDSN"));
    }
  }
  // A data source outlives its driver's registration, and can still go.
  ASSERT_EQ(kTrue, Config(1, list));
  odbcdouble::Reset(st);
  ExpectResult(Config(3, list, "KvdrmTest-no-such-driver"), 0);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, DataSourcePath(name)));
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
TEST_F(ConfigTest, FailedValueWriteFailsButTheOthersAreWritten) {
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
      ExpectResult(Config(1, AttributeList({"DSN=" + name, "Description=d", "DBQ=E:\\Q", "CTX=E:\\Q\\Q.CTX"})),
                   kRequestFailed);
    }
    const std::string written[] = {Sz("d"), Sz("E:\\Q"), Sz("E:\\Q\\Q.CTX"), Sz(driver.name)};
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(values[i] == failing ? "<absent>" : written[i], Stored(name, values[i])) << values[i];
  }
}

}  // namespace
