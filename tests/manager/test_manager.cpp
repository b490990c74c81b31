// A test OdbcDrm.dll: 48 stdcall entries exported by ordinal only, each of
// the arity the proxy passes, logging every call. Built in variants (see
// CMakeLists.txt) that lack an ordinal or misbehave at begin- or
// end-session.
#include "tests/manager/test_manager.h"

#include <stdio.h>
#include <string.h>

#include "proxy/arity.h"

#ifdef TESTMGR_HELPER
// From mgrhelper.dll, imported: the manager does not load without it.
extern "C" __declspec(dllimport) uint32_t __stdcall MgrHelperSession(uint32_t counter);
#endif

namespace {

testmgr::State g_state;

#if defined(TESTMGR_BEGIN_CRASH) || defined(TESTMGR_END_CRASH)
// A write where nothing is ever mapped (the lowest 64 KB), through a
// variable so that the compiler emits the write itself.
volatile uintptr_t g_nowhere = 0x10;
void Crash() { *reinterpret_cast<volatile uint32_t *>(g_nowhere) = 1; }
#endif

int32_t Record(int32_t ordinal, int32_t count, const DrmArg *args) {
  LONG i = InterlockedIncrement(&g_state.calls) - 1;
  testmgr::Call &c = g_state.log[i % testmgr::kLogSize];
  c.ordinal = ordinal;
  c.count = count;
  memset(c.args, 0, sizeof c.args);
  memcpy(c.args, args, count * sizeof(DrmArg));

  if (ordinal == 1) {
#ifdef TESTMGR_BEGIN_CRASH
    Crash();
#endif
#ifdef TESTMGR_BEGIN_HANG
    // Never returns. The event, named after this process, tells a test
    // that the call is under way.
    char name[64];
    snprintf(name, sizeof name, "KvdrmTestHang-%lu", static_cast<unsigned long>(GetCurrentProcessId()));
    CreateEventA(nullptr, TRUE, TRUE, name);
    Sleep(INFINITE);
#endif
    // Begin session: args[0] is the driver's handle variable, which already
    // holds the proxy's record.
    InterlockedIncrement(&g_state.begins);
    DrmArg *handleVar = reinterpret_cast<DrmArg *>(args[0]);
    uint32_t *record = reinterpret_cast<uint32_t *>(*handleVar);
    g_state.beginHandleVar = *handleVar;
    g_state.beginSlot0 = record[0];
    uint32_t session = g_state.nextSession;
    if (!session) session = 0x5E000000u + static_cast<uint32_t>(InterlockedIncrement(&g_state.sessionCounter));
#ifdef TESTMGR_HELPER
    session = MgrHelperSession(session);
#endif
    record[2] = session;
#ifndef TESTMGR_NO_ACK
    record[1] = g_state.ackValue ? g_state.ackValue : 0xFF000001u;
#endif
#ifdef TESTMGR_BEGIN_STATUS
    return TESTMGR_BEGIN_STATUS;
#endif
  } else if (ordinal == 12) {
    InterlockedIncrement(&g_state.ends);
#ifdef TESTMGR_END_CRASH
    Crash();
#endif
#ifdef TESTMGR_END_STATUS
    return TESTMGR_END_STATUS;
#endif
  }
  if (g_state.mode == testmgr::kEchoSession) return static_cast<int32_t>(args[0]);
  return g_state.results[ordinal];
}

}  // namespace

#define TM_ENTRY(mgr, pass)                                      \
  extern "C" int32_t __stdcall M##mgr(DRM_PARAMS_##pass) {       \
    const DrmArg v[] = {DRM_REST_##pass(a1)};                    \
    return Record(mgr, pass, v);                                 \
  }
#define TM_KIND_F(mgr, pass) TM_ENTRY(mgr, pass)
#define TM_KIND_S(mgr, pass) TM_ENTRY(mgr, pass)
#define TM_KIND_L(mgr, pass)
#define TM_KIND_C(mgr, pass)
#define DRM_EXPORT(ord, name, args, mgr, pass, kind) TM_KIND_##kind(mgr, pass)
#include "exports/exports.inc"
#undef DRM_EXPORT

extern "C" testmgr::State *__stdcall TestManagerState() { return &g_state; }

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) GetModuleFileNameA(instance, g_state.path, MAX_PATH);
  return TRUE;
}
