// The setup dialog: built in memory with no controls in its template; the
// thirteen controls are created on WM_INITDIALOG. ShowSetupDialog runs the
// dialog's own message loop on the caller's thread.
#include "setup/dialog.h"

#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include "registry/registry.h"
#include "registry/wide.h"
#include "setup/dialog_template.h"
#include "setup/module.h"
#include "setup/storage.h"
#include "setup/system_calls.h"
#include "setup/trim_path.h"

namespace kvdrm {

namespace {

const WCHAR kSetupTitle[] = L"Kolvar ODBC Setup";

// Lives from before the dialog to after its loop; every control uses it.
HFONT g_dialogFont = nullptr;
// The dialog while its loop runs: that loop dispatches every message of the
// caller's thread, so another request can arrive in the middle of this one,
// and requests on other threads wait for this one: both look here. Its
// thread, from the font's creation to its deletion: a dialog whose thread
// has ended is no longer open.
HWND volatile g_openDialog = nullptr;
DWORD volatile g_dialogThread = 0;

// What the dialog works on; the creation parameter, kept in DWLP_USER.
struct DialogState {
  AttributeSet *set;
  bool outOfMemory;
  bool libraryMissing;
};

DialogState &StateOf(HWND dialog) {
  return *reinterpret_cast<DialogState *>(g_sys.GetWindowLongW(dialog, DWLP_USER));
}

const WCHAR kDuplicateName[] = L"Data source name already exists.";
const WCHAR kInvalidName[] =
    L"Invalid data source name. The first character must be a letter and it may not contain any of the "
    L"following characters: [ ] { } ( ) ? * = ! @ , ; \\";
const WCHAR kNameOutsideCodePage[] =
    L"Invalid data source name. Programs name data sources in the system's ANSI code page, which cannot "
    L"hold every character of this name.";
constexpr UINT kErrorStyle = MB_OK | MB_ICONEXCLAMATION;  // 0x30

// No ES_OEMCONVERT: it would send typed text through the OEM code page,
// and the fields take any script.
constexpr DWORD kFieldStyle = WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | ES_AUTOVSCROLL;

// Reads the field of `attribute` whole into `out` (a text from the
// attribute list may be far longer than typing allows); false when memory
// is short.
bool GetFieldText(HWND dialog, int attribute, WText &out) {
  HWND field = g_sys.GetDlgItem(dialog, FieldId(attribute));
  size_t room = static_cast<size_t>(g_sys.SendMessageW(field, WM_GETTEXTLENGTH, 0, 0)) + 1;
  WCHAR *text = static_cast<WCHAR *>(malloc(room * sizeof(WCHAR)));
  if (!text) return false;
  UINT n = g_sys.GetDlgItemTextW(dialog, FieldId(attribute), text, static_cast<int>(room));
  bool ok = WTextSet(out, U(text), n);
  free(text);
  return ok;
}

HWND CreateChildControl(DWORD exStyle, const WCHAR *className, const WCHAR *text, DWORD style, int x, int y,
                        int width, int height, HWND parent, int id) {
  HWND control = g_sys.CreateWindowExW(exStyle, className, text, style | WS_CHILD | WS_VISIBLE, x, y, width, height,
                                       parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), g_module, nullptr);
  g_sys.SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(g_dialogFont), 0);
  return control;
}

HWND CreateFieldLabel(const WCHAR *text, int x, int y, HWND parent) {
  RECT r = {0, 0, 0, 0};
  HDC screen = g_sys.GetDC(nullptr);
  HGDIOBJ previous = g_sys.SelectObject(screen, g_dialogFont);
  if (*text) {
    r.right = 1000;
    g_sys.DrawTextW(screen, text, -1, &r, DT_CALCRECT);
  }
  g_sys.SelectObject(screen, previous);
  g_sys.ReleaseDC(nullptr, screen);
  return CreateChildControl(0, L"STATIC", text, SS_LEFT, x, y, r.right, r.bottom, parent, 0);
}

HWND CreatePushButton(const WCHAR *text, int x, int y, HWND parent, int id) {
  return CreateChildControl(0, L"BUTTON", text, WS_TABSTOP | BS_PUSHBUTTON, x, y, 75, 25, parent, id);
}

