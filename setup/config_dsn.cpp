// TEMPORARY stand-in for ConfigDSN, until the real one lands from its own
// branch: parses DSN/Description/DBQ/CTX, fills defaults for an add or the
// profile for a configure, shows the dialog and stores nothing.
#include <string.h>

#include "proxy/exports.h"
#include "setup/attributes.h"
#include "setup/dialog.h"

extern "C" BOOL __stdcall ConfigDSN(HWND parent, UINT request, LPCSTR driver, LPCSTR attributes) {
  using namespace kvdrm;
  WORD code = LOWORD(request);
  g_attributes.driver = driver;
  bool supplied[kAttributeCount + 1] = {};
  for (const char *p = attributes; p && *p; p += strlen(p) + 1) {
    const char *eq = strchr(p, '=');
    size_t keyLen = eq ? static_cast<size_t>(eq - p) : strlen(p);
    for (int i = 1; i <= kAttributeCount; ++i)
      if (strlen(kAttributeKeys[i]) == keyLen && !strncmp(p, kAttributeKeys[i], keyLen)) {
        supplied[i] = true;
        g_attributes.values[i] = eq ? eq + 1 : "";
      }
  }
  g_attributes.initialName = g_attributes.values[kAttrDsn];
  for (int i = 2; i <= kAttributeCount; ++i)
    if (!supplied[i])
      g_attributes.values[i] = code == 1 ? kAttributeDefaults[i]
                                         : ReadProfileValue(g_attributes.initialName.c_str(), kAttributeKeys[i]);
  if (code != 3 && parent) ShowSetupDialog();
  return -1;
}
