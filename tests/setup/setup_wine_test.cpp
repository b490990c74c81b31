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

// SQLConfigDataSource; on failure the installer's error queue is printed.
BOOL Config(WORD request, const std::string &driver, const std::string &list) {
  BOOL r = SQLConfigDataSource(nullptr, request, driver.c_str(), list.c_str());
  DWORD code = 0;
  char msg[256] = "";
  WORD length = 0;
  for (WORD i = 1; r != kTrue && SQLInstallerError(i, &code, msg, sizeof msg, &length) == SQL_SUCCESS; ++i)
    printf("SQLConfigDataSource(%u): %d, installer error %lu: %s\n", request, r, code, msg);
  return r;
}

// The four values of a data source key, each REG_SZ with its NUL.
void ExpectDataSource(HKEY root, REGSAM view, const std::string &name, const std::vector<std::string> &texts) {
  const char *const values[] = {"Description", "DBQ", "CTX", "Driver"};
  for (int i = 0; i < 4; ++i) {
    Value v = ReadValue(root, DataSourcePath(name), values[i], view);
    EXPECT_EQ(DWORD(REG_SZ), v.type) << values[i];
    EXPECT_EQ(Sz(texts[i]), v.data) << values[i];
  }
}

bool InView(HKEY root, const std::string &name, REGSAM view) { return KeyExists(root, DataSourcePath(name), view); }

// A Unicode program's request: the installer's SQLConfigDataSourceW finds
// ConfigDSNW, and texts in another script than the code page's arrive and
// are stored unit for unit.
TEST(WineInstaller, UnicodeRequestsReachTheWideEntry) {
  ScopedDriver driver(UniqueName("drv"));
  std::string name = UniqueName("uni");
  Cleanup cleanup({name});
  const std::u16string description = testlib::U16("\xD0\xA4\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC \xE2\x82\xAC"),
                       directory = testlib::U16("C:\\Users\\\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD");
  const std::u16string list = testlib::U16("DSN=" + name) + u'\0' + u"Description=" + description + u'\0' +
                              u"DBQ=" + directory + u'\0' + u'\0';
  const std::u16string drv = testlib::U16(driver.name);
  ASSERT_EQ(kTrue, SQLConfigDataSourceW(nullptr, ODBC_ADD_DSN, reinterpret_cast<const WCHAR *>(drv.c_str()),
                                        reinterpret_cast<const WCHAR *>(list.c_str())));
  const std::u16string key = testlib::U16(DataSourcePath(name));
  EXPECT_TRUE(testlib::SzW(description) == testlib::ReadValueW(HKEY_CURRENT_USER, key, u"Description").data);
  EXPECT_TRUE(testlib::SzW(directory) == testlib::ReadValueW(HKEY_CURRENT_USER, key, u"DBQ").data);
}

// A configure request takes what it does not supply from the profile,
// which the installer reads from the stored key; a supplied empty text
// stays empty. Removing what is not there (the second time) is no failure.
TEST(WineInstaller, ConfigureFromTheProfileThenRemove) {
  ScopedDriver driver(UniqueName("drv"));
  std::string name = UniqueName("ds");
  Cleanup cleanup({name});
  MakeDataSource(name, "stored");
  ASSERT_EQ(kTrue, Config(ODBC_CONFIG_DSN, driver.name, AttributeList({"DSN=" + name, "DBQ="})));
  ExpectDataSource(HKEY_CURRENT_USER, 0, name, {"stored", "", "stored", driver.name});
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(kTrue, Config(ODBC_REMOVE_DSN, driver.name, AttributeList({"DSN=" + name})));
    EXPECT_FALSE(InView(HKEY_CURRENT_USER, name, 0));
  }
}

