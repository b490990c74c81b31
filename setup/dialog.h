// The setup dialog: shown by ConfigDSN for an add or configure request that
// comes with a parent window. Works on g_attributes; returns when the
// dialog has closed, true, or at once, false, when it could not be created
// (no display). OK leaves the four field texts in values[1..4]; Cancel
// leaves values[1] empty.
#pragma once
#include <windows.h>

namespace kvdrm {

bool ShowSetupDialog();

// The setup dialog whose loop is running on this thread, or null.
HWND OpenSetupDialog();

}  // namespace kvdrm
