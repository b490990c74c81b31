// The storage decision: what a request removes and writes. Whatever the
// request code, names and dialog outcome, the plan never writes or removes
// under a name with a '\\' or one of the installer's sections, removes the
// initial name exactly when a removal or a rename acts, writes exactly
// when a request other than a removal acts, writes only a name the code
// page holds, and refuses nothing without one of those reasons. A name is
// a file name exactly when the file system would keep it as it is and not
// take it for a device.
//
// Input: the request code (4 bytes, little-endian), a flags byte, then
// "initial name \0 name" as UTF-16LE; without a NUL unit both names are the
// same (a configure that keeps its name).
#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "setup/storage_plan.h"
#include "tests/common/registry_upper.h"
#include "utf16_input.h"

namespace {

using kvdrm::WChar;
typedef std::u16string Name;

constexpr auto Upper = testmodel::RegistryUpper;

// A code page that holds Latin-1 and nothing else.
bool FitsLatin1(const WChar *name) {
  for (; *name; ++name)
    if (*name > 0xFF) return false;
  return true;
}

const kvdrm::NameRules kRules = {Upper, FitsLatin1};

bool Refused(const Name &name) { return !kvdrm::IsStorableName(name.c_str(), Upper); }

// A '\\' reaches beyond the name's own key; the installer's sections are
// the list of data sources and its own settings, in any letter case.
bool ShouldRefuse(const Name &name) {
  Name upper;
  for (WChar c : name) upper += Upper(c);
  return name.find(u'\\') != Name::npos || upper == u"ODBC DATA SOURCES" || upper == u"ODBC FILE DSN";
}

// The file system refuses these characters and drops a trailing '.' or
// blank; device names hold in any ASCII letter case, with any extension and
// blanks before it, and the superscripts one to three are device digits.
bool ShouldBeFileName(const Name &name) {
  if (name.empty() || name.back() == u'.' || name.back() == u' ') return false;
  for (WChar c : name)
    if (c < 0x20 || Name(u"/\\:*?\"<>|").find(c) != Name::npos) return false;
  Name base = name.substr(0, name.find(u'.'));
  base.erase(base.find_last_not_of(u' ') + 1);
  for (WChar &c : base)
    if (c >= u'a' && c <= u'z') c = static_cast<WChar>(c - 0x20);
  for (const WChar *device : {u"CON", u"PRN", u"AUX", u"NUL"})
    if (base == device) return false;
  const bool numbered = base.size() == 4 && (base.compare(0, 3, u"COM") == 0 || base.compare(0, 3, u"LPT") == 0);
  return !(numbered && Name(u"123456789\u00B9\u00B2\u00B3").find(base[3]) != Name::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 5 || size > 4096) return 0;
  uint32_t request = data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24;
  uint8_t flags = data[4];
  bool dialogShown = flags & 1;
  // Often a small request code, so that every kind is well covered.
  if (flags & 2) request &= 0x10007;
  std::vector<WChar> units((size - 5) / 2 + 1);
  Name rest(units.data(), ReadUnitsLE(data + 5, size - 5, units.data()));
  size_t cut = rest.find(u'\0');
  Name initialName = cut == Name::npos ? rest : rest.substr(0, cut);
  Name name = cut == Name::npos ? rest : rest.substr(cut + 1);
  if (flags & 4) name = initialName;
  name = name.c_str();  // names reach storage NUL-terminated

  kvdrm::RequestKind kind = kvdrm::ClassifyRequest(request);
  if (kind != kvdrm::ClassifyRequest(request & 0xFFFF)) abort();
  if (Refused(name) != ShouldRefuse(name) || Refused(initialName) != ShouldRefuse(initialName)) abort();
  if (kvdrm::IsFileName(name.c_str()) != ShouldBeFileName(name)) abort();

  kvdrm::StoragePlan plan = kvdrm::PlanStorage(request, initialName.c_str(), name.c_str(), dialogShown, kRules);
  const bool writes = kind != kvdrm::kRequestRemove;
  const bool removes = !initialName.empty() && (kind == kvdrm::kRequestRemove ||
                                                (kind == kvdrm::kRequestConfigure && name != initialName));
  const bool cancelled = name.empty() && dialogShown && kind != kvdrm::kRequestRemove;
  if ((plan.write || plan.removeInitial) && !plan.act) abort();
  if (plan.act && (name.empty() || Refused(name) || plan.write != writes || plan.removeInitial != removes))
    abort();
  if (plan.removeInitial && Refused(initialName)) abort();
  // Sessions name their data source in the code page: what is written must
  // fit it. An old name being removed need not.
  if (plan.write && !FitsLatin1(name.c_str())) abort();
  // A cancelled dialog is the one silent no-op; any other plan that does
  // not act is refused for a reason, with a message.
  if (!plan.act && (plan.error == 0) != cancelled) abort();
  if (!plan.act && !cancelled &&
      !(name.empty() || Refused(name) || (removes && Refused(initialName)) || (writes && !FitsLatin1(name.c_str()))))
    abort();
  if (!plan.act && plan.error != 0 && (!plan.message || !*plan.message)) abort();
  return 0;
}
