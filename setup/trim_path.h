// Path cutting for the Browse buttons. Pure code: no platform headers, so it
// builds natively for tests and fuzzing.
#pragma once

namespace kvdrm {

// Cuts a NUL-terminated path in place back to its directory: everything
// after the last ':' or '\' goes, and so does that backslash unless it
// follows a ':' or another '\' (a drive's root keeps its backslash).
void TrimToDirectory(char *path);

// The bare file name of a path: the text after its last ':' or '\' (the
// whole text when it holds neither). Points into `path`.
const char *BareFileName(const char *path);

}  // namespace kvdrm
