#include "setup/system_calls.h"

#include <stddef.h>
#include <string.h>

namespace kvdrm {

SystemCalls g_sys;
const WCHAR *g_systemDlls[kSystemDllCount] = {L"user32.dll", L"gdi32.dll", L"comdlg32.dll", L"odbccp32.dll"};

namespace {

struct Row {
  unsigned char dll;
  const char *name;
  unsigned short offset;  // of the member in SystemCalls
};

const Row kRows[] = {
#define KVDRM_SYSTEM_CALL_ROW(dll, name) {dll, #name, offsetof(SystemCalls, name)},
    KVDRM_SYSTEM_CALLS(KVDRM_SYSTEM_CALL_ROW)
#undef KVDRM_SYSTEM_CALL_ROW
};
constexpr size_t kRowCount = sizeof kRows / sizeof kRows[0];

// The libraries this DLL has loaded and not yet freed, and the members it
// filled from them (a member a test set is not ours to null).
HMODULE g_loaded[kSystemDllCount];
bool g_filled[kRowCount];

// The members differ in type: read and written as bytes, not through a cast.
FARPROC Member(const Row &row) {
  FARPROC proc;
  memcpy(&proc, reinterpret_cast<const char *>(&g_sys) + row.offset, sizeof proc);
  return proc;
}

void SetMember(const Row &row, FARPROC proc) {
  memcpy(reinterpret_cast<char *>(&g_sys) + row.offset, &proc, sizeof proc);
}

}  // namespace

bool BindLibrary(SystemDll dll) {
  bool complete = true;
  for (size_t i = 0; i < kRowCount; ++i) {
    const Row &row = kRows[i];
    if (row.dll != dll || Member(row)) continue;
    if (!g_loaded[dll] && !(g_loaded[dll] = LoadLibraryW(g_systemDlls[dll]))) return false;
    FARPROC proc = GetProcAddress(g_loaded[dll], row.name);
    SetMember(row, proc);
    g_filled[i] = proc != nullptr;
    complete = complete && proc;
  }
  return complete;
}

void PinLibrary(SystemDll dll) {
  HMODULE pinned;
  if (g_loaded[dll])
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(g_loaded[dll]), &pinned);
}

// Never reached from DllMain: a request ends inside ConfigDSN, and freeing a
// library under the loader's lock is what DllMain must not do. A library is
// no longer recorded before it is freed, so that a request whose thread is
// ended in here leaves none recorded that may be gone.
SystemCallScope::~SystemCallScope() {
  for (int dll = 0; dll < kSystemDllCount; ++dll) {
    HMODULE module = g_loaded[dll];
    if (!module) continue;
    for (size_t i = 0; i < kRowCount; ++i) {
      if (kRows[i].dll != dll || !g_filled[i]) continue;
      SetMember(kRows[i], nullptr);
      g_filled[i] = false;
    }
    g_loaded[dll] = nullptr;
    FreeLibrary(module);
  }
}

}  // namespace kvdrm
