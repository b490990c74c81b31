// The storage decision: what a request removes and writes. Whatever the
// request code, names and dialog outcome, the plan never writes or removes
// under a name that reaches beyond its own key and file, never removes for
// an add or for a configure that keeps its name, never writes for a
// removal, and a failure (a removal that could not finish included) is
// never judged a success.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "setup/storage_plan.h"

namespace {

bool SingleByte(unsigned char) { return false; }

// Invariants of the name rule that need no second copy of it: a '\\'
// always reaches beyond the key; a name of neither reserved length ("ODBC
// Data Sources", "ODBC File DSN") without one never does.
bool ReachesBeyond(const std::string &name) {
  if (name.find('\\') != std::string::npos) return true;
  if (name.size() != 17 && name.size() != 13) return false;
  return !kvdrm::IsStorableName(name.c_str(), SingleByte);
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
  // (a configure that keeps its name).
  std::string rest(reinterpret_cast<const char *>(data + 5), size - 5);
  size_t cut = rest.find('\0');
  std::string initialName = cut == std::string::npos ? rest : rest.substr(0, cut);
  std::string name = cut == std::string::npos ? rest : rest.substr(cut + 1);
  if (flags & 4) name = initialName;
  // Names reach storage as NUL-terminated texts.
  name = name.c_str();

  kvdrm::RequestKind kind = kvdrm::ClassifyRequest(request);
  if (kind != kvdrm::ClassifyRequest(request & 0xFFFF)) abort();
  uint16_t low = request & 0xFFFF;
  if ((low == 1) != (kind == kvdrm::kRequestAdd) || (low == 3) != (kind == kvdrm::kRequestRemove)) abort();
  if (kvdrm::RootIndexForMode(low) != (low == 2 ? 1 : 0)) abort();
  if (kvdrm::IsStorableName(name.c_str(), SingleByte) == ReachesBeyond(name)) abort();

  kvdrm::StoragePlan plan = kvdrm::PlanStorage(request, initialName.c_str(), name.c_str(), dialogShown, SingleByte);
  if (plan.write || plan.removeInitial) {
    if (!plan.act) abort();
  }
  if (plan.act) {
    if (name.empty() || ReachesBeyond(name)) abort();
    if (plan.write == (kind == kvdrm::kRequestRemove)) abort();
  }
  if (plan.removeInitial) {
    if (initialName.empty() || ReachesBeyond(initialName)) abort();
    if (kind == kvdrm::kRequestAdd) abort();
    if (kind == kvdrm::kRequestConfigure && name == initialName) abort();
  }
  // A cancelled dialog (empty name after it ran) is the one silent no-op.
  if (!plan.act && plan.error == 0 && !(name.empty() && dialogShown && kind != kvdrm::kRequestRemove)) abort();
  if (!plan.act && plan.error == 0 && (plan.write || plan.removeInitial)) abort();
  if (!plan.act && plan.error != 0 && (!plan.message || !*plan.message)) abort();

  // Every combination of pass results: what failed is never judged a
  // success (the judgement of each case is tabled in setup_logic_test).
  for (int r = 0; r < 64; ++r) {
    kvdrm::PassResult results[2];
    results[0].driverFound = r & 1;
    results[0].written = r & 2;
    results[0].removeFailed = r & 16;
    results[1].driverFound = r & 4;
    results[1].written = r & 8;
    results[1].removeFailed = r & 32;
    kvdrm::StoreOutcome out = kvdrm::JudgePasses(plan, results);
    bool driver = results[0].driverFound || results[1].driverFound;
    bool written = results[0].written || results[1].written;
    bool removeFailed = results[0].removeFailed || results[1].removeFailed;
    if (plan.act && out.ok && (removeFailed || (plan.write && !(driver && written)))) abort();
    if (!plan.act && out.ok != (plan.error == 0)) abort();
    if (!out.ok && (out.error == 0 || !out.message || !*out.message)) abort();
  }
  return 0;
}
