// Hostile attribute lists and names through ConfigDSN (no window, the
// installer double beside the program): 100 KB values, 10,000 pairs, 8-bit
// texts, names of 32 and 33 characters, names with '\', '/', "..", and
// "ODBC Data Sources". Each request has its documented result; and the
// whole Software\ODBC tree (both roots, both views) and the file data
// source folder are pictured before and after: nothing but the named data
// source may differ.
#include <windows.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/common/snapshot.h"
#include "tests/common/setup_helpers.h"
#include "tests/common/attribute_list_text.h"

using namespace setuptest;
using testlib::DataSourcePath;
using testlib::KeyExists;
using testlib::UniqueName;
using testlib::AttributeList;

namespace {

std::string Pair(const std::string &key, const std::string &value) { return key + "=" + value; }

// Every byte but NUL, '=' included (a value may hold it).
std::string EveryByte() {
  std::string s;
  for (int c = 1; c < 256; ++c) s += static_cast<char>(c);
  return s;
}

class HostileAttributes : public DoubleTest {
 protected:
  void SetUp() override {
    DoubleTest::SetUp();
    // Bystanders: a data source in each root and view, listed, with its
    // file; below it a nested key, and beside its file a folder of its
    // name with a file data source in it ("<neighbour>\<sub>.DSN").
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
      for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY)}) {
        MakeDataSource(neighbour, "keep", root, view);
        kvdrm::RegKey nested;
        testlib::CreateKey(root, DataSourcePath(neighbour + "\\" + sub), nested, view);
      }
    dir.File(neighbour + ".DSN");
    CreateDirectoryA((dir.path + "\\" + neighbour).c_str(), nullptr);
    ASSERT_TRUE(FileExists(dir.File(neighbour + "\\" + sub + ".DSN")));
  }

  BOOL Run(UINT request, const std::string &list) {
    odbcdouble::Reset(st);
    odbcdouble::SetDefaultDsnDir(st, dir.path.c_str());
    return config(nullptr, request, driver.name.c_str(), list.c_str());
  }

  snap::Picture Picture() { return snap::Take({dir.path, dir.path + "\\" + neighbour}); }
  void ExpectOnlyOwnChanged(const snap::Picture &before, const std::vector<std::string> &own) {
    for (const std::string &d : snap::Differences(before, Picture(), own)) ADD_FAILURE() << d;
  }

  testlib::ConfigDsnFn config = testlib::KvdrmConfigDSN();
  std::string neighbour = UniqueName("neighbour"), sub = UniqueName("sub");
  Cleanup cleanup{{neighbour}};
};

// The pictures must see what they are there to catch: a changed value in
// each root and view, a new key, a deleted file; and leave out only the
// data sources named as the request's own.
TEST_F(HostileAttributes, PicturesSeeEveryChange) {
  const struct {
    HKEY root;
    REGSAM view;
    size_t lines;  // HKEY_CURRENT_USER is one tree in both views, so it shows twice
  } where[] = {{HKEY_CURRENT_USER, 0, 4}, {HKEY_LOCAL_MACHINE, 0, 2}, {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, 2}};
  for (const auto &w : where) {
    SCOPED_TRACE(w.lines);
    snap::Picture before = Picture();
    kvdrm::RegKey k, child;
    ASSERT_EQ(ERROR_SUCCESS, testlib::OpenKey(w.root, DataSourcePath(neighbour), KEY_ALL_ACCESS, k, w.view));
    testlib::SetString(k.get(), "CTX", "kept");
    testlib::CreateKey(k.get(), "child", child, w.view);
    child.Close();
    EXPECT_EQ(w.lines, snap::Differences(before, Picture(), {}).size());
    EXPECT_TRUE(snap::Differences(before, Picture(), {neighbour}).empty());
  }
  snap::Picture before = Picture();
  ASSERT_TRUE(DeleteFileA((dir.path + "\\" + neighbour + ".DSN").c_str()));
  ASSERT_TRUE(DeleteFileA((dir.path + "\\" + neighbour + "\\" + sub + ".DSN").c_str()));
  EXPECT_EQ(2u, snap::Differences(before, Picture(), {}).size());
  EXPECT_EQ(1u, snap::Differences(before, Picture(), {neighbour}).size()) << "the file in the subfolder is no own";
}

// Texts of any length and any byte are stored as they came, and only in
// the named data source.
TEST_F(HostileAttributes, LongAndEightBitValuesAreStoredWhole) {
  const std::string big(100 * 1000, 'd'), eight = EveryByte();
  const std::vector<std::string> cases[] = {
      {big, std::string(100 * 1000, 'q'), "C:\\" + std::string(100 * 1000, 'c')},  // 100 KB each
      {eight, "a=b=c", eight},                                                       // '=' inside
  };
  const char *const keys[] = {"Description", "DBQ", "CTX"};
  for (const std::vector<std::string> &c : cases) {
    SCOPED_TRACE(c[1].substr(0, 5));
    std::string name = UniqueName("v");
    Cleanup own({name});
    snap::Picture before = Picture();
    std::vector<std::string> pairs = {Pair("DSN", name)};
    for (int i = 0; i < 3; ++i) pairs.push_back(Pair(keys[i], c[i]));
    ExpectResult(Run(1, AttributeList(pairs)), 0);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(Stored(name, keys[i]) == Sz(c[i])) << keys[i];
    EXPECT_EQ(Sz(driver.name), Stored(name, "Driver"));
    ExpectOnlyOwnChanged(before, {name});

    // And removed again, with nothing else.
    ExpectResult(Run(3, AttributeList({Pair("DSN", name)})), 0);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, DataSourcePath(name)));
    ExpectOnlyOwnChanged(before, {});
  }
}

