#include "setup/storage_plan.h"

#include <string.h>

namespace kvdrm {

RequestKind ClassifyRequest(uint32_t request) {
  switch (request & 0xFFFF) {
    case 1:
      return kRequestAdd;
    case 3:
      return kRequestRemove;
    default:
      return kRequestConfigure;
  }
}

int RootIndexForMode(uint16_t mode) { return mode == kModeSystem ? 1 : 0; }

namespace {

// ASCII letters only: the device names are ASCII, and the file system
// tells no other letters apart from them.
WChar AsciiUpper(WChar c) { return c >= u'a' && c <= u'z' ? static_cast<WChar>(c - u'a' + u'A') : c; }

// Whether `name` is the ASCII text `reserved` in the registry's letter case.
bool IsReservedName(const WChar *name, const char *reserved, WChar (*upper)(WChar c)) {
  // Letter case maps unit to unit: another length is another name.
  if (WLength(name) != strlen(reserved)) return false;
  size_t i = 0;
  for (; name[i] && reserved[i]; ++i)
    if (upper(name[i]) != upper(static_cast<WChar>(reserved[i]))) return false;
  return !name[i] && !reserved[i];
}

// Whether the n units at s are the ASCII word `word` (of length n) in any
// letter case.
bool IsWord(const WChar *s, size_t n, const char *word) {
  for (size_t i = 0; i < n; ++i)
    if (!word[i] || AsciiUpper(s[i]) != static_cast<WChar>(word[i])) return false;
  return !word[n];
}

// The device digit of COM<n> and LPT<n>: 1 to 9, and the superscripts
// one, two and three, which the file system takes as digits.
bool IsDeviceDigit(WChar c) { return (c >= u'1' && c <= u'9') || c == u'\u00B9' || c == u'\u00B2' || c == u'\u00B3'; }

}  // namespace

bool IsStorableName(const WChar *name, WChar (*upper)(WChar c)) {
  for (const WChar *p = name; *p; ++p)
    if (*p == u'\\') return false;
  return !IsReservedName(name, "ODBC Data Sources", upper) && !IsReservedName(name, "ODBC File DSN", upper);
}

bool IsFileName(const WChar *name) {
  size_t n = WLength(name);
  if (!n || name[n - 1] == u'.' || name[n - 1] == u' ') return false;
  for (size_t i = 0; i < n; ++i) {
    WChar c = name[i];
    if (c < 32) return false;
    for (const char *bad = "/\\:*?\"<>|"; *bad; ++bad)
      if (c == static_cast<WChar>(*bad)) return false;
  }
  // Devices keep their names with any extension, and with blanks before it.
  size_t base = 0;
  while (base < n && name[base] != u'.') ++base;
  while (base > 0 && name[base - 1] == u' ') --base;
  static const char *const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
  for (const char *d : kDevices)
    if (IsWord(name, base, d)) return false;
  return !(base == 4 && IsDeviceDigit(name[3]) && (IsWord(name, 3, "COM") || IsWord(name, 3, "LPT")));
}

StoragePlan PlanStorage(uint32_t request, const WChar *initialName, const WChar *name, bool dialogShown,
                        const NameRules &rules) {
  RequestKind kind = ClassifyRequest(request);
  StoragePlan plan;
  if (!*name) {
    // The dialog empties the name on Cancel; that is the user's choice, not
    // a failure. Without a dialog the request simply named nothing.
    if (!(dialogShown && kind != kRequestRemove)) {
      plan.error = kErrorInvalidName;
      plan.message = "No data source name given";
    }
    return plan;
  }
  plan.write = kind != kRequestRemove;
  // An add never removes: the name its list gave need not belong to the
  // data source being added, even when the dialog replaced it.
  plan.removeInitial =
      *initialName && (kind == kRequestRemove || (kind == kRequestConfigure && !WSame(name, initialName)));
  if (!IsStorableName(name, rules.upper) || (plan.removeInitial && !IsStorableName(initialName, rules.upper))) {
    plan.write = plan.removeInitial = false;
    plan.error = kErrorInvalidName;
    plan.message = "Invalid data source name";
    return plan;
  }
  // Only a name being written must be one the driver can open: an old name
  // that the code page cannot hold may still be renamed or removed.
  if (plan.write && !rules.fitsCodePage(name)) {
    plan.write = plan.removeInitial = false;
    plan.error = kErrorInvalidName;
    plan.message = "Invalid data source name: the system's ANSI code page cannot hold it, so the driver could not open it";
    return plan;
  }
  plan.act = true;
  return plan;
}

int PlanTargets(const StoragePlan &plan, int rootIndex, const bool driverFound[2], StorageTarget out[2]) {
  int n = 0;
  if (!plan.act) return 0;
  const int views = rootIndex == 1 ? 2 : 1;
  for (int v = 0; v < views; ++v) {
    bool driver = rootIndex == 1 ? driverFound[v] : driverFound[0] || driverFound[1];
    if (plan.write && !driver) continue;
    out[n++] = {v ? 0x0100u : 0u, plan.removeInitial, plan.write};
  }
  return n;
}

}  // namespace kvdrm
