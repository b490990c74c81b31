// A driver's use of KVDRM.dll: entry points bound by the loader through an
// import library (some by name, some by ordinal only), one whole session,
// and what the manager received.
#include <gtest/gtest.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "tests/common/imports.h"
#include "tests/common/proxy_util.h"

// As a driver declares them; every argument is one 32-bit value.
extern "C" {
__declspec(dllimport) int32_t __stdcall DrmBeginSession(DrmArg *, DrmArg, DrmArg, const char *);
__declspec(dllimport) int32_t __stdcall DrmEndSession(DrmArg);
__declspec(dllimport) int32_t __stdcall DrmGetInfo(DrmArg, int32_t, void *, int32_t, int32_t *);
__declspec(dllimport) int32_t __stdcall DrmOpenDatabase(DrmArg, DrmArg, DrmArg, DrmArg);
__declspec(dllimport) int32_t __stdcall DrmCloseDatabase(DrmArg, DrmArg);
// Imported by ordinal only.
__declspec(dllimport) int32_t __stdcall DrmOpenTable(DrmArg, DrmArg, DrmArg, DrmArg, DrmArg, DrmArg);
__declspec(dllimport) int32_t __stdcall DrmCloseTable(DrmArg, DrmArg);
__declspec(dllimport) int32_t __stdcall DrmMove(DrmArg, DrmArg, DrmArg);
__declspec(dllimport) int32_t __stdcall DrmRetrieveColumn(DrmArg, DrmArg, DrmArg, DrmArg, DrmArg, DrmArg, DrmArg);
}

using namespace testlib;
using namespace proxytest;

namespace {

// What this program imports from KVDRM.dll: name or "#ordinal" -> the
// address the loader bound.
std::map<std::string, FARPROC> KvdrmImports() {
  std::map<std::string, FARPROC> out;
  for (const ImportCell &c : ImportCells(GetModuleHandleA(nullptr)))
    if (!lstrcmpiA(c.dll.c_str(), "KVDRM.dll")) out[c.function] = reinterpret_cast<FARPROC>(*c.cell);
  return out;
}

TEST(DriverSimulation, ImportsByNameAndByOrdinal) {
  std::map<std::string, FARPROC> imports = KvdrmImports();
  HMODULE kvdrm = GetModuleHandleA("KVDRM.dll");
  ASSERT_NE(nullptr, kvdrm);
  const char *byName[] = {"DrmBeginSession", "DrmEndSession", "DrmGetInfo", "DrmOpenDatabase", "DrmCloseDatabase"};
  const struct { int ordinal; const char *name; } byOrdinal[] = {
      {6, "DrmOpenTable"}, {7, "DrmCloseTable"}, {12, "DrmMove"}, {13, "DrmRetrieveColumn"}};
  EXPECT_EQ(9u, imports.size());
  for (const char *n : byName) {
    ASSERT_EQ(1u, imports.count(n)) << n << " should be imported by name";
    EXPECT_EQ(GetProcAddress(kvdrm, n), imports[n]) << n;
  }
  for (const auto &o : byOrdinal) {
    std::string key = "#" + std::to_string(o.ordinal);
    ASSERT_EQ(1u, imports.count(key)) << o.name << " should be imported by ordinal";
    EXPECT_EQ(GetProcAddress(kvdrm, o.name), imports[key]) << o.name;
  }
}

TEST(DriverSimulation, RunsAWholeSession) {
  // The driver asks for its own file name before any session.
  char driverName[32];
  int32_t length = 0;
  ASSERT_EQ(0, DrmGetInfo(0xFFFFFFFFu, 2, driverName, sizeof driverName, &length));
  EXPECT_STREQ("KVODBC.DLL", driverName);
  EXPECT_EQ(11, length);

  DataSource ds(ManagerDir("ok"), "driver");
  ModulePin pin(ManagerFile("ok"));  // keeps the log readable after the end
  testmgr::State *st = pin.state();
  ASSERT_NE(nullptr, st);
  st->nextSession = 0x5E55;
  st->results[32] = 100;  // say, no further record
  st->results[37] = -65536;
  st->results[12] = 0x12345678;

  const char dbq[] = "C:\\KOLVAR\\MUSTER", table[] = "KUNDEN";
  char column[64];
  int32_t columnLength = 0;
  DrmArg h = 0, db = 0, tb = 0;
  auto addr = [](const void *p) { return reinterpret_cast<DrmArg>(p); };

  ASSERT_EQ(0, DrmBeginSession(&h, 0x51, 0x52, ds.name.c_str()));
  EXPECT_EQ(0, DrmOpenDatabase(h, addr(dbq), 0, addr(&db)));
  EXPECT_EQ(0, DrmOpenTable(h, db, addr(table), 1, 0, addr(&tb)));
  EXPECT_EQ(100, DrmMove(h, tb, 1));
  EXPECT_EQ(-65536, DrmRetrieveColumn(h, tb, 3, addr(column), sizeof column, addr(&columnLength), 0));
  EXPECT_EQ(0, DrmCloseTable(h, tb));
  EXPECT_EQ(0, DrmCloseDatabase(h, db));
  EXPECT_EQ(0x12345678, DrmEndSession(h));

  const DrmArg m = 0x5E55;
  const std::vector<std::vector<DrmArg>> expected = {
      {1, addr(&h), 0x51, 0x52, addr(ds.name.c_str())},
      {33, m, addr(dbq), 0, addr(&db)},
      {35, m, db, addr(table), 1, 0, addr(&tb)},
      {32, m, tb, 1},
      {37, m, tb, 3, addr(column), sizeof column, addr(&columnLength), 0},
      {3, m, tb},
      {2, m, db},
      {12, m},
  };
  ASSERT_EQ(static_cast<LONG>(expected.size()), st->calls);
  for (size_t i = 0; i < expected.size(); ++i) {
    const testmgr::Call &c = st->log[i];
    SCOPED_TRACE("call " + std::to_string(i) + ", manager ordinal " + std::to_string(expected[i][0]));
    EXPECT_EQ(static_cast<int32_t>(expected[i][0]), c.ordinal);
    ASSERT_EQ(static_cast<int32_t>(expected[i].size() - 1), c.count);
    for (int k = 0; k < c.count; ++k) EXPECT_EQ(expected[i][k + 1], c.args[k]) << "value " << k + 1;
  }
  pin.Release();
  EXPECT_FALSE(IsLoaded(ManagerFile("ok")));
}

}  // namespace
