// Drives the setup dialog from a second thread, as a person would, while
// the test's own thread sits in ConfigDSN with a host window of its own.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

#include "tests/common/testlib.h"

namespace dlgtest {

// The dialog tests need an X display: without one they fail. A run that
// asks to go without them (KVDRM_SKIP_DIALOG_TESTS=1) skips them instead.
bool HasDisplay();
bool DialogTestsSkipped();
#define NEED_DISPLAY()                                                                            \
  do {                                                                                            \
    if (dlgtest::DialogTestsSkipped()) GTEST_SKIP() << "skipped: KVDRM_SKIP_DIALOG_TESTS is set"; \
    if (!dlgtest::HasDisplay())                                                                   \
      FAIL() << "no X display (DISPLAY is unset); KVDRM_SKIP_DIALOG_TESTS=1 skips the dialog tests"; \
  } while (0)

// The dialog's controls, requests and messages as its users know them.
constexpr int kName = 17, kDescription = 18, kDirectory = 19, kControlFile = 20;
constexpr int kBrowseDirectory = 101, kBrowseControlFile = 102;
constexpr WORD kAdd = 1, kConfigure = 2;
constexpr BOOL kTrue = -1;  // ConfigDSN answers TRUE with all bits set
constexpr char kDuplicateText[] = "Data source name already exists.";
constexpr char kInvalidText[] =
    "Invalid data source name. The first character must be a letter and it may not contain any of the "
    "following characters: [ ] { } ( ) ? * = ! @ , ; \\";

// One ConfigDSN call seen from the driving thread.
struct Ui {
  DWORD uiThread = 0;  // the thread inside ConfigDSN
  HWND host = nullptr;  // the parent window handed to ConfigDSN
  HWND dialog = nullptr;
  HANDLE returned = nullptr;  // set once ConfigDSN has returned

  HWND Item(int id) const { return GetDlgItem(dialog, id); }
  HWND Focus() const;  // the UI thread's focus window
  int FocusId() const { return GetDlgCtrlID(Focus()); }

  // Waits until every message posted so far (and what they posted in
  // turn) has been handled on the UI thread, message boxes' and the Open
  // dialog's own loops included, or until ConfigDSN has returned.
  void Sync() const;
  // A key pressed on the focused control (through the dialog's loop).
  void Key(WPARAM vk) const;
  void Chars(const std::string &text) const;       // typed into the focused control (UTF-8)
  void SysChar(char letter) const { Post(Focus(), WM_SYSCHAR, static_cast<unsigned char>(letter), 0x20000001); }
  // Moves the focus as the dialog manager does.
  void FocusOn(int id) const { Post(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(id)), TRUE); }
  void Clear(int id) const;                        // select all, Backspace
  void Type(int id, const std::string &text) const;  // focus, clear, type
  void Click(int id) const { Click(Item(id)); }
  void Click(HWND button) const { Post(button, BM_CLICK, 0, 0); }
  // Types `name` into the name field and presses OK.
  void OkWithName(const std::string &name) const {
    Type(kName, name);
    Click(IDOK);
  }
  bool Open() const { return IsWindow(dialog) != FALSE; }
  // Runs `work` on the UI thread, from the host window's procedure (so
  // inside whatever message loop runs there), and waits for it.
  void OnUiThread(const std::function<void()> &work) const;
  // The host window takes the focus (from its own thread, as a click would).
  void FocusHost() const {
    OnUiThread([this] { SetFocus(host); });
    Sync();
  }
  // The host application posts a quit message with this code.
  void HostQuits(int code) const { OnUiThread([code] { PostQuitMessage(code); }); }
  // Waits until the dialog has been destroyed.
  bool WaitClosed(DWORD ms = 5000) const;
  // Posts the message and waits until it has been handled (Sync).
  void Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) const;
};

std::string Text(HWND window);  // in UTF-8
std::string ClassOf(HWND window);
std::string WindowsPath(std::string unixPath);  // "Z:" and backslashes

// A top-level "#32770" window of the UI thread with this caption that holds
// a child of identifier `childId`; waits up to `ms`.
HWND WaitDialog(DWORD uiThread, const char *caption, int childId, DWORD ms = 5000);
// The "Error" message box of the UI thread, or null after `ms`.
inline HWND WaitMessageBox(DWORD uiThread, DWORD ms = 5000) { return WaitDialog(uiThread, "Error", 0xFFFF, ms); }
// Answers the "Error" message box of the UI thread with OK once it has
// checked that the box is the setup dialog's kind: an OK button alone and
// the exclamation icon (a failed check is a test failure). Takes a
// screenshot named `screenshot` first if given. Returns the box's text, or
// "<no message box>"; waits until the box has gone and what it posted has
// been handled.
std::string AnswerMessageBox(const Ui &ui, const char *screenshot = nullptr);
// The Open dialog the setup dialog started (file name in 0x47C), or null.
inline HWND WaitOpenDialog(DWORD uiThread, DWORD ms = 5000) { return WaitDialog(uiThread, nullptr, 0x47C, ms); }

// Asks the test run's screenshot helper for a PNG of the screen named
// `what`, after `shown` (the newest window) has been painted; waits
// briefly and never fails.
void Screenshot(const char *what, HWND shown);

// The driver description the tests pass to ConfigDSN: a driver this
// program registers (HKLM, 32-bit view) for its run and removes at exit.
const std::string &Driver();

// ConfigDSN(host, request, Driver(), attributes) on this thread while
// `script` runs on a second one. Whatever the script leaves open is closed
// afterwards (message boxes, Open dialog, setup dialog as Cancel), so a
// failing test still ends; a ConfigDSN that does not return then stops the
// program. Returns ConfigDSN's result. `sawDialog` tells whether the
// dialog appeared. `configDsn` calls another copy of the DLL.
BOOL RunDialog(WORD request, const std::string &attributes, const std::function<void(Ui &)> &script,
               bool *sawDialog = nullptr, testlib::ConfigDsnFn configDsn = nullptr);
// The same through ConfigDSNW: `attributes` is the wide list, its NULs
// included.
BOOL RunDialogW(WORD request, const std::u16string &attributes, const std::function<void(Ui &)> &script);
// Key-down messages the host window received, and the code of the quit
// message left in the queue after the last RunDialog (-1 for none).
int HostKeyDowns();
int LastQuitCode();

// A registry data source for tests: its profile section holds the values
// given; the destructor removes the key in every root and view, and the
// name's "ODBC Data Sources" values.
class DataSource {
 public:
  explicit DataSource(const std::string &name, bool create = true);
  ~DataSource();
  DataSource(const DataSource &) = delete;
  DataSource &operator=(const DataSource &) = delete;
  const std::string &name() const { return name_; }

 private:
  std::string name_;
};

// True when "ODBC Data Sources" holds the name (HKCU or HKLM, any view).
bool Registered(const std::string &name);
// Value of the data source key under HKCU, or "<missing>".
std::string StoredValue(const std::string &name, const char *value);
bool Stored(const std::string &name);

}  // namespace dlgtest
