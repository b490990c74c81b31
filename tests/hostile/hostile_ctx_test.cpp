// Hostile CTX values: huge texts, texts without their NUL or with NULs
// inside, every other value type, short and long REG_DWORDs, a key deleted
// under an open handle, a value rewritten while it is read. For each: what
// ReadRegString yields, which manager a session then loads, and that no
// handle or heap is left behind.
#include <string.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "proxy/locate.h"
#include "registry/registry.h"
#include "tests/common/testlib.h"
#include "tests/common/leak_probe.h"

using namespace testlib;

namespace {

const char kUnchanged[] = "<unchanged>";

std::string Le32(uint32_t v) { return std::string(reinterpret_cast<const char *>(&v), 4); }

// What kvdrm::ReadRegString leaves in a text that held kUnchanged.
std::string ReadCtx(HKEY key) {
  kvdrm::Text text = {nullptr, 0};
  EXPECT_TRUE(kvdrm::TextSetZ(text, kUnchanged));
  EXPECT_TRUE(kvdrm::ReadRegString(key, "CTX", text));
  // NUL-terminated at its length; the empty text has no data.
  EXPECT_EQ(text.length == 0, text.data == nullptr);
  if (text.data) {
    EXPECT_EQ('\0', text.data[text.length]);
  }
  std::string read(kvdrm::TextStr(text), text.length);
  kvdrm::TextFree(text);
  return read;
}

std::string ModulePath(uint32_t module) {
  char p[MAX_PATH] = "";
  if (module) GetModuleFileNameA(reinterpret_cast<HMODULE>(module), p, sizeof p);
  return p;
}

struct HostileValue {
  const char *label;
  DWORD type;
  std::string data;      // the value's bytes, exactly as stored
  std::string read;      // what ReadRegString leaves in a text that held kUnchanged
  const char *manager;   // test manager folder the session loads; null: none loads (-1101)
};

std::vector<HostileValue> Table() {
  const std::string ok = ManagerDir("ok"), ok2 = ManagerDir("ok2"), ok3 = ManagerDir("ok3");
  const std::string longName(65000, 'x');
  const std::string huge(65535, 'A');               // 64 KiB with its NUL
  std::string deepDirs = "Z:\\";                    // a directory far beyond MAX_PATH
  while (deepDirs.size() < 65530) deepDirs += "d\\";
  const std::string everyByte = [] {
    std::string s;
    for (int c = 1; c < 256; ++c)
      if (c != '\\' && c != ':') s += static_cast<char>(c);
    return s;
  }();
  const std::string ctx = ok + "KOLVARD.CTX";
  std::vector<HostileValue> rows = {
      // Texts.
      {"64 KiB, no separator", REG_SZ, huge + '\0', huge, nullptr},
      {"64 KiB and NUL", REG_SZ, std::string(65536, 'A') + '\0', std::string(65536, 'A'), nullptr},
      {"4 characters and NUL", REG_SZ, std::string("abcd\0", 5), "abcd", nullptr},
      {"64 KiB, file name after a real folder", REG_SZ, ok + longName + ".CTX" + '\0', ok + longName + ".CTX", "ok"},
      {"64 KiB of folders", REG_SZ, deepDirs + "K.CTX" + '\0', deepDirs + "K.CTX", nullptr},
      {"no NUL", REG_SZ, ok2 + "KOLVARD.CTX", ok2 + "KOLVARD.CTX", "ok2"},
      // Without its NUL the last byte is kept: the trailing backslash
      // still ends the directory.
      {"no NUL, ends in the separator", REG_SZ, ok2, ok2, "ok2"},
      {"64 KiB, no NUL", REG_SZ, ok + longName, ok + longName, "ok"},
      {"one character, no NUL", REG_SZ, "a", "a", nullptr},
      {"NUL inside, none at the end", REG_SZ, ok3 + "K.CTX" + '\0' + "junk", ok3 + "K.CTX", "ok3"},
      {"NUL inside, path first", REG_SZ, ok3 + "K.CTX" + '\0' + "Z:\\elsewhere\\K.CTX" + '\0', ok3 + "K.CTX", "ok3"},
      {"NUL inside, path after it", REG_SZ, std::string("KOLVARD.CTX") + '\0' + ctx + '\0', "KOLVARD.CTX", nullptr},
      {"NUL first", REG_SZ, std::string(1, '\0') + ctx + '\0', "", nullptr},
      // Around the size that the first query takes in one go.
      {"263 characters and NUL", REG_SZ, ok + std::string(263 - ok.size(), 'f') + '\0',
       ok + std::string(263 - ok.size(), 'f'), "ok"},
      {"264 characters and NUL", REG_SZ, ok + std::string(264 - ok.size(), 'f') + '\0',
       ok + std::string(264 - ok.size(), 'f'), "ok"},
      {"264 characters, no NUL", REG_SZ, ok + std::string(264 - ok.size(), 'f'), ok + std::string(264 - ok.size(), 'f'),
       "ok"},
      {"265 characters, no NUL", REG_SZ, ok + std::string(265 - ok.size(), 'f'), ok + std::string(265 - ok.size(), 'f'),
       "ok"},
      {"zero bytes", REG_SZ, "", "", nullptr},
      {"a lone NUL", REG_SZ, std::string(1, '\0'), "", nullptr},
      {"8-bit characters", REG_SZ, everyByte + '\0', everyByte, nullptr},
      // REG_DWORD as signed decimal (every width: tests/native/unit); short
      // ones are read with zeros above, one longer than 4 bytes does not fit
      // the probe and is not read.
      {"REG_DWORD 5", REG_DWORD, Le32(5), "5", nullptr},
      {"REG_DWORD -1", REG_DWORD, Le32(0xFFFFFFFFu), "-1", nullptr},
      {"REG_DWORD of 2 bytes", REG_DWORD, std::string("\x34\x12"), "4660", nullptr},
      {"REG_DWORD of 1 byte", REG_DWORD, std::string("\xFF"), "255", nullptr},
      {"REG_DWORD of 0 bytes", REG_DWORD, "", "0", nullptr},
      {"REG_DWORD of 8 bytes", REG_DWORD, Le32(7) + Le32(1), kUnchanged, nullptr},
  };
  // Other types are not read, whatever they hold.
  const DWORD others[] = {REG_NONE, REG_BINARY, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD_BIG_ENDIAN, REG_QWORD,
                          REG_LINK, 0x12345};
  for (DWORD type : others) {
    std::string data = type == REG_DWORD_BIG_ENDIAN ? Le32(5) : type == REG_QWORD ? Le32(5) + Le32(0)
                                                                                  : ctx + '\0' + ctx + '\0' + '\0';
    rows.push_back({"another type", type, data, kUnchanged, nullptr});
  }
  return rows;
}

class HostileCtx : public ::testing::Test {
 protected:
  void SetUp() override {
    // First use of registry, loader and runtime allocates for good: one
    // session that loads a manager and one that loads none.
    {
      std::string name = UniqueName("warm");
      ScopedKey ds(HKEY_CURRENT_USER, DataSourcePath(name));
      ds.SetString("CTX", ManagerDir("ok") + "KOLVARD.CTX");
      for (const char *n : {name.c_str(), ""}) {
        DrmArg h = 0;
        Begin()(&h, 0, 0, n);
        End()(h);
      }
      probe::LoadedModulesNamed("OdbcDrm.dll");
    }
    before = probe::Measure();
  }
  void TearDown() override {
    probe::Usage after = probe::Measure();
    EXPECT_EQ(before.handleProbe, after.handleProbe) << "a handle was left open";
    EXPECT_LE(after.heapBusy, before.heapBusy + 4096) << "heap grew";
  }
  probe::Usage before;
};

TEST_F(HostileCtx, EachValueHasOneOutcome) {
  // Twice: the first pass also warms up what the harness opens once per
  // thread on first use (a thread handle of the runtime); the second must
  // leave everything as it found it.
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1) before = probe::Measure();
    for (const HostileValue &v : Table()) {
      SCOPED_TRACE(std::string(v.label) + ", type " + std::to_string(v.type) + (pass ? ", pass 2" : ", pass 1"));
      std::string name = UniqueName("hostile");
      {
        ScopedKey ds(HKEY_CURRENT_USER, DataSourcePath(name));
        ds.SetRaw("CTX", v.type, v.data.data(), static_cast<DWORD>(v.data.size()));

        std::string text = ReadCtx(ds.get());
        EXPECT_EQ(v.read.size(), text.size());
        EXPECT_TRUE(v.read == text) << "read " << text.substr(0, 80);

        DrmArg h = 0;
        int32_t st = Begin()(&h, 0, 0, name.c_str());
        ASSERT_NE(0u, h);
        uint32_t module = Slots(h)[3];
        if (v.manager) {
          EXPECT_EQ(0, st);
          EXPECT_STRCASEEQ((ManagerDir(v.manager) + "OdbcDrm.dll").c_str(), ModulePath(module).c_str());
        } else {
          EXPECT_EQ(-1101, st);
          EXPECT_EQ(0u, module) << ModulePath(module);
        }
        End()(h);
      }
      EXPECT_TRUE(probe::LoadedModulesNamed("OdbcDrm.dll").empty());
    }
  }
}

