// One setup request from the installer, as ConfigDSN receives it.
#pragma once
#include <windows.h>

#include <stdint.h>

namespace kvdrm {

// Parses the attribute list into g_attributes, fills what it left out,
// shows the dialog for an add or configure request with a parent window,
// stores the result. False when a data source that should have been stored
// or removed was not; the reason has then been posted to the installer.
bool RunSetupRequest(HWND parent, uint32_t request, const char *driver, const char *attributes);

}  // namespace kvdrm
