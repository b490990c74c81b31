// The forwarded operations and the four answered here, made from the export
// table. A forwarder swaps its session handle for the manager's (slot 2) and
// calls the manager entry in slot 3 + n, read afresh each call; with equal
// argument counts the compiler turns that into a tail jump.
#include "include/kvdrm.h"
#include "proxy/arity.h"

// DrmSetFilter and DrmSetParam take a last argument that they do not pass on.
#pragma GCC diagnostic ignored "-Wunused-parameter"

#define DRM_KIND_F(name, args, mgr, pass)                                         \
  extern "C" int32_t __stdcall name(DRM_PARAMS_##args) {                          \
    const KvdrmSessionRecord *rec = reinterpret_cast<const KvdrmSessionRecord *>(a1); \
    typedef int32_t(__stdcall * Entry)(DRM_TYPES_##pass);                         \
    return reinterpret_cast<Entry>(rec->entry[(mgr) - 1])(DRM_REST_##pass(rec->managerSession)); \
  }

#define DRM_KIND_L(name, args, mgr, pass) \
  extern "C" int32_t __stdcall name(DRM_TYPES_##args) { return 0; }

#define DRM_KIND_S(name, args, mgr, pass)
#define DRM_KIND_C(name, args, mgr, pass)

#define DRM_EXPORT(ord, name, args, mgr, pass, kind) DRM_KIND_##kind(name, args, mgr, pass)
#include "exports/exports.inc"
#undef DRM_EXPORT
