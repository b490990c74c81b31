// The export table as test rows, made from exports/exports.inc, and a call
// probe that measures what a stdcall callee removed from the stack.
#pragma once
#include <stdint.h>

namespace proxytest {

struct ExportRow {
  int ordinal;
  const char *name;
  int args;  // what the export removes, in 32-bit values
  int mgr;   // manager ordinal, 0 for none
  int pass;  // values the manager entry receives
  char kind; // F forwarder, L local, S own code, C ConfigDSN
};

constexpr ExportRow kExportRows[] = {
#define DRM_EXPORT(ord, name, args, mgr, pass, kind) {ord, #name, args, mgr, pass, #kind[0]},
#include "exports/exports.inc"
#undef DRM_EXPORT
};
constexpr int kExportCount = sizeof kExportRows / sizeof kExportRows[0];

// Calls fn with args[0..count) pushed in stdcall order and returns its
// result; *espShift receives the stack pointer after the call minus the one
// before the arguments were pushed (0 when the callee removed exactly
// `count` values).
extern "C" int32_t CallMeasured(const void *fn, const uint32_t *args, int32_t count, int32_t *espShift);

}  // namespace proxytest
