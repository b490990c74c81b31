// kvdrm-demo: KVDRM.dll's main job from end to end, as an administrator and
// a driver meet it. It registers the driver, adds a data source through the
// ODBC installer without a window, shows the registry entries written, asks
// DrmGetInfo for the driver's file name without a session, then runs one
// whole session and shows every call beside what the manager received and
// returned (from the sample manager's trace). With --dialog it also opens
// the setup dialog and presses its OK from a second thread.
//
// It knows KVDRM.dll only through include/kvdrm.h and the import library.
#include <windows.h>
#include <odbcinst.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "kvdrm.h"

namespace {

struct Options {
  std::string driver = "KVDRM Demo Driver";
  std::string dsn = "KvdrmDemo";
  std::string description = "KVDRM demonstration data";
  std::string dbq, ctx, trace;
  std::string dialogSignals;  // folder for the screenshot handshake; empty: no dialog step
  std::string check;          // kvdrm-check.exe to run on the data source; empty: none
  bool remove = false;        // end by removing the data source and the driver again
};

std::vector<std::string> g_failures;

void Fail(const std::string &what) {
  g_failures.push_back(what);
  printf("   !! %s\n", what.c_str());
}

int g_step = 0;

void Heading(const std::string &text) { printf("\n== %d. %s\n", ++g_step, text.c_str()); }

std::string Hex(uint32_t v) {
  char b[16];
  snprintf(b, sizeof b, "0x%08lX", static_cast<unsigned long>(v));
  return b;
}

const char *ViewName(REGSAM view) { return view ? "64-bit view" : "32-bit view"; }

// ---------------------------------------------------------------- registry

// A registry key that is closed when it goes out of scope. (The demonstration
// is built against the public header alone, so it has a holder of its own.)
class Key {
 public:
  Key() = default;
  ~Key() { Close(); }
  Key(const Key &) = delete;
  Key &operator=(const Key &) = delete;
  HKEY get() const { return key_; }
  LONG Open(HKEY root, const std::string &path, REGSAM access) {
    Close();
    return RegOpenKeyExA(root, path.c_str(), 0, access, &key_);
  }
  LONG Create(HKEY root, const std::string &path, REGSAM access) {
    Close();
    return RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, access, nullptr, &key_, nullptr);
  }
  void Close() {
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
  }

 private:
  HKEY key_ = nullptr;
};

void DeleteTree(HKEY root, const std::string &parent, const std::string &leaf, REGSAM view) {
  Key k;
  if (k.Open(root, parent, KEY_ALL_ACCESS | view) == ERROR_SUCCESS) RegDeleteTreeA(k.get(), leaf.c_str());
}

void DeleteValue(HKEY root, const std::string &path, const std::string &value, REGSAM view) {
  Key k;
  if (k.Open(root, path, KEY_ALL_ACCESS | view) == ERROR_SUCCESS) RegDeleteValueA(k.get(), value.c_str());
}

bool ReadValue(HKEY root, const std::string &path, const char *value, REGSAM view, std::string &text) {
  Key k;
  if (k.Open(root, path, KEY_READ | view) != ERROR_SUCCESS) return false;
  char buf[1024];
  DWORD type = 0, size = sizeof buf - 1;
  LONG rc = RegQueryValueExA(k.get(), value, nullptr, &type, reinterpret_cast<BYTE *>(buf), &size);
  k.Close();
  if (rc != ERROR_SUCCESS || type != REG_SZ) return false;
  buf[size] = 0;
  text = buf;
  return true;
}

// Prints every value of a key; false when the key does not exist.
bool ShowKey(HKEY root, const char *rootName, const std::string &path, REGSAM view) {
  Key k;
  if (k.Open(root, path, KEY_READ | view) != ERROR_SUCCESS) return false;
  printf("   %s\\%s (%s)\n", rootName, path.c_str(), ViewName(view));
  for (DWORD i = 0;; ++i) {
    char name[256], data[1024];
    DWORD nameLen = sizeof name, dataLen = sizeof data - 1, type = 0;
    if (RegEnumValueA(k.get(), i, name, &nameLen, nullptr, &type, reinterpret_cast<BYTE *>(data), &dataLen) !=
        ERROR_SUCCESS)
      break;
    data[dataLen] = 0;
    if (type == REG_SZ)
      printf("      %-12s = %s\n", name, data);
    else
      printf("      %-12s (type %lu, %lu bytes)\n", name, type, dataLen);
  }
  return true;
}

