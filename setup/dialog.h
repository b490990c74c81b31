// The setup dialog: shown by ConfigDSN for an add or configure request that
// comes with a parent window. Works on the set it is given; returns when
// the dialog has closed, or at once when it could not be created (no
// display). OK leaves the four field texts in values[1..4]; Cancel leaves
// values[1] empty, and so does a set that could not take the texts.
#pragma once
#include <windows.h>

#include "setup/attributes.h"

namespace kvdrm {

// kDialogLibraryMissing: a window library, or the Open dialog's once Browse
// was pressed, could not be loaded; the dialog closed as with Cancel.
enum DialogResult { kDialogNotCreated, kDialogClosed, kDialogOutOfMemory, kDialogLibraryMissing };

DialogResult ShowSetupDialog(AttributeSet &set);

// The setup dialog whose loop is running, or null; null too once the thread
// that showed it has ended, whose dialog's font is then deleted. Asked only
// while another request holds the turn.
HWND OpenSetupDialog();

}  // namespace kvdrm
