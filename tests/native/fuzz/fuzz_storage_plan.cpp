// The storage decision: what a request removes and writes. Whatever the
// request code, names and dialog outcome, the plan never writes or removes
// under a name with a '\\', never removes for an add or for a configure
// that keeps its name, and never writes for a removal. A name that is a
// file name holds none of the characters the file system refuses.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "setup/storage_plan.h"

namespace {

bool SingleByte(unsigned char) { return false; }

bool Refused(const std::string &name) { return !kvdrm::IsStorableName(name.c_str(), SingleByte); }

// A '\\' reaches beyond the name's own key. Without one, only a name as
// long as one of the installer's sections ("ODBC Data Sources", "ODBC File
// DSN") may be refused.
bool NameRuleHolds(const std::string &name) {
  bool backslash = name.find('\\') != std::string::npos;
  return backslash ? Refused(name) : name.size() == 17 || name.size() == 13 || !Refused(name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 6 || size > 4096) return 0;
  uint32_t request;
  memcpy(&request, data, 4);
  uint8_t flags = data[4];
  bool dialogShown = flags & 1;
  // Often a small request code, so that every kind is well covered.
  if (flags & 2) request &= 0x10007;
  // The rest is "initial name \0 name"; without a NUL both are the same
  // (a configure that keeps its name). Names reach storage NUL-terminated.
  std::string rest(reinterpret_cast<const char *>(data + 5), size - 5);
  size_t cut = rest.find('\0');
  std::string initialName = cut == std::string::npos ? rest : rest.substr(0, cut);
  std::string name = cut == std::string::npos ? rest : rest.substr(cut + 1);
  if (flags & 4) name = initialName;
  name = name.c_str();

  kvdrm::RequestKind kind = kvdrm::ClassifyRequest(request);
  if (kind != kvdrm::ClassifyRequest(request & 0xFFFF)) abort();
  if (!NameRuleHolds(name) || !NameRuleHolds(initialName)) abort();

  if (kvdrm::IsFileName(name.c_str(), SingleByte) &&
      (name.find_first_of("/\\:*?\"<>|") != std::string::npos || name.back() == '.' || name.back() == ' '))
    abort();

  kvdrm::StoragePlan plan = kvdrm::PlanStorage(request, initialName.c_str(), name.c_str(), dialogShown, SingleByte);
  if ((plan.write || plan.removeInitial) && !plan.act) abort();
  if (plan.act && (name.empty() || Refused(name) || plan.write == (kind == kvdrm::kRequestRemove))) abort();
  if (plan.removeInitial && (initialName.empty() || Refused(initialName) || kind == kvdrm::kRequestAdd ||
                             (kind == kvdrm::kRequestConfigure && name == initialName)))
    abort();
  // A cancelled dialog (empty name after it ran) is the one silent no-op.
  if (!plan.act && plan.error == 0 && !(name.empty() && dialogShown && kind != kvdrm::kRequestRemove)) abort();
  if (!plan.act && plan.error != 0 && (!plan.message || !*plan.message)) abort();
  return 0;
}
