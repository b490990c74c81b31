/* kvdrm.h: the public interface of KVDRM.dll, for the authors of the ODBC
 * driver that calls it and of the data resource managers (OdbcDrm.dll) that
 * it loads. Plain C; usable from C and C++, with MinGW and MSVC-style
 * compilers, on 32-bit x86 Windows.
 *
 * Every export uses the stdcall convention (the callee removes its
 * arguments) and takes only 32-bit values; the argument counts below are
 * binding, since the callee removes exactly that many.
 *
 * Define KVDRM_NO_DLLIMPORT before including this header when you do not
 * link against KVDRM.dll (a manager that only needs the tables), and
 * KVDRM_NO_CONFIGDSN to leave ConfigDSN and ConfigDSNW undeclared. Include <windows.h>
 * (or <odbcinst.h>) first when you use it together with this header. */
#ifndef KVDRM_H
#define KVDRM_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define KVDRM_VERSION_MAJOR 1
#define KVDRM_VERSION_MINOR 0
#define KVDRM_VERSION_PATCH 0

/* The functions are declared for Windows only; elsewhere (a tool that
 * needs only the codes and tables) the header declares none. */
#ifdef _WIN32
#if defined(_MSC_VER) || defined(__GNUC__)
#define KVDRM_CALL __stdcall
#else
#error "kvdrm.h needs a compiler that knows __stdcall (32-bit x86 Windows)"
#endif

#ifdef KVDRM_NO_DLLIMPORT
#define KVDRM_API
#else
#define KVDRM_API __declspec(dllimport)
#endif
#endif /* _WIN32 */

/* One argument: an integer or an address, always 32 bits. */
typedef uint32_t KvdrmArg;
/* A session handle: the address of the session record (below). */
typedef uint32_t KvdrmSession;

/* The handle that only DrmGetInfo accepts: information without a session. */
#define KVDRM_NO_SESSION ((KvdrmSession)0xFFFFFFFFu)

/* Status codes. Every Drm export returns a signed 32-bit status, 0 for
 * success. These two are KVDRM.dll's own; every other code is the
 * manager's and passes through unchanged, all 32 bits. */
#define KVDRM_OK 0
#define KVDRM_E_NO_MANAGER (-1101) /* DrmBeginSession: OdbcDrm.dll did not load, lacks
                                      one of its 48 ordinals, or did not acknowledge */
#define KVDRM_E_NO_SESSION (-1603) /* DrmGetInfo code 6 asked without a session */

/* DrmGetInfo codes answered without a session. */
#define KVDRM_INFO_DRIVER_FILE 2 /* "KVODBC.DLL" with its NUL; answer length 11 */

/* The session record: 52 slots of 32 bits, allocated by KVDRM.dll in
 * DrmBeginSession and freed by DrmEndSession. A manager's begin-session
 * (ordinal 1) receives the address of the driver's handle variable, which
 * already holds the record's address; before it returns it stores its own
 * session handle in slot 2 and KVDRM_RECORD_MARKER in slot 1, and touches
 * nothing else. */
#define KVDRM_RECORD_MARKER 0xFF000001u
#define KVDRM_RECORD_SLOTS 52
#define KVDRM_SLOT_MARKER 0          /* written by KVDRM.dll: KVDRM_RECORD_MARKER */
#define KVDRM_SLOT_ACK 1             /* written by the manager: KVDRM_RECORD_MARKER */
#define KVDRM_SLOT_MANAGER_SESSION 2 /* written by the manager: its session handle */
#define KVDRM_SLOT_MODULE 3          /* module handle of OdbcDrm.dll, 0 if it did not load */
#define KVDRM_SLOT_ENTRY(n) (3 + (n)) /* entry point of manager ordinal n (1..48), or 0 */

typedef struct KvdrmSessionRecord {
  uint32_t marker;          /* slot 0 */
  uint32_t ack;             /* slot 1 */
  uint32_t managerSession;  /* slot 2 */
  uint32_t module;          /* slot 3 */
  uint32_t entry[48];       /* slots 4..51: entry[n - 1] is manager ordinal n */
} KvdrmSessionRecord;

