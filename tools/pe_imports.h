// What a PE file says about itself, read from its bytes alone: its kind
// (32- or 64-bit, program or DLL) and the names of the DLLs its import table
// asks the loader for. kvdrm-check reads a manager this way to tell why it
// does not load, without loading it. No windows.h: built and fuzzed natively
// too.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace kvcheck {

enum PeKind {
  kNotPe,    // no MZ header leading to a PE signature and optional header
  kPe32,     // 32-bit optional header
  kPe32Plus  // 64-bit optional header
};

constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kMachineAmd64 = 0x8664;

// Far more than a real manager or its DLLs have. The file may be anything:
// past either, the table is "too large to read" and reading stops, so the
// memory and time the walk takes stay small whatever the file holds.
constexpr size_t kMaxImportDescriptors = 4096;
constexpr size_t kMaxImportNameBytes = 64 * 1024;  // the DLL names kept, added up

struct PeImage {
  PeKind kind = kNotPe;
  uint16_t machine = 0;    // the file header's Machine
  bool dll = false;        // IMAGE_FILE_DLL set
  bool complete = true;    // false when the import table leaves the file or is too large: imports holds what was read before
  bool tooLarge = false;   // reading stopped at one of the limits above
  // The import table's DLL names in table order, each name read once
  // however many descriptors point at it (delay imports are not here).
  std::vector<std::string> imports;
};

// Reads `size` bytes of a PE file as it lies on disk (not mapped).
PeImage ReadPeImage(const unsigned char *bytes, size_t size);

// A 32-bit x86 DLL: what a 32-bit process can load as a manager.
inline bool IsX86Dll(const PeImage &pe) { return pe.kind == kPe32 && pe.machine == kMachineI386 && pe.dll; }

}  // namespace kvcheck
