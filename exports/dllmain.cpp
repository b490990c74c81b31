// The entry point of KVDRM.dll: keep the module instance for the setup
// dialog, and leave no data source attributes behind when the library goes.
// In the lean build it is the image's entry itself, with no C runtime
// start-up code before it.
#include <windows.h>

#include "setup/module.h"
#include "setup/setup_request.h"

namespace kvdrm {
HINSTANCE g_module = nullptr;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    kvdrm::g_module = instance;
#ifdef KVDRM_LEAN
    // Nothing here needs to hear of threads. (With the static C++ runtime
    // this would also stop its thread-exit callbacks, which free its
    // per-thread storage.)
    DisableThreadLibraryCalls(instance);
#endif
  } else if (reason == DLL_PROCESS_DETACH) {
    kvdrm::ClearAttributes(kvdrm::g_attributes);
  }
  return TRUE;
}
