// The entry points of USER32, GDI32, COMDLG32 and ODBCCP32 that data source
// setup calls, bound with LoadLibraryW and GetProcAddress by the request
// that needs them and released at its end: a host that only runs sessions
// never loads them, a request without a window loads the installer only,
// and the dialog's libraries come with the dialog (COMDLG32, which brings
// the shell's libraries, with a Browse button). Once KVDRM.dll is unloaded
// the host's reference counts are as they were, but for COMDLG32 once a
// Browse has used its Open dialog: it stays. Calls go through g_sys,
// whose members have the functions' own types.
#pragma once
#include <windows.h>
#include <commdlg.h>
#include <odbcinst.h>

namespace kvdrm {

enum SystemDll { kUser32, kGdi32, kComdlg32, kOdbccp32, kSystemDllCount };

// The wide entries throughout: texts go to the platform as the request
// gave them, in any script.
#define KVDRM_SYSTEM_CALLS(X)                                                                                   \
  X(kUser32, CreateDialogIndirectParamW) X(kUser32, CreateWindowExW) X(kUser32, DestroyWindow)                  \
  X(kUser32, DispatchMessageW) X(kUser32, DrawTextW) X(kUser32, EnableWindow)                                 \
  X(kUser32, GetDC) X(kUser32, GetDialogBaseUnits) X(kUser32, GetDlgItem) X(kUser32, GetDlgItemTextW)           \
  X(kUser32, GetFocus) X(kUser32, GetMessageW) X(kUser32, GetWindowLongW) X(kUser32, IsChild)                   \
  X(kUser32, IsDialogMessageW) X(kUser32, IsWindow) X(kUser32, MessageBoxW) X(kUser32, PeekMessageW)           \
  X(kUser32, PostQuitMessage) X(kUser32, ReleaseDC) X(kUser32, SendMessageW) X(kUser32, SetDlgItemTextW)        \
  X(kUser32, SetWindowLongW) X(kUser32, TranslateMessage)                                                      \
  X(kGdi32, CreateFontW) X(kGdi32, DeleteObject) X(kGdi32, SelectObject)                                        \
  X(kComdlg32, GetOpenFileNameW)                                                                                \
  X(kOdbccp32, SQLGetConfigMode) X(kOdbccp32, SQLGetPrivateProfileStringW) X(kOdbccp32, SQLPostInstallerErrorW) \
  X(kOdbccp32, SQLSetConfigMode) X(kOdbccp32, SQLValidDSNW) X(kOdbccp32, SQLWriteDSNToIniW)                     \
  X(kOdbccp32, SQLWriteFileDSNW)

struct SystemCalls {
#define KVDRM_SYSTEM_CALL_MEMBER(dll, name) decltype(&::name) name;
  KVDRM_SYSTEM_CALLS(KVDRM_SYSTEM_CALL_MEMBER)
#undef KVDRM_SYSTEM_CALL_MEMBER
};

// A null member is not bound. Tests may set members to stand in for one
// entry: binding leaves a member that is set alone, and a release nulls
// only the members that binding filled.
extern SystemCalls g_sys;

// The libraries' file names by SystemDll; a test names a missing file here
// to make one library unavailable.
extern const WCHAR *g_systemDlls[kSystemDllCount];

// Binds the members of `dll` still null, loading the library when one is
// (once: it stays loaded until the request that loaded it ends). False
// when the library or one of its entries is missing.
bool BindLibrary(SystemDll dll);

// Keeps `dll`, bound by this request, loaded for the rest of the process;
// the request still frees its own reference. For COMDLG32 once its Open
// dialog is used: that dialog leaves the shell's threads and objects behind
// it, which must not lose their code.
void PinLibrary(SystemDll dll);

// One request's hold on the libraries: every library bound during the
// request is freed, and its members nulled, when it ends. Requests run one
// at a time and a nested one is refused before it binds anything, so all
// that is loaded then is this request's, or that of a request whose thread
// ended in the middle, whose turn this one took over.
class SystemCallScope {
 public:
  SystemCallScope() = default;
  ~SystemCallScope();
  SystemCallScope(const SystemCallScope &) = delete;
  SystemCallScope &operator=(const SystemCallScope &) = delete;
};

}  // namespace kvdrm
