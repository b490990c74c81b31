// include/kvdrm.h against exports/exports.inc and its own record layout:
// every mismatch is a compile error here, so the public header
// cannot drift from the export table. <odbcinst.h> comes first: its
// ConfigDSN declaration and the header's must agree.
#include <windows.h>
#include <odbcinst.h>

#include <gtest/gtest.h>

#include <stddef.h>
#include <string.h>

#include "include/kvdrm.h"

namespace {

template <class R, class... A>
constexpr int Arity(R(__stdcall *)(A...)) {
  return sizeof...(A);
}

constexpr bool Same(const char *a, const char *b) {
  while (*a && *a == *b) ++a, ++b;
  return *a == *b;
}

struct Row {
  int ordinal;
  const char *name;
  int args;
  int manager;
  int values;
};

constexpr Row kTable[] = {
#define DRM_EXPORT(ord, name, args, mgr, pass, kind) {ord, #name, args, mgr, pass},
#include "exports/exports.inc"
#undef DRM_EXPORT
};

constexpr Row kHeaderExports[] = {
#define KX(ord, name, args, mgr) {ord, #name, args, mgr, 0},
    KVDRM_EXPORT_TABLE(KX)
#undef KX
};

constexpr Row kHeaderManager[] = {
#define KM(mgr, name, values) {0, #name, 0, mgr, values},
    KVDRM_MANAGER_TABLE(KM)
#undef KM
};

constexpr size_t kRows = sizeof kTable / sizeof kTable[0];

constexpr bool ExportTablesAgree() {
  if (sizeof kHeaderExports / sizeof kHeaderExports[0] != kRows) return false;
  for (size_t i = 0; i < kRows; ++i) {
    const Row &a = kTable[i], &b = kHeaderExports[i];
    if (a.ordinal != b.ordinal || !Same(a.name, b.name) || a.args != b.args || a.manager != b.manager) return false;
  }
  return true;
}

// Row n-1 of the header's manager table is manager ordinal n, with the
// operation and the count of values that exports.inc gives it.
constexpr bool ManagerTablesAgree() {
  if (sizeof kHeaderManager / sizeof kHeaderManager[0] != KVDRM_MANAGER_ENTRIES) return false;
  int seen = 0;
  for (size_t i = 0; i < kRows; ++i) {
    const Row &a = kTable[i];
    if (a.manager == 0) continue;
    ++seen;
    if (a.manager < 1 || a.manager > KVDRM_MANAGER_ENTRIES) return false;
    const Row &b = kHeaderManager[a.manager - 1];
    if (b.manager != a.manager || !Same(a.name, b.name) || b.values != a.values) return false;
  }
  return seen == KVDRM_MANAGER_ENTRIES;
}

static_assert(ExportTablesAgree(), "KVDRM_EXPORT_TABLE differs from exports/exports.inc");
static_assert(ManagerTablesAgree(), "KVDRM_MANAGER_TABLE differs from exports/exports.inc");
static_assert(KVDRM_EXPORT_COUNT == kRows, "KVDRM_EXPORT_COUNT");

// Each declaration takes exactly the arguments the export removes, and
// each ordinal constant is the export's.
#define DRM_EXPORT(ord, name, args, mgr, pass, kind)              \
  static_assert(Arity(&name) == args, #name ": argument count"); \
  static_assert(KVDRM_ORD_##name == ord, #name ": export ordinal");
#include "exports/exports.inc"
#undef DRM_EXPORT

#define KM(mgr, name, values) static_assert(KVDRM_MGR_##name == mgr, #name ": manager ordinal");
KVDRM_MANAGER_TABLE(KM)
#undef KM

// The session record's fields sit in the slots the header names (the DLL
// itself is built on this very declaration).
static_assert(sizeof(KvdrmSessionRecord) == KVDRM_RECORD_SLOTS * 4, "record slots");
static_assert(offsetof(KvdrmSessionRecord, marker) == KVDRM_SLOT_MARKER * 4, "slot 0");
static_assert(offsetof(KvdrmSessionRecord, ack) == KVDRM_SLOT_ACK * 4, "slot 1");
static_assert(offsetof(KvdrmSessionRecord, managerSession) == KVDRM_SLOT_MANAGER_SESSION * 4, "slot 2");
static_assert(offsetof(KvdrmSessionRecord, module) == KVDRM_SLOT_MODULE * 4, "slot 3");
static_assert(offsetof(KvdrmSessionRecord, entry) == KVDRM_SLOT_ENTRY(1) * 4, "slot 4");
static_assert(sizeof(KvdrmSessionRecord::entry) == KVDRM_MANAGER_ENTRIES * 4, "manager entries");

}  // namespace

extern "C" int KitHeaderFromC(void);

// The kit's MinGW import library binds each declaration to the export of
// that name, which is also the export at its ordinal.
TEST(KitHeader, ImportsBindToTheExportsByNameAndOrdinal) {
  HMODULE dll = GetModuleHandleA("KVDRM.dll");
  ASSERT_NE(nullptr, dll);
#define KX(ord, name, args, mgr)                                                                  \
  {                                                                                               \
    FARPROC byName = GetProcAddress(dll, #name);                                                  \
    EXPECT_NE(nullptr, byName) << #name;                                                          \
    EXPECT_EQ(byName, GetProcAddress(dll, MAKEINTRESOURCEA(ord))) << #name;                       \
    /* ConfigDSN(W) is declared as <odbcinst.h> does, without dllimport: a thunk's address. */   \
    if (strncmp(#name, "ConfigDSN", 9) != 0) {                                                    \
      EXPECT_EQ(reinterpret_cast<void *>(byName), reinterpret_cast<void *>(&name)) << #name;      \
    }                                                                                             \
  }
  KVDRM_EXPORT_TABLE(KX)
#undef KX
}

// A C program built against the header alone, calling through it.
TEST(KitHeader, UsableFromC) { EXPECT_EQ(0, KitHeaderFromC()); }
