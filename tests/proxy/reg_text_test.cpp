// ReadRegString without a value, WriteRegString and RegPath against the
// real registry (the helpers are compiled into this program; they are not
// exported). Values of every shape and type: tests/hostile.
#include <gtest/gtest.h>

#include "registry/registry.h"
#include "tests/common/proxy_util.h"

using namespace testlib;

namespace {

std::string Str(const kvdrm::Text &t) { return std::string(kvdrm::TextStr(t), t.length); }

// A text is NUL-terminated at its length, and the empty text has no data.
void ExpectWellFormed(const kvdrm::Text &t) {
  EXPECT_EQ(t.length == 0, t.data == nullptr);
  if (t.data) {
    EXPECT_EQ('\0', t.data[t.length]);
  }
}

TEST(ReadRegString, AbsentValueOrKeyLeavesTheText) {
  ScopedKey key(HKEY_CURRENT_USER, DataSourcePath(UniqueName("absent")));
  kvdrm::Text text = {nullptr, 0};
  ASSERT_TRUE(kvdrm::TextSetZ(text, "unchanged"));
  EXPECT_TRUE(kvdrm::ReadRegString(key.get(), "NoSuchValue", text));
  EXPECT_EQ("unchanged", Str(text));
  EXPECT_TRUE(kvdrm::ReadRegString(nullptr, "CTX", text));
  EXPECT_EQ("unchanged", Str(text));
  kvdrm::TextFree(text);
}

TEST(WriteRegString, WritesTextWithItsNul) {
  ScopedKey key(HKEY_CURRENT_USER, DataSourcePath(UniqueName("write")));
  const std::string texts[] = {"", "abc", std::string(5000, 'w')};
  for (const std::string &t : texts) {
    ASSERT_EQ(ERROR_SUCCESS, kvdrm::WriteRegString(key.get(), "V", t.c_str(), t.size()));
    DWORD type = REG_NONE, size = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key.get(), "V", nullptr, &type, nullptr, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(t.size() + 1, size) << "an empty text is the single NUL byte";
    kvdrm::Text back = {nullptr, 0};
    ASSERT_TRUE(kvdrm::TextSetZ(back, "x"));
    EXPECT_TRUE(kvdrm::ReadRegString(key.get(), "V", back));
    EXPECT_EQ(t, Str(back));
    kvdrm::TextFree(back);
  }
  // The empty Text's null data writes the empty text too.
  ASSERT_EQ(ERROR_SUCCESS, kvdrm::WriteRegString(key.get(), "V", nullptr, 0));
  char bytes[4] = "zz";
  DWORD type = REG_NONE, size = sizeof bytes;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key.get(), "V", nullptr, &type, reinterpret_cast<BYTE *>(bytes), &size));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(1u, size);
  EXPECT_EQ('\0', bytes[0]);
}

TEST(WriteRegString, NullKeyWritesNothing) {
  EXPECT_EQ(ERROR_INVALID_HANDLE, kvdrm::WriteRegString(nullptr, "CTX", "C:\\K\\", 5));
  // A key opened for reading only refuses the write.
  std::string path = DataSourcePath(UniqueName("ro"));
  ScopedKey key(HKEY_CURRENT_USER, path);
  kvdrm::RegKey ro;
  ASSERT_EQ(ERROR_SUCCESS, OpenKey(HKEY_CURRENT_USER, path, KEY_READ, ro));
  EXPECT_EQ(ERROR_ACCESS_DENIED, kvdrm::WriteRegString(ro.get(), "CTX", "C:\\K\\", 5));
  ro.Close();
  EXPECT_NE(ERROR_SUCCESS, RegQueryValueExA(key.get(), "CTX", nullptr, nullptr, nullptr, nullptr));
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
    ExpectWellFormed(path);
  }
  kvdrm::TextFree(path);
}

}  // namespace
