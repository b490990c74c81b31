#include "setup/setup_request.h"

#include <stdlib.h>
#include <string.h>

#include "registry/wide.h"

#include "setup/attribute_list.h"
#include "setup/dialog.h"
#include "setup/storage.h"
#include "setup/system_calls.h"

namespace kvdrm {

namespace {

// One request at a time in the process: the running request's thread, or
// 0, and a handle to that thread (SYNCHRONIZE), to tell when it has ended
// without giving the turn back: a host may terminate a hung worker in the
// middle of a request. Null when it could not be opened: the turn is then
// waited for as before. Statically initialised, so loading the library
// costs nothing.
SRWLOCK g_requestLock = SRWLOCK_INIT;
CONDITION_VARIABLE g_requestDone = CONDITION_VARIABLE_INIT;
DWORD g_requestThread = 0;
HANDLE g_requestHandle = nullptr;

bool HasEnded(HANDLE thread) { return thread && WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }

// Waits until no other request runs, and takes the turn. False, with the
// open dialog if any, when the request must be refused instead: it arrived
// through the running request's own dialog loop (the same thread), or a
// setup dialog is open, whose user may take as long as they like. The turn
// of a request whose thread has ended is taken over: what that request
// changed stays as it was left (its record of the old values went with its
// thread), its dialog is no longer open, and the libraries it had bound are
// freed when this request ends.
bool BeginRequest(HWND *open) {
  const DWORD self = GetCurrentThreadId();
  AcquireSRWLockExclusive(&g_requestLock);
  bool turn = true;
  while (g_requestThread) {
    *open = OpenSetupDialog();
    if (*open) {
      turn = false;
      break;
    }
    if (HasEnded(g_requestHandle)) break;
    if (g_requestThread == self) {
      turn = false;
      break;
    }
    // A dialog opened meanwhile, or a thread that ended, does not wake us:
    // look again now and then.
    SleepConditionVariableSRW(&g_requestDone, &g_requestLock, 50, 0);
  }
  if (turn) {
    if (g_requestHandle) CloseHandle(g_requestHandle);
    g_requestThread = self;
    g_requestHandle = OpenThread(SYNCHRONIZE, FALSE, self);
  }
  ReleaseSRWLockExclusive(&g_requestLock);
  return turn;
}

void EndRequest() {
  AcquireSRWLockExclusive(&g_requestLock);
  if (g_requestHandle) CloseHandle(g_requestHandle);
  g_requestHandle = nullptr;
  g_requestThread = 0;
  ReleaseSRWLockExclusive(&g_requestLock);
  WakeAllConditionVariable(&g_requestDone);
}

// The installer's error queue takes wide texts; the library's own messages
// are ASCII.
void PostError(decltype(&::SQLPostInstallerErrorW) post, DWORD code, const char *message) {
  WCHAR wide[256];
  size_t n = 0;
  for (; message[n] && n + 1 < sizeof wide / sizeof wide[0]; ++n) wide[n] = static_cast<unsigned char>(message[n]);
  wide[n] = 0;
  post(code, wide);
}

// Brings the open dialog to the front and posts the refusal. The running
// request's bindings are its own, so the two calls are looked up here.
void Refuse(HWND open) {
  if (open) {
    if (HMODULE user = LoadLibraryW(g_systemDlls[kUser32])) {
      FARPROC front = GetProcAddress(user, "SetForegroundWindow");
      if (front) reinterpret_cast<decltype(&::SetForegroundWindow)>(reinterpret_cast<void *>(front))(open);
      FreeLibrary(user);
    }
  }
  if (HMODULE installer = LoadLibraryW(g_systemDlls[kOdbccp32])) {
    FARPROC post = GetProcAddress(installer, "SQLPostInstallerErrorW");
    if (post)
      PostError(reinterpret_cast<decltype(&::SQLPostInstallerErrorW)>(reinterpret_cast<void *>(post)),
                ODBC_ERROR_REQUEST_FAILED, "A setup dialog of this driver is already open");
    FreeLibrary(installer);
  }
}

constexpr StoreOutcome kLibraryMissing = {false, ODBC_ERROR_LOAD_LIB_FAILED, "Could not load a system library"};

StoreOutcome Run(AttributeSet &a, HWND parent, const WChar *attributes) {
  ParsedAttributes parsed;
  ParseAttributeList(attributes, parsed);
  for (int i = 1; i <= kAttributeCount; ++i) {
    a.given[i] = parsed.values[i] != nullptr;
    if (parsed.values[i] && !WTextSetZ(a.values[i], parsed.values[i])) return kOutOfMemory;
  }
  if (!WTextSet(a.initialName, a.values[kAttrDsn].data, a.values[kAttrDsn].length)) return kOutOfMemory;

  RequestKind kind = ClassifyRequest(a.request);
  if (!FillAbsent(kind == kRequestAdd, parsed, WTextStr(a.initialName), a.values, ReadProfileValue))
    return kOutOfMemory;
  // A dialog that could not be created leaves the request as one without a
  // dialog: an empty name is then a missing name, not a Cancel.
  DialogResult dialog = kind != kRequestRemove && parent ? ShowSetupDialog(a) : kDialogNotCreated;
  if (dialog == kDialogOutOfMemory) return kOutOfMemory;
  if (dialog == kDialogLibraryMissing) return kLibraryMissing;
  return StoreDataSource(a, dialog == kDialogClosed);
}

// A text of the ANSI code page in UTF-16: `units` units of `narrow` (which
// hold their own NULs). Null for a null text; false when memory is short.
bool Widen(const char *narrow, size_t units, WChar *&wide) {
  wide = nullptr;
  if (!narrow) return true;
  wide = static_cast<WChar *>(malloc((units + 1) * sizeof(WChar)));
  if (!wide) return false;
  int n = units ? MultiByteToWideChar(CP_ACP, 0, narrow, static_cast<int>(units), W(wide), static_cast<int>(units))
                : 0;
  wide[n > 0 ? n : 0] = 0;
  return true;
}

// The request's texts: the wide entry's own, or the ANSI entry's widened
// (every ANSI text has at most as many UTF-16 units as bytes).
struct RequestTexts {
  const WChar *driver;
  const WChar *attributes;
  const char *ansiDriver;
  const char *ansiAttributes;
};

BOOL Serve(HWND parent, WORD request, const RequestTexts &texts) {
  // What this request binds is freed when it returns, on every path,
  // before the next request may begin.
  SystemCallScope libraries;
  if (!BindLibrary(kOdbccp32)) {
    if (g_sys.SQLPostInstallerErrorW)
      PostError(g_sys.SQLPostInstallerErrorW, ODBC_ERROR_LOAD_LIB_FAILED, "Could not load a system library");
    return FALSE;
  }
  WChar *wideDriver = nullptr, *wideAttributes = nullptr;
  const WChar *driver = texts.driver, *attributes = texts.attributes;
  if (texts.ansiDriver || texts.ansiAttributes) {
    const char *list = texts.ansiAttributes;
    if (!Widen(texts.ansiDriver, texts.ansiDriver ? strlen(texts.ansiDriver) : 0, wideDriver) ||
        !Widen(list, AttributeListLength(list), wideAttributes)) {
      free(wideDriver);
      PostError(g_sys.SQLPostInstallerErrorW, kOutOfMemory.error, kOutOfMemory.message);
      return FALSE;
    }
    driver = wideDriver;
    attributes = wideAttributes;
  }
  // The request's whole state: nothing of it outlives the request. The
  // driver description is the caller's and is valid only during the call.
  Journal journal = {};
  AttributeSet set = {};
  set.driver = driver;
  set.request = request;
  set.journal = &journal;
  StoreOutcome out = Run(set, parent, attributes);
  // All or nothing: a request that fails leaves everything as it found it,
  // the installer's registration of a new name included.
  if (out.ok)
    Forget(journal);
  else
    PutBack(journal);
  ClearAttributes(set);
  free(wideDriver);
  free(wideAttributes);
  // Posted last: the installer's other calls clear its error queue.
  if (!out.ok) PostError(g_sys.SQLPostInstallerErrorW, static_cast<DWORD>(out.error), out.message);
  return out.ok ? static_cast<BOOL>(-1) : FALSE;
}

// Requests from several threads run one after the other; one that arrives
// through an open setup dialog's message loop, or while such a dialog is
// open on another thread, would overwrite or wait on the state of the one
// in progress, and is refused.
BOOL Request(HWND parent, WORD request, const RequestTexts &texts) {
  HWND open = nullptr;
  if (!BeginRequest(&open)) {
    Refuse(open);
    return FALSE;
  }
  BOOL result = Serve(parent, request, texts);
  EndRequest();
  return result;
}

}  // namespace

}  // namespace kvdrm

extern "C" BOOL WINAPI ConfigDSNW(HWND parent, WORD request, LPCWSTR driver, LPCWSTR attributes) {
  return kvdrm::Request(parent, request, {kvdrm::U(driver), kvdrm::U(attributes), nullptr, nullptr});
}

extern "C" BOOL WINAPI ConfigDSN(HWND parent, WORD request, LPCSTR driver, LPCSTR attributes) {
  return kvdrm::Request(parent, request, {nullptr, nullptr, driver, attributes});
}