// No value, no key, or a key deleted while a handle to it is open: the read
// finds nothing and leaves the text alone; a session then finds no data
// source at all.
TEST_F(HostileCtx, AbsentValueOrKeyLeavesTheText) {
  std::string name = UniqueName("deleted");
  std::string path = DataSourcePath(name);
  EXPECT_EQ(kUnchanged, ReadCtx(nullptr));
  kvdrm::RegKey open;
  {
    ScopedKey ds(HKEY_CURRENT_USER, path);
    EXPECT_EQ(kUnchanged, ReadCtx(ds.get()));
    ds.SetString("CTX", ManagerDir("ok") + "KOLVARD.CTX");
    ASSERT_EQ(ERROR_SUCCESS, OpenKey(HKEY_CURRENT_USER, path, KEY_ALL_ACCESS, open));
  }  // deleted here, with the handle still open
  ASSERT_FALSE(KeyExists(HKEY_CURRENT_USER, path));
  EXPECT_EQ(kUnchanged, ReadCtx(open.get()));
  BYTE b[4];
  DWORD type = 0, size = sizeof b;
  LONG rc = RegQueryValueExA(open.get(), "CTX", nullptr, &type, b, &size);
  EXPECT_NE(ERROR_SUCCESS, rc);
  RecordProperty("deleted_key_query_error", static_cast<int>(rc));
  printf("[ hostile  ] query on a deleted key: error %ld\n", rc);
  open.Close();

  kvdrm::ManagerLookup where = {};
  EXPECT_TRUE(kvdrm::LookupManager(name.c_str(), where));
  EXPECT_EQ(-1, where.root);
  EXPECT_TRUE(std::u16string(u"OdbcDrm.dll") == kvdrm::Text16Str(where.managerPath));
  kvdrm::FreeManagerLookup(where);
}

