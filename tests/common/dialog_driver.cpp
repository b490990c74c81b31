#include "tests/common/dialog_driver.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/common/testlib.h"

namespace dlgtest {

namespace {

// Xvfb runs no window manager, and Wine waits two seconds for one whenever
// it hides a managed window. This program's windows are left unmanaged
// (a Wine setting for this program alone, removed again at exit).
struct UnmanagedWindows {
  std::string key = "Software\\Wine\\AppDefaults\\";
  UnmanagedWindows() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    const char *exe = strrchr(path, '\\');
    key += exe ? exe + 1 : path;
    kvdrm::RegKey k;
    if (testlib::CreateKey(HKEY_CURRENT_USER, key + "\\X11 Driver", k) == ERROR_SUCCESS)
      testlib::SetString(k.get(), "Managed", "N");
  }
  ~UnmanagedWindows() { RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str()); }
} g_unmanaged;

constexpr UINT kSync1 = WM_APP + 1, kSync2 = WM_APP + 2, kRun = WM_APP + 3;
HANDLE g_synced = CreateEventA(nullptr, FALSE, FALSE, nullptr);
std::atomic<int> g_hostKeyDowns{0};
int g_lastQuit = -1;

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // Posting once more puts the second marker behind whatever the messages
  // before the first one posted while they were handled.
  if (message == kSync1) PostMessageA(window, kSync2, 0, 0);
  else if (message == kSync2) SetEvent(g_synced);
  else if (message == kRun) (*reinterpret_cast<const std::function<void()> *>(lParam))();
  else if (message == WM_KEYDOWN) ++g_hostKeyDowns;
  else return DefWindowProcA(window, message, wParam, lParam);
  return 0;
}

HWND CreateHost() {
  static const WNDCLASSA wc = {0,       HostProc, 0,       0,       GetModuleHandleA(nullptr),
                               nullptr, nullptr,  nullptr, nullptr, "KvdrmDialogTestHost"};
  static const ATOM atom = RegisterClassA(&wc);
  (void)atom;
  // Visible, so that it can take the focus, but off the screen, so that
  // it stays out of the screenshots.
  return CreateWindowExA(WS_EX_TOOLWINDOW, "KvdrmDialogTestHost", "host", WS_POPUP | WS_VISIBLE, 3000, 3000, 60, 40,
                         nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

// Closes what a script left open, innermost first: message boxes, the
// Open dialog, then the setup dialog as Cancel.
BOOL CALLBACK CloseOne(HWND window, LPARAM) {
  if (!IsWindowVisible(window) || ClassOf(window) != "#32770") return TRUE;
  if (Text(window) == "Error" || GetDlgItem(window, 0x47C))
    PostMessageA(window, WM_COMMAND, Text(window) == "Error" ? IDOK : IDCANCEL, 0);
  else if (GetDlgItem(window, 17))
    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
  return TRUE;
}

}  // namespace

std::string WindowsPath(std::string p) {
  for (char &c : p)
    if (c == '/') c = '\\';
  return "Z:" + p;
}

const std::string &Driver() {
  static std::string name = testlib::UniqueName("driver");
  static testlib::ScopedKey key(HKEY_LOCAL_MACHINE, "Software\\ODBC\\ODBCINST.INI\\" + name);
  return name;
}

HWND Ui::Focus() const {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(uiThread, &info) ? info.hwndFocus : nullptr;
}

void Ui::Sync() const {
  ResetEvent(g_synced);
  PostMessageA(host, kSync1, 0, 0);
  // A key or click that closed the dialog may end its loop before the
  // markers are handled.
  HANDLE either[2] = {g_synced, returned};
  if (WaitForMultipleObjects(returned ? 2 : 1, either, FALSE, 5000) == WAIT_TIMEOUT)
    ADD_FAILURE() << "the dialog's thread did not answer";
}

void Ui::OnUiThread(const std::function<void()> &work) const {
  SendMessageA(host, kRun, 0, reinterpret_cast<LPARAM>(&work));
}


int HostKeyDowns() { return g_hostKeyDowns; }
int LastQuitCode() { return g_lastQuit; }

void Ui::Key(WPARAM vk) const {
  HWND target = Focus();
  if (!target) target = dialog;
  LPARAM lParam = 1 | (static_cast<LPARAM>(MapVirtualKeyA(static_cast<UINT>(vk), 0)) << 16);
  PostMessageA(target, WM_KEYDOWN, vk, lParam);
  Post(target, WM_KEYUP, vk, lParam | 0xC0000000);
}

// The text is UTF-8: each UTF-16 unit goes to the (Unicode) field as typed.
void Ui::Chars(const std::string &text) const {
  HWND target = Focus();
  for (char16_t c : testlib::U16(text)) PostMessageW(target, WM_CHAR, c, 1);
  Sync();
}

void Ui::Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) const {
  PostMessageA(window, message, wParam, lParam);
  Sync();
}

