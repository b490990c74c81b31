#include "setup/storage_plan.h"

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

bool IsStorableName(const std::string &name) {
  if (name.find_first_of("\\/") != std::string::npos) return false;
  static const char kList[] = "ODBC Data Sources";
  if (name.size() != sizeof kList - 1) return true;
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    char k = kList[i];
    if (k >= 'a' && k <= 'z') k = static_cast<char>(k - 'a' + 'A');
    if (c != k) return true;
  }
  return false;
}

StoragePlan PlanStorage(uint32_t request, const std::string &initialName, const std::string &name,
                        bool dialogShown) {
  RequestKind kind = ClassifyRequest(request);
  StoragePlan plan;
  if (name.empty()) {
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
  plan.removeInitial = !initialName.empty() &&
                       (kind == kRequestRemove || (kind == kRequestConfigure && name != initialName));
  if (!IsStorableName(name) || (plan.removeInitial && !IsStorableName(initialName))) {
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
  if (!results[0].driverFound && !results[1].driverFound) {
    out.ok = false;
    out.error = kErrorComponentNotFound;
    out.message = "Driver not registered";
  } else if (results[0].removeFailed || results[1].removeFailed) {
    out.ok = false;
    out.error = kErrorRequestFailed;
    out.message = "Could not remove the data source";
  } else if (plan.write && !results[0].written && !results[1].written) {
    out.ok = false;
    out.error = kErrorRequestFailed;
    out.message = "Could not write the data source";
  }
  return out;
}

}  // namespace kvdrm
