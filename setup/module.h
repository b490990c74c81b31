#pragma once
#include <windows.h>

namespace kvdrm {
// This library's instance handle, kept from load for the setup dialog.
extern HINSTANCE g_module;
}
