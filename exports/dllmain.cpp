// The entry point of KVDRM.dll: keep the module instance for the setup
// dialog. Nothing else: no state outlives a request, so there is nothing to
// free when the library goes (and at process exit, other threads may have
// died holding the heap's lock).
// In the lean build it is the image's entry itself, with no C runtime
// start-up code before it.
#include <windows.h>

#include "setup/module.h"

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
  }
  return TRUE;
}