// Where a data source goes: the configuration mode's root (HKEY_LOCAL_MACHINE
// for system data sources only), in each view where the driver is
// registered; a removal needs no driver and reaches both views. Under the
// win64 prefix HKLM\Software from a 32-bit process is the Wow6432Node. The
// installer finds Setup in the 32-bit view only, so a driver known to the
// 64-bit view alone is reached by calling ConfigDSN directly, with the
// installer's mode set as SQLConfigDataSource would set it.
TEST(WineInstaller, StoredInTheModesRootWhereTheDriverIs) {
  const int k32 = ScopedDriver::k32, k64 = ScopedDriver::k64, kBoth = ScopedDriver::kBoth;
  const struct {
    const char *what;
    int views;
    bool system;
    bool in32, in64;  // under HKEY_LOCAL_MACHINE; user data sources in HKEY_CURRENT_USER
  } cases[] = {
      {"system, driver in both views", kBoth, true, true, true},
      {"system, driver in the 32-bit view", k32, true, true, false},
      {"system, driver in the 64-bit view", k64, true, false, true},
      {"user, driver in both views", kBoth, false, false, false},
      {"user, driver in the 64-bit view", k64, false, false, false},
  };
  testlib::ConfigDsnFn config = testlib::KvdrmConfigDSN();
  ASSERT_NE(nullptr, config);
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    ScopedDriver driver(UniqueName("drv"), c.views);
    std::string name = UniqueName("ds");
    Cleanup cleanup({name});
    std::string list = AttributeList({"DSN=" + name, "DBQ=F:\\X"});
    auto request = [&](WORD user, WORD system) {
      if (c.views & k32) return Config(c.system ? system : user, driver.name, list);
      SQLSetConfigMode(c.system ? ODBC_SYSTEM_DSN : ODBC_USER_DSN);
      BOOL got = config(nullptr, user, driver.name.c_str(), list.c_str());
      SQLSetConfigMode(ODBC_BOTH_DSN);
      return got;
    };
    ASSERT_EQ(kTrue, request(ODBC_ADD_DSN, ODBC_ADD_SYS_DSN));
    const struct {
      HKEY root;
      REGSAM view;
      bool there;
    } places[] = {{HKEY_CURRENT_USER, 0, !c.system},
                  {HKEY_LOCAL_MACHINE, 0, c.in32},
                  {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, c.in64}};
    for (const auto &p : places) {
      EXPECT_EQ(p.there, InView(p.root, name, p.view)) << "view " << p.view;
      EXPECT_FALSE(ReadValue(p.root, kListKey, name.c_str(), p.view).present) << "listed in ODBC Data Sources";
      if (!p.there) continue;
      ExpectDataSource(p.root, p.view, name,
                       {"Kolvar Muster Firmendaten", "F:\\X", "C:\\KOLVAR\\KOLVARD.CTX", driver.name});
      // A volatile key would be gone after a restart; only a non-volatile
      // key takes a non-volatile subkey.
      kvdrm::RegKey probe;
      EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(p.root, (DataSourcePath(name) + "\\probe").c_str(), 0, nullptr,
                                               REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS | p.view, nullptr,
                                               probe.out(), nullptr))
          << "the data source key is volatile";
      probe.Close();
      kvdrm::RegKey parent;
      if (testlib::OpenKey(p.root, DataSourcePath(name), KEY_ALL_ACCESS, parent, p.view) == ERROR_SUCCESS)
        RegDeleteKeyA(parent.get(), "probe");
    }
    if (c.in64 && c.in32) {
      EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Wow6432Node\\ODBC\\ODBC.INI\\" + name, KEY_WOW64_64KEY));
    }

    // Removed from both views, whichever has the driver.
    if (c.system)
      for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY)}) MakeDataSource(name, "old", HKEY_LOCAL_MACHINE, view);
    ASSERT_EQ(kTrue, request(ODBC_REMOVE_DSN, ODBC_REMOVE_SYS_DSN));
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
      for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY)}) EXPECT_FALSE(InView(root, name, view));
  }
}

}  // namespace