/* The manager, OdbcDrm.dll, exports 48 stdcall entry points by ordinal
 * only, numbered in ascending byte order of the operations' names. Each
 * receives the manager's session handle first (ordinal 1 receives the four
 * arguments of DrmBeginSession unchanged), then the export's further
 * arguments in order; DrmSetFilter and DrmSetParam pass one value fewer
 * than they take. */
#define KVDRM_MANAGER_ENTRIES 48
#define KVDRM_MANAGER_FILE "OdbcDrm.dll"

/* X(manager ordinal, operation, values the entry point takes) */
#define KVDRM_MANAGER_TABLE(X) \
  X( 1, DrmBeginSession,                4) \
  X( 2, DrmCloseDatabase,               2) \
  X( 3, DrmCloseTable,                  2) \
  X( 4, DrmCreateColumn,                5) \
  X( 5, DrmCreateIndex,                 7) \
  X( 6, DrmCreateTable,                 4) \
  X( 7, DrmCreateView,                  6) \
  X( 8, DrmDeleteIndex,                 3) \
  X( 9, DrmDeleteRecord,                2) \
  X(10, DrmDeleteTable,                 3) \
  X(11, DrmDeleteView,                  3) \
  X(12, DrmEndSession,                  1) \
  X(13, DrmExecExtPredicate,            5) \
  X(14, DrmExecProcedure,               4) \
  X(15, DrmGetBookmark,                 5) \
  X(16, DrmGetDatabaseProcedureInfo,    4) \
  X(17, DrmGetDatabaseTableInfo,        4) \
  X(18, DrmGetExtErrStr,                5) \
  X(19, DrmGetExtPredicateInfo,         3) \
  X(20, DrmGetInfo,                     5) \
  X(21, DrmGetProcedureColumnInfo,      4) \
  X(22, DrmGetTableColumnInfo,          4) \
  X(23, DrmGetTableColumnPrivilegeInfo, 5) \
  X(24, DrmGetTableForeignKeyInfo,      5) \
  X(25, DrmGetTableIndexInfo,           5) \
  X(26, DrmGetTableInfo,                4) \
  X(27, DrmGetTablePrivilegeInfo,       4) \
  X(28, DrmGetTypeCatalogInfo,          4) \
  X(29, DrmGotoBookmark,                4) \
  X(30, DrmInitUpdate,                  3) \
  X(31, DrmMakeKey,                     5) \
  X(32, DrmMove,                        3) \
  X(33, DrmOpenDatabase,                4) \
  X(34, DrmOpenProcedure,               4) \
  X(35, DrmOpenTable,                   6) \
  X(36, DrmOpenView,                    9) \
  X(37, DrmRetrieveColumn,              7) \
  X(38, DrmSeek,                        3) \
  X(39, DrmSetColumn,                   7) \
  X(40, DrmSetFilter,                   4) \
  X(41, DrmSetJoin,                     4) \
  X(42, DrmSetParam,                    5) \
  X(43, DrmSetRetrieveColumns,          2) \
  X(44, DrmSetSessionOption,            3) \
  X(45, DrmSetTableIndex,               3) \
  X(46, DrmSetTransact,                 2) \
  X(47, DrmStringCompare,               8) \
  X(48, DrmUpdateRecord,                2)

