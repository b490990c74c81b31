// The setup dialog: built in memory with no controls in its template; the
// thirteen controls are created on WM_INITDIALOG. ShowSetupDialog runs the
// dialog's own message loop on the caller's thread.
#include "setup/dialog.h"

#include <windows.h>
#include <odbcinst.h>

#include <string>

#include "registry/registry.h"
#include "setup/attributes.h"
#include "setup/browse.h"
#include "setup/dialog_fields.h"
#include "setup/dialog_template.h"
#include "setup/module.h"
#include "setup/storage.h"
#include "setup/storage_plan.h"

namespace kvdrm {

const char kSetupTitle[] = "Kolvar ODBC Setup";

namespace {

// Lives from before the dialog to after its loop; every control uses it.
HFONT g_dialogFont = nullptr;
// The dialog while its loop runs: that loop dispatches every message of the
// caller's thread, so another request can arrive in the middle of this one.
HWND g_openDialog = nullptr;

const char *const kFieldLabels[kAttributeCount + 1] = {nullptr, "Data Source &Name", "&Description",
                                                        "Data D&irectory", "&CTX File"};
// Typing limits only: texts the library puts into a field are not cut.
const unsigned char kTextLimits[kAttributeCount] = {32, 80, 64, 64};

const char kDuplicateName[] = "Data source name already exists.";
const char kInvalidName[] =
    "Invalid data source name. The first character must be a letter and it may not contain any of the "
    "following characters: [ ] { } ( ) ? * = ! @ , ; \\";
constexpr UINT kErrorStyle = MB_OK | MB_ICONEXCLAMATION;  // 0x30

constexpr DWORD kFieldStyle = WS_BORDER | WS_TABSTOP | ES_OEMCONVERT | ES_AUTOHSCROLL | ES_AUTOVSCROLL;
constexpr int kBrowseDirectory = 101, kBrowseControlFile = 102;

HWND CreateChildControl(DWORD exStyle, const char *className, const char *text, DWORD style, int x, int y,
                        int width, int height, HWND parent, int id) {
  HWND control = CreateWindowExA(exStyle, className, text, style | WS_CHILD | WS_VISIBLE, x, y, width, height,
                                 parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), g_module, nullptr);
  SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(g_dialogFont), 0);
  return control;
}

HWND CreateFieldLabel(const char *text, int x, int y, HWND parent) {
  RECT r = {0, 0, 0, 0};
  HDC screen = GetDC(nullptr);
  HGDIOBJ previous = SelectObject(screen, g_dialogFont);
  if (*text) {
    r.right = 1000;
    DrawTextA(screen, text, -1, &r, DT_CALCRECT);
  }
  SelectObject(screen, previous);
  ReleaseDC(nullptr, screen);
  return CreateChildControl(0, "STATIC", text, SS_LEFT, x, y, r.right, r.bottom, parent, 0);
}

HWND CreatePushButton(const char *text, int x, int y, HWND parent, int id) {
  return CreateChildControl(0, "BUTTON", text, WS_TABSTOP | BS_PUSHBUTTON, x, y, 75, 25, parent, id);
}

void CreateControls(HWND dialog) {
  int r = 0;
  for (int n = 1; n <= kAttributeCount; ++n) {
    r = 25 * n;
    CreateFieldLabel(kFieldLabels[n], 21, r - 1, dialog);
    HWND field = CreateChildControl(WS_EX_CLIENTEDGE, "EDIT", g_attributes.values[n].c_str(), kFieldStyle, 122,
                                    r - 5, 161, 21, dialog, FieldId(n));
    SendMessageA(field, EM_LIMITTEXT, kTextLimits[n - 1], 0);
    if (n >= 3) CreatePushButton("Browse...", 292, r - 7, dialog, 98 + n);
  }
  CreateChildControl(0, "BUTTON", "", BS_GROUPBOX, 8, 4, 371, r + 21, dialog, 0);
  CreatePushButton("OK", 226, r + 41, dialog, IDOK);
  CreatePushButton("Cancel", 306, r + 41, dialog, IDCANCEL);
}

bool FieldIsEmpty(HWND dialog, int field) {
  char probe[2];
  return GetDlgItemTextA(dialog, FieldId(field), probe, sizeof probe) == 0;
}

// OK needs a name, a data directory and a control file; the description
// may be empty.
void ApplyOkRule(HWND dialog) {
  bool complete = !FieldIsEmpty(dialog, kAttrDsn) && !FieldIsEmpty(dialog, kAttrDbq) && !FieldIsEmpty(dialog, kAttrCtx);
  EnableWindow(GetDlgItem(dialog, IDOK), complete);
}

void ShowError(const char *text) { MessageBoxA(nullptr, text, "Error", kErrorStyle); }

