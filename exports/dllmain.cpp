// The entry point of KVDRM.dll: keep the module instance for the setup
// dialog, and leave no data source attributes behind when the library goes.
#include <windows.h>

#include "setup/attributes.h"
#include "setup/module.h"

namespace kvdrm {
HINSTANCE g_module = nullptr;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    kvdrm::g_module = instance;
    // No DisableThreadLibraryCalls: it would also stop the static runtime's
    // thread-exit callbacks, which free its per-thread storage.
  } else if (reason == DLL_PROCESS_DETACH) {
    kvdrm::ClearAttributes();
  }
  return TRUE;
}