const std::string kDriversPath = "Software\\ODBC\\ODBCINST.INI";
const std::string kSourcesPath = "Software\\ODBC\\ODBC.INI";
const REGSAM kViews[2] = {0, KEY_WOW64_64KEY};

// ------------------------------------------------------------ trace file

// One call as the sample manager traced it.
struct Traced {
  int ordinal = 0;
  std::string name;
  std::vector<uint32_t> values;
  long status = 0;
  std::string line;
};

size_t g_traceOffset = 0;

std::string ReadFileText(const std::string &path) {
  std::string text;
  HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return text;
  char buf[4096];
  DWORD got;
  while (ReadFile(f, buf, sizeof buf, &got, nullptr) && got) text.append(buf, got);
  CloseHandle(f);
  return text;
}

bool ParseTraceLine(const std::string &line, Traced &t) {
  t.line = line;
  char name[64];
  int used = 0;
  if (sscanf(line.c_str(), "#%d %63[A-Za-z](%n", &t.ordinal, name, &used) != 2 || used == 0) return false;
  t.name = name;
  size_t close = line.find(')', used);
  size_t arrow = line.rfind(" -> ");
  if (close == std::string::npos || arrow == std::string::npos) return false;
  std::string list = line.substr(used, close - used);
  for (size_t p = 0; p < list.size();) {
    t.values.push_back(strtoul(list.c_str() + p, nullptr, 16));
    size_t comma = list.find(',', p);
    if (comma == std::string::npos) break;
    p = comma + 1;
  }
  t.status = strtol(line.c_str() + arrow + 4, nullptr, 10);
  return true;
}

// The calls traced since the last look.
std::vector<Traced> NewCalls(const Options &o) {
  std::vector<Traced> calls;
  std::string text = ReadFileText(o.trace);
  if (text.size() < g_traceOffset) g_traceOffset = 0;
  std::string fresh = text.substr(g_traceOffset);
  g_traceOffset = text.size();
  size_t p = 0;
  while (p < fresh.size()) {
    size_t end = fresh.find('\n', p);
    if (end == std::string::npos) end = fresh.size();
    std::string line = fresh.substr(p, end - p);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    Traced t;
    if (!line.empty()) {
      if (ParseTraceLine(line, t))
        calls.push_back(t);
      else
        Fail("unreadable trace line: " + line);
    }
    p = end + 1;
  }
  return calls;
}

// --------------------------------------------------------------- session

KvdrmSession g_session = 0;
uint32_t g_managerSession = 0;

std::string ValueList(const std::vector<uint32_t> &v) {
  std::string s;
  for (size_t i = 0; i < v.size(); ++i) s += (i ? ", " : "") + Hex(v[i]);
  return s;
}

// Shows one driver call, what reached the manager and what came back, and
// checks that the manager got exactly `expected` at ordinal `ordinal`.
void ShowCall(const Options &o, const char *name, const std::vector<uint32_t> &driverArgs, int ordinal,
              const std::vector<uint32_t> &expected, int32_t status) {
  printf("   driver  -> %s(%s)\n", name, ValueList(driverArgs).c_str());
  std::vector<Traced> calls = NewCalls(o);
  for (const Traced &t : calls) printf("   manager    %s\n", t.line.c_str());
  printf("   driver  <- %ld\n", static_cast<long>(status));
  if (calls.size() != 1) {
    Fail(std::string(name) + ": the manager traced " + std::to_string(calls.size()) + " calls, expected 1");
    return;
  }
  const Traced &t = calls[0];
  if (t.ordinal != ordinal || t.name != name) Fail(std::string(name) + ": reached manager ordinal " +
                                                   std::to_string(t.ordinal) + " " + t.name);
  if (t.values != expected)
    Fail(std::string(name) + ": the manager received (" + ValueList(t.values) + "), expected (" +
         ValueList(expected) + ")");
  if (t.status != status) Fail(std::string(name) + ": the manager returned " + std::to_string(t.status) +
                               " but the driver got " + std::to_string(status));
}

