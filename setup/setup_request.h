// A setup request from the installer: ConfigDSN, declared by <odbcinst.h>
// (the request is a WORD there: only its low 16 bits arrive). It binds the
// system calls, parses the attribute list into g_attributes, fills what it
// left out, shows the dialog for an add or configure request with a parent
// window and stores the result. TRUE is all bits set, as the installer's
// callers expect; FALSE when a data source that should have been stored or
// removed was not, or a library or memory was missing, with the reason
// posted to the installer (when its library could be bound).
#pragma once
#include <windows.h>
#include <odbcinst.h>

#include "setup/attributes.h"

namespace kvdrm {

// The one piece of process-wide state of data source setup: lives from
// load to unload (which clears it) and carries over between requests. One
// request at a time per process; nothing here is guarded.
extern AttributeSet g_attributes;

}  // namespace kvdrm
