// Every export that reaches a manager, called through its export with the
// interface's arity: which manager entry it reaches, with which values, what
// it returns and what it removes from the stack. And the four operations
// answered without a manager.
#include <gtest/gtest.h>
#include <limits.h>
#include <string.h>

#include "tests/proxy/export_rows.h"
#include "tests/common/proxy_util.h"

using namespace testlib;
using namespace proxytest;

namespace {

int32_t __stdcall Stdcall3(uint32_t a, uint32_t b, uint32_t c) { return static_cast<int32_t>(a + b + c); }
int32_t __stdcall Stdcall2(uint32_t a, uint32_t b) { return static_cast<int32_t>(a + b); }
int32_t __cdecl Cdecl3(uint32_t a, uint32_t b, uint32_t c) { return static_cast<int32_t>(a + b + c); }

TEST(CallProbe, SeesWhatTheCalleeRemoves) {
  const uint32_t args[] = {1, 2, 3};
  int32_t shift = 99;
  EXPECT_EQ(6, CallMeasured(reinterpret_cast<const void *>(&Stdcall3), args, 3, &shift));
  EXPECT_EQ(0, shift);
  EXPECT_EQ(6, CallMeasured(reinterpret_cast<const void *>(&Cdecl3), args, 3, &shift));
  EXPECT_EQ(-12, shift);
  EXPECT_EQ(3, CallMeasured(reinterpret_cast<const void *>(&Stdcall2), args, 3, &shift));
  EXPECT_EQ(-4, shift);
}

// Every operation that reaches a manager, but for the two that begin and end
// sessions (OwnEntries below).
bool Forwards(const ExportRow &r) {
  return r.mgr != 0 && strcmp(r.name, "DrmBeginSession") != 0 && strcmp(r.name, "DrmEndSession") != 0;
}

class Forwarding : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, Begin()(&h_, 0, 0, ds_.name.c_str()));
    st_ = ManagerState(h_);
    ASSERT_NE(nullptr, st_);
  }
  void TearDown() override {
    if (h_) End()(h_);
  }
  DataSource ds_{ManagerDir("ok"), "fwd"};
  DrmArg h_ = 0;
  testmgr::State *st_ = nullptr;
};

TEST_F(Forwarding, EveryForwarderReachesItsEntryWithItsValues) {
  const int32_t results[] = {0, -1101, -7, 0x12345678, INT_MIN, 0x00010000, -65536};
  const uint32_t managerHandle = Slots(h_)[2];
  int rows = 0;
  for (const ExportRow &r : kExportRows) {
    if (!Forwards(r)) continue;
    ++rows;
    SCOPED_TRACE(r.name);
    const void *fn = reinterpret_cast<const void *>(KvdrmProc(r.name));
    ASSERT_NE(nullptr, fn);
    uint32_t args[9] = {h_};
    for (int i = 1; i < r.args; ++i) args[i] = 0xC0000000u | r.ordinal << 8 | i;
    for (int32_t want : results) {
      st_->results[r.mgr] = want;
      LONG before = st_->calls;
      int32_t shift = 99;
      EXPECT_EQ(want, CallMeasured(fn, args, r.args, &shift));
      EXPECT_EQ(0, shift) << "the export must remove exactly its " << r.args << " arguments";
      ASSERT_EQ(before + 1, st_->calls) << "one manager call per forwarded call";
      const testmgr::Call &c = st_->log[before % testmgr::kLogSize];
      EXPECT_EQ(r.mgr, c.ordinal);
      ASSERT_EQ(r.pass, c.count);
      EXPECT_EQ(managerHandle, c.args[0]) << "manager session handle first";
      for (int i = 1; i < r.pass; ++i) EXPECT_EQ(args[i], c.args[i]) << "value " << i + 1;
    }
  }
  EXPECT_EQ(46, rows);
}

// Stands in for a manager entry that a test puts into the record itself.
uint32_t g_replacementGot[3];
int32_t __stdcall ReplacementMove(uint32_t m, uint32_t a, uint32_t b) {
  g_replacementGot[0] = m;
  g_replacementGot[1] = a;
  g_replacementGot[2] = b;
  return 0x0BADCAFE;
}

TEST_F(Forwarding, ReadsTheRecordAfreshAtEachCall) {
  uint32_t *slot = const_cast<uint32_t *>(Slots(h_));
  const uint32_t savedEntry = slot[3 + 32], savedHandle = slot[2];
  slot[3 + 32] = reinterpret_cast<uint32_t>(&ReplacementMove);
  slot[2] = 0x77770002;
  LONG before = st_->calls;
  EXPECT_EQ(0x0BADCAFE, Move()(h_, 5, 6));
  EXPECT_EQ(0x77770002u, g_replacementGot[0]);
  EXPECT_EQ(5u, g_replacementGot[1]);
  EXPECT_EQ(6u, g_replacementGot[2]);
  EXPECT_EQ(before, st_->calls);
  slot[3 + 32] = savedEntry;
  slot[2] = savedHandle;
  st_->results[32] = 41;
  EXPECT_EQ(41, Move()(h_, 5, 6));
}

