// ReadRegString, WriteRegString and RegPath against real registry values of
// every shape (the helpers are compiled into this program; they are not
// exported).
#include <gtest/gtest.h>
#include <limits.h>

#include "registry/registry.h"
#include "tests/common/proxy_util.h"

using namespace testlib;

namespace {

struct ReadRow {
  const char *what;
  DWORD type;
  std::string bytes;  // stored as they are, NULs included
  std::string expected;
};

std::string Dword(uint32_t v) { return std::string(reinterpret_cast<const char *>(&v), 4); }

std::string Str(const kvdrm::Text &t) { return std::string(kvdrm::TextStr(t), t.length); }

// A text is NUL-terminated at its length, and the empty text has no data.
void ExpectWellFormed(const kvdrm::Text &t) {
  EXPECT_EQ(t.length == 0, t.data == nullptr);
  if (t.data) {
    EXPECT_EQ('\0', t.data[t.length]);
  }
}

TEST(ReadRegString, ReadsEveryShapeOfValue) {
  const std::string longText(64 * 1024, 'L');
  const std::string keep = "unchanged";
  const ReadRow rows[] = {
      {"REG_SZ of 0 bytes", REG_SZ, "", ""},
      {"REG_SZ of a NUL alone", REG_SZ, std::string("\0", 1), ""},
      {"REG_SZ of 3 characters and NUL", REG_SZ, std::string("abc\0", 4), "abc"},
      {"REG_SZ of 4 characters and NUL", REG_SZ, std::string("abcd\0", 5), "abcd"},
      {"REG_SZ of 64 KiB", REG_SZ, longText + '\0', longText},
      {"REG_SZ without NUL keeps its last character", REG_SZ, "abc", "abc"},
      {"REG_SZ of one character without NUL", REG_SZ, "a", "a"},
      {"long REG_SZ without NUL", REG_SZ, longText, longText},
      {"REG_SZ with an embedded NUL ends there", REG_SZ, std::string("ab\0cd\0", 6), "ab"},
      {"REG_SZ with an embedded NUL and no final NUL", REG_SZ, std::string("C:\\K\0junk", 9), "C:\\K"},
      {"REG_DWORD 5", REG_DWORD, Dword(5), "5"},
      {"REG_DWORD 0", REG_DWORD, Dword(0), "0"},
      {"REG_DWORD 0xFFFFFFFF", REG_DWORD, Dword(0xFFFFFFFFu), "-1"},
      {"REG_DWORD INT_MIN", REG_DWORD, Dword(0x80000000u), "-2147483648"},
      {"REG_DWORD INT_MAX", REG_DWORD, Dword(0x7FFFFFFFu), "2147483647"},
      {"REG_EXPAND_SZ", REG_EXPAND_SZ, std::string("%TEMP%\\K.CTX\0", 13), keep},
      {"REG_MULTI_SZ", REG_MULTI_SZ, std::string("a\0b\0\0", 5), keep},
      {"REG_BINARY", REG_BINARY, "C:\\K\\", keep},
      {"REG_DWORD_BIG_ENDIAN", REG_DWORD_BIG_ENDIAN, Dword(5), keep},
      {"REG_QWORD", REG_QWORD, Dword(5) + Dword(0), keep},
  };
  ScopedKey key(HKEY_CURRENT_USER, DataSourcePath(UniqueName("read")));
  for (const ReadRow &r : rows) {
    SCOPED_TRACE(r.what);
    key.SetRaw("V", r.type, r.bytes.data(), static_cast<DWORD>(r.bytes.size()));
    kvdrm::Text text = {nullptr, 0};
    ASSERT_TRUE(kvdrm::TextSet(text, keep.data(), keep.size()));
    EXPECT_TRUE(kvdrm::ReadRegString(key.get(), "V", text));
    EXPECT_EQ(r.expected.size(), text.length);
    EXPECT_TRUE(r.expected == Str(text)) << "read \"" << Str(text).substr(0, 40) << "\"";
    ExpectWellFormed(text);
    kvdrm::TextFree(text);
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
  HKEY ro;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &ro));
  EXPECT_EQ(ERROR_ACCESS_DENIED, kvdrm::WriteRegString(ro, "CTX", "C:\\K\\", 5));
  RegCloseKey(ro);
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
