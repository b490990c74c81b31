// What a process holds, for before-and-after comparisons in the stress,
// hostile-input and fault tests. Wine's GetProcessHandleCount answers 0, so
// handles are measured by probes: fresh event handles take the lowest free
// slots, so the highest of enough of them, less their number, counts the
// slots in use. The heap is the sum of busy blocks over every heap of the
// process.
#pragma once
#include <windows.h>

#include <bitset>
#include <string>
#include <vector>

namespace probe {

// Handle values 4, 8, ... up to this many slots are told apart one by one.
constexpr size_t kHandleSlots = 4096;

struct Usage {
  uintptr_t handleProbe;  // handle slots in use (probes closed again at once)
  size_t heapBusy;        // bytes in busy blocks, all process heaps
  size_t heapBlocks;      // number of busy blocks
  std::bitset<kHandleSlots> open;  // which slots held a handle (no heap of its own)
};

Usage Measure();

// The handles open now that were not open at `before`, one a line with its
// value, object type and name ("" when there is none): what a failed
// comparison of handleProbe says.
std::string NewHandles(const Usage &before);

// Base names of the loaded modules whose base name is `name` (any folder).
std::vector<std::string> LoadedModulesNamed(const char *name);

}  // namespace probe
