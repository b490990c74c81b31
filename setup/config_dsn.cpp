// ConfigDSN: the installer's entry for adding, configuring and removing a
// data source of the driver.
#include "setup/config_dsn.h"
#include "setup/setup_request.h"

// Success is TRUE as all bits set, as the installer's callers expect of
// this entry; failure is FALSE with the reason posted to the installer.
extern "C" BOOL __stdcall ConfigDSN(HWND parent, UINT request, LPCSTR driver, LPCSTR attributes) {
  return kvdrm::RunSetupRequest(parent, request, driver, attributes) ? static_cast<BOOL>(-1) : FALSE;
}
