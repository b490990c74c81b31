#include "tests/common/leak_probe.h"

#include <tlhelp32.h>
#include <winternl.h>

#include <stdio.h>

namespace probe {
namespace {

// The handle of slot i is the value 4 * (i + 1).
HANDLE SlotHandle(size_t i) { return reinterpret_cast<HANDLE>((i + 1) * 4); }

typedef NTSTATUS(NTAPI *QueryObjectFn)(HANDLE, OBJECT_INFORMATION_CLASS, PVOID, ULONG, PULONG);

// The object's type or name (ObjectTypeInformation, ObjectNameInformation:
// both begin with a UNICODE_STRING), in UTF-8.
std::string ObjectText(HANDLE h, OBJECT_INFORMATION_CLASS what) {
  static QueryObjectFn query = reinterpret_cast<QueryObjectFn>(
      reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryObject")));
  alignas(8) static BYTE buf[4096];
  ULONG got = 0;
  if (!query || query(h, what, buf, sizeof buf, &got) < 0) return "?";
  const UNICODE_STRING *s = reinterpret_cast<const UNICODE_STRING *>(buf);
  char out[1024] = "";
  int n = s->Buffer ? WideCharToMultiByte(CP_UTF8, 0, s->Buffer, s->Length / 2, out, sizeof out - 1, nullptr, nullptr)
                    : 0;
  return std::string(out, n > 0 ? n : 0);
}

}  // namespace

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
  for (size_t i = 0; i < kHandleSlots && i < u.handleProbe + kProbes; ++i) {
    DWORD flags;
    u.open[i] = GetHandleInformation(SlotHandle(i), &flags) != FALSE;
  }

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

std::string NewHandles(const Usage &before) {
  const Usage now = Measure();
  std::string lines;
  for (size_t i = 0; i < kHandleSlots; ++i) {
    if (!now.open[i] || before.open[i]) continue;
    char value[32];
    snprintf(value, sizeof value, "0x%x", static_cast<unsigned>((i + 1) * 4));
    lines += std::string("  handle ") + value + ": " + ObjectText(SlotHandle(i), ObjectTypeInformation) + " \"" +
             ObjectText(SlotHandle(i), ObjectNameInformation) + "\"\n";
  }
  return lines.empty() ? "  (no handle open now that was not open before)\n" : lines;
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
