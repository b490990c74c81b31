// Hostile CTX values: huge texts, texts without their NUL or with NULs
// inside, every other value type, short and long REG_DWORDs, a key deleted
// under an open handle, a value rewritten while it is read. For each: what
// ReadRegStringW (which sessions use) yields, which manager a session then
// loads, and that no handle or heap is left behind.
#include <string.h>

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "proxy/locate.h"
#include "registry/registry.h"
#include "tests/common/testlib.h"
#include "tests/common/leak_probe.h"
#include "tests/common/proxy_util.h"

using namespace testlib;
using testlib::FromAcp;

namespace {

const char kUnchanged[] = "<unchanged>";

std::string Le32(uint32_t v) { return std::string(reinterpret_cast<const char *>(&v), 4); }

// What kvdrm::ReadRegStringW leaves in a text that held kUnchanged.
std::u16string ReadCtx(HKEY key) {
  const std::u16string unchanged = FromAcp(kUnchanged);
  kvdrm::WText text = {nullptr, 0};
  EXPECT_TRUE(kvdrm::WTextSet(text, unchanged.data(), unchanged.size()));
  EXPECT_TRUE(kvdrm::ReadRegStringW(key, L"CTX", text));
  // NUL-terminated at its length; the empty text has no data.
  EXPECT_EQ(text.length == 0, text.data == nullptr);
  if (text.data) {
    EXPECT_EQ(u'\0', text.data[text.length]);
  }
  std::u16string read(kvdrm::WTextStr(text), text.length);
  kvdrm::WTextFree(text);
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
  // Written with the ANSI call: the text the reader leaves in a text that
  // held kUnchanged, in the code page (the registry stores it through the
  // code page, so the reader yields it widened).
  std::string read;
  const char *manager;   // test manager folder the session loads; null: none loads (-1101)
  // Written with the wide call, `data` its UTF-16 bytes: then `read16` is
  // what the reader yields, and `read` is unused.
  bool wide = false;
  std::u16string read16 = u"";
};

std::string Bytes16(const std::u16string &w) { return std::string(reinterpret_cast<const char *>(w.data()), 2 * w.size()); }

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
  // Wide values: what only the wide call reads as stored. A path through a
  // folder named outside the code page (its manager: tests/proxy), an odd
  // number of bytes, a lone surrogate.
  const std::u16string ok2w = FromAcp(ok2), ok3w = FromAcp(ok3);
  const std::u16string cyrillic = u"Z:\\\u0418\u0432\u0430\u043D\\K.CTX";
  rows.push_back({"wide: a folder outside the code page", REG_SZ, Bytes16(cyrillic + u'\0'), "", nullptr, true, cyrillic});
  rows.push_back({"wide: an odd number of bytes", REG_SZ, Bytes16(ok2w + u"K.CTX") + 'x', "", "ok2", true, ok2w + u"K.CTX"});
  rows.push_back({"wide: a lone surrogate in the file name", REG_SZ, Bytes16(ok3w + u"\xD800.CTX" + u'\0'), "", "ok3",
                  true, ok3w + u"\xD800.CTX"});
  rows.push_back({"wide: no NUL", REG_SZ, Bytes16(ok2w + u"K.CTX"), "", "ok2", true, ok2w + u"K.CTX"});
  rows.push_back({"wide: one unit", REG_SZ, Bytes16(u"\u0416"), "", nullptr, true, u"\u0416"});
  rows.push_back({"wide: one byte", REG_SZ, "a", "", nullptr, true, u""});
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
    EXPECT_EQ(before.handleProbe, after.handleProbe) << "a handle was left open:\n" << probe::NewHandles(before);
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
        if (v.wide) {
          ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(ds.get(), L"CTX", 0, v.type, reinterpret_cast<const BYTE *>(v.data.data()),
                                                  static_cast<DWORD>(v.data.size())));
        } else {
          ds.SetRaw("CTX", v.type, v.data.data(), static_cast<DWORD>(v.data.size()));
        }
        const std::u16string expected = v.wide ? v.read16 : FromAcp(v.read);
        std::u16string text = ReadCtx(ds.get());
        EXPECT_EQ(expected.size(), text.size());
        EXPECT_TRUE(expected == text) << "read " << Utf8(text.substr(0, 80));

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
  EXPECT_TRUE(FromAcp(kUnchanged) == ReadCtx(nullptr));
  kvdrm::RegKey open;
  {
    ScopedKey ds(HKEY_CURRENT_USER, path);
    EXPECT_TRUE(FromAcp(kUnchanged) == ReadCtx(ds.get()));
    ds.SetString("CTX", ManagerDir("ok") + "KOLVARD.CTX");
    ASSERT_EQ(ERROR_SUCCESS, OpenKey(HKEY_CURRENT_USER, path, KEY_ALL_ACCESS, open));
  }  // deleted here, with the handle still open
  ASSERT_FALSE(KeyExists(HKEY_CURRENT_USER, path));
  EXPECT_TRUE(FromAcp(kUnchanged) == ReadCtx(open.get()));
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
  EXPECT_TRUE(std::u16string(u"OdbcDrm.dll") == kvdrm::WTextStr(where.managerPath));
  kvdrm::FreeManagerLookup(where);
}

