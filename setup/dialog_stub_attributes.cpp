// TEMPORARY, until the attribute set and storage land from their own branch:
// a minimal attribute set and profile read so that the setup dialog can be
// built and driven. Delete this file when merging that work.
#include <windows.h>
#include <odbcinst.h>

#include "setup/attributes.h"

namespace kvdrm {

const char *const kAttributeKeys[kAttributeCount + 1] = {nullptr, "DSN", "Description", "DBQ", "CTX"};
const char *const kAttributeDefaults[kAttributeCount + 1] = {nullptr, "", "Kolvar Muster Firmendaten",
                                                             "C:\\KOLVAR\\MUSTER", "C:\\KOLVAR\\KOLVARD.CTX"};
AttributeSet g_attributes;

void ClearAttributes() {
  for (std::string &v : g_attributes.values) v.clear();
  g_attributes.initialName.clear();
}

std::string ReadProfileValue(const char *section, const char *entry) {
  char buffer[256] = {};
  SQLGetPrivateProfileString(section, entry, "", buffer, sizeof buffer, "odbc.ini");
  buffer[255] = '\0';
  return buffer;
}

}  // namespace kvdrm
