// Hostile profile values: a configure request without a dialog fills
// Description, DBQ and CTX from the installer's profile, which Wine's
// installer reads from the data source's own registry key. Texts of 64 KiB,
// without NUL, with NULs inside, and values of every other type stand
// there. Each read is bounded (at most 255 characters come back), a value
// the request did not name is kept exactly as it stands, and no other data
// source changes.
#include <windows.h>

#include <string.h>

#include <odbcinst.h>

#include <string>

#include <gtest/gtest.h>

#include "tests/common/snapshot.h"
#include "tests/common/setup_helpers.h"
#include "tests/common/attribute_list_text.h"

using namespace setuptest;
using testlib::DataSourcePath;
using testlib::UniqueName;
using testlib::AttributeList;

namespace {

std::string Le32(uint32_t v) { return std::string(reinterpret_cast<const char *>(&v), 4); }

struct ProfileValue {
  const char *label;
  DWORD type;
  std::string data;
};

TEST(HostileProfile, ConfigureReadsBoundedTextsAndKeepsWhateverStands) {
  testlib::ConfigDsnFn config = testlib::KvdrmConfigDSN();
  ASSERT_NE(nullptr, config);
  ScopedDriver driver(UniqueName("drv"), ScopedDriver::kBoth);
  // A bystander; removed with its key when the test ends.
  testlib::ScopedKey neighbour(HKEY_CURRENT_USER, DataSourcePath(UniqueName("neighbour")));
  neighbour.SetString("Description", "keep");

  const std::string huge(65535, 'H');
  const ProfileValue values[] = {
      {"64 KiB text", REG_SZ, huge + '\0'},
      {"64 KiB, no NUL", REG_SZ, huge},
      {"text without NUL", REG_SZ, "C:\\K\\K.CTX"},
      {"NUL inside", REG_SZ, std::string("C:\\A\0B\\C.CTX\0", 13)},
      {"256 characters", REG_SZ, std::string(256, 'x') + '\0'},
      {"255 characters", REG_SZ, std::string(255, 'y') + '\0'},
      {"REG_NONE", REG_NONE, "abc"},
      {"REG_BINARY", REG_BINARY, std::string("\x01\x02\x00\x41", 4)},
      {"REG_DWORD", REG_DWORD, Le32(5)},
      {"REG_DWORD of 2 bytes", REG_DWORD, "\x34\x12"},
      {"REG_QWORD", REG_QWORD, Le32(7) + Le32(1)},
      {"REG_DWORD_BIG_ENDIAN", REG_DWORD_BIG_ENDIAN, Le32(5)},
      {"REG_MULTI_SZ", REG_MULTI_SZ, std::string("one\0two\0\0", 9)},
      {"REG_EXPAND_SZ", REG_EXPAND_SZ, std::string("%TEMP%\\x\0", 9)},
      {"empty REG_SZ", REG_SZ, ""},
  };
  for (const ProfileValue &v : values) {
    SCOPED_TRACE(v.label);
    std::string name = UniqueName("profile");
    Cleanup own({name});
    {
      kvdrm::RegKey k;
      ASSERT_EQ(ERROR_SUCCESS, testlib::CreateKey(HKEY_CURRENT_USER, DataSourcePath(name), k));
      for (const char *entry : {"Description", "DBQ", "CTX"})
        RegSetValueExA(k.get(), entry, 0, v.type, reinterpret_cast<const BYTE *>(v.data.data()),
                       static_cast<DWORD>(v.data.size()));
    }

    // What the installer itself answers, for the record. Wine 8 answers ""
    // for a value that does not fit the 256-byte buffer (the installer's
    // documented behaviour is to cut it at 255), and expands REG_EXPAND_SZ.
    char answer[256];
    memset(answer, 0x7F, sizeof answer);
    int got = SQLGetPrivateProfileString(name.c_str(), "CTX", "", answer, sizeof answer, "odbc.ini");
    std::string direct(answer, strnlen(answer, sizeof answer));

    // As the registry gives each back (the platform may not give back a
    // REG_SZ without NUL byte for byte as it was set).
    Value was[3];
    for (int i = 0; i < 3; ++i)
      was[i] = ReadValue(HKEY_CURRENT_USER, DataSourcePath(name), i == 0 ? "Description" : i == 1 ? "DBQ" : "CTX");
    snap::Picture before = snap::Take({});
    std::string list = AttributeList({"DSN=" + name});
    EXPECT_EQ(kTrue, config(nullptr, 2, driver.name.c_str(), list.c_str()));
    for (const std::string &d : snap::Differences(before, snap::Take({}), {name})) ADD_FAILURE() << d;

    // A configure that names none of them keeps each as it was, type and
    // bytes, whatever the installer's profile makes of it.
    for (int i = 0; i < 3; ++i) {
      const char *entry = i == 0 ? "Description" : i == 1 ? "DBQ" : "CTX";
      Value stored = ReadValue(HKEY_CURRENT_USER, DataSourcePath(name), entry);
      EXPECT_EQ(v.type, stored.type) << entry;
      EXPECT_TRUE(was[i].data == stored.data) << entry;
    }
    printf("[ hostile  ] profile %-22s installer answered %d, %u characters: \"%s\"\n", v.label, got,
           static_cast<unsigned>(direct.size()), direct.substr(0, 24).c_str());
  }
}

}  // namespace