std::string ManagerPath(const Options &o) {
  size_t cut = o.ctx.find_last_of(":\\");
  return (cut == std::string::npos ? std::string() : o.ctx.substr(0, cut + 1)) + KVDRM_MANAGER_FILE;
}

void RunSession(const Options &o) {
  Heading("One session, as the driver runs it (driver calls, manager trace, results)");
  SetEnvironmentVariableA("KVDRM_TRACE", o.trace.c_str());
  DeleteFileA(o.trace.c_str());
  g_traceOffset = 0;
  printf("   KVDRM_TRACE = %s\n", o.trace.c_str());

  KvdrmSession handle = 0;
  const uint32_t handleAddr = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&handle));
  const uint32_t dsnAddr = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(o.dsn.c_str()));
  int32_t st = DrmBeginSession(&handle, 0x1001, 0x1002, o.dsn.c_str());
  const KvdrmSessionRecord *rec = reinterpret_cast<const KvdrmSessionRecord *>(static_cast<uintptr_t>(handle));
  ShowCall(o, "DrmBeginSession", {handleAddr, 0x1001, 0x1002, dsnAddr}, KVDRM_MGR_DrmBeginSession,
           {handleAddr, 0x1001, 0x1002, dsnAddr}, st);
  printf("           session handle %s (the record), manager session %s, slot 1 %s\n", Hex(handle).c_str(),
         Hex(rec ? rec->managerSession : 0).c_str(), Hex(rec ? rec->ack : 0).c_str());
  if (!handle) {
    Fail("DrmBeginSession stored no session handle");
    return;
  }
  g_session = handle;
  g_managerSession = rec->managerSession;
  if (st != KVDRM_OK) {
    Fail("DrmBeginSession returned " + std::to_string(st) +
         (st == KVDRM_E_NO_MANAGER ? " (OdbcDrm.dll did not load, lacks an entry point or did not acknowledge)" : ""));
    DrmEndSession(handle);
    return;
  }
  const uint32_t h = handle, m = g_managerSession;
  if (!GetModuleHandleA(ManagerPath(o).c_str())) Fail("the session did not load " + ManagerPath(o));

  st = DrmOpenDatabase(h, 0x2001, 0x2002, 0x2003);
  ShowCall(o, "DrmOpenDatabase", {h, 0x2001, 0x2002, 0x2003}, KVDRM_MGR_DrmOpenDatabase, {m, 0x2001, 0x2002, 0x2003}, st);
  st = DrmOpenTable(h, 0x3001, 0x3002, 0x3003, 0x3004, 0x3005);
  ShowCall(o, "DrmOpenTable", {h, 0x3001, 0x3002, 0x3003, 0x3004, 0x3005}, KVDRM_MGR_DrmOpenTable,
           {m, 0x3001, 0x3002, 0x3003, 0x3004, 0x3005}, st);
  st = DrmMove(h, 0x4001, 0x4002);
  ShowCall(o, "DrmMove", {h, 0x4001, 0x4002}, KVDRM_MGR_DrmMove, {m, 0x4001, 0x4002}, st);
  st = DrmRetrieveColumn(h, 0x5001, 0x5002, 0x5003, 0x5004, 0x5005, 0x5006);
  ShowCall(o, "DrmRetrieveColumn", {h, 0x5001, 0x5002, 0x5003, 0x5004, 0x5005, 0x5006}, KVDRM_MGR_DrmRetrieveColumn,
           {m, 0x5001, 0x5002, 0x5003, 0x5004, 0x5005, 0x5006}, st);
  st = DrmCloseTable(h, 0x3001);
  ShowCall(o, "DrmCloseTable", {h, 0x3001}, KVDRM_MGR_DrmCloseTable, {m, 0x3001}, st);
  st = DrmCloseDatabase(h, 0x2001);
  ShowCall(o, "DrmCloseDatabase", {h, 0x2001}, KVDRM_MGR_DrmCloseDatabase, {m, 0x2001}, st);
  st = DrmEndSession(h);
  ShowCall(o, "DrmEndSession", {h}, KVDRM_MGR_DrmEndSession, {m}, st);
  if (GetModuleHandleA(ManagerPath(o).c_str())) Fail("OdbcDrm.dll is still loaded after DrmEndSession");
  else printf("           OdbcDrm.dll released\n");
}

