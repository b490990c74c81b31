// kvdrm-check's PE reading on any bytes, held in a heap block of exactly
// their size: no read outside it, every DLL name it returns is a
// NUL-terminated run of those bytes, and what it keeps stays within its
// limits.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <memory>

#include "tools/pe_imports.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 1 << 16) return 0;
  std::unique_ptr<unsigned char[]> bytes(new unsigned char[size ? size : 1]);
  memcpy(bytes.get(), data, size);
  const kvcheck::PeImage pe = kvcheck::ReadPeImage(bytes.get(), size);
  if (pe.kind == kvcheck::kNotPe && !pe.imports.empty()) abort();
  if (pe.tooLarge && pe.complete) abort();
  size_t kept = 0;
  for (const std::string &name : pe.imports) kept += name.size();
  if (kept > kvcheck::kMaxImportNameBytes || pe.imports.size() > kvcheck::kMaxImportDescriptors) abort();
  // The first names are enough to catch a wrong offset.
  for (size_t i = 0; i < pe.imports.size() && i < 8; ++i) {
    const std::string &name = pe.imports[i];
    if (!memmem(data, size, name.c_str(), name.size() + 1)) abort();
  }
  return 0;
}