void CreateControls(HWND dialog, const AttributeSet &set) {
  int r = 0;
  for (const SetupField &f : kSetupFields) {
    r += 25;
    CreateFieldLabel(W(f.label), 21, r - 1, dialog);
    HWND field = CreateChildControl(WS_EX_CLIENTEDGE, L"EDIT", W(set.values[f.attribute]), kFieldStyle, 122,
                                    r - 5, 161, 21, dialog, FieldId(f.attribute));
    g_sys.SendMessageW(field, EM_LIMITTEXT, f.textLimit, 0);
    if (f.browseButton) CreatePushButton(L"Browse...", 292, r - 7, dialog, f.browseButton);
  }
  CreateChildControl(0, L"BUTTON", L"", BS_GROUPBOX, 8, 4, 371, r + 21, dialog, 0);
  CreatePushButton(L"OK", 226, r + 41, dialog, IDOK);
  CreatePushButton(L"Cancel", 306, r + 41, dialog, IDCANCEL);
}

bool FieldIsEmpty(HWND dialog, int control) {
  WCHAR probe[2];
  return g_sys.GetDlgItemTextW(dialog, control, probe, 2) == 0;
}

// OK needs a name, a data directory and a control file; the description
// may be empty.
void ApplyOkRule(HWND dialog) {
  bool complete = !FieldIsEmpty(dialog, kNameField) && !FieldIsEmpty(dialog, kDirectoryField) &&
                  !FieldIsEmpty(dialog, kControlFileField);
  g_sys.EnableWindow(g_sys.GetDlgItem(dialog, IDOK), complete);
}

void ShowError(const WCHAR *text) { g_sys.MessageBoxW(nullptr, text, L"Error", kErrorStyle); }

void Cancel(HWND dialog) {
  WTextFree(StateOf(dialog).set->values[kAttrDsn]);
  g_sys.DestroyWindow(dialog);
}

void Accept(HWND dialog) {
  DialogState &state = StateOf(dialog);
  AttributeSet &a = *state.set;
  // The set holds the texts as shown, whatever follows. A text the user
  // changed counts as asked for, like one the request's list named.
  for (const SetupField &f : kSetupFields) {
    WText shown = {nullptr, 0};
    if (!GetFieldText(dialog, f.attribute, shown)) {
      state.outOfMemory = true;
      Cancel(dialog);
      return;
    }
    WText &value = a.values[f.attribute];
    if (!WTextEqual(value, shown.data, shown.length)) a.given[f.attribute] = true;
    WTextFree(value);
    value = shown;
  }
  const WChar *name = WTextStr(a.values[kAttrDsn]);
  // Keeping the name of the data source being configured is never a duplicate.
  if (!WTextEqual(a.initialName, a.values[kAttrDsn].data, a.values[kAttrDsn].length)) {
    WChar entries[256];
    ReadProfileValue(name, nullptr, entries);
    if (*entries) {
      ShowError(kDuplicateName);
      return;
    }
  }
  const WChar *driver = a.driver ? a.driver : u"";
  // The installer accepts "ODBC Data Sources", and registering it would
  // wipe its list of data sources: storage refuses such names, so they are
  // refused here before the installer is asked.
  if (!IsStorableName(name, kNameRules.upper) || !g_sys.SQLValidDSNW(W(name))) {
    ShowError(kInvalidName);
    return;
  }
  if (!kNameRules.fitsCodePage(name)) {
    ShowError(kNameOutsideCodePage);
    return;
  }
  // Registering the name replaces its key's values with a bare "Driver".
  // When storage could not then do its part (a standard user and a system
  // data source, say), the installer is not asked: the dialog closes and
  // storage reports why, with the data source as it was. Otherwise what
  // the installer may change is remembered, to be put back if the request
  // fails after all.
  Registration can = PrepareRegistration(a, name);
  if (can == kRegistrationOutOfMemory) {
    state.outOfMemory = true;
    Cancel(dialog);
    return;
  }
  if (can == kCanRegister) {
    BOOL registered = g_sys.SQLWriteDSNToIniW(W(name), W(driver));
    SettleRegistration(*a.journal);
    if (!registered) {
      PutBack(*a.journal);
      ShowError(kInvalidName);
      return;
    }
  }
  g_sys.DestroyWindow(dialog);
}

