#include "setup/trim_path.h"

namespace kvdrm {

namespace {
bool IsSeparator(WChar c) { return c == u':' || c == u'\\'; }

// The length up to and including the last separator (0 when none).
size_t AfterLastSeparator(const WChar *path) {
  size_t end = 0;
  for (size_t i = 0; path[i]; ++i)
    if (IsSeparator(path[i])) end = i + 1;
  return end;
}
}  // namespace

void TrimToDirectory(WChar *path) {
  size_t k = AfterLastSeparator(path);
  if (k > 1 && path[k - 1] == u'\\' && !IsSeparator(path[k - 2])) --k;
  path[k] = 0;
}

const WChar *BareFileName(const WChar *path) { return path + AfterLastSeparator(path); }

}  // namespace kvdrm
