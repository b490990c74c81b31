// What a process holds, for before-and-after comparisons in the stress,
// hostile-input and fault tests. Wine's GetProcessHandleCount answers 0, so
// handles are measured by probes: fresh event handles take the lowest free
// slots, so the highest of enough of them, less their number, counts the
// slots in use. The heap is the sum of busy blocks over every heap of the
// process.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace probe {

struct Usage {
  uintptr_t handleProbe;  // handle slots in use (probes closed again at once)
  size_t heapBusy;        // bytes in busy blocks, all process heaps
  size_t heapBlocks;      // number of busy blocks
};

Usage Measure();

// Base names of the loaded modules whose base name is `name` (any folder).
std::vector<std::string> LoadedModulesNamed(const char *name);

}  // namespace probe