// ---------------------------------------------------------------- steps

void RegisterDriver(const Options &o) {
  Heading("Register the driver: HKLM\\" + kDriversPath + "\\" + o.driver);
  char dll[MAX_PATH];
  // The KVDRM.dll this program imports: the one just built.
  HMODULE self = GetModuleHandleA("KVDRM.dll");
  if (!self || !GetModuleFileNameA(self, dll, sizeof dll)) {
    Fail("KVDRM.dll is not loaded");
    return;
  }
  for (REGSAM view : kViews) {
    Key k;
    std::string path = kDriversPath + "\\" + o.driver;
    if (k.Create(HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS | view) != ERROR_SUCCESS) {
      Fail(std::string("cannot create the driver key in the ") + ViewName(view));
      continue;
    }
    RegSetValueExA(k.get(), "Driver", 0, REG_SZ, reinterpret_cast<const BYTE *>(dll),
                   static_cast<DWORD>(strlen(dll) + 1));
    RegSetValueExA(k.get(), "Setup", 0, REG_SZ, reinterpret_cast<const BYTE *>(dll),
                   static_cast<DWORD>(strlen(dll) + 1));
    // The installer's list of drivers, as SQLInstallDriverEx keeps it.
    if (k.Create(HKEY_LOCAL_MACHINE, kDriversPath + "\\ODBC Drivers", KEY_ALL_ACCESS | view) == ERROR_SUCCESS)
      RegSetValueExA(k.get(), o.driver.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>("Installed"), 10);
    k.Close();
    ShowKey(HKEY_LOCAL_MACHINE, "HKLM", path, view);
  }
}

std::string AttributeList(const Options &o, std::string &shown) {
  const std::string pairs[] = {"DSN=" + o.dsn, "Description=" + o.description, "DBQ=" + o.dbq, "CTX=" + o.ctx};
  std::string list;
  for (const std::string &p : pairs) {
    list += p;
    list.push_back('\0');
    shown += "\n        " + p;
  }
  list.push_back('\0');
  return list;
}

void ShowInstallerError() {
  for (WORD i = 1; i <= 8; ++i) {
    DWORD code = 0;
    char msg[512] = "";
    WORD len = 0;
    if (SQLInstallerError(i, &code, msg, sizeof msg, &len) != 0) break;  // SQL_SUCCESS is 0
    printf("   installer error %lu: %s\n", code, msg);
  }
}

void AddDataSource(const Options &o) {
  Heading("Add the data source through the ODBC installer, without a window");
  std::string shown;
  std::string list = AttributeList(o, shown);
  BOOL ok = SQLConfigDataSource(nullptr, ODBC_ADD_DSN, o.driver.c_str(), list.c_str());
  printf("   SQLConfigDataSource(no window, ODBC_ADD_DSN, \"%s\",%s) -> %s\n", o.driver.c_str(), shown.c_str(),
         ok ? "TRUE" : "FALSE");
  if (!ok) {
    ShowInstallerError();
    Fail("SQLConfigDataSource refused the request");
  }
}

void ShowDataSource(const Options &o, bool expectListEntry) {
  const struct { HKEY root; const char *name; } roots[] = {{HKEY_CURRENT_USER, "HKCU"}, {HKEY_LOCAL_MACHINE, "HKLM"}};
  std::string path = kSourcesPath + "\\" + o.dsn;
  bool any = false;
  for (const auto &r : roots)
    for (REGSAM view : kViews) any |= ShowKey(r.root, r.name, path, view);
  if (!any) Fail("no registry key " + path + " was written");

  // What a session will read: the first root that holds the key.
  const struct { const char *value; const std::string *want; } values[] = {
      {"Description", &o.description}, {"DBQ", &o.dbq}, {"CTX", &o.ctx}, {"Driver", &o.driver}};
  if (any) {
    std::string probe;
    HKEY root = ReadValue(HKEY_CURRENT_USER, path, "Driver", 0, probe) ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    for (const auto &v : values) {
      std::string got;
      if (!ReadValue(root, path, v.value, 0, got))
        Fail(std::string("the value ") + v.value + " is missing");
      else if (got != *v.want)
        Fail(std::string("the value ") + v.value + " is \"" + got + "\", expected \"" + *v.want + "\"");
    }
  }
  bool listed = false;
  for (const auto &r : roots) {
    std::string text;
    if (ReadValue(r.root, kSourcesPath + "\\ODBC Data Sources", o.dsn.c_str(), 0, text)) {
      printf("   %s\\%s\\ODBC Data Sources: %s = %s\n", r.name, kSourcesPath.c_str(), o.dsn.c_str(), text.c_str());
      listed = true;
    }
  }
  if (expectListEntry && !listed)
    Fail("the setup dialog's OK did not list the name in \"ODBC Data Sources\"");
  else if (!listed)
    printf("   (no entry in \"ODBC Data Sources\": a request without a window does not list the name)\n");
}

