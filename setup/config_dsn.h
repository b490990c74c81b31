// The installer's entry of this library.
#pragma once
#include <windows.h>

extern "C" {
// The request is a WORD to the installer; only its low 16 bits are examined.
BOOL __stdcall ConfigDSN(HWND parent, UINT request, LPCSTR driver, LPCSTR attributes);
}
