// The control-file directory cut: everything up to and including the last
// ':' or '\', nothing when there is neither; '/' is no separator.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "proxy/ctx_path.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const char *path = reinterpret_cast<const char *>(data);
  size_t cut = kvdrm::ControlFileDirectoryLength(path, size);
  if (cut > size) abort();
  if (cut > 0 && path[cut - 1] != ':' && path[cut - 1] != '\\') abort();
  if (memchr(path + cut, ':', size - cut) || memchr(path + cut, '\\', size - cut)) abort();

  // The cut never looks past the length it is given, NULs included: a
  // shorter prefix cuts to the same place or earlier.
  if (size > 0) {
    size_t shorter = kvdrm::ControlFileDirectoryLength(path, size - 1);
    if (shorter > cut) abort();
  }
  return 0;
}