TEST_F(Forwarding, GetInfoWithASessionLeavesEverythingToTheManager) {
  for (int32_t code : {2, 6, 1, 136}) {
    SCOPED_TRACE(code);
    unsigned char buf[32];
    memset(buf, 0xEE, sizeof buf);
    int32_t length = 99;
    st_->results[20] = -31;
    typedef int32_t(__stdcall * InfoFn)(DrmArg, int32_t, void *, int32_t, int32_t *);
    InfoFn info = reinterpret_cast<InfoFn>(reinterpret_cast<void *>(KvdrmProc("DrmGetInfo")));
    EXPECT_EQ(-31, info(h_, code, buf, sizeof buf, &length));
    EXPECT_EQ(99, length);
    for (unsigned char b : buf) ASSERT_EQ(0xEE, b) << "the proxy filled the buffer";
    const testmgr::Call &c = st_->log[(st_->calls - 1) % testmgr::kLogSize];
    EXPECT_EQ(20, c.ordinal);
    EXPECT_EQ(Slots(h_)[2], c.args[0]);
    EXPECT_EQ(static_cast<uint32_t>(code), c.args[1]);
    EXPECT_EQ(reinterpret_cast<uint32_t>(buf), c.args[2]);
    EXPECT_EQ(sizeof buf, c.args[3]);
    EXPECT_EQ(reinterpret_cast<uint32_t>(&length), c.args[4]);
  }
}

// Begin and end session and ConfigDSN, called through their exports: what
// each removes from the stack, and the manager ordinal a session reaches.
TEST(OwnEntries, RemoveTheirArgumentsAndReachTheirOrdinals) {
  DataSource ds(ManagerDir("ok"), "own");
  ModulePin pin(ManagerFile("ok"));
  testmgr::State *st = pin.state();
  ASSERT_NE(nullptr, st);
  DrmArg h = 0;
  struct {
    const char *name;
    uint32_t args[4];
    int32_t result;
  } calls[] = {
      {"DrmBeginSession", {reinterpret_cast<uint32_t>(&h), 0, 0, reinterpret_cast<uint32_t>(ds.name.c_str())}, 0},
      {"DrmEndSession", {}, 0},
      // No name and no window: refused before anything is stored.
      {"ConfigDSN", {0, 1, reinterpret_cast<uint32_t>(""), 0}, FALSE},
  };
  for (auto &c : calls) {
    SCOPED_TRACE(c.name);
    const ExportRow *r = RowNamed(c.name);
    ASSERT_NE(nullptr, r);
    ASSERT_LE(r->args, 4);
    if (!strcmp(c.name, "DrmEndSession")) c.args[0] = h;
    LONG before = st->calls;
    int32_t shift = 99;
    EXPECT_EQ(c.result, CallMeasured(reinterpret_cast<const void *>(KvdrmProc(c.name)), c.args, r->args, &shift));
    EXPECT_EQ(0, shift) << "the export must remove exactly its " << r->args << " arguments";
    ASSERT_EQ(before + (r->mgr ? 1 : 0), st->calls);
    if (!r->mgr) continue;
    const testmgr::Call &got = st->log[before % testmgr::kLogSize];
    EXPECT_EQ(r->mgr, got.ordinal);
    EXPECT_EQ(r->pass, got.count);
  }
}

// The four local operations with the given first argument: 0, all their
// arguments removed, and nothing reaches a manager.
void CallLocalOperations(uint32_t first) {
  int rows = 0;
  for (const ExportRow &r : kExportRows) {
    if (!AnsweredLocally(r)) continue;
    ++rows;
    SCOPED_TRACE(r.name);
    const void *fn = reinterpret_cast<const void *>(KvdrmProc(r.name));
    ASSERT_NE(nullptr, fn);
    uint32_t args[9] = {first};
    for (int i = 1; i < r.args; ++i) args[i] = 0xFFFFFFFFu - i;
    int32_t shift = 99;
    EXPECT_EQ(0, CallMeasured(fn, args, r.args, &shift));
    EXPECT_EQ(0, shift);
  }
  EXPECT_EQ(4, rows);
}

// Calls the four local operations before the first test, and so before
// this process has begun any session or loaded any manager.
struct BeforeAnySession : ::testing::Environment {
  void SetUp() override {
    managerLoaded = GetModuleHandleA("OdbcDrm.dll") != nullptr;
    for (const ExportRow &r : kExportRows) {
      if (!AnsweredLocally(r)) continue;
      const uint32_t args[9] = {0, 1, 2, 3, 4, 5, 6, 7, 8};
      int32_t shift = 0;
      int32_t status = CallMeasured(reinterpret_cast<const void *>(KvdrmProc(r.name)), args, r.args, &shift);
      if (status != 0 || shift != 0) ++bad;
      ++called;
    }
  }
  static bool managerLoaded;
  static int called, bad;
};
bool BeforeAnySession::managerLoaded = true;
int BeforeAnySession::called = 0, BeforeAnySession::bad = 0;
::testing::Environment *const g_beforeAnySession = ::testing::AddGlobalTestEnvironment(new BeforeAnySession);

TEST(LocalOperations, AnsweredZeroBeforeAnySession) {
  EXPECT_FALSE(BeforeAnySession::managerLoaded);
  EXPECT_EQ(4, BeforeAnySession::called);
  EXPECT_EQ(0, BeforeAnySession::bad);
}

TEST(LocalOperations, AnswerZeroWithoutAnySession) {
  ASSERT_EQ(nullptr, GetModuleHandleA("OdbcDrm.dll")) << "no manager may be loaded for this test";
  CallLocalOperations(0);
  CallLocalOperations(0xFFFFFFFFu);
  CallLocalOperations(0x12345678u);
  EXPECT_EQ(nullptr, GetModuleHandleA("OdbcDrm.dll"));
}

TEST_F(Forwarding, LocalOperationsDuringASessionReachNoManager) {
  LONG before = st_->calls;
  CallLocalOperations(h_);
  EXPECT_EQ(before, st_->calls);
}

}  // namespace