// The Browse buttons: the platform's Open dialog fills the data directory
// or the control file field (a change that reaches the dialog as EN_CHANGE).
// Filters are pairs of description and pattern, each NUL-terminated; the
// literal's own NUL ends the list.
constexpr WCHAR kDirectoryFilter[] = L"Control File (-control.dat)\0-control.dat\0All Files (*.*)\0*.*\0";
constexpr WCHAR kControlFileFilter[] = L"CTX Files (*.ctx)\0*.ctx\0All Files (*.*)\0*.*\0";
// The list's end, an empty pair, is the pattern's NUL and the literal's.
constexpr bool EndsList(const WCHAR *filter, size_t size) {
  return size >= 2 && filter[size - 2] == '\0' && filter[size - 1] == '\0';
}
static_assert(EndsList(kDirectoryFilter, sizeof kDirectoryFilter / sizeof(WCHAR)) &&
                  EndsList(kControlFileFilter, sizeof kControlFileFilter / sizeof(WCHAR)),
              "a filter list ends with an empty pair");

// The record without its later members (pvReserved, dwReserved, FlagsEx):
// the 76-byte form.
constexpr DWORD kRecordSize = offsetof(OPENFILENAMEW, lpTemplateName) + sizeof(LPCWSTR);
static_assert(kRecordSize == 76, "the 76-byte Open dialog record");

void BrowseForFile(HWND dialog, int attribute) {
  // Without the Open dialog's library Browse cannot do what was asked, and
  // the request must not report a success it did not have: it ends as a
  // Cancel does (nothing stored, the field's text never changed) and fails
  // with ODBC_ERROR_LOAD_LIB_FAILED, which the installer reports.
  if (!BindLibrary(kComdlg32)) {
    StateOf(dialog).libraryMissing = true;
    Cancel(dialog);
    return;
  }
  const bool controlFile = attribute == kAttrCtx;
  WChar directory[257] = {}, file[257] = {};
  g_sys.GetDlgItemTextW(dialog, FieldId(attribute), W(directory), sizeof directory / sizeof directory[0]);
  if (controlFile) {
    const WChar *bare = BareFileName(directory);
    memcpy(file, bare, (WLength(bare) + 1) * sizeof(WChar));
    TrimToDirectory(directory);
  }

  OPENFILENAMEW record = {};
  record.lStructSize = kRecordSize;
  record.hwndOwner = dialog;
  record.lpstrFilter = controlFile ? kControlFileFilter : kDirectoryFilter;
  record.lpstrFile = W(file);
  record.nMaxFile = sizeof file / sizeof file[0];
  record.lpstrInitialDir = W(directory);
  record.lpstrTitle = kSetupTitle;
  record.Flags = OFN_HIDEREADONLY;
  if (controlFile) record.lpstrDefExt = L"ctx";

  // The Open dialog leaves the shell's threads and objects behind it.
  PinLibrary(kComdlg32);
  if (!g_sys.GetOpenFileNameW(&record)) return;
  if (!controlFile) TrimToDirectory(file);
  g_sys.SetDlgItemTextW(dialog, FieldId(attribute), W(file));
}

INT_PTR CALLBACK SetupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      g_sys.SetWindowLongW(dialog, DWLP_USER, static_cast<LONG>(lParam));
      CreateControls(dialog, *StateOf(dialog).set);
      ApplyOkRule(dialog);
      return TRUE;
    case WM_COMMAND:
      if (HIWORD(wParam) == EN_CHANGE) {
        ApplyOkRule(dialog);
      } else if (HIWORD(wParam) == EN_KILLFOCUS) {
        // Show a long text from its beginning again once the user leaves it.
        HWND field = reinterpret_cast<HWND>(lParam);
        g_sys.SendMessageW(field, EM_SETSEL, 0, 0);
        g_sys.SendMessageW(field, EM_SCROLLCARET, 0, 0);
      } else if (wParam == IDOK) {
        Accept(dialog);
      } else if (wParam == IDCANCEL) {
        Cancel(dialog);
      } else {
        for (const SetupField &f : kSetupFields)
          if (f.browseButton && wParam == static_cast<WPARAM>(f.browseButton)) BrowseForFile(dialog, f.attribute);
      }
      return TRUE;
    case WM_DESTROY:
      g_sys.PostQuitMessage(0);
      return TRUE;
    default:
      return FALSE;
  }
}

LONG ControlId(HWND window) { return window ? g_sys.GetWindowLongW(window, GWL_ID) : 0; }

bool IsFieldWindow(HWND window) {
  LONG id = ControlId(window);
  return id >= kNameField && id <= kControlFileField;
}

