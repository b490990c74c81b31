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

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Whether `name` is the ASCII text `reserved` in any letter case. A
// double-byte character matches no ASCII letter, even when its trail byte
// is one.
bool IsReservedName(const char *name, const char *reserved, LeadByteTest isLead) {
  size_t i = 0;
  for (; name[i] && reserved[i]; ++i) {
    if (isLead(static_cast<unsigned char>(name[i])) || Upper(name[i]) != Upper(reserved[i])) return false;
  }
  return !name[i] && !reserved[i];
}

// Whether the n bytes at s are the ASCII word `word` (of length n) in any
// letter case. A byte of a double-byte character is never a letter here.
bool IsWord(const char *s, size_t n, const char *word) {
  for (size_t i = 0; i < n; ++i)
    if (!word[i] || Upper(s[i]) != word[i]) return false;
  return !word[n];
}

}  // namespace

bool IsStorableName(const char *name, LeadByteTest isLead) {
  return !HasBackslash(name, strlen(name), isLead) && !IsReservedName(name, "ODBC Data Sources", isLead) &&
         !IsReservedName(name, "ODBC File DSN", isLead);
}

bool IsFileName(const char *name, LeadByteTest isLead) {
  size_t n = strlen(name);
  if (!n || name[n - 1] == '.' || name[n - 1] == ' ') return false;
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    // A trail byte is part of its character, whatever its value.
    if (isLead(c) && i + 1 < n) {
      ++i;
      continue;
    }
    if (c < 32 || strchr("/\\:*?\"<>|", c)) return false;
  }
  // Devices keep their names with any extension, and with blanks before it.
  size_t base = 0;
  while (base < n && name[base] != '.') ++base;
  while (base > 0 && name[base - 1] == ' ') --base;
  static const char *const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
  for (const char *d : kDevices)
    if (IsWord(name, base, d)) return false;
  return !(base == 4 && name[3] >= '1' && name[3] <= '9' && (IsWord(name, 3, "COM") || IsWord(name, 3, "LPT")));
}

StoragePlan PlanStorage(uint32_t request, const char *initialName, const char *name, bool dialogShown,
                        LeadByteTest isLead) {
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
      *initialName && (kind == kRequestRemove || (kind == kRequestConfigure && strcmp(name, initialName) != 0));
  if (!IsStorableName(name, isLead) || (plan.removeInitial && !IsStorableName(initialName, isLead))) {
    plan.write = plan.removeInitial = false;
    plan.error = kErrorInvalidName;
    plan.message = "Invalid data source name";
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
