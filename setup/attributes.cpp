// The attribute set and the installer profile reads.
#include <windows.h>

#include <odbcinst.h>

#include "setup/attribute_list.h"
#include "setup/attributes.h"

namespace kvdrm {

AttributeSet g_attributes;

void ClearAttributes() {
  for (std::string &v : g_attributes.values) v.clear();
  g_attributes.initialName.clear();
  g_attributes.driver = nullptr;
}

std::string ReadProfileValue(const char *section, const char *entry) {
  char buffer[256];
  buffer[0] = '\0';
  SQLGetPrivateProfileString(section, entry, "", buffer, sizeof buffer, "odbc.ini");
  // An entry list (null entry) ends with a double NUL; a full buffer may
  // come back without any terminator.
  buffer[sizeof buffer - 1] = '\0';
  return std::string(buffer);
}

void FillAbsentAttributes(bool isAddRequest, const bool supplied[kAttributeCount + 1]) {
  FillAbsent(isAddRequest, supplied, g_attributes.initialName, g_attributes.values, ReadProfileValue);
}

}  // namespace kvdrm
