#include "setup/setup_request.h"

#include <odbcinst.h>

#include <new>

#include "setup/attribute_list.h"
#include "setup/attributes.h"
#include "setup/dialog.h"
#include "setup/storage.h"

namespace kvdrm {

namespace {

bool Run(HWND parent, uint32_t request, const char *driver, const char *attributes) {
  AttributeSet &a = g_attributes;
  a.driver = driver;
  ParsedAttributes parsed;
  ParseAttributeList(attributes, parsed);
  for (int i = 1; i <= kAttributeCount; ++i)
    if (parsed.supplied[i]) a.values[i] = parsed.values[i];
  // A list without a name must not act on the name an earlier request left.
  if (!parsed.supplied[kAttrDsn]) a.values[kAttrDsn].clear();
  a.initialName = a.values[kAttrDsn];

  RequestKind kind = ClassifyRequest(request);
  FillAbsentAttributes(kind == kRequestAdd, parsed.supplied);
  // A dialog that could not be created leaves the request as one without a
  // dialog: an empty name is then a missing name, not a Cancel.
  bool dialog = kind != kRequestRemove && parent != nullptr && ShowSetupDialog();

  StoreOutcome out = StoreDataSource(request, dialog);
  // Posted last: the installer's other calls clear its error queue.
  if (!out.ok) SQLPostInstallerError(static_cast<DWORD>(out.error), out.message);
  return out.ok;
}

}  // namespace

bool RunSetupRequest(HWND parent, uint32_t request, const char *driver, const char *attributes) {
  // One request at a time: a request that arrives through an open setup
  // dialog's message loop would overwrite the state of the one in progress.
  if (HWND open = OpenSetupDialog()) {
    SetForegroundWindow(open);
    SQLPostInstallerError(ODBC_ERROR_REQUEST_FAILED, "A setup dialog of this driver is already open");
    return false;
  }
  bool ok = false;
  try {
    ok = Run(parent, request, driver, attributes);
  } catch (const std::bad_alloc &) {
    SQLPostInstallerError(ODBC_ERROR_OUT_OF_MEM, "Out of memory");
  } catch (...) {
    // Nothing may unwind into the installer.
    SQLPostInstallerError(ODBC_ERROR_GENERAL_ERR, "Internal error");
  }
  // The description is the caller's and is valid only during the call.
  g_attributes.driver = nullptr;
  return ok;
}

}  // namespace kvdrm
