#include "setup/trim_path.h"

#include <string.h>

namespace kvdrm {

namespace {
bool IsSeparator(char c) { return c == ':' || c == '\\'; }
}  // namespace

void TrimToDirectory(char *path) {
  size_t k = strlen(path);
  while (k > 0 && !IsSeparator(path[k - 1])) --k;
  if (k > 1 && path[k - 1] == '\\' && !IsSeparator(path[k - 2])) --k;
  path[k] = '\0';
}

const char *BareFileName(const char *path) {
  const char *name = path;
  for (const char *p = path; *p; ++p)
    if (IsSeparator(*p)) name = p + 1;
  return name;
}

}  // namespace kvdrm
