// Pure path logic of the proxy, free of platform calls so that it can be
// tested and fuzzed natively.
#pragma once
#include <stddef.h>

namespace kvdrm {

// Length of the control-file directory within path[0..len): everything up
// to and including the last ':' or '\'; 0 when there is neither. A forward
// slash is no separator.
size_t ControlFileDirectoryLength(const char *path, size_t len);

}  // namespace kvdrm
