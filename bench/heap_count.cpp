#include "bench/heap_count.h"

#include <string.h>

#include "tests/common/imports.h"

namespace bench {

HeapTotals WalkHeaps() {
  HeapTotals t;
  t.ok = true;
  std::vector<HANDLE> heaps(64);
  DWORD n = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
  if (n > heaps.size()) {
    heaps.resize(n + 16);
    n = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
  }
  if (n == 0 || n > heaps.size()) {
    t.ok = false;
    return t;
  }
  t.heaps = static_cast<int>(n);
  for (DWORD i = 0; i < n; ++i) {
    HeapLock(heaps[i]);
    PROCESS_HEAP_ENTRY e;
    memset(&e, 0, sizeof e);
    while (HeapWalk(heaps[i], &e)) {
      if (e.wFlags & PROCESS_HEAP_REGION) {
        t.committedBytes += e.Region.dwCommittedSize;
      } else if (e.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
        ++t.busyBlocks;
        t.busyBytes += e.cbData;
        t.overheadBytes += e.cbOverhead;
      }
    }
    if (GetLastError() != ERROR_NO_MORE_ITEMS) t.ok = false;
    HeapUnlock(heaps[i]);
  }
  return t;
}

namespace {

// inc dword ptr [count]; jmp dword ptr [original]
constexpr size_t kThunkSize = 12;

void WriteThunk(uint8_t *at, volatile LONG *count, void **original) {
  at[0] = 0xFF;
  at[1] = 0x05;
  uint32_t c = reinterpret_cast<uint32_t>(count);
  memcpy(at + 2, &c, 4);
  at[6] = 0xFF;
  at[7] = 0x25;
  uint32_t o = reinterpret_cast<uint32_t>(original);
  memcpy(at + 8, &o, 4);
}

}  // namespace

bool ImportCounter::Install(HMODULE module) {
  Restore();
  for (const testlib::ImportCell &c : testlib::ImportCells(module))
    slots_.push_back(Slot{c.cell, nullptr, c.dll + "!" + c.function});
  if (slots_.empty()) return false;

  size_t n = slots_.size();
  thunks_ = static_cast<uint8_t *>(VirtualAlloc(nullptr, n * (kThunkSize + sizeof(LONG) + sizeof(void *)),
                                                MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
  if (!thunks_) {
    slots_.clear();
    return false;
  }
  counts_ = reinterpret_cast<volatile LONG *>(thunks_ + n * kThunkSize);
  void **originals = reinterpret_cast<void **>(thunks_ + n * (kThunkSize + sizeof(LONG)));
  for (size_t i = 0; i < n; ++i) {
    Slot &s = slots_[i];
    originals[i] = *s.entry;
    counts_[i] = 0;
    WriteThunk(thunks_ + i * kThunkSize, &counts_[i], &originals[i]);
    s.original = testlib::SwapImportCell(s.entry, thunks_ + i * kThunkSize);
  }
  FlushInstructionCache(GetCurrentProcess(), thunks_, n * kThunkSize);
  return true;
}

void ImportCounter::Restore() {
  for (Slot &s : slots_) testlib::SwapImportCell(s.entry, s.original);
  slots_.clear();
  if (thunks_) VirtualFree(thunks_, 0, MEM_RELEASE);
  thunks_ = nullptr;
  counts_ = nullptr;
}

void ImportCounter::Reset() {
  for (size_t i = 0; i < slots_.size(); ++i) counts_[i] = 0;
}

uint64_t ImportCounter::Total() const {
  uint64_t sum = 0;
  for (size_t i = 0; i < slots_.size(); ++i) sum += static_cast<uint32_t>(counts_[i]);
  return sum;
}

std::vector<std::pair<std::string, uint32_t>> ImportCounter::Called() const {
  std::vector<std::pair<std::string, uint32_t>> out;
  for (size_t i = 0; i < slots_.size(); ++i)
    if (counts_[i]) out.emplace_back(slots_[i].name, static_cast<uint32_t>(counts_[i]));
  return out;
}

}  // namespace bench