// Names: the 32-character limit is the dialog's only, so 32 and 33 both
// store; names that reach other keys or files store and remove nothing:
// "<neighbour>\<sub>" (its nested key, a file in a subfolder). A '/' is an
// ordinary character of a key name, but such a name has no file data
// source (it would lie in a subfolder), and nor has one ending in '.'.
TEST_F(HostileAttributes, NamesAreStoredOrRefusedWithNothingElseTouched) {
  std::string n32 = UniqueName("n");
  n32.resize(32, 'x');
  std::string n33 = n32 + "y";
  const struct {
    const char *label;
    std::string name;
    bool stored;
  } cases[] = {
      {"32 characters", n32, true},
      {"33 characters", n33, true},
      {"8-bit name", UniqueName("v") + "\xC4\xD6\xDC\xE9\xFF\x80\x9F", true},
      // In code page 1252 no byte leads a two-byte character.
      {"8-bit byte before a backslash", UniqueName("Kv") + "\xE9\\x", false},
      {"\"..\"", "..", true},
      {"\".\"", ".", true},
      {"dots inside", "a..b" + UniqueName("v"), true},
      {"backslash", neighbour + "\\" + sub, false},
      {"leading backslash", "\\" + neighbour, false},
      {"slash", neighbour + "/" + sub, true},
      {"dots and backslash", "..\\" + neighbour, false},
      {"dots and slash", "../" + neighbour, true},
      {"the installer's settings", "odbc FILE dsn", false},
      {"the list's name in other case", "oDBC dATA sOURCES", false},
      {"empty", "", false},
      {"a name of 100 KB", std::string(100 * 1000, 'N'), false},
  };
  ASSERT_EQ(1252u, GetACP()) << "Wine's programs run in code page 1252";
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    // Only names that store are cleaned up by name: removing a refused one
    // by name (the empty name, "ODBC Data Sources") would be the harm
    // itself. The pictures prove that those left nothing.
    std::unique_ptr<Cleanup> own(c.stored ? new Cleanup({c.name}) : nullptr);
    // A name of 100 KB is a name, only not one the registry can hold: its
    // key cannot be created, and removing it finds nothing.
    bool tooLong = c.name.size() > 255;
    for (UINT request : {1u, 2u, 3u}) {
      SCOPED_TRACE(request);
      snap::Picture before = Picture();
      BOOL r = Run(request, AttributeList({Pair("DSN", c.name), Pair("Description", "hostile")}));
      ExpectResult(r, c.stored || (tooLong && request == 3) ? 0 : tooLong ? kRequestFailed : kInvalidName);
      if (c.stored) {
        EXPECT_EQ(request != 3, KeyExists(HKEY_CURRENT_USER, DataSourcePath(c.name)));
        // One file, but for names the file system would not take as given.
        const bool fileName = c.name.find('/') == std::string::npos && c.name.back() != '.';
        const int files = request != 3 && fileName ? 1 : 0;
        EXPECT_EQ(files, odbcdouble::CountCalls(st, "SQLWriteFileDSN"));
      }
      ExpectOnlyOwnChanged(before, c.stored ? std::vector<std::string>{c.name} : std::vector<std::string>{});
    }
  }
}

// 10,000 pairs (known keys, keys in other case or with a space, unknown
// keys, bare words) in bounded time: the last of each known key wins.
TEST_F(HostileAttributes, TenThousandPairs) {
  std::string name = UniqueName("many");
  Cleanup own({name});
  const std::string kinds[] = {"DSN=early", "Description=d", "dsn=lower", "DSN =space", "DSN",
                               "K=" + std::string(20, 'v')};
  std::vector<std::string> pairs;
  for (size_t i = 0; pairs.size() < 10000 - 4; ++i) pairs.push_back(kinds[i % 6] + std::to_string(i));
  pairs.insert(pairs.end(), {std::string("DBQ=D:\\X"), "Description=last", "DSN=" + name, "DSN"});

  snap::Picture before = Picture();
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(kTrue, Run(1, AttributeList(pairs)));
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  printf("[ hostile  ] 10,000 pairs: %.3f s\n", seconds);
  EXPECT_LT(seconds, 5.0);
  EXPECT_EQ(Sz("last"), Stored(name, "Description"));
  EXPECT_EQ(Sz("D:\\X"), Stored(name, "DBQ"));
  ExpectOnlyOwnChanged(before, {name});
}

}  // namespace