// A second thread rewrites CTX between sizes and types, and deletes it,
// while this one reads it and begins sessions on it:
// every read yields one of the values as written, the empty text (the value
// changed between the size query and the read), or leaves the text alone
// (absent or of another type at the first query); every session finds only
// the bare name, and fails without a manager. The writer is a plain thread
// of the platform: the C++ runtime's threads make an event of their own on
// the first contention of the runtime's lock, which stays for the life of
// the process and would count as a handle the reads left open. It has ended
// and closed its key before the handles are counted again.
struct Writer {
  std::string path;
  std::atomic<bool> stop{false};
  std::atomic<long> writes{0};
  std::string shortText = "S", longText = std::string(65535, 'L');

  static DWORD WINAPI Run(void *self) {
    Writer &w = *static_cast<Writer *>(self);
    kvdrm::RegKey key;
    if (OpenKey(HKEY_CURRENT_USER, w.path, KEY_ALL_ACCESS, key) != ERROR_SUCCESS) return 1;
    HKEY k = key.get();
    DWORD seven = 7;
    const BYTE bin[3] = {1, 2, 3};
    for (unsigned i = 0; !w.stop; ++i) {
      switch (i % 5) {
        case 0: RegSetValueExA(k, "CTX", 0, REG_SZ, reinterpret_cast<const BYTE *>(w.shortText.c_str()), 2); break;
        case 1: RegSetValueExA(k, "CTX", 0, REG_SZ, reinterpret_cast<const BYTE *>(w.longText.c_str()),
                               static_cast<DWORD>(w.longText.size() + 1)); break;
        case 2: RegDeleteValueA(k, "CTX"); break;
        case 3: RegSetValueExA(k, "CTX", 0, REG_BINARY, bin, sizeof bin); break;
        case 4: RegSetValueExA(k, "CTX", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&seven), 4); break;
      }
      ++w.writes;
    }
    return 0;
  }
};

TEST_F(HostileCtx, ValueRewrittenWhileRead) {
  std::string name = UniqueName("race");
  ScopedKey ds(HKEY_CURRENT_USER, DataSourcePath(name));
  Writer w;
  w.path = DataSourcePath(name);
  HANDLE writer = CreateThread(nullptr, 0, Writer::Run, &w, 0, nullptr);
  ASSERT_NE(nullptr, writer);
  std::map<std::string, int> seen;
  const std::u16string shortText = FromAcp(w.shortText), longText = FromAcp(w.longText), unchanged = FromAcp(kUnchanged);
  int wrong = 0, sessions = 0, sessionsWrong = 0;
  DWORD start = GetTickCount();
  int reads = 0;
  while (GetTickCount() - start < 3000 && reads < 200000) {
    std::u16string text = ReadCtx(ds.get());
    ++reads;
    if (text == shortText) ++seen["short"];
    else if (text == longText) ++seen["long"];
    else if (text == u"7") ++seen["dword"];
    else if (text.empty()) ++seen["empty (changed between the two queries)"];
    else if (text == unchanged) ++seen["unchanged"];
    else ++wrong;
    if (reads % 8 == 0) {
      DrmArg h = 0;
      int32_t st = Begin()(&h, 0, 0, name.c_str());
      ++sessions;
      if (st != -1101 || Slots(h)[3] != 0) ++sessionsWrong;
      End()(h);
    }
  }
  w.stop = true;
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(writer, 10000));
  CloseHandle(writer);
  printf("[ hostile  ] %d reads and %d sessions against %ld writes:", reads, sessions, w.writes.load());
  for (auto &s : seen) printf(" %s %d;", s.first.c_str(), s.second);
  printf("\n");
  EXPECT_EQ(0, wrong);
  EXPECT_EQ(0, sessionsWrong) << "of " << sessions << " sessions";
  EXPECT_GT(seen["short"] + seen["long"], 0);
}

}  // namespace