void InfoWithoutSession(const Options &o) {
  Heading("DrmGetInfo without a session");
  char answer[64];
  memset(answer, 0x55, sizeof answer);
  int32_t length = -7;
  int32_t st = DrmGetInfo(KVDRM_NO_SESSION, KVDRM_INFO_DRIVER_FILE, answer, sizeof answer, &length);
  bool text = memchr(answer, 0, sizeof answer) != nullptr;
  printf("   DrmGetInfo(KVDRM_NO_SESSION, %d, answer, %u, &length) -> %ld: answer \"%s\", length %ld\n",
         KVDRM_INFO_DRIVER_FILE, static_cast<unsigned>(sizeof answer), static_cast<long>(st),
         text ? answer : "(not a text)", static_cast<long>(length));
  if (st != KVDRM_OK || !text || strcmp(answer, "KVODBC.DLL") != 0 || length != 11)
    Fail("DrmGetInfo did not answer the driver's file name KVODBC.DLL with length 11");
  bool loaded = GetModuleHandleA(ManagerPath(o).c_str()) != nullptr;
  bool traced = !ReadFileText(o.trace).empty();
  printf("   the manager was %sloaded and traced %s\n", loaded ? "" : "not ", traced ? "calls" : "nothing");
  if (loaded || traced) Fail("DrmGetInfo without a session reached the manager");
}

// ------------------------------------------------------------ the dialog

struct DialogRun {
  const Options *o;
  volatile LONG configReturned;
  HWND dialog;
  char caption[128];
  bool okEnabled, pressed, shot;
};

BOOL CALLBACK FindDialog(HWND w, LPARAM param) {
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  char cls[16];
  if (pid == GetCurrentProcessId() && IsWindowVisible(w) && GetClassNameA(w, cls, sizeof cls) &&
      strcmp(cls, "#32770") == 0) {
    *reinterpret_cast<HWND *>(param) = w;
    return FALSE;
  }
  return TRUE;
}

bool FileExists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

DWORD WINAPI DriveDialog(void *param) {
  DialogRun &run = *static_cast<DialogRun *>(param);
  HWND dlg = nullptr;
  for (int i = 0; i < 200 && !dlg && !run.configReturned; ++i) {
    Sleep(100);
    EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&dlg));
  }
  if (!dlg) return 0;
  run.dialog = dlg;
  Sleep(500);  // let it paint before the screenshot
  GetWindowTextA(dlg, run.caption, sizeof run.caption);
  HWND ok = GetDlgItem(dlg, IDOK);
  run.okEnabled = ok && IsWindowEnabled(ok);
  // Tell the script to take its screenshot, and wait until it has.
  std::string shown = run.o->dialogSignals + "\\dialog-shown", taken = run.o->dialogSignals + "\\dialog-shot";
  HANDLE f = CreateFileA(shown.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
  for (int i = 0; i < 300 && !FileExists(taken); ++i) Sleep(100);
  run.shot = FileExists(taken);
  PostMessageA(run.okEnabled ? ok : GetDlgItem(dlg, IDCANCEL), BM_CLICK, 0, 0);
  run.pressed = run.okEnabled;
  return 0;
}

