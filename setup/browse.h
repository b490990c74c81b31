// The Browse buttons of the setup dialog: the platform's Open dialog fills
// the data directory field (3) or the control file field (4).
#pragma once
#include <windows.h>

namespace kvdrm {

// Runs the Open dialog for field 3 or 4 and, when the user confirms,
// replaces the field's text (which reaches the dialog as EN_CHANGE).
void BrowseForFile(HWND dialog, int field);

}  // namespace kvdrm
