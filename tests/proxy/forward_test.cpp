// The export table of the loaded KVDRM.dll, read from its own PE export
// directory and through GetProcAddress, against the interface's rows. Every
// export that reaches a manager, called through its export with the
// interface's arity: which manager entry it reaches, with which values, what
// it returns and what it removes from the stack. And the four operations
// answered without a manager.
#include <gtest/gtest.h>
#include <limits.h>
#include <string.h>

#include <initializer_list>
#include <map>
#include <string>

#include "tests/proxy/export_rows.h"
#include "tests/common/proxy_util.h"

using namespace testlib;
using namespace proxytest;

namespace {

const ExportRow *RowOfOrdinal(int ordinal) {
  for (const ExportRow &r : kExportRows)
    if (r.ordinal == ordinal) return &r;
  return nullptr;
}

TEST(ExportTable, LoadedModuleExportsExactlyTheTable) {
  HMODULE m = Kvdrm();
  ASSERT_NE(nullptr, m);
  const BYTE *base = reinterpret_cast<const BYTE *>(m);
  const IMAGE_DOS_HEADER *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
  const IMAGE_NT_HEADERS32 *nt = reinterpret_cast<const IMAGE_NT_HEADERS32 *>(base + dos->e_lfanew);
  ASSERT_EQ(IMAGE_NT_SIGNATURE, nt->Signature);
  EXPECT_EQ(IMAGE_FILE_MACHINE_I386, nt->FileHeader.Machine);
  const IMAGE_DATA_DIRECTORY &dd = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  ASSERT_NE(0u, dd.VirtualAddress);
  const IMAGE_EXPORT_DIRECTORY *ed = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY *>(base + dd.VirtualAddress);
  EXPECT_STRCASEEQ("KVDRM.dll", reinterpret_cast<const char *>(base + ed->Name));
  ASSERT_EQ(1u, ed->Base);
  ASSERT_EQ(97u, ed->NumberOfFunctions);
  ASSERT_EQ(54u, ed->NumberOfNames);

  const DWORD *functions = reinterpret_cast<const DWORD *>(base + ed->AddressOfFunctions);
  const DWORD *names = reinterpret_cast<const DWORD *>(base + ed->AddressOfNames);
  const WORD *nameOrdinals = reinterpret_cast<const WORD *>(base + ed->AddressOfNameOrdinals);
  std::map<std::string, int> exported;
  for (DWORD i = 0; i < ed->NumberOfNames; ++i)
    exported[reinterpret_cast<const char *>(base + names[i])] = nameOrdinals[i] + ed->Base;
  std::map<std::string, int> expected;
  for (const ExportRow &r : kExportRows) expected[r.name] = r.ordinal;
  EXPECT_EQ(expected, exported) << "names and their ordinals in the export directory";

  for (int o = 1; o <= 97; ++o) {
    const ExportRow *r = RowOfOrdinal(o);
    FARPROC byOrdinal = GetProcAddress(m, MAKEINTRESOURCEA(o));
    EXPECT_EQ(r != nullptr, functions[o - 1] != 0) << "address table, ordinal " << o;
    if (!r) {
      EXPECT_EQ(nullptr, byOrdinal) << "unassigned ordinal " << o;
      continue;
    }
    FARPROC byName = GetProcAddress(m, r->name);
    EXPECT_NE(nullptr, byName) << r->name;
    EXPECT_EQ(byName, byOrdinal) << r->name;
  }
  EXPECT_EQ(nullptr, GetProcAddress(m, MAKEINTRESOURCEA(98)));
  // Decorated spellings are not exported.
  EXPECT_EQ(nullptr, GetProcAddress(m, "DrmMove@12"));
  EXPECT_EQ(nullptr, GetProcAddress(m, "_DrmMove@12"));
}

int32_t __stdcall Stdcall2(uint32_t a, uint32_t b) { return static_cast<int32_t>(a + b); }
int32_t __cdecl Cdecl3(uint32_t a, uint32_t b, uint32_t c) { return static_cast<int32_t>(a + b + c); }

// The probe itself: a callee that removes fewer values than were pushed
// (none, or two of three) shows as a negative shift.
TEST(CallProbe, SeesWhatTheCalleeRemoves) {
  const uint32_t args[] = {1, 2, 3};
  int32_t shift = 99;
  EXPECT_EQ(6, CallMeasured(reinterpret_cast<const void *>(&Cdecl3), args, 3, &shift));
  EXPECT_EQ(-12, shift);
  EXPECT_EQ(3, CallMeasured(reinterpret_cast<const void *>(&Stdcall2), args, 3, &shift));
  EXPECT_EQ(-4, shift);
  EXPECT_EQ(3, CallMeasured(reinterpret_cast<const void *>(&Stdcall2), args, 2, &shift));
  EXPECT_EQ(0, shift);
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
      // The manager session handle first, then the row's count of values;
      // the log holds zeros past what arrived.
      uint32_t want9[9] = {managerHandle};
      for (int i = 1; i < r.pass; ++i) want9[i] = args[i];
      for (int i = 0; i < 9; ++i) EXPECT_EQ(want9[i], c.args[i]) << "value " << i + 1;
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

// With a session no code is answered locally: the buffer and the length
// are the manager's alone.
TEST_F(Forwarding, GetInfoWithASessionLeavesEverythingToTheManager) {
  typedef int32_t(__stdcall * InfoFn)(DrmArg, int32_t, void *, int32_t, int32_t *);
  InfoFn info = reinterpret_cast<InfoFn>(reinterpret_cast<void *>(KvdrmProc("DrmGetInfo")));
  st_->results[20] = -31;
  for (int32_t code : {2, 6, 1, 136}) {
    SCOPED_TRACE(code);
    unsigned char buf[32], untouched[32];
    memset(buf, 0xEE, sizeof buf);
    memset(untouched, 0xEE, sizeof untouched);
    int32_t length = 99;
    EXPECT_EQ(-31, info(h_, code, buf, sizeof buf, &length));
    EXPECT_EQ(99, length);
    EXPECT_EQ(0, memcmp(buf, untouched, sizeof buf)) << "the proxy filled the buffer";
    EXPECT_EQ(20, st_->log[(st_->calls - 1) % testmgr::kLogSize].ordinal);
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
    if (r->mgr) {
      EXPECT_EQ(r->mgr, st->log[before % testmgr::kLogSize].ordinal);
    }
  }
}

// Calls the four local operations with each of the given first arguments;
// counts the calls and those that did not answer 0 or did not remove exactly
// their arguments.
void CallLocalOperations(std::initializer_list<uint32_t> firsts, int &called, int &bad) {
  for (uint32_t first : firsts)
    for (const ExportRow &r : kExportRows) {
      if (!AnsweredLocally(r)) continue;
      uint32_t args[9] = {first};
      for (int i = 1; i < r.args; ++i) args[i] = 0xFFFFFFFFu - i;
      int32_t shift = 99;
      if (CallMeasured(reinterpret_cast<const void *>(KvdrmProc(r.name)), args, r.args, &shift) != 0 || shift != 0)
        ++bad;
      ++called;
    }
}

// Calls them before the first test, and so before this process has begun
// any session or loaded any manager.
struct BeforeAnySession : ::testing::Environment {
  void SetUp() override {
    managerLoaded = GetModuleHandleA("OdbcDrm.dll") != nullptr;
    CallLocalOperations({0, 0xFFFFFFFFu, 0x12345678u}, called, bad);
    managerLoaded |= GetModuleHandleA("OdbcDrm.dll") != nullptr;
  }
  static bool managerLoaded;
  static int called, bad;
};
bool BeforeAnySession::managerLoaded = true;
int BeforeAnySession::called = 0, BeforeAnySession::bad = 0;
::testing::Environment *const g_beforeAnySession = ::testing::AddGlobalTestEnvironment(new BeforeAnySession);

TEST(LocalOperations, AnswerZeroBeforeAnySession) {
  EXPECT_FALSE(BeforeAnySession::managerLoaded);
  EXPECT_EQ(3 * 4, BeforeAnySession::called);
  EXPECT_EQ(0, BeforeAnySession::bad);
}

TEST_F(Forwarding, LocalOperationsDuringASessionReachNoManager) {
  LONG before = st_->calls;
  int called = 0, bad = 0;
  CallLocalOperations({h_}, called, bad);
  EXPECT_EQ(4, called);
  EXPECT_EQ(0, bad);
  EXPECT_EQ(before, st_->calls);
}

}  // namespace
