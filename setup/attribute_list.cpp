#include "setup/attribute_list.h"

#include <string.h>

namespace kvdrm {

const char *const kAttributeKeys[kAttributeCount + 1] = {nullptr, "DSN", "Description", "DBQ", "CTX"};
const char *const kAttributeDefaults[kAttributeCount + 1] = {nullptr, "", "Kolvar Muster Firmendaten",
                                                             "C:\\KOLVAR\\MUSTER", "C:\\KOLVAR\\KOLVARD.CTX"};

void ParseAttributeList(const char *list, ParsedAttributes &out) {
  out = ParsedAttributes();
  if (!list) return;
  for (const char *pair = list; *pair; pair += strlen(pair) + 1) {
    const char *eq = strchr(pair, '=');
    // The list format always carries '='; a bare word names nothing.
    if (!eq) continue;
    size_t keyLength = static_cast<size_t>(eq - pair);
    for (int i = 1; i <= kAttributeCount; ++i) {
      if (strlen(kAttributeKeys[i]) == keyLength && memcmp(pair, kAttributeKeys[i], keyLength) == 0) {
        out.supplied[i] = true;
        out.values[i].assign(eq + 1);
      }
    }
  }
}

void FillAbsent(bool isAddRequest, const bool supplied[kAttributeCount + 1], const std::string &section,
                std::string values[kAttributeCount + 1], ProfileReader read) {
  for (int i = kAttrDescription; i <= kAttrCtx; ++i) {
    if (supplied[i]) continue;
    values[i] = isAddRequest ? std::string(kAttributeDefaults[i]) : read(section.c_str(), kAttributeKeys[i]);
  }
}

}  // namespace kvdrm