void Accept(HWND dialog) {
  // The set holds the texts as shown, whatever follows.
  for (int n = 1; n <= kAttributeCount; ++n) GetFieldText(dialog, n, g_attributes.values[n]);
  const std::string &name = g_attributes.values[kAttrDsn];
  // Keeping the name of the data source being configured is never a duplicate.
  if (name != g_attributes.initialName && !ReadProfileValue(name.c_str(), nullptr).empty()) {
    ShowError(kDuplicateName);
    return;
  }
  const char *driver = g_attributes.driver ? g_attributes.driver : "";
  // The installer accepts "ODBC Data Sources", and registering it would
  // wipe its list of data sources: storage refuses such names, so they are
  // refused here before the installer is asked.
  if (!IsStorableName(name, AcpLeadByte) || !SQLValidDSN(name.c_str())) {
    ShowError(kInvalidName);
    return;
  }
  // Registering the name replaces its key's values with a bare "Driver".
  // When storage cannot write them again (a standard user and a system
  // data source, say), the installer is not asked: the dialog closes and
  // storage reports why, with the data source as it was.
  if (CanStoreDataSource(name) && !SQLWriteDSNToIni(name.c_str(), driver)) {
    ShowError(kInvalidName);
    return;
  }
  DestroyWindow(dialog);
}

void Cancel(HWND dialog) {
  g_attributes.values[kAttrDsn].clear();
  DestroyWindow(dialog);
}

INT_PTR CALLBACK SetupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      CreateControls(dialog);
      ApplyOkRule(dialog);
      return TRUE;
    case WM_COMMAND:
      if (HIWORD(wParam) == EN_CHANGE) {
        ApplyOkRule(dialog);
      } else if (HIWORD(wParam) == EN_KILLFOCUS) {
        // Show a long text from its beginning again once the user leaves it.
        HWND field = reinterpret_cast<HWND>(lParam);
        SendMessageA(field, EM_SETSEL, 0, 0);
        SendMessageA(field, EM_SCROLLCARET, 0, 0);
      } else if (wParam == IDOK) {
        Accept(dialog);
      } else if (wParam == kBrowseDirectory || wParam == kBrowseControlFile) {
        BrowseForFile(dialog, static_cast<int>(wParam) - 98);
      } else if (wParam == IDCANCEL) {
        Cancel(dialog);
      }
      return TRUE;
    case WM_DESTROY:
      PostQuitMessage(0);
      return TRUE;
    default:
      return FALSE;
  }
}

bool AcceptedByFilter(HWND window) {
  LONG id = window ? GetWindowLongA(window, GWL_ID) : 0;
  return id == IDOK || id == IDCANCEL || (id >= 16 && id <= 31);
}

bool IsFieldWindow(HWND window) {
  LONG id = window ? GetWindowLongA(window, GWL_ID) : 0;
  return id >= 16 && id <= 31;
}

// Up and Down move between the fields, OK and Cancel, passing over the
// Browse buttons; Enter in a field moves on and never presses a button.
// Keys for the host application's other windows are left alone.
bool FilterKey(HWND dialog, const MSG &msg) {
  if (msg.message != WM_KEYDOWN) return false;
  if (msg.hwnd != dialog && !IsChild(dialog, msg.hwnd)) return false;
  HWND focus = GetFocus();
  bool arrow = msg.wParam == VK_UP || msg.wParam == VK_DOWN;
  if (!arrow && !(msg.wParam == VK_RETURN && IsFieldWindow(focus))) return false;

  WPARAM previous = msg.wParam == VK_UP ? 1 : 0;
  HWND start = focus;
  for (;;) {
    SendMessageA(dialog, WM_NEXTDLGCTL, previous, 0);
    HWND now = GetFocus();
    // WM_NEXTDLGCTL may leave the focus where it was (outside the dialog,
    // or nowhere to go); a full round means no accepted control exists.
    if (now == focus || now == start || !IsChild(dialog, now) || AcceptedByFilter(now)) break;
    focus = now;
  }
  return true;
}

}  // namespace

int GetFieldText(HWND dialog, int field, std::string &out) {
  char buffer[260];
  int n = GetDlgItemTextA(dialog, FieldId(field), buffer, 257);
  if (n < 0) n = 0;
  out.assign(buffer, static_cast<size_t>(n));
  return n;
}

HWND OpenSetupDialog() { return g_openDialog; }

bool ShowSetupDialog() {
  g_dialogFont = CreateFontA(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FF_SWISS | DEFAULT_PITCH, "MS Sans Serif");

  alignas(4) unsigned char dialogTemplate[kTemplateBytes];
  FillDialogTemplate(dialogTemplate, LOWORD(GetDialogBaseUnits()), HIWORD(GetDialogBaseUnits()));

  HWND dialog = CreateDialogIndirectParamA(g_module, reinterpret_cast<LPCDLGTEMPLATEA>(dialogTemplate), nullptr,
                                           SetupDialogProc, 0);
  if (dialog) {
    g_openDialog = dialog;
    SendMessageA(dialog, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(kSetupTitle));
    MSG msg;
    BOOL got;
    while ((got = GetMessageA(&msg, nullptr, 0, 0)) != 0 && got != -1) {
      if (FilterKey(dialog, msg)) continue;
      if (!IsDialogMessageA(dialog, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
    }
    // A quit message that the host application posted (or a failing
    // GetMessageA) ends the loop with the dialog still open: close it as
    // Cancel, so that nothing is stored, and hand the quit on to the host.
    if (IsWindow(dialog)) {
      Cancel(dialog);
      MSG quit;
      PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
      if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
    }
  }
  g_openDialog = nullptr;
  DeleteObject(g_dialogFont);
  g_dialogFont = nullptr;
  return dialog != nullptr;
}

}  // namespace kvdrm
