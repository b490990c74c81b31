#include "setup/setup_request.h"

#include "setup/attribute_list.h"
#include "setup/dialog.h"
#include "setup/storage.h"
#include "setup/system_calls.h"

namespace kvdrm {

AttributeSet g_attributes;

namespace {

constexpr StoreOutcome kLibraryMissing = {false, ODBC_ERROR_LOAD_LIB_FAILED, "Could not load a system library"};

StoreOutcome Run(AttributeSet &a, HWND parent, uint32_t request, const char *attributes) {
  ParsedAttributes parsed;
  ParseAttributeList(attributes, parsed);
  for (int i = 1; i <= kAttributeCount; ++i)
    if (parsed.values[i] && !TextSetZ(a.values[i], parsed.values[i])) return kOutOfMemory;
  // A list without a name must not act on the name an earlier request left.
  if (!parsed.values[kAttrDsn]) TextFree(a.values[kAttrDsn]);
  if (!TextSet(a.initialName, a.values[kAttrDsn].data, a.values[kAttrDsn].length)) return kOutOfMemory;

  RequestKind kind = ClassifyRequest(request);
  if (!FillAbsent(kind == kRequestAdd, parsed, TextStr(a.initialName), a.values, ReadProfileValue))
    return kOutOfMemory;
  // A dialog that could not be created leaves the request as one without a
  // dialog: an empty name is then a missing name, not a Cancel.
  DialogResult dialog = kind != kRequestRemove && parent ? ShowSetupDialog(a) : kDialogNotCreated;
  if (dialog == kDialogOutOfMemory) return kOutOfMemory;
  if (dialog == kDialogLibraryMissing) return kLibraryMissing;
  return StoreDataSource(a, request, dialog == kDialogClosed);
}

}  // namespace

}  // namespace kvdrm

extern "C" BOOL WINAPI ConfigDSN(HWND parent, WORD request, LPCSTR driver, LPCSTR attributes) {
  using namespace kvdrm;
  // What this request binds is freed when it returns, on every path.
  SystemCallScope libraries;
  if (!BindLibrary(kOdbccp32)) {
    if (g_sys.SQLPostInstallerError)
      g_sys.SQLPostInstallerError(ODBC_ERROR_LOAD_LIB_FAILED, "Could not load a system library");
    return FALSE;
  }
  // One request at a time: a request that arrives through an open setup
  // dialog's message loop would overwrite the state of the one in progress.
  if (HWND open = OpenSetupDialog()) {
    g_sys.SetForegroundWindow(open);
    g_sys.SQLPostInstallerError(ODBC_ERROR_REQUEST_FAILED, "A setup dialog of this driver is already open");
    return FALSE;
  }
  g_attributes.driver = driver;
  StoreOutcome out = Run(g_attributes, parent, request, attributes);
  // The description is the caller's and is valid only during the call.
  g_attributes.driver = nullptr;
  // Posted last: the installer's other calls clear its error queue.
  if (!out.ok) g_sys.SQLPostInstallerError(static_cast<DWORD>(out.error), out.message);
  return out.ok ? static_cast<BOOL>(-1) : FALSE;
}