void Ui::Clear(int id) const {
  DWORD_PTR r;
  SendMessageTimeoutA(Item(id), EM_SETSEL, 0, -1, SMTO_NORMAL, 5000, &r);
  Post(Item(id), WM_CHAR, VK_BACK, 1);
}

void Ui::Type(int id, const std::string &text) const {
  FocusOn(id);
  Clear(id);
  Chars(text);
}

bool Ui::WaitClosed(DWORD ms) const {
  for (DWORD waited = 0; IsWindow(dialog) && waited < ms; waited += 20) Sleep(20);
  return !IsWindow(dialog);
}

std::string Text(HWND window) {
  char16_t buffer[1024] = {};
  DWORD_PTR r = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_NORMAL, 5000, &r))
    return "<no answer>";
  return testlib::Utf8(buffer);
}

std::string ClassOf(HWND window) {
  char buffer[64] = {};
  GetClassNameA(window, buffer, sizeof buffer);
  return buffer;
}

HWND WaitDialog(DWORD uiThread, const char *caption, int childId, DWORD ms) {
  for (DWORD waited = 0;; waited += 25) {
    for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, "#32770", caption)) != nullptr;)
      if (GetWindowThreadProcessId(w, nullptr) == uiThread && IsWindowVisible(w) && GetDlgItem(w, childId)) return w;
    if (waited >= ms) return nullptr;
    Sleep(25);
  }
}

bool HasDisplay() {
  const char *d = getenv("DISPLAY");
  return d && *d;
}

bool DialogTestsSkipped() {
  const char *s = getenv("KVDRM_SKIP_DIALOG_TESTS");
  return s && *s && strcmp(s, "0") != 0;
}

std::string AnswerMessageBox(const Ui &ui, const char *screenshot) {
  HWND box = WaitMessageBox(ui.uiThread);
  if (!box) return "<no message box>";
  std::string text = Text(GetDlgItem(box, 0xFFFF));
  std::vector<int> buttons;  // identifiers of the visible buttons
  HWND icon = nullptr;
  for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    if (!IsWindowVisible(c)) continue;
    if (lstrcmpiA(ClassOf(c).c_str(), "Button") == 0) buttons.push_back(GetDlgCtrlID(c));
    if (lstrcmpiA(ClassOf(c).c_str(), "Static") == 0 && (GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) icon = c;
  }
  EXPECT_EQ(std::vector<int>{IDOK}, buttons) << "buttons of the message box \"" << text << "\"";
  // No owner, not task-modal: the setup dialog stays enabled beneath it.
  EXPECT_EQ(nullptr, GetWindow(box, GW_OWNER)) << "owner of the message box \"" << text << "\"";
  EXPECT_TRUE(IsWindowEnabled(ui.dialog)) << "the setup dialog beneath \"" << text << "\"";
  // The system's icons are shared: the box shows the very handle that
  // LoadIcon gives this process.
  const HICON exclamation = LoadIconA(nullptr, IDI_EXCLAMATION);
  DWORD_PTR shown = 0;
  if (icon) SendMessageTimeoutA(icon, STM_GETICON, 0, 0, SMTO_NORMAL, 5000, &shown);
  EXPECT_EQ(exclamation, reinterpret_cast<HICON>(shown))
      << "icon of the message box \"" << text << "\" (IDI_HAND is " << LoadIconA(nullptr, IDI_HAND) << ")";
  if (screenshot) {
    ui.Sync();
    Screenshot(screenshot, box);
  }
  ui.Click(GetDlgItem(box, IDOK));
  for (int i = 0; i < 100 && IsWindow(box); ++i) Sleep(20);
  ui.Sync();
  return text;
}