enum KvdrmManagerOrdinal {
  KVDRM_MGR_DrmBeginSession = 1,
  KVDRM_MGR_DrmCloseDatabase = 2,
  KVDRM_MGR_DrmCloseTable = 3,
  KVDRM_MGR_DrmCreateColumn = 4,
  KVDRM_MGR_DrmCreateIndex = 5,
  KVDRM_MGR_DrmCreateTable = 6,
  KVDRM_MGR_DrmCreateView = 7,
  KVDRM_MGR_DrmDeleteIndex = 8,
  KVDRM_MGR_DrmDeleteRecord = 9,
  KVDRM_MGR_DrmDeleteTable = 10,
  KVDRM_MGR_DrmDeleteView = 11,
  KVDRM_MGR_DrmEndSession = 12,
  KVDRM_MGR_DrmExecExtPredicate = 13,
  KVDRM_MGR_DrmExecProcedure = 14,
  KVDRM_MGR_DrmGetBookmark = 15,
  KVDRM_MGR_DrmGetDatabaseProcedureInfo = 16,
  KVDRM_MGR_DrmGetDatabaseTableInfo = 17,
  KVDRM_MGR_DrmGetExtErrStr = 18,
  KVDRM_MGR_DrmGetExtPredicateInfo = 19,
  KVDRM_MGR_DrmGetInfo = 20,
  KVDRM_MGR_DrmGetProcedureColumnInfo = 21,
  KVDRM_MGR_DrmGetTableColumnInfo = 22,
  KVDRM_MGR_DrmGetTableColumnPrivilegeInfo = 23,
  KVDRM_MGR_DrmGetTableForeignKeyInfo = 24,
  KVDRM_MGR_DrmGetTableIndexInfo = 25,
  KVDRM_MGR_DrmGetTableInfo = 26,
  KVDRM_MGR_DrmGetTablePrivilegeInfo = 27,
  KVDRM_MGR_DrmGetTypeCatalogInfo = 28,
  KVDRM_MGR_DrmGotoBookmark = 29,
  KVDRM_MGR_DrmInitUpdate = 30,
  KVDRM_MGR_DrmMakeKey = 31,
  KVDRM_MGR_DrmMove = 32,
  KVDRM_MGR_DrmOpenDatabase = 33,
  KVDRM_MGR_DrmOpenProcedure = 34,
  KVDRM_MGR_DrmOpenTable = 35,
  KVDRM_MGR_DrmOpenView = 36,
  KVDRM_MGR_DrmRetrieveColumn = 37,
  KVDRM_MGR_DrmSeek = 38,
  KVDRM_MGR_DrmSetColumn = 39,
  KVDRM_MGR_DrmSetFilter = 40,
  KVDRM_MGR_DrmSetJoin = 41,
  KVDRM_MGR_DrmSetParam = 42,
  KVDRM_MGR_DrmSetRetrieveColumns = 43,
  KVDRM_MGR_DrmSetSessionOption = 44,
  KVDRM_MGR_DrmSetTableIndex = 45,
  KVDRM_MGR_DrmSetTransact = 46,
  KVDRM_MGR_DrmStringCompare = 47,
  KVDRM_MGR_DrmUpdateRecord = 48,
  KVDRM_MGR_COUNT = 48
};

/* The exports of KVDRM.dll. Ordinals 1 to 97; the 43 not listed are
 * unassigned. ConfigDSNW, the wide setup entry, came later and took the
 * ordinal above all the others. Every export is also reachable by its undecorated name.
 * X(export ordinal, name, arguments, manager ordinal or 0) */
