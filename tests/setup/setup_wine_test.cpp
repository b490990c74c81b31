// Data source setup through Wine's own installer: SQLConfigDataSource
// loads KVDRM.dll as the driver's Setup library and calls its ConfigDSN,
// and the registry shows what was stored, in which root and which view.
#include <windows.h>

#include <odbcinst.h>

#include <stdio.h>

#include <gtest/gtest.h>

#include "tests/common/setup_helpers.h"
#include "tests/common/attribute_list_text.h"

using namespace setuptest;
using testlib::DataSourcePath;
using testlib::KeyExists;
using testlib::UniqueName;
using testlib::AttributeList;

namespace {

const BOOL kTrue = static_cast<BOOL>(-1);

// The installer's error queue as text, for failure messages.
std::string g_lastErrors;
std::string InstallerErrors() {
  std::string all;
  for (WORD i = 1; i <= 8; ++i) {
    DWORD code = 0;
    char msg[256] = "";
    WORD len = 0;
    if (SQLInstallerError(i, &code, msg, sizeof msg, &len) != SQL_SUCCESS) break;
    all += " [" + std::to_string(code) + " " + msg + "]";
  }
  return all;
}

BOOL Config(WORD request, const std::string &driver, const std::string &list) {
  BOOL r = SQLConfigDataSource(nullptr, request, driver.c_str(), list.c_str());
  if (r != static_cast<BOOL>(-1)) printf("SQLConfigDataSource(%u): %d, installer errors:%s\n", request, r, InstallerErrors().c_str());
  return r;
}

// The four values of a data source key, each REG_SZ with its NUL.
void ExpectDataSource(HKEY root, REGSAM view, const std::string &name, const std::string &description,
                      const std::string &dbq, const std::string &ctx, const std::string &driver) {
  const std::string path = DataSourcePath(name);
  const struct {
    const char *value;
    const std::string &text;
  } expected[] = {{"Description", description}, {"DBQ", dbq}, {"CTX", ctx}, {"Driver", driver}};
  for (const auto &e : expected) {
    Value v = ReadValue(root, path, e.value, view);
    EXPECT_TRUE(v.present) << e.value;
    EXPECT_EQ(DWORD(REG_SZ), v.type) << e.value;
    EXPECT_EQ(Sz(e.text), v.data) << e.value;
  }
}

void ExpectNotListed(const std::string &name) {
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
    for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY)})
      EXPECT_FALSE(ReadValue(root, kListKey, name.c_str(), view).present) << "listed in ODBC Data Sources";
}

bool InView(HKEY root, const std::string &name, REGSAM view) { return KeyExists(root, DataSourcePath(name), view); }

TEST(WineInstaller, AddConfigureRemoveUserDataSource) {
  ScopedDriver driver(UniqueName("drv"));
  std::string name = UniqueName("ds");
  Cleanup cleanup({name});

  // A silent add: defaults, the driver's description, no list entry.
  ASSERT_EQ(kTrue, Config(ODBC_ADD_DSN, driver.name, AttributeList({"DSN=" + name})));
  ExpectDataSource(HKEY_CURRENT_USER, 0, name, "Kolvar Muster Firmendaten", "C:\\KOLVAR\\MUSTER",
                   "C:\\KOLVAR\\KOLVARD.CTX", driver.name);
  EXPECT_FALSE(InView(HKEY_LOCAL_MACHINE, name, 0));
  EXPECT_FALSE(InView(HKEY_LOCAL_MACHINE, name, KEY_WOW64_64KEY));
  ExpectNotListed(name);

  // A configure request takes what it does not supply from the profile,
  // which the installer reads from the stored key; a supplied empty text
  // stays empty.
  {
    kvdrm::RegKey k;
    ASSERT_EQ(ERROR_SUCCESS, testlib::OpenKey(HKEY_CURRENT_USER, DataSourcePath(name), KEY_ALL_ACCESS, k));
    testlib::SetString(k.get(), "Description", "Stored text");
    testlib::SetString(k.get(), "CTX", "D:\\S\\S.CTX");
  }
  ASSERT_EQ(kTrue, Config(ODBC_CONFIG_DSN, driver.name, AttributeList({"DSN=" + name, "DBQ="})));
  ExpectDataSource(HKEY_CURRENT_USER, 0, name, "Stored text", "", "D:\\S\\S.CTX", driver.name);
  EXPECT_EQ(std::string(1, '\0'), ReadValue(HKEY_CURRENT_USER, DataSourcePath(name), "DBQ").data);

  // Supplied values replace stored ones; an empty description is kept.
  ASSERT_EQ(kTrue, Config(ODBC_CONFIG_DSN, driver.name,
                          AttributeList({"DSN=" + name, "Description=", "DBQ=E:\\D", "CTX=E:\\D\\K.CTX"})));
  ExpectDataSource(HKEY_CURRENT_USER, 0, name, "", "E:\\D", "E:\\D\\K.CTX", driver.name);

  ASSERT_EQ(kTrue, Config(ODBC_REMOVE_DSN, driver.name, AttributeList({"DSN=" + name})));
  EXPECT_FALSE(InView(HKEY_CURRENT_USER, name, 0));
  // Removing what does not exist is no failure.
  EXPECT_EQ(kTrue, Config(ODBC_REMOVE_DSN, driver.name, AttributeList({"DSN=" + name})));
}