void DialogStep(const Options &o) {
  Heading("The setup dialog: configure the data source with a parent window, OK pressed by a second thread");
  HWND parent = CreateWindowExA(0, "STATIC", "kvdrm-demo", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  if (!parent) {
    Fail("no window could be created (no display?)");
    return;
  }
  DialogRun run = {};
  run.o = &o;
  HANDLE thread = CreateThread(nullptr, 0, DriveDialog, &run, 0, nullptr);
  std::string list = "DSN=" + o.dsn;
  list.append(2, '\0');
  BOOL ok = SQLConfigDataSource(parent, ODBC_CONFIG_DSN, o.driver.c_str(), list.c_str());
  InterlockedExchange(&run.configReturned, 1);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  DestroyWindow(parent);
  printf("   SQLConfigDataSource(parent window, ODBC_CONFIG_DSN, \"%s\", DSN=%s) -> %s\n", o.driver.c_str(),
         o.dsn.c_str(), ok ? "TRUE" : "FALSE");
  if (!run.dialog) {
    Fail("no setup dialog appeared (the dialog is not in this build yet?)");
    return;
  }
  printf("   dialog \"%s\" shown; screenshot %s; OK %s\n", run.caption, run.shot ? "taken" : "NOT taken",
         run.pressed ? "pressed" : "disabled, Cancel pressed");
  if (!run.okEnabled) Fail("OK was disabled in the setup dialog");
  if (!run.shot) Fail("the screenshot was not taken");
  ShowDataSource(o, true);
}

// The diagnostic tool on the demo's data source: one real session through
// the KVDRM.dll the driver registration names, which must begin and end.
void CheckStep(const Options &o) {
  Heading("kvdrm-check --session \"" + o.dsn + "\"");
  std::string cmd = "\"" + o.check + "\" --session \"" + o.dsn + "\"";
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  HANDLE readEnd, writeEnd;
  if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) {
    Fail("no pipe for kvdrm-check");
    return;
  }
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = si.hStdError = writeEnd;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi = {};
  std::vector<char> line(cmd.begin(), cmd.end());
  line.push_back(0);
  BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  CloseHandle(writeEnd);
  if (!started) {
    CloseHandle(readEnd);
    Fail("kvdrm-check could not be started: " + o.check);
    return;
  }
  // Its report, indented under this step.
  std::string out;
  char buf[4096];
  DWORD got;
  while (ReadFile(readEnd, buf, sizeof buf, &got, nullptr) && got) out.append(buf, got);
  CloseHandle(readEnd);
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  for (size_t p = 0; p < out.size();) {
    size_t end = out.find('\n', p);
    if (end == std::string::npos) end = out.size();
    std::string text = out.substr(p, end - p);
    if (!text.empty() && text.back() == '\r') text.pop_back();
    printf("   | %s\n", text.c_str());
    p = end + 1;
  }
  printf("   kvdrm-check exit status %lu\n", code);
  if (code != 0) Fail("kvdrm-check's session did not begin and end (exit status " + std::to_string(code) + ")");
}

