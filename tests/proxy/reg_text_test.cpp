// WriteRegString and RegPath against the real registry (the helpers are
// compiled into this program; they are not exported). ReadRegString, with
// values of every shape and type: tests/hostile.
#include <gtest/gtest.h>

#include "registry/registry.h"
#include "tests/common/proxy_util.h"

using namespace testlib;

namespace {

std::string Str(const kvdrm::Text &t) { return std::string(kvdrm::TextStr(t), t.length); }

// A REG_SZ of the text and its NUL; an empty text (also the empty Text's
// null data) is the single NUL byte. The error of the write comes back.
TEST(WriteRegString, WritesTextWithItsNul) {
  const std::string path = DataSourcePath(UniqueName("write"));
  ScopedKey key(HKEY_CURRENT_USER, path);
  const std::string texts[] = {"", "abc", std::string(5000, 'w')};
  for (const std::string &t : texts) {
    ASSERT_EQ(ERROR_SUCCESS, kvdrm::WriteRegString(key.get(), "V", t.c_str(), t.size()));
    const Value v = ReadValue(HKEY_CURRENT_USER, path, "V");
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), v.type);
    EXPECT_EQ(t + '\0', v.data);
  }
  ASSERT_EQ(ERROR_SUCCESS, kvdrm::WriteRegString(key.get(), "V", nullptr, 0));
  EXPECT_EQ(std::string(1, '\0'), ReadValue(HKEY_CURRENT_USER, path, "V").data);

  EXPECT_EQ(ERROR_INVALID_HANDLE, kvdrm::WriteRegString(nullptr, "CTX", "C:\\K\\", 5));
  kvdrm::RegKey ro;
  ASSERT_EQ(ERROR_SUCCESS, OpenKey(HKEY_CURRENT_USER, path, KEY_READ, ro));
  EXPECT_EQ(ERROR_ACCESS_DENIED, kvdrm::WriteRegString(ro.get(), "CTX", "C:\\K\\", 5));
  EXPECT_FALSE(ReadValue(HKEY_CURRENT_USER, path, "CTX").present);
}

TEST(RegPath, JoinsBaseAndNameWithOneBackslash) {
  struct Row {
    const char *base, *name, *expected;
  } const rows[] = {
      {kvdrm::kOdbcIniKey, "Sales", "Software\\ODBC\\ODBC.INI\\Sales"},
      {kvdrm::kOdbcIniKey, "", "Software\\ODBC\\ODBC.INI\\"},
      {kvdrm::kOdbcIniKey, nullptr, "Software\\ODBC\\ODBC.INI\\"},
      {kvdrm::kDataSourceListKey, "Sales", "Software\\ODBC\\ODBC.INI\\ODBC Data Sources\\Sales"},
      {kvdrm::kOdbcInstKey, "KVDRM Driver", "Software\\ODBC\\ODBCINST.INI\\KVDRM Driver"},
      {"", "x", "\\x"},
  };
  kvdrm::Text path = {nullptr, 0};
  ASSERT_TRUE(kvdrm::TextSetZ(path, "an earlier path"));
  for (const Row &r : rows) {
    SCOPED_TRACE(r.expected);
    ASSERT_TRUE(kvdrm::RegPath(path, r.base, r.name));
    EXPECT_EQ(std::string(r.expected), Str(path));
    EXPECT_EQ('\0', path.data[path.length]);
  }
  kvdrm::TextFree(path);
}

}  // namespace
