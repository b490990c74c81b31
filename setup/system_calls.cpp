#include "setup/system_calls.h"

#include <stddef.h>
#include <string.h>

namespace kvdrm {

SystemCalls g_sys;
const char *g_systemDlls[kSystemDllCount] = {"user32.dll", "gdi32.dll", "comdlg32.dll", "odbccp32.dll"};

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

}  // namespace

bool BindSystemCalls() {
  HMODULE modules[kSystemDllCount] = {};
  bool complete = true;
  for (const Row &row : kRows) {
    // The members differ in type: copied as bytes, not through a cast.
    char *slot = reinterpret_cast<char *>(&g_sys) + row.offset;
    FARPROC proc;
    memcpy(&proc, slot, sizeof proc);
    if (proc) continue;
    if (!modules[row.dll]) modules[row.dll] = LoadLibraryA(g_systemDlls[row.dll]);
    proc = modules[row.dll] ? GetProcAddress(modules[row.dll], row.name) : nullptr;
    memcpy(slot, &proc, sizeof proc);
    complete = complete && proc;
  }
  return complete;
}

}  // namespace kvdrm
