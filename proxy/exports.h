// Prototypes of the exports that have code of their own.
#pragma once
#include <windows.h>

#include "proxy/arity.h"

extern "C" {
int32_t __stdcall DrmBeginSession(DrmArg *handle, DrmArg a2, DrmArg a3, const char *dataSource);
int32_t __stdcall DrmEndSession(DrmArg handle);
int32_t __stdcall DrmGetInfo(DrmArg handle, int32_t code, void *answer, int32_t size, int32_t *length);
// The request is a WORD to the installer; only its low 16 bits are examined.
BOOL __stdcall ConfigDSN(HWND parent, UINT request, LPCSTR driver, LPCSTR attributes);
}
