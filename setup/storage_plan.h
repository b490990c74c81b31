// What a setup request removes and writes, decided apart from the registry
// and the installer. Pure code (no windows.h), testable and fuzzable natively.
#pragma once
#include <stdint.h>

#include "registry/text.h"

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

// What the plan needs of the platform, handed in so that it stays pure.
struct NameRules {
  // The registry's letter case: it compares names by their upper case, for
  // the whole character set (so "odbc data ſources" is the list's own key).
  WChar (*upper)(WChar c);
  // Whether the ANSI code page holds the name exactly. Sessions name their
  // data source in that code page, so a name it cannot hold could never be
  // opened by the driver.
  bool (*fitsCodePage)(const WChar *name);
};

// False for a name that would reach beyond its own key: one with a '\\'
// character (nested keys), or the installer's own sections "ODBC Data
// Sources" (the list of all data sources) and "ODBC File DSN" (its
// settings) in any letter case. Every other name is stored as it is.
bool IsStorableName(const WChar *name, WChar (*upper)(WChar c));

// Whether the name can name a file data source, "<name>.DSN" in the
// installer's folder: not when the file system would take it for something
// else or refuse it. '/' reaches into a subfolder, ':' names a stream of
// another file, CON, PRN, AUX, NUL, COM1 to COM9 and LPT1 to LPT9 (the
// superscript digits 1 to 3 count as digits; any letter case, with any
// extension) name devices, '*' '?' '"' '<' '>' '|' and the control
// characters U+0001 to U+001F are refused, and a trailing '.' or blank is
// dropped. Such a data source is stored all the same, without a file.
bool IsFileName(const WChar *name);

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
StoragePlan PlanStorage(uint32_t request, const WChar *initialName, const WChar *name, bool dialogShown,
                        const NameRules &rules);

struct StoreOutcome {
  bool ok = true;
  int error = 0;
  const char *message = "";
};
constexpr StoreOutcome kOutOfMemory = {false, kErrorOutOfMemory, "Out of memory"};

// What a request that is not refused does in one registry view.
struct StorageTarget {
  uint32_t view;  // 0 or KEY_WOW64_64KEY
  bool remove;    // the initial name's key and list value go
  bool write;     // values[1]'s key is written
};

// The views a request changes, under the root of `rootIndex`, given where
// the driver is registered (driverFound[0]: the default view, [1]: the
// 64-bit view). A write goes to every view where the driver is, and a
// rename removes the old name in those views; a removal goes to both views
// and needs no driver. HKEY_CURRENT_USER is one key in both views, so it
// is one target. Returns the number of targets; a write with none means
// the driver is not registered.
int PlanTargets(const StoragePlan &plan, int rootIndex, const bool driverFound[2], StorageTarget out[2]);

}  // namespace kvdrm
