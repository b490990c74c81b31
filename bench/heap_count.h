// Counting tools for the memory figures: the bytes the process heaps hold
// (a walk of every heap), and a count of the platform calls one module
// makes (its import table redirected through counting thunks).
#pragma once
#include <windows.h>

#include <stdint.h>
#include <string>
#include <vector>

namespace bench {

struct HeapTotals {
  uint64_t busyBlocks = 0;
  uint64_t busyBytes = 0;      // what the callers asked for (cbData)
  uint64_t overheadBytes = 0;  // the allocator's own, as the walk reports it
  uint64_t committedBytes = 0; // regions' committed size
  int heaps = 0;
  bool ok = false;             // every heap walked to its end
};

// Walks every heap of the process (GetProcessHeaps + HeapWalk). Wine 8
// exports HeapSummary only as a stub that raises "unimplemented function",
// so the walk is the one measure that works on both platforms.
HeapTotals WalkHeaps();

// Replaces every entry of `module`'s import address table with a thunk that
// counts the call and jumps on to the original; Restore() puts the table
// back. Works for any calling convention: a thunk touches no register and
// no stack slot.
class ImportCounter {
 public:
  ~ImportCounter() { Restore(); }
  bool Install(HMODULE module);
  void Restore();
  void Reset();
  uint64_t Total() const;
  // "dll!name count" for every import called at least once.
  std::vector<std::pair<std::string, uint32_t>> Called() const;

 private:
  struct Slot {
    void **entry;     // the address table cell we patched
    void *original;
    std::string name; // dll!function, or dll!#ordinal
  };
  std::vector<Slot> slots_;
  uint8_t *thunks_ = nullptr;
  volatile LONG *counts_ = nullptr;
};

}  // namespace bench
