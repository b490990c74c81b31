// Which OdbcDrm.dll a CTX value leads to: the pure directory cut, and the
// file the real loader actually loaded for it.
#include <gtest/gtest.h>
#include <string.h>

#include "registry/dbcs.h"
#include "tests/common/proxy_util.h"

using namespace testlib;
using namespace proxytest;

namespace {

struct CutRow {
  const char *path;
  size_t len;  // 0: strlen(path)
  const char *directory;
  bool cp932 = false;  // cut as in code page 932 (else one byte a character)
};

bool SingleByte(unsigned char) { return false; }
// The lead bytes of code page 932.
bool Cp932Lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

TEST(ControlFileDirectory, CutsAfterLastColonOrBackslash) {
  const CutRow rows[] = {
      {"C:\\KOLVAR\\KOLVARD.CTX", 0, "C:\\KOLVAR\\"},
      {"D:KOLVARD.CTX", 0, "D:"},
      {"C:\\KOLVAR", 0, "C:\\"},
      {"C:\\KOLVAR\\", 0, "C:\\KOLVAR\\"},
      {"C:/KOLVAR/KOLVARD.CTX", 0, "C:"},
      {"KOLVAR/KOLVARD.CTX", 0, ""},
      {"KOLVARD.CTX", 0, ""},
      {"", 0, ""},
      {"\\", 0, "\\"},
      {":", 0, ":"},
      {"a:b\\c:d", 0, "a:b\\c:"},
      {"\\\\srv\\share\\K.CTX", 0, "\\\\srv\\share\\"},
      {"C:\\K\\x:y", 0, "C:\\K\\x:"},
      // Only the counted part is scanned: bytes past len are not looked at.
      {"C:\\K\\L", 4, "C:\\"},
      {"C:\\K\\L\\", 6, "C:\\K\\"},
      {"ab\\c\0d", 6, "ab\\"},
      // Code page 932: "\x95\x5C" and "\x83\x5C" are one character each.
      {"C:\\\x95\x5C\\K.CTX", 0, "C:\\\x95\x5C\\", true},
      {"C:\\D\\\x95\x5C.CTX", 0, "C:\\D\\", true},
      {"C:\\D\\\x95\x5C.CTX", 0, "C:\\D\\\x95\x5C", false},
      {"\x83\x5C\x83\x5C", 0, "", true},
      {"a\\\x83", 0, "a\\", true},             // a lead byte at the end stands alone
      {"a\\\x83\x5C", 4, "a\\", true},         // its trail byte lies past len
      {"\x5C\x83\x5C:x", 0, "\x5C\x83\x5C:", true},
  };
  for (const CutRow &r : rows) {
    size_t len = r.len ? r.len : strlen(r.path);
    size_t got = kvdrm::LastSeparator(r.path, len, r.cp932 ? Cp932Lead : SingleByte).end;
    EXPECT_EQ(std::string(r.directory), std::string(r.path, got)) << "path " << r.path;
  }
}

enum Setup { kPlain, kCurrentDirQX, kDllDirOk3 };

struct LoadRow {
  const char *what;
  std::string ctx;
  std::string expected;  // path of the loaded manager; "" when none loads
  Setup setup;
};

// Sets up what a row needs about the process (per-drive current directory,
// DLL search folder) and puts it back afterwards.
class ProcessSetup {
 public:
  explicit ProcessSetup(Setup s) : setup_(s) {
    GetCurrentDirectoryA(sizeof cwd_, cwd_);
    if (s == kCurrentDirQX) ok_ = SetCurrentDirectoryA((std::string(kDrive) + "\\X").c_str()) != 0;
    if (s == kDllDirOk3) ok_ = SetDllDirectoryA(ManagerDir("ok3").c_str()) != 0;
  }
  ~ProcessSetup() {
    if (setup_ == kCurrentDirQX) SetCurrentDirectoryA(cwd_);
    if (setup_ == kDllDirOk3) SetDllDirectoryA(nullptr);
  }
  bool ok() const { return ok_; }

 private:
  Setup setup_;
  bool ok_ = true;
  char cwd_[MAX_PATH] = "";
};

TEST(ControlFileDirectory, LoadsTheManagerOfThatDirectory) {
  const std::string q = kDrive;
  const std::string zFwd = [] {
    std::string p = BinPath("qdrive\\X\\KOLVARD.CTX");
    for (char &c : p)
      if (c == '\\') c = '/';
    return p;
  }();
  const LoadRow rows[] = {
      {"backslash path", BinPath("qdrive\\X\\KOLVARD.CTX"), BinPath("qdrive\\X\\OdbcDrm.dll"), kPlain},
      {"directory without trailing backslash loads its parent's", BinPath("qdrive\\X"),
       BinPath("qdrive\\OdbcDrm.dll"), kPlain},
      {"directory with trailing backslash", BinPath("qdrive\\X\\"), BinPath("qdrive\\X\\OdbcDrm.dll"), kPlain},
      {"parent without a manager", BinPath("mgr\\ok"), "", kPlain},
      {"drive-relative, root current directory", q + "KOLVARD.CTX", q + "\\OdbcDrm.dll", kPlain},
      {"drive-relative follows the drive's current directory", q + "KOLVARD.CTX", q + "\\X\\OdbcDrm.dll",
       kCurrentDirQX},
      {"forward slashes keep only the drive", q + "/X/KOLVARD.CTX", q + "\\OdbcDrm.dll", kPlain},
      {"forward slashes on the current drive", zFwd, "", kPlain},
      {"no separator: bare name, nothing in the search order", "KOLVARD.CTX", "", kPlain},
      {"no separator: bare name found in the search order", "KOLVARD.CTX", ManagerFile("ok3"), kDllDirOk3},
      {"empty value: bare name", "", ManagerFile("ok3"), kDllDirOk3},
  };
  for (const LoadRow &r : rows) {
    SCOPED_TRACE(std::string(r.what) + ": CTX=" + r.ctx);
    // A bare-name load would pick up any OdbcDrm.dll that is already loaded.
    ASSERT_EQ(nullptr, GetModuleHandleA("OdbcDrm.dll")) << "a manager is still loaded";
    std::string name = UniqueName("dir");
    ScopedKey ds(HKEY_CURRENT_USER, DataSourcePath(name));
    ds.SetString("CTX", r.ctx);

    ProcessSetup setup(r.setup);
    ASSERT_TRUE(setup.ok());
    DrmArg h = 0;
    int32_t status = Begin()(&h, 1, 2, name.c_str());
    ASSERT_NE(0u, h);
    if (r.expected.empty()) {
      EXPECT_EQ(-1101, status);
      EXPECT_EQ(0u, Slots(h)[3]);
    } else {
      EXPECT_EQ(0, status);
      EXPECT_TRUE(SamePath(r.expected, LoadedPath(h))) << "loaded " << LoadedPath(h);
    }
    EXPECT_EQ(0, End()(h));
  }
}

}  // namespace
