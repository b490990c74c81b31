// What a setup request removes and writes, decided apart from the registry
// and the installer. Pure code (no windows.h), testable and fuzzable natively.
#pragma once
#include <stdint.h>

#include "registry/dbcs.h"

namespace kvdrm {

enum RequestKind { kRequestAdd, kRequestConfigure, kRequestRemove };

// Only the low 16 bits count: 1 adds, 3 removes, everything else
// (ODBC_ADD_SYS_DSN, ODBC_REMOVE_SYS_DSN and the rest included) configures.
RequestKind ClassifyRequest(uint32_t request);

// The installer's values that this code needs, as plain numbers.
constexpr uint16_t kModeBoth = 0;    // ODBC_BOTH_DSN
constexpr uint16_t kModeSystem = 2;  // ODBC_SYSTEM_DSN
constexpr int kErrorComponentNotFound = 6;  // ODBC_ERROR_COMPONENT_NOT_FOUND
constexpr int kErrorInvalidName = 7;        // ODBC_ERROR_INVALID_NAME
constexpr int kErrorRequestFailed = 11;     // ODBC_ERROR_REQUEST_FAILED
constexpr int kErrorOutOfMemory = 21;       // ODBC_ERROR_OUT_OF_MEM

// Index into the registry roots table (HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE):
// 1 for system data sources, 0 for every other mode.
int RootIndexForMode(uint16_t mode);

// Access masks of the two storage passes: KEY_ALL_ACCESS, then the same in
// the 64-bit registry view (KEY_WOW64_64KEY).
constexpr uint32_t kPassAccess[2] = {0xF003F, 0xF003F | 0x0100};

// False for a name that would reach beyond its own key: one with a '\\'
// character (nested keys), or the installer's own sections "ODBC Data
// Sources" (the list of all data sources) and "ODBC File DSN" (its
// settings) in any letter case. Every other name is stored as it is.
bool IsStorableName(const char *name, LeadByteTest isLead);

// Whether the name has a file data source: a '/' would reach into a
// subfolder of the file data source directory, so such a name has none
// (its registry key is an ordinary one).
bool HasFileDataSource(const char *name);

// The decision for one request, the same in both passes.
struct StoragePlan {
  bool act = false;          // false: nothing is stored or removed
  int error = 0;             // with act false: 0 means success (a cancelled dialog)
  const char *message = "";  // the reason posted with `error`
  bool removeInitial = false;  // remove the entries of the initial name
  bool write = false;          // write the data source under values[1]
};

// request: the raw request code; initialName: the name the attribute list
// gave; name: values[1] after the dialog, if any; dialogShown: whether the
// dialog ran (an empty name then means Cancel).
StoragePlan PlanStorage(uint32_t request, const char *initialName, const char *name, bool dialogShown,
                        LeadByteTest isLead);

// What one pass managed: the driver's key opened in that pass's view, and
// the data source key was created with its four values. removeFailed: the
// initial name's key exists but could not be deleted (nor, then, anything
// else of it), or a rename's new key could not be created; that pass then
// left the old data source as it was.
struct PassResult {
  bool driverFound = false;
  bool written = false;
  bool removeFailed = false;
  bool denied = false;  // what failed was refused for want of access
};

struct StoreOutcome {
  bool ok = true;
  int error = 0;
  const char *message = "";
};
constexpr StoreOutcome kOutOfMemory = {false, kErrorOutOfMemory, "Out of memory"};

// A write succeeds when at least one pass found the driver and wrote the
// key: on 64-bit Windows a 32-bit driver is registered in one view only, so
// one failed pass is normal. A removal needs no driver; a removal that could
// not finish in either pass is a failure. The message says "access denied"
// when that was the cause.
StoreOutcome JudgePasses(const StoragePlan &plan, const PassResult results[2]);

}  // namespace kvdrm
