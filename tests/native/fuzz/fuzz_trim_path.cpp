// TrimToDirectory and BareFileName on a NUL-terminated path held in a heap
// block of exactly its size: the cut stays inside the text, removes only
// the last component (and a trailing backslash that follows no ':' or '\'),
// and the bare name is what follows the last separator.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>

#include "setup/trim_path.h"

namespace {
bool SingleByte(unsigned char) { return false; }
bool Sep(char c) { return c == ':' || c == '\\'; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 1 << 16) return 0;
  std::unique_ptr<char[]> path(new char[size + 1]);
  memcpy(path.get(), data, size);
  path[size] = 0;
  const std::string original(path.get());  // up to the first NUL
  const size_t len = original.size();

  const char *bare = kvdrm::BareFileName(path.get(), SingleByte);
  if (bare < path.get() || bare > path.get() + len) abort();
  size_t b = static_cast<size_t>(bare - path.get());
  if (b > 0 && !Sep(original[b - 1])) abort();
  for (size_t i = b; i < len; ++i)
    if (Sep(original[i])) abort();

  kvdrm::TrimToDirectory(path.get(), SingleByte);
  const size_t k = strlen(path.get());
  if (k > len || original.compare(0, k, path.get()) != 0) abort();
  // Past the last separator everything goes; the cut lands just after it
  // (b) or, for a backslash that follows no separator, just before it.
  if (k == b) {
    if (b > 1 && original[b - 1] == '\\' && !Sep(original[b - 2])) abort();
  } else if (k + 1 == b) {
    if (original[k] != '\\' || k == 0 || Sep(original[k - 1])) abort();
  } else {
    abort();
  }
  // Bytes after the new NUL are the old ones: only one byte is written.
  if (memcmp(path.get() + k + 1, original.data() + k + 1, len > k ? len - k - 1 : 0) != 0) abort();
  return 0;
}
