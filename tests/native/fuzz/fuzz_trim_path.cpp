// TrimToDirectory and BareFileName on a NUL-terminated UTF-16 path held in
// a heap block of exactly its size: the cut stays inside the text, removes
// only the last component (and a trailing backslash that follows no ':' or
// '\'), and the bare name is what follows the last separator. Separators
// are whole units: a unit whose bytes are ':' or '\' is none.
#include <stdint.h>
#include <stdlib.h>

#include <memory>
#include <string>

#include "utf16_input.h"
#include "setup/trim_path.h"

namespace {
bool Sep(char16_t c) { return c == u':' || c == u'\\'; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 1 << 16) return 0;
  const size_t units = size / 2;
  std::unique_ptr<kvdrm::WChar[]> path(new kvdrm::WChar[units + 1]);
  ReadUnitsLE(data, size, path.get());
  path[units] = 0;
  const std::u16string block(path.get(), units + 1);  // all of it, NULs too
  const std::u16string original(path.get());          // up to the first NUL
  const size_t len = original.size();

  const kvdrm::WChar *bare = kvdrm::BareFileName(path.get());
  if (bare < path.get() || bare > path.get() + len) abort();
  size_t b = static_cast<size_t>(bare - path.get());
  if (b > 0 && !Sep(original[b - 1])) abort();
  for (size_t i = b; i < len; ++i)
    if (Sep(original[i])) abort();

  kvdrm::TrimToDirectory(path.get());
  size_t k = 0;
  while (path[k]) ++k;  // stops at len at the latest: that NUL was there
  // One unit at most is written: the NUL at the cut.
  for (size_t i = 0; i <= units; ++i)
    if (i != k && path[i] != block[i]) abort();
  // Past the last separator everything goes; the cut lands just after it
  // (b) or, for a backslash that follows no separator, just before it.
  if (k == b) {
    if (b > 1 && original[b - 1] == u'\\' && !Sep(original[b - 2])) abort();
  } else if (k + 1 == b) {
    if (original[k] != u'\\' || k == 0 || Sep(original[k - 1])) abort();
  } else {
    abort();
  }
  return 0;
}
