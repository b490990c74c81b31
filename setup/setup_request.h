// A setup request from the installer: ConfigDSNW and ConfigDSN, declared by
// <odbcinst.h> (the request is a WORD there: only its low 16 bits arrive).
// One core works in UTF-16; ConfigDSN widens its texts with the ANSI code
// page and hands them on. It binds the
// system calls, parses the attribute list into a set of its own, fills what it
// left out, shows the dialog for an add or configure request with a parent
// window and stores the result. TRUE is all bits set, as the installer's
// callers expect; FALSE when a data source that should have been stored or
// removed was not, or a library or memory was missing, with the reason
// posted to the installer (when its library could be bound).
#pragma once
#include <windows.h>
#include <odbcinst.h>

#include "setup/attributes.h"

// Requests run one at a time in the process, from any thread: a request
// waits for the running one to end. One that arrives while a setup dialog
// is open (through its message loop, or on another thread) is refused. The
// turn of a request whose thread has ended passes to the next one.