// A second thread rewrites CTX between sizes and types, and deletes it,
// while this one reads it: every read yields one of the values as written,
// the empty text (the value changed between the size query and the read),
// or leaves the text alone (absent or of another type at the first query).
TEST_F(HostileCtx, ValueRewrittenWhileRead) {
  std::string name = UniqueName("race");
  ScopedKey ds(HKEY_CURRENT_USER, DataSourcePath(name));
  const std::string shortText = "S", longText(65535, 'L');
  std::atomic<bool> stop{false};
  std::atomic<long> writes{0};
  std::thread writer([&] {
    kvdrm::RegKey key;
    if (OpenKey(HKEY_CURRENT_USER, DataSourcePath(name), KEY_ALL_ACCESS, key) != ERROR_SUCCESS) return;
    HKEY k = key.get();
    DWORD seven = 7;
    const BYTE bin[3] = {1, 2, 3};
    for (unsigned i = 0; !stop; ++i) {
      switch (i % 5) {
        case 0: RegSetValueExA(k, "CTX", 0, REG_SZ, reinterpret_cast<const BYTE *>(shortText.c_str()), 2); break;
        case 1: RegSetValueExA(k, "CTX", 0, REG_SZ, reinterpret_cast<const BYTE *>(longText.c_str()),
                               static_cast<DWORD>(longText.size() + 1)); break;
        case 2: RegDeleteValueA(k, "CTX"); break;
        case 3: RegSetValueExA(k, "CTX", 0, REG_BINARY, bin, sizeof bin); break;
        case 4: RegSetValueExA(k, "CTX", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&seven), 4); break;
      }
      ++writes;
    }
  });
  std::map<std::string, int> seen;
  int wrong = 0;
  DWORD start = GetTickCount();
  int reads = 0;
  while (GetTickCount() - start < 3000 && reads < 200000) {
    std::string text = ReadCtx(ds.get());
    ++reads;
    if (text == shortText) ++seen["short"];
    else if (text == longText) ++seen["long"];
    else if (text == "7") ++seen["dword"];
    else if (text.empty()) ++seen["empty (changed between the two queries)"];
    else if (text == kUnchanged) ++seen["unchanged"];
    else ++wrong;
  }
  stop = true;
  writer.join();
  printf("[ hostile  ] %d reads against %ld writes:", reads, writes.load());
  for (auto &s : seen) printf(" %s %d;", s.first.c_str(), s.second);
  printf("\n");
  EXPECT_EQ(0, wrong);
  EXPECT_GT(seen["short"] + seen["long"], 0);
}

}  // namespace
