// mgrhelper.dll: a DLL of the withhelper manager's own, found only beside it.
#include <stdint.h>

extern "C" __declspec(dllexport) uint32_t __stdcall MgrHelperSession(uint32_t counter) { return counter; }
