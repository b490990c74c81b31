#include "setup/attribute_list.h"

#include <string.h>

namespace kvdrm {

const WChar *const kAttributeKeys[kAttributeCount + 1] = {nullptr, u"DSN", u"Description", u"DBQ", u"CTX"};

const SetupField kSetupFields[kAttributeCount] = {
    {kAttrDsn, u"", u"Data Source &Name", 32, 0},
    {kAttrDescription, u"Kolvar Muster Firmendaten", u"&Description", 80, 0},
    {kAttrDbq, u"C:\\KOLVAR\\MUSTER", u"Data D&irectory", 64, kBrowseDirectory},
    {kAttrCtx, u"C:\\KOLVAR\\KOLVARD.CTX", u"&CTX File", 64, kBrowseControlFile},
};

void ClearAttributes(AttributeSet &set) {
  for (WText &v : set.values) WTextFree(v);
  WTextFree(set.initialName);
  set.driver = nullptr;
}

void ParseAttributeList(const WChar *list, ParsedAttributes &out) {
  out = ParsedAttributes();
  if (!list) return;
  for (const WChar *pair = list; *pair; pair += WLength(pair) + 1) {
    const WChar *eq = pair;
    while (*eq && *eq != u'=') ++eq;
    // The list format always carries '='; a bare word names nothing.
    if (!*eq) continue;
    size_t keyLength = static_cast<size_t>(eq - pair);
    for (int i = 1; i <= kAttributeCount; ++i) {
      if (WLength(kAttributeKeys[i]) == keyLength && memcmp(pair, kAttributeKeys[i], keyLength * sizeof(WChar)) == 0)
        out.values[i] = eq + 1;
    }
  }
}

bool FillAbsent(bool isAddRequest, const ParsedAttributes &parsed, const WChar *section,
                WText values[kAttributeCount + 1], ProfileReader read) {
  for (const SetupField &f : kSetupFields) {
    if (f.attribute == kAttrDsn || parsed.values[f.attribute]) continue;
    WChar entry[256];
    if (!isAddRequest) read(section, kAttributeKeys[f.attribute], entry);
    if (!WTextSetZ(values[f.attribute], isAddRequest ? f.addDefault : entry)) return false;
  }
  return true;
}

}  // namespace kvdrm