bool AcceptedByFilter(HWND window) {
  LONG id = ControlId(window);
  return id == IDOK || id == IDCANCEL || IsFieldWindow(window);
}

// Up and Down move between the fields, OK and Cancel, passing over the
// Browse buttons; Enter in a field moves on and never presses a button.
// Keys for the host application's other windows are left alone.
bool FilterKey(HWND dialog, const MSG &msg) {
  if (msg.message != WM_KEYDOWN) return false;
  if (msg.hwnd != dialog && !g_sys.IsChild(dialog, msg.hwnd)) return false;
  HWND focus = g_sys.GetFocus();
  bool arrow = msg.wParam == VK_UP || msg.wParam == VK_DOWN;
  if (!arrow && !(msg.wParam == VK_RETURN && IsFieldWindow(focus))) return false;

  WPARAM previous = msg.wParam == VK_UP ? 1 : 0;
  HWND start = focus;
  for (;;) {
    g_sys.SendMessageW(dialog, WM_NEXTDLGCTL, previous, 0);
    HWND now = g_sys.GetFocus();
    // WM_NEXTDLGCTL may leave the focus where it was (outside the dialog,
    // or nowhere to go); a full round means no accepted control exists.
    if (now == focus || now == start || !g_sys.IsChild(dialog, now) || AcceptedByFilter(now)) break;
    focus = now;
  }
  return true;
}

// The dialog is no longer shown: its font goes.
void ForgetDialog() {
  g_openDialog = nullptr;
  g_sys.DeleteObject(g_dialogFont);
  g_dialogFont = nullptr;
  g_dialogThread = 0;
}

}  // namespace

// Asked by a waiting request, while the request whose thread shows the
// dialog holds the turn: that thread's id names no other thread meanwhile.
// When it has ended (its windows went with it), the dialog's font is
// deleted here, through the bindings of the request it belonged to, which
// the request that takes over the turn frees.
HWND OpenSetupDialog() {
  const DWORD thread = g_dialogThread;
  if (!thread) return g_openDialog;
  HANDLE handle = OpenThread(SYNCHRONIZE, FALSE, thread);
  const bool ended = !handle || WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
  if (handle) CloseHandle(handle);
  if (ended) ForgetDialog();
  return g_openDialog;
}

DialogResult ShowSetupDialog(AttributeSet &set) {
  if (!BindLibrary(kUser32) || !BindLibrary(kGdi32)) return kDialogLibraryMissing;
  g_dialogThread = GetCurrentThreadId();
  g_dialogFont = g_sys.CreateFontW(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                   CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FF_SWISS | DEFAULT_PITCH, L"MS Sans Serif");

  alignas(4) unsigned char dialogTemplate[kTemplateBytes];
  LONG units = g_sys.GetDialogBaseUnits();
  FillDialogTemplate(dialogTemplate, LOWORD(units), HIWORD(units));

  DialogState state = {&set, false, false};
  HWND dialog = g_sys.CreateDialogIndirectParamW(g_module, reinterpret_cast<LPCDLGTEMPLATEW>(dialogTemplate),
                                                 nullptr, SetupDialogProc, reinterpret_cast<LPARAM>(&state));
  if (dialog) {
    g_openDialog = dialog;
    g_sys.SendMessageW(dialog, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(kSetupTitle));
    MSG msg;
    BOOL got;
    while ((got = g_sys.GetMessageW(&msg, nullptr, 0, 0)) != 0 && got != -1) {
      if (FilterKey(dialog, msg)) continue;
      if (!g_sys.IsDialogMessageW(dialog, &msg)) {
        g_sys.TranslateMessage(&msg);
        g_sys.DispatchMessageW(&msg);
      }
    }
    // A quit message that the host application posted (or a failing
    // GetMessageA) ends the loop with the dialog still open: close it as
    // Cancel, so that nothing is stored, and hand the quit on to the host.
    if (g_sys.IsWindow(dialog)) {
      Cancel(dialog);
      MSG quit;
      g_sys.PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
      if (got == 0) g_sys.PostQuitMessage(static_cast<int>(msg.wParam));
    }
  }
  ForgetDialog();
  if (!dialog) return kDialogNotCreated;
  if (state.libraryMissing) return kDialogLibraryMissing;
  return state.outOfMemory ? kDialogOutOfMemory : kDialogClosed;
}

}  // namespace kvdrm
