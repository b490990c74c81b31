// Beginning a session: the handshake with the manager, a begin that fails at
// each step, and what ending it then calls and releases. Whether the proxy
// still holds a manager is read from the loader: a module that nobody
// references is gone. (Several sessions at once: tests/stress.)
#include <gtest/gtest.h>
#include <limits.h>
#include <string.h>

#include "tests/common/proxy_util.h"

using namespace testlib;
using namespace proxytest;

namespace {

constexpr uint32_t kMarker = 0xFF000001u;

TEST(BeginFailure, ManagerNotLoadable) {
  DataSource ds(BinPath("nomgr\\"));
  DrmArg h = 0;
  EXPECT_EQ(-1101, Begin()(&h, 1, 2, ds.name.c_str()));
  ASSERT_NE(0u, h);
  const uint32_t *slot = Slots(h);
  EXPECT_EQ(kMarker, slot[0]);
  for (int i = 1; i < 52; ++i) EXPECT_EQ(0u, slot[i]) << "slot " << i;

  // Ending calls no FreeLibrary: FreeLibrary(0) would leave its error code.
  const DWORD sentinel = 0x2BADF00D;
  SetLastError(sentinel);
  FreeLibrary(nullptr);
  ASSERT_NE(sentinel, GetLastError()) << "FreeLibrary(0) leaves no trace here, the check below is moot";
  SetLastError(sentinel);
  EXPECT_EQ(0, End()(h));
  EXPECT_EQ(sentinel, GetLastError());
}

TEST(BeginFailure, OrdinalMissingKeepsModuleAndFoundEntries) {
  const std::string file = ManagerFile("missing7");
  DataSource ds(ManagerDir("missing7"));
  DrmArg h = 0;
  EXPECT_EQ(-1101, Begin()(&h, 1, 2, ds.name.c_str()));
  const uint32_t *slot = Slots(h);
  HMODULE module = GetModuleHandleA(file.c_str());
  ASSERT_NE(nullptr, module) << "the module must stay loaded after the failed begin";
  EXPECT_EQ(reinterpret_cast<uint32_t>(module), slot[3]);
  EXPECT_EQ(0u, slot[1] | slot[2]);
  // Every entry found stays in its slot; only ordinal 7's is empty.
  for (int n = 1; n <= 48; ++n) {
    uint32_t want = reinterpret_cast<uint32_t>(GetProcAddress(module, MAKEINTRESOURCEA(n)));
    EXPECT_EQ(want, slot[n + 3]) << "ordinal " << n;
    EXPECT_EQ(n != 7, want != 0) << "ordinal " << n;
  }

  ModulePin pin(file);
  testmgr::State *st = pin.state();
  ASSERT_NE(nullptr, st);
  EXPECT_EQ(0, st->calls) << "the manager must not be called";
  st->results[12] = 0x7E570012;
  EXPECT_EQ(0x7E570012, End()(h));
  ASSERT_EQ(1, st->calls);
  EXPECT_EQ(12, st->log[0].ordinal);
  EXPECT_EQ(1, st->log[0].count);
  EXPECT_EQ(0u, st->log[0].args[0]) << "begin-session never ran: manager handle 0";
  pin.Release();
  EXPECT_FALSE(IsLoaded(file)) << "ending must release the proxy's load";
}

TEST(BeginFailure, NoEndSessionEntry) {
  const std::string file = ManagerFile("missing12");
  DataSource ds(ManagerDir("missing12"));
  DrmArg h = 0;
  EXPECT_EQ(-1101, Begin()(&h, 1, 2, ds.name.c_str()));
  EXPECT_NE(0u, Slots(h)[3]);
  EXPECT_EQ(0u, Slots(h)[15]);
  ModulePin pin(file);
  testmgr::State *st = pin.state();
  ASSERT_NE(nullptr, st);
  st->results[12] = -9;
  EXPECT_EQ(0, End()(h));
  EXPECT_EQ(0, st->calls);
  pin.Release();
  EXPECT_FALSE(IsLoaded(file));
}

struct HandshakeRow {
  const char *variant;
  int32_t managerStatus;  // what the manager's begin-session returns
  int32_t expected;       // what DrmBeginSession returns
  uint32_t slot1;         // acknowledgement after begin
  uint32_t ack = 0;       // what the manager writes there; 0: the marker
};

TEST(BeginFailure, Handshake) {
  const HandshakeRow rows[] = {
      {"noack", 0, -1101, 0},
      {"noack", 7, -1101, 0},
      {"ok", 0, -1101, kMarker + 1, kMarker + 1},  // an acknowledgement, but not the marker
      {"ackm5", -5, -5, kMarker},
      {"ok", 0x12345678, 0x12345678, kMarker},
      {"ok", INT_MIN, INT_MIN, kMarker},
  };
  for (const HandshakeRow &r : rows) {
    SCOPED_TRACE(std::string(r.variant) + " returning " + std::to_string(r.managerStatus));
    const std::string file = ManagerFile(r.variant);
    DataSource ds(ManagerDir(r.variant));
    // Pinned for the whole row, so the knobs set before begin hold.
    ModulePin pin(file);
    testmgr::State *st = pin.state();
    ASSERT_NE(nullptr, st);
    st->calls = 0;
    st->results[1] = r.managerStatus;
    st->ackValue = r.ack;
    st->results[12] = -4242;

    DrmArg h = 0;
    char dsName[64];
    lstrcpynA(dsName, ds.name.c_str(), sizeof dsName);
    EXPECT_EQ(r.expected, Begin()(&h, 0xA2, 0xA3, dsName));
    const uint32_t *slot = Slots(h);
    EXPECT_EQ(r.slot1, slot[1]);
    ASSERT_EQ(1, st->calls);
    // Ordinal 1 got the four arguments unchanged, with the record already
    // published through the handle variable and marked.
    const testmgr::Call &c = st->log[0];
    EXPECT_EQ(1, c.ordinal);
    const uint32_t args[4] = {reinterpret_cast<uint32_t>(&h), 0xA2, 0xA3, reinterpret_cast<uint32_t>(dsName)};
    EXPECT_EQ(0, memcmp(args, c.args, sizeof args));
    EXPECT_EQ(h, st->beginHandleVar);
    EXPECT_EQ(kMarker, st->beginSlot0);
    uint32_t managerHandle = slot[2];
    EXPECT_NE(0u, managerHandle);

    EXPECT_EQ(-4242, End()(h));
    ASSERT_EQ(2, st->calls);
    EXPECT_EQ(12, st->log[1].ordinal);
    EXPECT_EQ(managerHandle, st->log[1].args[0]);
    pin.Release();
    EXPECT_FALSE(IsLoaded(file));
  }
}

}  // namespace
