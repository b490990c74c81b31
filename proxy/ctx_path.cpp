#include "proxy/ctx_path.h"

namespace kvdrm {

size_t ControlFileDirectoryLength(const char *path, size_t len) {
  while (len > 0 && path[len - 1] != ':' && path[len - 1] != '\\') --len;
  return len;
}

}  // namespace kvdrm