// Removal as an administrator does it, then the driver's registration.
void RemoveStep(const Options &o) {
  Heading("Remove the data source through the ODBC installer, then the driver");
  std::string list = "DSN=" + o.dsn;
  list.append(2, '\0');
  BOOL ok = SQLConfigDataSource(nullptr, ODBC_REMOVE_DSN, o.driver.c_str(), list.c_str());
  printf("   SQLConfigDataSource(no window, ODBC_REMOVE_DSN, \"%s\", DSN=%s) -> %s\n", o.driver.c_str(), o.dsn.c_str(),
         ok ? "TRUE" : "FALSE");
  const struct { HKEY key; const char *name; } roots[] = {{HKEY_CURRENT_USER, "HKCU"}, {HKEY_LOCAL_MACHINE, "HKLM"}};
  const std::string path = kSourcesPath + "\\" + o.dsn, sources = kSourcesPath + "\\ODBC Data Sources";
  const size_t before = g_failures.size();
  for (const auto &r : roots)
    for (REGSAM view : kViews) {
      Key k;
      if (k.Open(r.key, path, KEY_READ | view) != ERROR_SUCCESS) continue;
      bool ours = RegQueryValueExA(k.get(), "CTX", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
      k.Close();
      if (ours || r.key == HKEY_CURRENT_USER) {
        Fail(std::string("the data source is still in ") + r.name + "\\" + path + " (" + ViewName(view) + ")");
        continue;
      }
      // Wine's SQLWriteDSNToIni, called by the dialog's OK, makes a key of
      // its own (only a "driver" value) under HKLM when the installer's mode
      // is ODBC_BOTH_DSN, while the data source itself went to HKCU.
      printf("   %s\\%s (%s) remains with the installer's own entry from the dialog's OK; removed here\n",
             r.name, path.c_str(), ViewName(view));
      DeleteTree(r.key, kSourcesPath, o.dsn, view);
    }
  for (const auto &r : roots) {
    std::string text;
    if (ReadValue(r.key, sources, o.dsn.c_str(), 0, text)) {
      printf("   %s\\%s: %s remains (entered by the installer); removed here\n", r.name, sources.c_str(),
             o.dsn.c_str());
      DeleteValue(r.key, sources, o.dsn, 0);
    }
  }
  if (g_failures.size() == before) printf("   the data source's key, with its four values, is gone\n");
  for (REGSAM view : kViews) {
    DeleteTree(HKEY_LOCAL_MACHINE, kDriversPath, o.driver, view);
    DeleteValue(HKEY_LOCAL_MACHINE, kDriversPath + "\\ODBC Drivers", o.driver, view);
  }
  printf("   the driver's registration removed\n");
}

bool ParseOptions(int argc, char **argv, Options &o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--remove") {
      o.remove = true;
      continue;
    }
    std::string *target = a == "--driver" ? &o.driver : a == "--dsn" ? &o.dsn : a == "--dbq" ? &o.dbq
                        : a == "--ctx" ? &o.ctx : a == "--trace" ? &o.trace : a == "--dialog" ? &o.dialogSignals
                        : a == "--description" ? &o.description : a == "--check" ? &o.check : nullptr;
    if (!target || i + 1 >= argc) {
      fprintf(stderr, "kvdrm-demo: unknown option or missing value: %s\n", a.c_str());
      return false;
    }
    *target = argv[++i];
  }
  if (o.dbq.empty() || o.ctx.empty() || o.trace.empty()) {
    fprintf(stderr, "usage: kvdrm-demo --dbq DIR --ctx FILE --trace FILE [--dsn NAME] [--driver NAME] "
                    "[--description TEXT] [--check KVDRM-CHECK.EXE] [--dialog SIGNAL-DIR] [--remove]\n");
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  Options o;
  if (!ParseOptions(argc, argv, o)) return 2;

  // A run starts from nothing of an earlier one.
  for (REGSAM view : kViews) {
    DeleteTree(HKEY_CURRENT_USER, kSourcesPath, o.dsn, view);
    DeleteTree(HKEY_LOCAL_MACHINE, kSourcesPath, o.dsn, view);
    DeleteValue(HKEY_CURRENT_USER, kSourcesPath + "\\ODBC Data Sources", o.dsn, view);
    DeleteValue(HKEY_LOCAL_MACHINE, kSourcesPath + "\\ODBC Data Sources", o.dsn, view);
  }
  DeleteFileA(o.trace.c_str());

  RegisterDriver(o);
  AddDataSource(o);
  Heading("The registry entries written");
  ShowDataSource(o, false);
  InfoWithoutSession(o);
  RunSession(o);
  if (!o.dialogSignals.empty()) DialogStep(o);
  if (!o.check.empty()) CheckStep(o);
  if (o.remove) RemoveStep(o);

  printf("\n");
  if (g_failures.empty()) {
    printf("DEMO OK: driver registered, data source %s added by SQLConfigDataSource, DrmGetInfo answered KVODBC.DLL "
           "without a session, 8 calls reached the manager as the driver made them%s%s%s\n",
           o.dsn.c_str(), o.dialogSignals.empty() ? "" : ", setup dialog shown and confirmed",
           o.check.empty() ? "" : ", kvdrm-check's session began and ended", o.remove ? ", removed again" : "");
    return 0;
  }
  printf("DEMO FAILED: %s%s\n", g_failures[0].c_str(),
         g_failures.size() > 1 ? (" (and " + std::to_string(g_failures.size() - 1) + " more)").c_str() : "");
  return 1;
}
