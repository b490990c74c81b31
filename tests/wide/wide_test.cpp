// Every language, exactly, in the ANSI code page the program runs with
// (1252, or 932 under LC_ALL=ja_JP.UTF-8): names, descriptions and paths in
// several scripts, through ConfigDSNW and, where the code page holds them,
// through ConfigDSN. Values come back unit for unit through the wide
// registry calls; a name the code page cannot hold is refused with nothing
// stored under it or under what the code page would make of it; a session
// loads its manager from a folder named outside the code page.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/common/proxy_util.h"
#include "tests/common/setup_helpers.h"

using namespace setuptest;
using testlib::U16;
using testlib::Utf8;

namespace {

const WCHAR *Wz(const std::u16string &s) { return reinterpret_cast<const WCHAR *>(s.c_str()); }

// The texts of a row share a script, so one answer per code page says
// whether the code page holds them all.
struct Row {
  const char *what;
  const char *name, *description, *directory;  // UTF-8
  bool in1252, in932;
};
const Row kRows[] = {
    {"ASCII", "Sales", "Sales figures", "Daten", true, true},
    {"Latin-1", "Caf\xC3\xA9-\xC3\x9C", "Gr\xC3\xBC\xC3\x9F" "e", "M\xC3\xBCller", true, false},
    {"euro sign", "\xE2\x82\xAC" "uro", "5 \xE2\x82\xAC", "\xE2\x82\xAC", true, false},
    {"Cyrillic", "\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82", "\xD0\xA4\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC",
     "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD", false, true},
    // U+8868, whose code page 932 form ends in the byte 0x5C.
    {"kanji", "\xE8\xA1\xA8\xE8\xA8\x88\xE7\xAE\x97", "\xE8\xA1\xA8", "\xE8\xA1\xA8", false, true},
    // 1252 would take it for "a-beta" by best fit.
    {"Greek", "\xCE\xB1-\xCE\xB2", "\xCE\xB1\xCE\xB2\xCE\xB3", "\xCE\x94", false, true},
    {"Hangul", "\xED\x91\x9C", "\xED\x91\x9C", "\xED\x91\x9C", false, false},
};

// A text in the program's code page, as a caller narrowing it would have
// it (best fit and default characters allowed).
std::string Narrow(const std::u16string &text) {
  int n = WideCharToMultiByte(CP_ACP, 0, Wz(text), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n : 0, '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, Wz(text), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}
std::u16string WideList(const std::vector<std::u16string> &pairs) {
  std::u16string list;
  for (const std::u16string &p : pairs) list += p + u'\0';
  return list + u'\0';
}

class Wide : public DoubleTest {
 protected:
  bool Held(const Row &r) const { return GetACP() == 932 ? r.in932 : r.in1252; }

  // The request through the wide entry, or through the ANSI one with the
  // list narrowed to the code page.
  BOOL Request(bool wide, WORD request, const std::vector<std::u16string> &pairs) {
    if (wide) {
      std::u16string list = WideList(pairs), drv = U16(driver.name);
      return testlib::KvdrmConfigDSNW()(nullptr, request, Wz(drv), Wz(list));
    }
    std::string list;
    for (const std::u16string &p : pairs) list += Narrow(p) + '\0';
    list += '\0';
    return testlib::KvdrmConfigDSN()(nullptr, request, driver.name.c_str(), list.c_str());
  }

  testlib::Value Get(const std::u16string &name, const char *value) {
    return testlib::ReadValueW(HKEY_CURRENT_USER, U16(testlib::DataSourcePath("")) + name, U16(value));
  }
  void ExpectStored(const std::u16string &name, const char *value, const std::u16string &text) {
    testlib::Value v = Get(name, value);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), v.type) << value;
    EXPECT_TRUE(testlib::SzW(text) == v.data) << value << " holds " << Utf8(std::u16string(
        reinterpret_cast<const char16_t *>(v.data.data()), v.data.size() / 2));
  }
};

TEST_F(Wide, EveryScriptStoredExactlyOrItsNameRefused) {
  ASSERT_TRUE(GetACP() == 1252 || GetACP() == 932) << GetACP();
  ASSERT_NE(nullptr, testlib::KvdrmConfigDSNW());
  for (const Row &r : kRows) {
    for (bool wide : {true, false}) {
      SCOPED_TRACE(std::string(r.what) + (wide ? ", ConfigDSNW" : ", ConfigDSN") + ", code page " +
                   std::to_string(GetACP()));
      // The ANSI caller can only give what its code page holds.
      if (!wide && !Held(r)) continue;
      const std::u16string name = U16(testlib::UniqueName("w") + r.name), description = U16(r.description),
                           directory = U16(std::string("C:\\Users\\") + r.directory),
                           ctx = directory + u"\\K.CTX", newDirectory = directory + u"\\2";
      const std::u16string narrowed = testlib::FromAcp(Narrow(name));
      ASSERT_EQ(Held(r), narrowed == name) << "the row's own answer for this code page";
      testlib::DeleteDataSourceEverywhereW(name);
      testlib::DeleteDataSourceEverywhereW(narrowed);
      odbcdouble::Reset(st);
      odbcdouble::SetDefaultDsnDir(st, dir.path.c_str());

      BOOL added = Request(wide, 1, {u"DSN=" + name, u"Description=" + description, u"DBQ=" + directory,
                                     u"CTX=" + ctx});
      if (!Held(r)) {
        // Sessions name their data source in the code page: such a name
        // could never be opened, and nothing is stored for it.
        ExpectResult(added, kInvalidName);
        if (st->errorCount) {
          EXPECT_NE(std::string::npos, std::string(st->errors[0].message).find("code page"));
        }
        EXPECT_FALSE(testlib::KeyExistsW(HKEY_CURRENT_USER, U16(testlib::DataSourcePath("")) + name));
        EXPECT_FALSE(testlib::KeyExistsW(HKEY_CURRENT_USER, U16(testlib::DataSourcePath("")) + narrowed));
        EXPECT_EQ(0, odbcdouble::CountCalls(st, "SQLWriteFileDSN"));
        continue;
      }
      ExpectResult(added, 0);
      ExpectStored(name, "Description", description);
      ExpectStored(name, "DBQ", directory);
      ExpectStored(name, "CTX", ctx);
      ExpectStored(name, "Driver", U16(driver.name));
      // The file data source is asked for under the name as it is.
      int file = odbcdouble::FindCall(st, "SQLWriteFileDSN");
      ASSERT_GE(file, 0);
      EXPECT_EQ(Utf8(name) + "|ODBC|DSN|" + Utf8(name), st->calls[file].args);
      EXPECT_TRUE(st->calls[file].wide);

      // A configure that names the directory only keeps the rest exactly.
      odbcdouble::Reset(st);
      ExpectResult(Request(wide, 2, {u"DSN=" + name, u"DBQ=" + newDirectory}), 0);
      ExpectStored(name, "Description", description);
      ExpectStored(name, "DBQ", newDirectory);
      ExpectStored(name, "CTX", ctx);

      ExpectResult(Request(wide, 3, {u"DSN=" + name}), 0);
      EXPECT_FALSE(testlib::KeyExistsW(HKEY_CURRENT_USER, U16(testlib::DataSourcePath("")) + name));
    }
  }
}

// A session of a data source whose name the code page holds, its manager
// in a folder named in scripts the code page does not hold (Hangul, and the
// row's own): the control file's folder is found and loaded as it is.
TEST_F(Wide, SessionLoadsItsManagerFromAFolderInAnyScript) {
  const std::u16string top = U16(testlib::BinPath(testlib::UniqueName("wide")));
  ASSERT_TRUE(CreateDirectoryW(Wz(top), nullptr));
  const std::u16string manager = U16(proxytest::ManagerFile("ok"));
  for (const Row &r : kRows) {
    SCOPED_TRACE(r.what);
    const std::u16string folder = top + u"\\" + U16(r.directory) + u" \uD45C";
    ASSERT_TRUE(CreateDirectoryW(Wz(folder), nullptr)) << GetLastError();
    ASSERT_TRUE(CopyFileW(Wz(manager), Wz(folder + u"\\OdbcDrm.dll"), FALSE));
    const std::string name = testlib::UniqueName("ws");
    {
      testlib::ScopedKey key(HKEY_CURRENT_USER, testlib::DataSourcePath(name));
      const std::u16string ctx = folder + u"\\K.CTX";
      ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.get(), L"CTX", 0, REG_SZ, reinterpret_cast<const BYTE *>(ctx.c_str()),
                                              static_cast<DWORD>((ctx.size() + 1) * 2)));
      DrmArg h = 0;
      EXPECT_EQ(0, testlib::Begin()(&h, 0, 0, name.c_str()));
      HMODULE m = reinterpret_cast<HMODULE>(testlib::Slots(h)[3]);
      char16_t loaded[MAX_PATH * 2] = {};
      if (m) GetModuleFileNameW(m, reinterpret_cast<WCHAR *>(loaded), MAX_PATH * 2);
      const std::u16string expected = folder + u"\\OdbcDrm.dll";
      EXPECT_EQ(CSTR_EQUAL, CompareStringOrdinal(Wz(expected), -1, reinterpret_cast<WCHAR *>(loaded), -1, TRUE))
          << Utf8(loaded);
      testlib::End()(h);
    }
    DeleteFileW(Wz(folder + u"\\OdbcDrm.dll"));
    RemoveDirectoryW(Wz(folder));
  }
  RemoveDirectoryW(Wz(top));
}

}  // namespace
