#include "setup/trim_path.h"

#include <string.h>

namespace kvdrm {

void TrimToDirectory(char *path, LeadByteTest isLead) {
  SeparatorScan last = LastSeparator(path, strlen(path), isLead);
  size_t k = last.end;
  if (k > 1 && path[k - 1] == '\\' && !last.afterSeparator) --k;
  path[k] = '\0';
}

const char *BareFileName(const char *path, LeadByteTest isLead) {
  return path + LastSeparator(path, strlen(path), isLead).end;
}

}  // namespace kvdrm
