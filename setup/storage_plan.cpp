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

}  // namespace

bool IsStorableName(const char *name, LeadByteTest isLead) {
  return !HasBackslash(name, strlen(name), isLead) && !IsReservedName(name, "ODBC Data Sources", isLead) &&
         !IsReservedName(name, "ODBC File DSN", isLead);
}

bool HasFileDataSource(const char *name) { return !strchr(name, '/'); }

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

StoreOutcome JudgePasses(const StoragePlan &plan, const PassResult results[2]) {
  StoreOutcome out;
  if (!plan.act) {
    out.ok = plan.error == 0;
    out.error = plan.error;
    out.message = plan.message;
    return out;
  }
  const bool denied = results[0].denied || results[1].denied;
  if (plan.write && !results[0].driverFound && !results[1].driverFound) {
    out.ok = false;
    out.error = kErrorComponentNotFound;
    out.message = "Driver not registered";
  } else if (results[0].removeFailed || results[1].removeFailed) {
    out.ok = false;
    out.error = kErrorRequestFailed;
    out.message = denied ? "Could not remove the data source: access denied" : "Could not remove the data source";
  } else if (plan.write && !results[0].written && !results[1].written) {
    out.ok = false;
    out.error = kErrorRequestFailed;
    out.message = denied ? "Could not write the data source: access denied" : "Could not write the data source";
  }
  return out;
}

}  // namespace kvdrm
