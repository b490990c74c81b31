// RegPath, the key path a session opens (the helper is compiled into this
// program; it is not exported). ReadRegStringW, with values of every shape
// and type: tests/hostile.
#include <string>

#include <gtest/gtest.h>

#include "registry/registry.h"

namespace {

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
  // Each path replaces the one before it.
  kvdrm::Text path = {nullptr, 0};
  ASSERT_TRUE(kvdrm::RegPath(path, "an earlier", "path"));
  for (const Row &r : rows) {
    SCOPED_TRACE(r.expected);
    ASSERT_TRUE(kvdrm::RegPath(path, r.base, r.name));
    EXPECT_EQ(std::string(r.expected), std::string(path.data, path.length));
    EXPECT_EQ('\0', path.data[path.length]);
  }
  kvdrm::TextFree(path);
}

}  // namespace
