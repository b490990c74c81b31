// kvdrm-check's PE reading on any bytes, held in a heap block of exactly
// their size: no read outside it, and every DLL name it returns is a
// NUL-terminated run of those bytes.
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
  // The first names are enough to catch a wrong offset; all of them would
  // make a long table quadratic.
  for (size_t i = 0; i < pe.imports.size() && i < 8; ++i) {
    const std::string &name = pe.imports[i];
    bool found = false;
    for (size_t at = 0; !found && at + name.size() < size; ++at)
      found = memcmp(data + at, name.data(), name.size()) == 0 && data[at + name.size()] == 0;
    if (!found) abort();
  }
  return 0;
}