namespace {
// The screen as Wine has drawn it, as a 24-bit BMP file. xwd of the X root
// alone shows Wine's message boxes black under Xvfb.
bool WriteScreenBitmap(const std::string &path) {
  int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFOHEADER info = {sizeof info, w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u, bytes = stride * static_cast<DWORD>(h);
  std::string bits(bytes, '\0');
  bool ok = GetDIBits(memory, bitmap, 0, h, &bits[0], reinterpret_cast<BITMAPINFO *>(&info), DIB_RGB_COLORS) == h;
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (!ok) return false;
  const DWORD offset = sizeof(BITMAPFILEHEADER) + sizeof info;
  BITMAPFILEHEADER file = {0x4D42 /* "BM" */, offset + bytes, 0, 0, offset};
  HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  ok = WriteFile(f, &file, sizeof file, &written, nullptr) && WriteFile(f, &info, sizeof info, &written, nullptr) &&
       WriteFile(f, bits.data(), bytes, &written, nullptr);
  CloseHandle(f);
  return ok;
}
}  // namespace

void Screenshot(const char *what, HWND shown) {
  // Have the newest window painted before the picture is taken.
  if (shown) RedrawWindow(shown, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Sleep(400);
  std::string stem = WindowsPath(KVDRM_SHOTS_DIR "/") + what;
  if (GetFileAttributesA(WindowsPath(KVDRM_SHOTS_DIR).c_str()) == INVALID_FILE_ATTRIBUTES) return;  // no helper
  WriteScreenBitmap(stem + ".bmp");
  std::string request = stem + ".request";
  HANDLE f = CreateFileA(request.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  CloseHandle(f);
  // The helper deletes the request once the picture is written.
  for (int i = 0; i < 100 && GetFileAttributesA(request.c_str()) != INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);
  DeleteFileA(request.c_str());
}

namespace {
BOOL RunDialogCall(const std::function<BOOL(HWND)> &call, const std::function<void(Ui &)> &script,
                   bool *sawDialog) {
  Ui ui;
  ui.uiThread = GetCurrentThreadId();
  ui.host = CreateHost();
  HANDLE returned = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ui.returned = returned;

  std::thread driver([&] {
    for (DWORD waited = 0; !ui.dialog && waited < 10000 && WaitForSingleObject(returned, 0) == WAIT_TIMEOUT;
         waited += 25, Sleep(25))
      ui.dialog = WaitDialog(ui.uiThread, "Kolvar ODBC Setup", kName, 0);
    if (sawDialog) *sawDialog = ui.dialog != nullptr;
    else if (!ui.dialog) ADD_FAILURE() << "the setup dialog did not appear";
    if (ui.dialog) {
      Sleep(50);  // let the dialog manager set the initial focus
      ui.Sync();
      script(ui);
    }
    for (int round = 0; WaitForSingleObject(returned, 200) == WAIT_TIMEOUT; ++round) {
      if (round == 50) {
        fprintf(stderr, "ConfigDSN did not return after its dialog was closed; stopping\n");
        fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 99);
      }
      EnumThreadWindows(ui.uiThread, CloseOne, 0);
    }
  });
  // Without a display no host window can be made; ConfigDSN never uses the
  // parent handle itself, so a made-up one still asks for the dialog.
  HWND parent = ui.host ? ui.host : reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));
  BOOL result = call(parent);
  SetEvent(returned);
  driver.join();
  CloseHandle(returned);
  if (ui.host) DestroyWindow(ui.host);
  // Nothing of this request may linger in the thread's queue.
  g_lastQuit = -1;
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE))
    if (m.message == WM_QUIT) g_lastQuit = static_cast<int>(m.wParam);
  return result;
}
}  // namespace

BOOL RunDialog(WORD request, const std::string &attributes, const std::function<void(Ui &)> &script,
               bool *sawDialog, testlib::ConfigDsnFn configDsn) {
  if (!configDsn) configDsn = testlib::KvdrmConfigDSN();
  if (!configDsn) {
    ADD_FAILURE() << "KVDRM.dll has no ConfigDSN";
    return FALSE;
  }
  return RunDialogCall([&](HWND parent) { return configDsn(parent, request, Driver().c_str(), attributes.c_str()); },
                       script, sawDialog);
}

BOOL RunDialogW(WORD request, const std::u16string &attributes, const std::function<void(Ui &)> &script) {
  testlib::ConfigDsnWFn configDsn = testlib::KvdrmConfigDSNW();
  if (!configDsn) {
    ADD_FAILURE() << "KVDRM.dll has no ConfigDSNW";
    return FALSE;
  }
  const std::u16string driver = testlib::U16(Driver());
  return RunDialogCall(
      [&](HWND parent) {
        return configDsn(parent, request, reinterpret_cast<const WCHAR *>(driver.c_str()),
                         reinterpret_cast<const WCHAR *>(attributes.c_str()));
      },
      script, nullptr);
}

bool Registered(const std::string &name) {
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
    for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY)})
      if (testlib::ReadValue(root, kvdrm::kDataSourceListKey, name.c_str(), view).present) return true;
  return false;
}

bool Stored(const std::string &name) { return testlib::KeyExists(HKEY_CURRENT_USER, testlib::DataSourcePath(name)); }

std::string StoredValue(const std::string &name, const char *value) {
  testlib::Value v = testlib::ReadValue(HKEY_CURRENT_USER, testlib::DataSourcePath(name), value);
  return v.present && v.type == REG_SZ ? v.data.c_str() : "<missing>";
}

DataSource::DataSource(const std::string &name, bool create) : name_(name) {
  testlib::DeleteDataSourceEverywhere(name);
  if (!create) return;
  kvdrm::RegKey k;
  if (testlib::CreateKey(HKEY_CURRENT_USER, testlib::DataSourcePath(name), k) != ERROR_SUCCESS) {
    ADD_FAILURE() << "cannot create data source " << name;
    return;
  }
  testlib::SetString(k.get(), "Description", "Stored description");
  testlib::SetString(k.get(), "DBQ", "C:\\STORED");
  testlib::SetString(k.get(), "CTX", "C:\\STORED\\STORED.CTX");
  testlib::SetString(k.get(), "Driver", Driver());
}

DataSource::~DataSource() { testlib::DeleteDataSourceEverywhere(name_); }

}  // namespace dlgtest
