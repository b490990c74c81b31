// Manager ordinals of OdbcDrm.dll, named after the operation that calls them.
#pragma once

namespace kvdrm {

enum ManagerOrdinal {
#define DRM_EXPORT(ord, name, args, mgr, pass, kind) kMgr_##name = mgr,
#include "exports/exports.inc"
#undef DRM_EXPORT
};

}  // namespace kvdrm
