// Path cutting for the Browse buttons. Pure code: no platform headers, so it
// builds natively for tests and fuzzing. Paths are UTF-16, where a ':' or
// '\' unit is always a character of its own.
#pragma once
#include "registry/text.h"

namespace kvdrm {

// Cuts a NUL-terminated path in place back to its directory: everything
// after the last ':' or '\' goes, and so does that backslash unless it
// follows a ':' or another '\' (a drive's root keeps its backslash).
void TrimToDirectory(WChar *path);

// The bare file name of a path: the text after its last ':' or '\' (the
// whole text when it holds neither). Points into `path`.
const WChar *BareFileName(const WChar *path);

}  // namespace kvdrm
