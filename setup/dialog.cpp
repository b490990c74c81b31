// Placeholder until the setup dialog is built: the request goes on with the
// attribute set as parsing left it, as when a dialog cannot be created.
#include "setup/dialog.h"

namespace kvdrm {

void ShowSetupDialog() {}

}  // namespace kvdrm