TEST(WineInstaller, SilentAddWithoutNameFails) {
  ScopedDriver driver(UniqueName("drv"));
  std::string lower = UniqueName("lower");
  Cleanup cleanup({lower});
  EXPECT_EQ(FALSE, Config(ODBC_ADD_DSN, driver.name, AttributeList({})));
  EXPECT_EQ(FALSE, Config(ODBC_ADD_DSN, driver.name, AttributeList({"dsn=" + lower})));
  EXPECT_FALSE(InView(HKEY_CURRENT_USER, lower, 0));
}

// Under the win64 prefix HKLM\Software from a 32-bit process is the
// Wow6432Node; the second pass reaches the 64-bit view.
TEST(WineInstaller, SystemDataSourceInBothViews) {
  ScopedDriver driver(UniqueName("drv"), ScopedDriver::kBoth);
  std::string name = UniqueName("ds");
  Cleanup cleanup({name});

  ASSERT_EQ(kTrue, Config(ODBC_ADD_SYS_DSN, driver.name, AttributeList({"DSN=" + name, "DBQ=F:\\X"})));
  ExpectDataSource(HKEY_LOCAL_MACHINE, 0, name, "Kolvar Muster Firmendaten", "F:\\X", "C:\\KOLVAR\\KOLVARD.CTX",
                   driver.name);
  ExpectDataSource(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, name, "Kolvar Muster Firmendaten", "F:\\X",
                   "C:\\KOLVAR\\KOLVARD.CTX", driver.name);
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Wow6432Node\\ODBC\\ODBC.INI\\" + name, KEY_WOW64_64KEY));
  EXPECT_FALSE(InView(HKEY_CURRENT_USER, name, 0));
  ExpectNotListed(name);

  ASSERT_EQ(kTrue, Config(ODBC_REMOVE_SYS_DSN, driver.name, AttributeList({"DSN=" + name})));
  EXPECT_FALSE(InView(HKEY_LOCAL_MACHINE, name, 0));
  EXPECT_FALSE(InView(HKEY_LOCAL_MACHINE, name, KEY_WOW64_64KEY));
}

TEST(WineInstaller, SystemDataSourceOnlyWhereTheDriverIs) {
  ScopedDriver driver(UniqueName("drv"), ScopedDriver::k32);
  std::string name = UniqueName("ds");
  Cleanup cleanup({name});

  ASSERT_EQ(kTrue, Config(ODBC_ADD_SYS_DSN, driver.name, AttributeList({"DSN=" + name})));
  EXPECT_TRUE(InView(HKEY_LOCAL_MACHINE, name, 0));
  EXPECT_FALSE(InView(HKEY_LOCAL_MACHINE, name, KEY_WOW64_64KEY));
}

// The installer finds Setup in the 32-bit view only, so a driver known to
// the 64-bit view alone is reached by calling ConfigDSN directly, with the
// installer's mode set as SQLConfigDataSource would set it.
TEST(WineInstaller, DriverOnlyIn64BitView) {
  ScopedDriver driver(UniqueName("drv"), ScopedDriver::k64);
  std::string name = UniqueName("ds");
  Cleanup cleanup({name});
  typedef BOOL(__stdcall * ConfigFn)(HWND, UINT, LPCSTR, LPCSTR);
  ConfigFn config = reinterpret_cast<ConfigFn>(reinterpret_cast<void *>(testlib::KvdrmProc("ConfigDSN")));
  ASSERT_NE(nullptr, config);
  std::string list = AttributeList({"DSN=" + name});

  ASSERT_TRUE(SQLSetConfigMode(ODBC_SYSTEM_DSN));
  BOOL system = config(nullptr, ODBC_ADD_DSN, driver.name.c_str(), list.c_str());
  ASSERT_TRUE(SQLSetConfigMode(ODBC_USER_DSN));
  BOOL user = config(nullptr, ODBC_ADD_DSN, driver.name.c_str(), list.c_str());
  SQLSetConfigMode(ODBC_BOTH_DSN);

  EXPECT_EQ(kTrue, system);
  EXPECT_FALSE(InView(HKEY_LOCAL_MACHINE, name, 0));
  ExpectDataSource(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, name, "Kolvar Muster Firmendaten", "C:\\KOLVAR\\MUSTER",
                   "C:\\KOLVAR\\KOLVARD.CTX", driver.name);
  // HKEY_CURRENT_USER has one view: the second pass writes the same key.
  EXPECT_EQ(kTrue, user);
  ExpectDataSource(HKEY_CURRENT_USER, 0, name, "Kolvar Muster Firmendaten", "C:\\KOLVAR\\MUSTER",
                   "C:\\KOLVAR\\KOLVARD.CTX", driver.name);
}

TEST(WineInstaller, UserDataSourceWithDriverInBothViews) {
  ScopedDriver driver(UniqueName("drv"), ScopedDriver::kBoth);
  std::string name = UniqueName("ds");
  Cleanup cleanup({name});
  ASSERT_EQ(kTrue, Config(ODBC_ADD_DSN, driver.name, AttributeList({"DSN=" + name, "CTX=G:\\C.CTX"})));
  ExpectDataSource(HKEY_CURRENT_USER, 0, name, "Kolvar Muster Firmendaten", "C:\\KOLVAR\\MUSTER", "G:\\C.CTX",
                   driver.name);
  EXPECT_FALSE(InView(HKEY_LOCAL_MACHINE, name, 0));
  EXPECT_FALSE(InView(HKEY_LOCAL_MACHINE, name, KEY_WOW64_64KEY));
}

}  // namespace
