// A data resource manager that does nothing: each of the 48 entries takes
// the number of values the proxy passes and returns 0, so a benchmark of a
// forwarded call measures the proxy and the call itself, nothing else.
// Begin-session acknowledges in the record and sets a manager handle.
#include <windows.h>
#include <stdint.h>

#include "proxy/arity.h"

#pragma GCC diagnostic ignored "-Wunused-parameter"

#define BM_NOTHING(mgr, pass) \
  extern "C" int32_t __stdcall M##mgr(DRM_TYPES_##pass) { return 0; }

// Ordinal 1: the driver's handle variable already holds the proxy's record.
extern "C" int32_t __stdcall M1(DrmArg handleVar, DrmArg, DrmArg, DrmArg) {
  uint32_t *record = reinterpret_cast<uint32_t *>(*reinterpret_cast<DrmArg *>(handleVar));
  record[1] = 0xFF000001u;
  record[2] = 0x5E55104Eu;
  return 0;
}

#define BM_KIND_F(mgr, pass) BM_NOTHING(mgr, pass)
#define BM_KIND_S(mgr, pass) BM_KIND_S_##mgr(pass)
#define BM_KIND_S_1(pass)
#define BM_KIND_S_12(pass) BM_NOTHING(12, pass)
#define BM_KIND_S_20(pass) BM_NOTHING(20, pass)
#define BM_KIND_L(mgr, pass)
#define BM_KIND_C(mgr, pass)
#define DRM_EXPORT(ord, name, args, mgr, pass, kind) BM_KIND_##kind(mgr, pass)
#include "exports/exports.inc"
#undef DRM_EXPORT

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