#define KVDRM_EXPORT_TABLE(X) \
  X(  1, DrmBeginSession,                4,  1) \
  X(  2, DrmEndSession,                  1, 12) \
  X(  3, DrmOpenDatabase,                4, 33) \
  X(  4, DrmCloseDatabase,               2,  2) \
  X(  5, DrmGetInfo,                     5, 20) \
  X(  6, DrmOpenTable,                   6, 35) \
  X(  7, DrmCloseTable,                  2,  3) \
  X(  8, DrmGetTypeCatalogInfo,          4, 28) \
  X(  9, DrmGetDatabaseTableInfo,        4, 17) \
  X( 10, DrmGetTableColumnInfo,          4, 22) \
  X( 11, DrmGetTableIndexInfo,           5, 25) \
  X( 12, DrmMove,                        3, 32) \
  X( 13, DrmRetrieveColumn,              7, 37) \
  X( 14, DrmGetExtErrStr,                5, 18) \
  X( 15, DrmGetBookmark,                 5, 15) \
  X( 16, DrmGotoBookmark,                4, 29) \
  X( 17, DrmSetTableIndex,               3, 45) \
  X( 18, DrmMakeKey,                     5, 31) \
  X( 19, DrmSeek,                        3, 38) \
  X( 20, DrmGetTableInfo,                4, 26) \
  X( 21, DrmStringCompare,               8, 47) \
  X( 22, ConfigDSN,                      4,  0) \
  X( 23, DrmInitUpdate,                  3, 30) \
  X( 40, DrmCreateColumn,                5,  4) \
  X( 41, DrmCreateIndex,                 7,  5) \
  X( 42, DrmCreateTable,                 4,  6) \
  X( 43, DrmDeleteIndex,                 3,  8) \
  X( 45, DrmDeleteRecord,                2,  9) \
  X( 46, DrmDeleteTable,                 3, 10) \
  X( 47, DrmGetTableForeignKeyInfo,      5, 24) \
  X( 48, DrmGetTablePrivilegeInfo,       4, 27) \
  X( 49, DrmGetTableColumnPrivilegeInfo, 5, 23) \
  X( 50, DrmSetColumn,                   7, 39) \
  X( 51, DrmUpdateRecord,                2, 48) \
  X( 52, DrmSetSessionOption,            3, 44) \
  X( 53, DrmSetTransact,                 2, 46) \
  X( 54, DrmSetFilter,                   5, 40) \
  X( 55, DrmSetParam,                    6, 42) \
  X( 56, DrmSetJoin,                     4, 41) \
  X( 58, DrmSetRetrieveColumns,          2, 43) \
  X( 60, DrmGetExtPredicateInfo,         3, 19) \
  X( 61, DrmExecExtPredicate,            5, 13) \
  X( 62, DrmGetDatabaseProcedureInfo,    4, 16) \
  X( 63, DrmGetProcedureColumnInfo,      4, 21) \
  X( 65, DrmOpenProcedure,               4, 34) \
  X( 66, DrmExecProcedure,               4, 14) \
  X( 67, DrmCreateView,                  6,  7) \
  X( 70, DrmDeleteView,                  3, 11) \
  X( 72, DrmOpenView,                    9, 36) \
  X( 93, DrmSetParseTree,                6,  0) \
  X( 94, DrmOnPrepare,                   4,  0) \
  X( 95, DrmOnExecute,                   3,  0) \
  X( 96, DrmSetPDUpdExpression,          6,  0) \
  X( 97, ConfigDSNW,                     4,  0)

