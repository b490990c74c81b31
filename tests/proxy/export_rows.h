// The interface as the driver and the managers know it, written out here by
// hand rather than made from exports/exports.inc: a fault copied into every
// table the build makes from that file must still show against these rows.
// And a call probe that measures what a stdcall callee removed from the stack.
#pragma once
#include <stdint.h>
#include <string.h>

namespace proxytest {

struct ExportRow {
  int ordinal;
  const char *name;
  int args;  // what the export removes, in 32-bit values
  int mgr;   // manager ordinal the call reaches; 0 for none
  int pass;  // values the manager entry receives
};

constexpr ExportRow kExportRows[] = {
    // ord  name                          args mgr pass
    {  1, "DrmBeginSession",                4,  1, 4},
    {  2, "DrmEndSession",                  1, 12, 1},
    {  3, "DrmOpenDatabase",                4, 33, 4},
    {  4, "DrmCloseDatabase",               2,  2, 2},
    {  5, "DrmGetInfo",                     5, 20, 5},
    {  6, "DrmOpenTable",                   6, 35, 6},
    {  7, "DrmCloseTable",                  2,  3, 2},
    {  8, "DrmGetTypeCatalogInfo",          4, 28, 4},
    {  9, "DrmGetDatabaseTableInfo",        4, 17, 4},
    { 10, "DrmGetTableColumnInfo",          4, 22, 4},
    { 11, "DrmGetTableIndexInfo",           5, 25, 5},
    { 12, "DrmMove",                        3, 32, 3},
    { 13, "DrmRetrieveColumn",              7, 37, 7},
    { 14, "DrmGetExtErrStr",                5, 18, 5},
    { 15, "DrmGetBookmark",                 5, 15, 5},
    { 16, "DrmGotoBookmark",                4, 29, 4},
    { 17, "DrmSetTableIndex",               3, 45, 3},
    { 18, "DrmMakeKey",                     5, 31, 5},
    { 19, "DrmSeek",                        3, 38, 3},
    { 20, "DrmGetTableInfo",                4, 26, 4},
    { 21, "DrmStringCompare",               8, 47, 8},
    { 22, "ConfigDSN",                      4,  0, 0},
    { 23, "DrmInitUpdate",                  3, 30, 3},
    { 40, "DrmCreateColumn",                5,  4, 5},
    { 41, "DrmCreateIndex",                 7,  5, 7},
    { 42, "DrmCreateTable",                 4,  6, 4},
    { 43, "DrmDeleteIndex",                 3,  8, 3},
    { 45, "DrmDeleteRecord",                2,  9, 2},
    { 46, "DrmDeleteTable",                 3, 10, 3},
    { 47, "DrmGetTableForeignKeyInfo",      5, 24, 5},
    { 48, "DrmGetTablePrivilegeInfo",       4, 27, 4},
    { 49, "DrmGetTableColumnPrivilegeInfo", 5, 23, 5},
    { 50, "DrmSetColumn",                   7, 39, 7},
    { 51, "DrmUpdateRecord",                2, 48, 2},
    { 52, "DrmSetSessionOption",            3, 44, 3},
    { 53, "DrmSetTransact",                 2, 46, 2},
    { 54, "DrmSetFilter",                   5, 40, 4},
    { 55, "DrmSetParam",                    6, 42, 5},
    { 56, "DrmSetJoin",                     4, 41, 4},
    { 58, "DrmSetRetrieveColumns",          2, 43, 2},
    { 60, "DrmGetExtPredicateInfo",         3, 19, 3},
    { 61, "DrmExecExtPredicate",            5, 13, 5},
    { 62, "DrmGetDatabaseProcedureInfo",    4, 16, 4},
    { 63, "DrmGetProcedureColumnInfo",      4, 21, 4},
    { 65, "DrmOpenProcedure",               4, 34, 4},
    { 66, "DrmExecProcedure",               4, 14, 4},
    { 67, "DrmCreateView",                  6,  7, 6},
    { 70, "DrmDeleteView",                  3, 11, 3},
    { 72, "DrmOpenView",                    9, 36, 9},
    { 93, "DrmSetParseTree",                6,  0, 0},
    { 94, "DrmOnPrepare",                   4,  0, 0},
    { 95, "DrmOnExecute",                   3,  0, 0},
    { 96, "DrmSetPDUpdExpression",          6,  0, 0},
    { 97, "ConfigDSNW",                     4,  0, 0},
};
constexpr int kExportCount = sizeof kExportRows / sizeof kExportRows[0];

// The four operations that KVDRM.dll answers itself, reaching no manager.
inline bool AnsweredLocally(const ExportRow &r) { return r.mgr == 0 && strncmp(r.name, "ConfigDSN", 9) != 0; }

inline const ExportRow *RowNamed(const char *name) {
  for (const ExportRow &r : kExportRows)
    if (!strcmp(r.name, name)) return &r;
  return nullptr;
}

// Calls fn with args[0..count) pushed in stdcall order and returns its
// result; *espShift receives the stack pointer after the call minus the one
// before the arguments were pushed (0 when the callee removed exactly
// `count` values).
extern "C" int32_t CallMeasured(const void *fn, const uint32_t *args, int32_t count, int32_t *espShift);

}  // namespace proxytest
