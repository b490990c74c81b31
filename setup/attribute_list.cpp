#include "setup/attribute_list.h"

#include <string.h>

namespace kvdrm {

const char *const kAttributeKeys[kAttributeCount + 1] = {nullptr, "DSN", "Description", "DBQ", "CTX"};

const SetupField kSetupFields[kAttributeCount] = {
    {kAttrDsn, "", "Data Source &Name", 32, 0},
    {kAttrDescription, "Kolvar Muster Firmendaten", "&Description", 80, 0},
    {kAttrDbq, "C:\\KOLVAR\\MUSTER", "Data D&irectory", 64, kBrowseDirectory},
    {kAttrCtx, "C:\\KOLVAR\\KOLVARD.CTX", "&CTX File", 64, kBrowseControlFile},
};

void ClearAttributes(AttributeSet &set) {
  for (Text &v : set.values) TextFree(v);
  TextFree(set.initialName);
  set.driver = nullptr;
}

void ParseAttributeList(const char *list, ParsedAttributes &out) {
  out = ParsedAttributes();
  if (!list) return;
  for (const char *pair = list; *pair; pair += strlen(pair) + 1) {
    const char *eq = strchr(pair, '=');
    // The list format always carries '='; a bare word names nothing.
    if (!eq) continue;
    size_t keyLength = static_cast<size_t>(eq - pair);
    for (int i = 1; i <= kAttributeCount; ++i) {
      if (strlen(kAttributeKeys[i]) == keyLength && memcmp(pair, kAttributeKeys[i], keyLength) == 0)
        out.values[i] = eq + 1;
    }
  }
}

bool FillAbsent(bool isAddRequest, const ParsedAttributes &parsed, const char *section,
                Text values[kAttributeCount + 1], ProfileReader read) {
  for (const SetupField &f : kSetupFields) {
    if (f.attribute == kAttrDsn || parsed.values[f.attribute]) continue;
    char entry[256];
    if (!isAddRequest) read(section, kAttributeKeys[f.attribute], entry);
    if (!TextSetZ(values[f.attribute], isAddRequest ? f.addDefault : entry)) return false;
  }
  return true;
}

}  // namespace kvdrm
