/* The baseline of the load figure: a DLL that imports from KERNEL32,
 * ADVAPI32 and msvcrt, the three DLLs a lean KVDRM.dll may import, and does
 * nothing else. Linked without start-up code, DllMain being the entry. */
#include <windows.h>
#include <stdlib.h>

/* One import from each of the three, so that the loader binds all three. */
__declspec(dllexport) void *__stdcall LoadBaselineTouch(HKEY key, size_t size) {
  RegCloseKey(key);
  SetLastError(0);
  return malloc(size);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}
