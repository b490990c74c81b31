// mgrhelper.dll: a DLL of the withhelper manager's own, found only beside it.
// Built twice more: mgrleaf.dll (MGRHELPER_LEAF), and chainhelper.dll
// (MGRHELPER_CHAIN), the chain manager's DLL, which needs mgrleaf.dll in turn.
#include <stdint.h>

#ifdef MGRHELPER_LEAF
extern "C" __declspec(dllexport) uint32_t __stdcall MgrLeafValue(uint32_t value) { return value; }
#else
#ifdef MGRHELPER_CHAIN
extern "C" __declspec(dllimport) uint32_t __stdcall MgrLeafValue(uint32_t value);
#endif

extern "C" __declspec(dllexport) uint32_t __stdcall MgrHelperSession(uint32_t counter) {
#ifdef MGRHELPER_CHAIN
  return MgrLeafValue(counter);
#else
  return counter;
#endif
}
#endif
