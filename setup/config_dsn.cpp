// ConfigDSN: the installer's entry for adding, configuring and removing a
// data source of the driver.
#include "proxy/exports.h"

extern "C" BOOL __stdcall ConfigDSN(HWND, UINT, LPCSTR, LPCSTR) { return TRUE; }
