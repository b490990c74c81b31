// Code page 932: "\x95\x5C" and "\x83\x5C" are one character each, and
// their trail byte is no separator. A session finds the manager of the
// control file's own folder; a data source name with such a character is
// one registry key, stored and removed as such. (Folders that code page 932
// cannot name: tests/wide.)
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/odbcdouble/odbc_double.h"
#include "tests/common/proxy_util.h"
#include "tests/common/setup_helpers.h"
#include "tests/common/attribute_list_text.h"

using namespace testlib;

namespace {

const char kKanji[] = "\x95\x5C";  // its trail byte is 0x5C

TEST(Cp932, TrailBytesAreNoSeparators) {
  ASSERT_EQ(932u, GetACP()) << "the program must run with LC_ALL=ja_JP.UTF-8";
  // Folders beside the program (the profile's temporary folder is not
  // there under this locale), removed again by the last lines.
  struct Top {
    std::string path = BinPath(UniqueName("cp932"));
    const std::string inner = path + "\\" + kKanji;
    Top() { CreateDirectoryA(path.c_str(), nullptr); }
    ~Top() {
      DeleteFileA((inner + "\\OdbcDrm.dll").c_str());
      RemoveDirectoryA(inner.c_str());
      DeleteFileA((path + "\\OdbcDrm.dll").c_str());
      RemoveDirectoryA(path.c_str());
    }
  } top;
  const std::string &inner = top.inner;
  ASSERT_TRUE(CreateDirectoryA(inner.c_str(), nullptr)) << GetLastError();
  ASSERT_TRUE(CopyFileA(proxytest::ManagerFile("ok").c_str(), (top.path + "\\OdbcDrm.dll").c_str(), FALSE));
  ASSERT_TRUE(CopyFileA(proxytest::ManagerFile("ok").c_str(), (inner + "\\OdbcDrm.dll").c_str(), FALSE));

  // Written with the ANSI call, as an ANSI program writes them.
  const struct {
    std::string ctx, managerDir;
  } rows[] = {
      {top.path + "\\" + kKanji + ".CTX", top.path},  // the file's name ends in 0x5C
      {inner + "\\K.CTX", inner},
      {inner + "\\" + kKanji + ".CTX", inner},
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(r.ctx);
    std::string name = UniqueName("cp");
    ScopedKey key(HKEY_CURRENT_USER, DataSourcePath(name));
    key.SetString("CTX", r.ctx);
    DrmArg h = 0;
    EXPECT_EQ(0, Begin()(&h, 0, 0, name.c_str()));
    const std::string want = Utf8(testlib::FromAcp(r.managerDir));
    EXPECT_TRUE(proxytest::SamePath8(want + "\\OdbcDrm.dll", proxytest::LoadedPath8(h)))
        << proxytest::LoadedPath8(h);
    End()(h);
  }

  odbcdouble::State *st = odbcdouble::Attach();
  ASSERT_NE(nullptr, st) << "odbccp32.dll is not the double";
  setuptest::ScopedDriver driver(UniqueName("drv"));
  auto config = reinterpret_cast<BOOL(__stdcall *)(HWND, UINT, LPCSTR, LPCSTR)>(
      reinterpret_cast<void *>(KvdrmProc("ConfigDSN")));
  const std::string stem = UniqueName("Kv"), name = stem + "\x83\x5C";
  setuptest::Cleanup cleanup({name, stem});
  const std::string list = AttributeList({"DSN=" + name});
  odbcdouble::Reset(st);
  EXPECT_EQ(TRUE, config(nullptr, 1, driver.name.c_str(), list.c_str()) != FALSE);
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, DataSourcePath(name)));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, DataSourcePath(stem + "\x83"))) << "no nested key";
  EXPECT_EQ(TRUE, config(nullptr, 3, driver.name.c_str(), list.c_str()) != FALSE);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, DataSourcePath(name)));
  EXPECT_EQ(0, st->errorCount);
}

}  // namespace
