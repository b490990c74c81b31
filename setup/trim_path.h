// Path cutting for the Browse buttons. Pure code: no platform headers, so it
// builds natively for tests and fuzzing.
#pragma once
#include "registry/dbcs.h"

namespace kvdrm {

// Cuts a NUL-terminated path in place back to its directory: everything
// after the last ':' or '\' character goes (a trail byte is no separator), and so does that backslash unless it
// follows a ':' or another '\' (a drive's root keeps its backslash).
void TrimToDirectory(char *path, LeadByteTest isLead);

// The bare file name of a path: the text after its last ':' or '\' (the
// whole text when it holds neither). Points into `path`.
const char *BareFileName(const char *path, LeadByteTest isLead);

}  // namespace kvdrm
