#include "tests/common/leak_probe.h"

#include <tlhelp32.h>

namespace probe {

Usage Measure() {
  Usage u{};
  // New handles fill the lowest free slots first. One probe handle alone
  // can fall into a hole that a closed handle left below handles still
  // open; enough of them fill every hole, and the highest then tells how
  // many slots were in use.
  const int kProbes = 256;
  HANDLE ev[kProbes];
  uintptr_t top = 0;
  for (int i = 0; i < kProbes; ++i) {
    ev[i] = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    uintptr_t v = reinterpret_cast<uintptr_t>(ev[i]);
    if (v > top) top = v;
  }
  for (int i = 0; i < kProbes; ++i) CloseHandle(ev[i]);
  u.handleProbe = top / 4 - kProbes;

  std::vector<HANDLE> heaps(64);
  DWORD n = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
  if (n > heaps.size()) {
    heaps.resize(n);
    n = GetProcessHeaps(n, heaps.data());
  }
  heaps.resize(n);
  for (HANDLE h : heaps) {
    if (!HeapLock(h)) continue;
    PROCESS_HEAP_ENTRY e{};
    while (HeapWalk(h, &e)) {
      if (e.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
        u.heapBusy += e.cbData;
        ++u.heapBlocks;
      }
    }
    HeapUnlock(h);
  }
  return u;
}

std::vector<std::string> LoadedModulesNamed(const char *name) {
  std::vector<std::string> found;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0);
  if (snap == INVALID_HANDLE_VALUE) {
    found.push_back("<no module snapshot>");
    return found;
  }
  MODULEENTRY32 me{};
  me.dwSize = sizeof me;
  for (BOOL ok = Module32First(snap, &me); ok; ok = Module32Next(snap, &me))
    if (lstrcmpiA(me.szModule, name) == 0) found.push_back(me.szExePath);
  CloseHandle(snap);
  return found;
}

}  // namespace probe