enum KvdrmExportOrdinal {
  KVDRM_ORD_DrmBeginSession = 1,
  KVDRM_ORD_DrmEndSession = 2,
  KVDRM_ORD_DrmOpenDatabase = 3,
  KVDRM_ORD_DrmCloseDatabase = 4,
  KVDRM_ORD_DrmGetInfo = 5,
  KVDRM_ORD_DrmOpenTable = 6,
  KVDRM_ORD_DrmCloseTable = 7,
  KVDRM_ORD_DrmGetTypeCatalogInfo = 8,
  KVDRM_ORD_DrmGetDatabaseTableInfo = 9,
  KVDRM_ORD_DrmGetTableColumnInfo = 10,
  KVDRM_ORD_DrmGetTableIndexInfo = 11,
  KVDRM_ORD_DrmMove = 12,
  KVDRM_ORD_DrmRetrieveColumn = 13,
  KVDRM_ORD_DrmGetExtErrStr = 14,
  KVDRM_ORD_DrmGetBookmark = 15,
  KVDRM_ORD_DrmGotoBookmark = 16,
  KVDRM_ORD_DrmSetTableIndex = 17,
  KVDRM_ORD_DrmMakeKey = 18,
  KVDRM_ORD_DrmSeek = 19,
  KVDRM_ORD_DrmGetTableInfo = 20,
  KVDRM_ORD_DrmStringCompare = 21,
  KVDRM_ORD_ConfigDSN = 22,
  KVDRM_ORD_DrmInitUpdate = 23,
  KVDRM_ORD_DrmCreateColumn = 40,
  KVDRM_ORD_DrmCreateIndex = 41,
  KVDRM_ORD_DrmCreateTable = 42,
  KVDRM_ORD_DrmDeleteIndex = 43,
  KVDRM_ORD_DrmDeleteRecord = 45,
  KVDRM_ORD_DrmDeleteTable = 46,
  KVDRM_ORD_DrmGetTableForeignKeyInfo = 47,
  KVDRM_ORD_DrmGetTablePrivilegeInfo = 48,
  KVDRM_ORD_DrmGetTableColumnPrivilegeInfo = 49,
  KVDRM_ORD_DrmSetColumn = 50,
  KVDRM_ORD_DrmUpdateRecord = 51,
  KVDRM_ORD_DrmSetSessionOption = 52,
  KVDRM_ORD_DrmSetTransact = 53,
  KVDRM_ORD_DrmSetFilter = 54,
  KVDRM_ORD_DrmSetParam = 55,
  KVDRM_ORD_DrmSetJoin = 56,
  KVDRM_ORD_DrmSetRetrieveColumns = 58,
  KVDRM_ORD_DrmGetExtPredicateInfo = 60,
  KVDRM_ORD_DrmExecExtPredicate = 61,
  KVDRM_ORD_DrmGetDatabaseProcedureInfo = 62,
  KVDRM_ORD_DrmGetProcedureColumnInfo = 63,
  KVDRM_ORD_DrmOpenProcedure = 65,
  KVDRM_ORD_DrmExecProcedure = 66,
  KVDRM_ORD_DrmCreateView = 67,
  KVDRM_ORD_DrmDeleteView = 70,
  KVDRM_ORD_DrmOpenView = 72,
  KVDRM_ORD_DrmSetParseTree = 93,
  KVDRM_ORD_DrmOnPrepare = 94,
  KVDRM_ORD_DrmOnExecute = 95,
  KVDRM_ORD_DrmSetPDUpdExpression = 96,
  KVDRM_ORD_ConfigDSNW = 97,
  KVDRM_EXPORT_COUNT = 54
};

#ifdef _WIN32
/* Sessions. DrmBeginSession stores the session handle into *handle before
 * anything else, whatever the outcome; end every begun session, failed ones
 * included, with DrmEndSession, and do not use the handle afterwards.
 * dataSource names the data source whose CTX value leads to OdbcDrm.dll;
 * a2 and a3 reach the manager uninterpreted. */
KVDRM_API int32_t KVDRM_CALL DrmBeginSession(KvdrmSession *handle, KvdrmArg a2, KvdrmArg a3,
                                             const char *dataSource);
KVDRM_API int32_t KVDRM_CALL DrmEndSession(KvdrmSession session);

/* Information. With KVDRM_NO_SESSION it answers itself and loads nothing:
 * the answer buffer is zero-filled for size bytes, then codes 1, 3, 4 give
 * length 2, code 2 the driver's file name (length 11), 135 to 137 a 32-bit
 * zero (length 4; written whatever size says: ask with room for it), code 6 the status KVDRM_E_NO_SESSION; other codes leave
 * length untouched. With a session handle it is forwarded. */
KVDRM_API int32_t KVDRM_CALL DrmGetInfo(KvdrmSession session, int32_t code, void *answer,
                                        int32_t size, int32_t *length);

/* Forwarded operations (each to one manager entry point, see above) and
 * four answered by KVDRM.dll with 0 (DrmSetParseTree, DrmOnPrepare,
 * DrmOnExecute, DrmSetPDUpdExpression: their first argument is not a
 * session handle). */
KVDRM_API int32_t KVDRM_CALL DrmOpenDatabase(KvdrmSession session, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4);
KVDRM_API int32_t KVDRM_CALL DrmCloseDatabase(KvdrmSession session, KvdrmArg a2);
KVDRM_API int32_t KVDRM_CALL DrmOpenTable(KvdrmSession session, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4, KvdrmArg a5, KvdrmArg a6);
KVDRM_API int32_t KVDRM_CALL DrmCloseTable(KvdrmSession session, KvdrmArg a2);
KVDRM_API int32_t KVDRM_CALL DrmGetTypeCatalogInfo(KvdrmSession session, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4);
KVDRM_API int32_t KVDRM_CALL DrmGetDatabaseTableInfo(KvdrmSession session, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4);
KVDRM_API int32_t KVDRM_CALL DrmGetTableColumnInfo(KvdrmSession session, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4);
KVDRM_API int32_t KVDRM_CALL DrmGetTableIndexInfo(KvdrmSession session, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4, KvdrmArg a5);
KVDRM_API int32_t KVDRM_CALL DrmMove(KvdrmSession session, KvdrmArg a2, KvdrmArg a3);
KVDRM_API int32_t KVDRM_CALL DrmRetrieveColumn(KvdrmSession session, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4, KvdrmArg a5, KvdrmArg a6, KvdrmArg a7);
KVDRM_API int32_t KVDRM_CALL DrmGetExtErrStr(KvdrmSession session, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4, KvdrmArg a5);
KVDRM_API int32_t KVDRM_CALL DrmGetBookmark(KvdrmSession session, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4, KvdrmArg a5);
KVDRM_API int32_t KVDRM_CALL DrmGotoBookmark(KvdrmSession session, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4);
KVDRM_API int32_t KVDRM_CALL DrmSetTableIndex(KvdrmSession session, KvdrmArg a2, KvdrmArg a3);
KVDRM_API int32_t KVDRM_CALL DrmMakeKey(KvdrmSession session, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4, KvdrmArg a5);
KVDRM_API int32_t KVDRM_CALL DrmSeek(KvdrmSession session, KvdrmArg a2, KvdrmArg a3);
KVDRM_API int32_t KVDRM_CALL DrmGetTableInfo(KvdrmSession session, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4);
KVDRM_API int32_t KVDRM_CALL DrmStringCompare(KvdrmSession session, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4, KvdrmArg a5, KvdrmArg a6, KvdrmArg a7, KvdrmArg a8);
KVDRM_API int32_t KVDRM_CALL DrmInitUpdate(KvdrmSession session, KvdrmArg a2, KvdrmArg a3);
KVDRM_API int32_t KVDRM_CALL DrmCreateColumn(KvdrmSession session, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4, KvdrmArg a5);
KVDRM_API int32_t KVDRM_CALL DrmCreateIndex(KvdrmSession session, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4, KvdrmArg a5, KvdrmArg a6, KvdrmArg a7);
KVDRM_API int32_t KVDRM_CALL DrmCreateTable(KvdrmSession session, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4);
KVDRM_API int32_t KVDRM_CALL DrmDeleteIndex(KvdrmSession session, KvdrmArg a2, KvdrmArg a3);
KVDRM_API int32_t KVDRM_CALL DrmDeleteRecord(KvdrmSession session, KvdrmArg a2);
KVDRM_API int32_t KVDRM_CALL DrmDeleteTable(KvdrmSession session, KvdrmArg a2, KvdrmArg a3);
KVDRM_API int32_t KVDRM_CALL DrmGetTableForeignKeyInfo(KvdrmSession session, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4, KvdrmArg a5);
KVDRM_API int32_t KVDRM_CALL DrmGetTablePrivilegeInfo(KvdrmSession session, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4);
KVDRM_API int32_t KVDRM_CALL DrmGetTableColumnPrivilegeInfo(KvdrmSession session, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4, KvdrmArg a5);
KVDRM_API int32_t KVDRM_CALL DrmSetColumn(KvdrmSession session, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4, KvdrmArg a5, KvdrmArg a6, KvdrmArg a7);
KVDRM_API int32_t KVDRM_CALL DrmUpdateRecord(KvdrmSession session, KvdrmArg a2);
KVDRM_API int32_t KVDRM_CALL DrmSetSessionOption(KvdrmSession session, KvdrmArg a2, KvdrmArg a3);
KVDRM_API int32_t KVDRM_CALL DrmSetTransact(KvdrmSession session, KvdrmArg a2);
KVDRM_API int32_t KVDRM_CALL DrmSetFilter(KvdrmSession session, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4, KvdrmArg a5);
KVDRM_API int32_t KVDRM_CALL DrmSetParam(KvdrmSession session, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4, KvdrmArg a5, KvdrmArg a6);
KVDRM_API int32_t KVDRM_CALL DrmSetJoin(KvdrmSession session, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4);
KVDRM_API int32_t KVDRM_CALL DrmSetRetrieveColumns(KvdrmSession session, KvdrmArg a2);
KVDRM_API int32_t KVDRM_CALL DrmGetExtPredicateInfo(KvdrmSession session, KvdrmArg a2, KvdrmArg a3);
KVDRM_API int32_t KVDRM_CALL DrmExecExtPredicate(KvdrmSession session, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4, KvdrmArg a5);
KVDRM_API int32_t KVDRM_CALL DrmGetDatabaseProcedureInfo(KvdrmSession session, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4);
KVDRM_API int32_t KVDRM_CALL DrmGetProcedureColumnInfo(KvdrmSession session, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4);
KVDRM_API int32_t KVDRM_CALL DrmOpenProcedure(KvdrmSession session, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4);
KVDRM_API int32_t KVDRM_CALL DrmExecProcedure(KvdrmSession session, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4);
KVDRM_API int32_t KVDRM_CALL DrmCreateView(KvdrmSession session, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4, KvdrmArg a5, KvdrmArg a6);
KVDRM_API int32_t KVDRM_CALL DrmDeleteView(KvdrmSession session, KvdrmArg a2, KvdrmArg a3);
KVDRM_API int32_t KVDRM_CALL DrmOpenView(KvdrmSession session, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4, KvdrmArg a5, KvdrmArg a6, KvdrmArg a7, KvdrmArg a8, KvdrmArg a9);
KVDRM_API int32_t KVDRM_CALL DrmSetParseTree(KvdrmArg a1, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4, KvdrmArg a5, KvdrmArg a6);
KVDRM_API int32_t KVDRM_CALL DrmOnPrepare(KvdrmArg a1, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4);
KVDRM_API int32_t KVDRM_CALL DrmOnExecute(KvdrmArg a1, KvdrmArg a2, KvdrmArg a3);
KVDRM_API int32_t KVDRM_CALL DrmSetPDUpdExpression(KvdrmArg a1, KvdrmArg a2, KvdrmArg a3, KvdrmArg a4, KvdrmArg a5, KvdrmArg a6);

/* Data source setup, called by the ODBC installer. Returns TRUE (-1), or
 * FALSE with the reason posted to the installer (SQLInstallerError).
 * Declared like <odbcinst.h> does (no dllimport), so the two agree. */
#if !defined(KVDRM_NO_CONFIGDSN) && !defined(__ODBCINST_H) && !defined(__ODBCINST_H__)
#if defined(_WINDEF_) || defined(_WINDEF_H)
BOOL KVDRM_CALL ConfigDSN(HWND parent, WORD request, LPCSTR driver, LPCSTR attributes);
BOOL KVDRM_CALL ConfigDSNW(HWND parent, WORD request, LPCWSTR driver, LPCWSTR attributes);
#else
int KVDRM_CALL ConfigDSN(void *parent, unsigned short request, const char *driver,
                         const char *attributes);
int KVDRM_CALL ConfigDSNW(void *parent, unsigned short request, const unsigned short *driver,
                          const unsigned short *attributes);
#endif
#endif
#endif /* _WIN32 */

#ifdef __cplusplus
}
#endif

#endif /* KVDRM_H */
