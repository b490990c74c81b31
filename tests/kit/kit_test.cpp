// The kit around KVDRM.dll: its version resource, the sample manager's
// contract and trace, and kvdrm-check's verdicts on healthy and broken data
// sources (run as the real program, as support staff run it).
#include <windows.h>
#include <tlhelp32.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdio.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "include/kvdrm.h"
#include "tests/common/testlib.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const char kDriversPath[] = "Software\\ODBC\\ODBCINST.INI\\";

std::string ReadText(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::string Hex(uint32_t v) {
  char b[16];
  snprintf(b, sizeof b, "0x%08lX", static_cast<unsigned long>(v));
  return b;
}

// ------------------------------------------------------- version resource

std::string VersionString(const std::vector<char> &info, const char *name) {
  char *value = nullptr;
  UINT len = 0;
  std::string query = std::string("\\StringFileInfo\\040904B0\\") + name;
  if (!VerQueryValueA(info.data(), query.c_str(), reinterpret_cast<void **>(&value), &len) || !value) return "";
  return std::string(value);
}

TEST(KitVersion, ResourceNamesTheFileAndTheProjectVersion) {
  char path[MAX_PATH];
  ASSERT_TRUE(GetModuleFileNameA(GetModuleHandleA("KVDRM.dll"), path, sizeof path));
  DWORD handle = 0, size = GetFileVersionInfoSizeA(path, &handle);
  ASSERT_GT(size, 0u) << "KVDRM.dll has no version resource";
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, info.data()));

  const std::string version = KVDRM_PROJECT_VERSION ".0";
  EXPECT_EQ(version, VersionString(info, "FileVersion"));
  EXPECT_EQ(version, VersionString(info, "ProductVersion"));
  EXPECT_EQ("KVDRM.dll", VersionString(info, "OriginalFilename"));
  EXPECT_NE("", VersionString(info, "FileDescription"));
  EXPECT_NE("", VersionString(info, "ProductName"));

  VS_FIXEDFILEINFO *fixed = nullptr;
  UINT len = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void **>(&fixed), &len));
  EXPECT_EQ(static_cast<DWORD>(MAKELONG(KVDRM_VERSION_MINOR, KVDRM_VERSION_MAJOR)), fixed->dwFileVersionMS);
  EXPECT_EQ(static_cast<DWORD>(MAKELONG(0, KVDRM_VERSION_PATCH)), fixed->dwFileVersionLS);
  EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
  EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType);
  // The header's version is the project's too.
  char header[32];
  snprintf(header, sizeof header, "%d.%d.%d", KVDRM_VERSION_MAJOR, KVDRM_VERSION_MINOR, KVDRM_VERSION_PATCH);
  EXPECT_STREQ(KVDRM_PROJECT_VERSION, header);
}

// --------------------------------------------------------- sample manager

struct TraceFile {
  std::string path;
  explicit TraceFile(const std::string &p) : path(p) { DeleteFileA(path.c_str()); }
  ~TraceFile() { DeleteFileA(path.c_str()); }
};

TEST(KitSampleManager, ActsOutTheContractAndTracesEveryCall) {
  const std::string name = testlib::UniqueName("sample");
  testlib::ScopedKey key(HKEY_CURRENT_USER, testlib::DataSourcePath(name));
  key.SetString("CTX", testlib::BinPath("sample\\SAMPLE.CTX"));
  TraceFile trace(testlib::BinPath(name + ".trace"));
  SetEnvironmentVariableA("KVDRM_TRACE", trace.path.c_str());

  KvdrmSession h = 0;
  ASSERT_EQ(KVDRM_OK, DrmBeginSession(&h, 7, 8, name.c_str()));
  const KvdrmSessionRecord *rec = reinterpret_cast<const KvdrmSessionRecord *>(static_cast<uintptr_t>(h));
  EXPECT_EQ(KVDRM_RECORD_MARKER, rec->ack);
  const uint32_t m = rec->managerSession;
  EXPECT_NE(0u, m);
  EXPECT_NE(h, m);
  EXPECT_EQ(0, DrmOpenView(h, 2, 3, 4, 5, 6, 7, 8, 9));
  EXPECT_EQ(0, DrmSetFilter(h, 0x12, 0x13, 0x14, 0x15));
  EXPECT_EQ(0, DrmGetInfo(h, 2, nullptr, 0, nullptr));
  EXPECT_EQ(0, DrmEndSession(h));
  SetEnvironmentVariableA("KVDRM_TRACE", nullptr);

  const uint32_t hv = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&h));
  const uint32_t dsn = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(name.c_str()));
  const std::string expected =
      "#1 DrmBeginSession(" + Hex(hv) + ", 0x00000007, 0x00000008, " + Hex(dsn) + ") dataSource=\"" + name +
      "\" record=" + Hex(h) + " slot0=0xFF000001 wrote slot2=" + Hex(m) + " slot1=0xFF000001 -> 0\r\n" +
      "#36 DrmOpenView(" + Hex(m) +
      ", 0x00000002, 0x00000003, 0x00000004, 0x00000005, 0x00000006, 0x00000007, 0x00000008, 0x00000009) -> 0\r\n" +
      // DrmSetFilter passes four values: its fifth argument never arrives.
      "#40 DrmSetFilter(" + Hex(m) + ", 0x00000012, 0x00000013, 0x00000014) -> 0\r\n" +
      "#20 DrmGetInfo(" + Hex(m) + ", 0x00000002, 0x00000000, 0x00000000, 0x00000000) -> 0\r\n" +
      "#12 DrmEndSession(" + Hex(m) + ") -> 0\r\n";
  EXPECT_EQ(expected, ReadText(trace.path));
}

TEST(KitSampleManager, TracesBesideItselfWithoutTheVariable) {
  const std::string name = testlib::UniqueName("beside");
  testlib::ScopedKey key(HKEY_CURRENT_USER, testlib::DataSourcePath(name));
  key.SetString("CTX", testlib::BinPath("sample\\SAMPLE.CTX"));
  TraceFile trace(testlib::BinPath("sample\\OdbcDrm.trace"));
  SetEnvironmentVariableA("KVDRM_TRACE", nullptr);

  KvdrmSession h = 0;
  ASSERT_EQ(KVDRM_OK, DrmBeginSession(&h, 0, 0, name.c_str()));
  const uint32_t m = reinterpret_cast<const KvdrmSessionRecord *>(static_cast<uintptr_t>(h))->managerSession;
  EXPECT_EQ(0, DrmEndSession(h));
  std::string text = ReadText(trace.path);
  EXPECT_THAT(text, HasSubstr("#1 DrmBeginSession("));
  EXPECT_THAT(text, HasSubstr("#12 DrmEndSession(" + Hex(m) + ") -> 0\r\n"));
}

// ------------------------------------------------------------ kvdrm-check

std::wstring Wide(const std::string &utf8) {
  std::wstring w(utf8.size(), L'\0');
  w.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &w[0],
                               static_cast<int>(w.size())));
  return w;
}

// One run of bin\kvdrm-check.exe with the given command line tail (UTF-8):
// its output, read from a pipe (or written to `console`, a console screen
// buffer, when given), its exit status and how long it took.
struct CheckRun {
  std::string out;
  DWORD status = 99;
  ULONGLONG ms = 0;
  bool started = false;
};
CheckRun RunCheck(const std::string &args, HANDLE console = nullptr) {
  CheckRun run;
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = console;
  if (!console) {
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return run;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  }
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = si.hStdError = writeEnd;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi = {};
  std::wstring cmd = Wide("\"" + testlib::BinPath("kvdrm-check.exe") + "\" " + args);
  const ULONGLONG start = GetTickCount64();
  // Onto this program's console, or one without a window.
  run.started = CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, console ? 0 : CREATE_NO_WINDOW, nullptr,
                               nullptr, &si, &pi);
  if (!console) CloseHandle(writeEnd);
  if (run.started) {
    char buf[4096];
    DWORD n;
    while (readEnd && ReadFile(readEnd, buf, sizeof buf, &n, nullptr) && n) run.out.append(buf, n);
    WaitForSingleObject(pi.hProcess, INFINITE);
    run.ms = GetTickCount64() - start;
    GetExitCodeProcess(pi.hProcess, &run.status);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  if (readEnd) CloseHandle(readEnd);
  EXPECT_TRUE(run.started) << args;
  return run;
}

// Runs kvdrm-check and checks its exit status (kAnyStatus: not checked) and
// that its output says each of `says` and none of `saysNot`. Returns the
// output.
constexpr DWORD kAnyStatus = 0xFFFFFFFFu;
std::string ExpectCheck(const std::string &args, DWORD status, const std::vector<std::string> &says = {},
                        const std::vector<std::string> &saysNot = {}) {
  const CheckRun run = RunCheck(args);
  if (status != kAnyStatus) {
    EXPECT_EQ(status, run.status) << run.out;
  }
  for (const std::string &text : says) EXPECT_THAT(run.out, HasSubstr(text));
  for (const std::string &text : saysNot) EXPECT_THAT(run.out, Not(HasSubstr(text)));
  return run.out;
}

std::string Quoted(const std::string &s) { return "\"" + s + "\""; }

std::string Padded(std::string s, size_t length) {
  if (s.size() < length) s.resize(length, 'x');
  return s;
}

// A data source of a registered driver: the driver key under HKLM (this
// process's view, the 32-bit one) and the data source under `root` (HKCU
// unless told). Its name is padded to `nameLength` characters when that is
// longer.
struct Source {
  std::string name;
  std::string driver = testlib::UniqueName("driver");
  testlib::ScopedKey driverKey{HKEY_LOCAL_MACHINE, kDriversPath + driver};
  testlib::ScopedKey key;
  explicit Source(const std::string &ctx, size_t nameLength = 0, HKEY root = HKEY_CURRENT_USER)
      : name(Padded(testlib::UniqueName("check"), nameLength)), key(root, testlib::DataSourcePath(name)) {
    driverKey.SetString("Setup", testlib::BinPath("KVDRM.dll"));
    driverKey.SetString("Driver", testlib::BinPath("KVDRM.dll"));
    key.SetString("Description", "a test data source");
    key.SetString("DBQ", testlib::BinPath(""));
    if (!ctx.empty()) key.SetString("CTX", ctx);
    key.SetString("Driver", driver);
  }
};

// Keys that open for reading only, as a standard user meets them, or not
// even for reading.
enum ReadOnly { kWritable, kDataSourceKeyReadOnly, kDriverKeyReadOnly, kDataSourceKeyUnreadable };
// What kvdrm-check is asked: the data source, or the list of its driver.
enum Command { kCheckName, kListDriver };

struct CheckCase {
  const char *label;
  std::string ctx;  // CTX value; empty: none
  DWORD status;     // expected exit status
  std::vector<std::string> says, saysNot;
  ReadOnly readOnly = kWritable;
  Command command = kCheckName;
  size_t nameLength = 0;  // the data source name's length when longer than made
};

TEST(KitCheck, NamesWhatASessionWouldFind) {
  const std::string ok = testlib::ManagerDir("ok");
  const CheckCase cases[] = {
      {"healthy", ok + "MAIN.CTX", 0,
       {"HKCU, 32-bit view: present", "reads the key under HKCU", Quoted(ok + "MAIN.CTX") + " gives the directory " + Quoted(ok),
        "A session loads " + Quoted(ok + "OdbcDrm.dll"), "It loads: ", "all 48 present", "registered; Setup",
        "Result: a session could begin"},
       {"opens for reading only", "Warning: a bare name", "missing"}},
      {"data source key that opens for reading only", ok + "MAIN.CTX", 0,
       {"HKCU, 32-bit view: present, opens for reading only (enough: a session only reads it)",
        "reads the key under HKCU", "Result: a session could begin"},
       {"missing"},
       kDataSourceKeyReadOnly},
      {"driver registration that opens for reading only", ok + "MAIN.CTX", 0,
       {"registered; Setup", "it opens for reading only (enough: setup only reads it to store a user data source)",
        "Result: a session could begin"},
       {"present, opens for reading only", "missing"},
       kDriverKeyReadOnly},
      {"one entry point missing", testlib::ManagerDir("missing7") + "MAIN.CTX", 1,
       {"It loads: ", "1 of 48 missing", "ordinal  7 DrmCreateView", "Result: no session can begin", "-1101"}, {}},
      {"no end-session entry", testlib::ManagerDir("missing12") + "MAIN.CTX", 1,
       {"ordinal 12 DrmEndSession", "Result: no session can begin"}, {}},
      {"no such file", testlib::BinPath("no-such-folder\\MAIN.CTX"), 1,
       {"the control file does not exist", "It does not load: Windows error 126", "there is no such file",
        "Result: no session can begin: the manager"}, {}},
      {"a CTX with forward slashes", "Z:/nowhere/MAIN.CTX", 1,
       {"gives the directory \"Z:\"", "A session loads \"Z:OdbcDrm.dll\"", "does not load"}, {}},
      {"no CTX value", "", 1,
       {"Without a CTX value a session loads the bare file name OdbcDrm.dll", "A session loads \"OdbcDrm.dll\"",
        "Warning: a bare name, loaded through the search path", "Give CTX as a full path"}, {}},
      // Wine lets a key name have 256 characters: 257 bytes with the NUL,
      // past a 256-byte buffer as a 151-character double-byte name is.
      {"--list: a name longer than 255 bytes", ok + "MAIN.CTX", 0, {"HKCU, 32-bit view: "}, {"could not be read"},
       kWritable, kListDriver, 256},
      {"--list: a data source key that does not open for reading", ok + "MAIN.CTX", 1,
       {"could not be read: Windows error 5", "could not be read: the list may be incomplete"}, {},
       kDataSourceKeyUnreadable, kListDriver},
  };
  for (const CheckCase &c : cases) {
    SCOPED_TRACE(c.label);
    Source s(c.ctx, c.nameLength);
    // Read (or not even that) and delete: the test still removes the key
    // afterwards, after opening it up again through the handle it holds.
    if (c.readOnly != kWritable) {
      HKEY key = c.readOnly == kDriverKeyReadOnly ? s.driverKey.get() : s.key.get();
      ASSERT_EQ(ERROR_SUCCESS, testlib::SetEveryoneAccess(key, c.readOnly == kDataSourceKeyUnreadable
                                                                   ? DELETE | WRITE_DAC
                                                                   : KEY_READ | DELETE));
    }
    std::vector<std::string> says = c.says;
    says.push_back(c.command == kListDriver ? Quoted(s.name) : "Driver       " + Quoted(s.driver));
    ExpectCheck(c.command == kListDriver ? "--list --driver " + Quoted(s.driver) : Quoted(s.name), c.status, says,
                c.saysNot);
    if (c.readOnly == kDataSourceKeyUnreadable) {
      EXPECT_EQ(ERROR_SUCCESS, testlib::SetEveryoneAccess(s.key.get(), KEY_ALL_ACCESS));
    }
  }
}

// A session as the driver makes it. A manager's own DLL is found beside it
// whatever the current directory and released with it; when it is missing,
// or the manager is no 32-bit DLL, the session fails cleanly and
// kvdrm-check --session says why in words, blaming the DLL that needs the
// missing one. It loads the KVDRM.dll of the driver of the data source it
// found, in that data source's root, and judges the end as well as the
// beginning.
TEST(KitCheck, SessionsFindTheManagersOwnDllsOrSayWhyNot) {
  const std::string with = testlib::ManagerDir("withhelper"), gone = testlib::ManagerDir("helpergone"),
                    chain = testlib::ManagerDir("chain");
  struct Row {
    const char *label;
    std::string dir;  // the manager's folder
    int32_t begins;   // DrmBeginSession's status in this process
    DWORD status;     // kvdrm-check --session's exit status
    std::vector<std::string> says, saysNot = {};
    int32_t ends = KVDRM_OK;  // DrmEndSession's status in this process
    // A system data source, whose driver's Setup names a copy of KVDRM.dll
    // in a folder of its own.
    bool system = false;
  };
  const Row rows[] = {
      {"a DLL of its own beside it", with, KVDRM_OK, 0,
       {"(the Setup file of the driver ", "returned 0 (", "The manager loaded: ", "withhelper\\OdbcDrm.dll",
        "The manager acknowledged the session", "DrmEndSession returned 0 (", "The manager was released afterwards",
        "Result: the session began and ended."}},
      {"its DLL missing", gone, KVDRM_E_NO_MANAGER, 1,
       {"returned -1101", "did not load", "Why: Windows error 126",
        "OdbcDrm.dll needs mgrhelper.dll, which is not in " + gone +
            ", the system folders, the current directory or PATH",
        "Result: the session did not begin."}},
      {"a DLL that its DLL needs missing", chain, KVDRM_E_NO_MANAGER, 1,
       {"Why: Windows error 126",
        "chainhelper.dll needs mgrleaf.dll, which is not in " + chain +
            ", the system folders, the current directory or PATH",
        "Result: the session did not begin."},
       {"OdbcDrm.dll needs mgrleaf.dll"}},
      {"a 64-bit DLL", testlib::BinPath("mgr\\x64\\"), KVDRM_E_NO_MANAGER, 1,
       {"Why: Windows error 193", "is not a 32-bit Windows DLL: it is a 64-bit build", "Result: the session did not begin."}},
      {"an end-session that fails", testlib::ManagerDir("endfails"), KVDRM_OK, 1,
       {"returned 0 (", "The manager acknowledged the session", "DrmEndSession returned -7 (",
        "Result: the session did not end cleanly."},
       {"Result: the session began and ended."}, -7},
      {"a system data source", testlib::ManagerDir("ok"), KVDRM_OK, 0,
       {"The manager loaded: ", "ok\\OdbcDrm.dll", "Result: the session began and ended."}, {}, KVDRM_OK, true},
  };
  char cwd[MAX_PATH] = "";
  GetCurrentDirectoryA(sizeof cwd, cwd);
  for (const Row &r : rows) {
    SCOPED_TRACE(r.label);
    Source s(r.dir + "MAIN.CTX", 0, r.system ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER);
    std::string dll = testlib::BinPath("KVDRM.dll"), copyDir;
    if (r.system) {
      copyDir = testlib::BinPath(testlib::UniqueName("setup"));
      ASSERT_TRUE(CreateDirectoryA(copyDir.c_str(), nullptr));
      dll = copyDir + "\\KVDRM.dll";
      ASSERT_TRUE(CopyFileA(testlib::BinPath("KVDRM.dll").c_str(), dll.c_str(), FALSE));
      s.driverKey.SetString("Setup", dll);
    }
    // Neither the manager's folder nor on PATH.
    ASSERT_TRUE(SetCurrentDirectoryA(testlib::BinPath("").c_str()));
    KvdrmSession h = 0;
    EXPECT_EQ(r.begins, DrmBeginSession(&h, 0, 0, s.name.c_str()));
    EXPECT_EQ(r.dir == with, GetModuleHandleA("mgrhelper.dll") != nullptr);
    EXPECT_EQ(r.ends, DrmEndSession(h));
    EXPECT_EQ(nullptr, GetModuleHandleA("mgrhelper.dll"));
    EXPECT_EQ(nullptr, GetModuleHandleA("OdbcDrm.dll"));
    SetCurrentDirectoryA(cwd);
    std::vector<std::string> says = r.says;
    says.push_back("KVDRM.dll: " + Quoted(dll) + " (the Setup file of the driver " + Quoted(s.driver) + ")");
    ExpectCheck("--session " + Quoted(s.name), r.status, says, r.saysNot);
    if (r.system) {
      EXPECT_TRUE(DeleteFileA(dll.c_str()));
      EXPECT_TRUE(RemoveDirectoryA(copyDir.c_str()));
    }
  }
}

// Managers that crash, never return, or are no manager at all but a file
// whose import table is built to exhaust a reader: kvdrm-check reports each
// within its time limit, exit status 1, with a Result line that says what
// happened, and leaves no process behind.
TEST(KitCheck, SurvivesManagersThatMisbehave) {
  struct Row {
    const char *label;
    const char *manager;   // bin\mgr\<manager>
    std::string options;   // after the data source's name; "" for the check without a session
    DWORD seconds;         // the time limit
    std::vector<std::string> says;
  };
  const std::string crashbegin = testlib::ManagerDir("crashbegin"), crashend = testlib::ManagerDir("crashend");
  const std::string large = "OdbcDrm.dll: import table too large to read (over 4096 DLLs or 64 KB of DLL names)";
  const Row rows[] = {
      {"crash in begin-session", "crashbegin", "--session", 20,
       {"DrmBeginSession crashed: exception 0xC0000005 (access violation) at 0x",
        "in " + Quoted(crashbegin + "OdbcDrm.dll"),
        "Result: no session: DrmBeginSession crashed with exception 0xC0000005 (access violation) in OdbcDrm.dll."}},
      {"hang in begin-session", "hangbegin", "--session --timeout 3", 3,
       {"DrmBeginSession did not return within 3 s: kvdrm-check ended the session process.",
        "Result: no session: DrmBeginSession did not return within 3 s."}},
      {"crash in end-session", "crashend", "--timeout 20 --session", 20,
       {"returned 0 (", "The manager acknowledged the session",
        "DrmEndSession crashed: exception 0xC0000005 (access violation) at 0x", "in " + Quoted(crashend + "OdbcDrm.dll"),
        "Result: the session did not end cleanly: DrmEndSession crashed with exception 0xC0000005 (access violation) "
        "in OdbcDrm.dll."}},
      {"15,000 import descriptors, in a session", "imports15000", "--session", 20,
       {"Why: Windows error 126", large, "Result: the session did not begin."}},
      {"15,000 import descriptors, checked", "imports15000", "", 20,
       {"It does not load: Windows error 126", large, "Result: no session can begin"}},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.label);
    Source s(testlib::ManagerDir(r.manager) + "MAIN.CTX");
    std::string args = Quoted(s.name);
    if (!r.options.empty()) {
      // --session first or last: either order is taken.
      const size_t cut = r.options.find("--session");
      args = r.options.substr(0, cut) + "--session " + args + r.options.substr(cut + 9);
    }
    const CheckRun run = RunCheck(args);
    EXPECT_EQ(1u, run.status) << run.out;
    for (const std::string &text : r.says) EXPECT_THAT(run.out, HasSubstr(text));
    EXPECT_THAT(run.out, Not(HasSubstr("Unhandled")));
    // Results come once, last.
    const size_t result = run.out.find("\nResult: ");
    EXPECT_NE(std::string::npos, result) << run.out;
    EXPECT_EQ(result, run.out.rfind("\nResult: ")) << run.out;
    EXPECT_LT(run.ms, r.seconds * 1000ull + (r.seconds < 20 ? 10000 : 0)) << run.out;
    if (r.seconds < 20) {
      EXPECT_GE(run.ms, r.seconds * 1000ull);
    }
  }

  // kvdrm-check ended from outside while a begin-session hangs: its
  // session process goes with it.
  Source s(testlib::ManagerDir("hangbegin") + "MAIN.CTX");
  std::wstring cmd = Wide("\"" + testlib::BinPath("kvdrm-check.exe") + "\" --session " + Quoted(s.name) +
                          " --timeout 120");
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION tool = {};
  ASSERT_TRUE(CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si,
                             &tool));
  // The session process is the one that made the hang's event.
  HANDLE session = nullptr;
  for (int tries = 0; !session && tries < 300; ++tries) {
    Sleep(100);
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 p = {};
    p.dwSize = sizeof p;
    for (BOOL more = Process32First(snapshot, &p); more && !session; more = Process32Next(snapshot, &p)) {
      if (p.th32ParentProcessID != tool.dwProcessId) continue;
      HANDLE hanging = OpenEventA(SYNCHRONIZE, FALSE, ("KvdrmTestHang-" + std::to_string(p.th32ProcessID)).c_str());
      if (!hanging) continue;
      CloseHandle(hanging);
      session = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, p.th32ProcessID);
    }
    CloseHandle(snapshot);
  }
  ASSERT_NE(nullptr, session) << "no session process hanging in begin-session";
  TerminateProcess(tool.hProcess, 1);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(session, 10000)) << "the session process outlived kvdrm-check";
  TerminateProcess(session, 1);
  CloseHandle(session);
  CloseHandle(tool.hThread);
  CloseHandle(tool.hProcess);
}

// Which root it reads, as DrmBeginSession does (HKCU's key wins even
// without a CTX value; HKLM only when HKCU has none), and the data source or
// driver that is not there.
TEST(KitCheck, FollowsTheSessionsChoiceOfRootAndTellsWhatIsMissing) {
  ExpectCheck(Quoted(testlib::UniqueName("absent")), 1,
              {"HKCU, 32-bit view: absent", "HKLM, 64-bit view: absent", "finds no key"});

  const std::string name = testlib::UniqueName("roots");
  testlib::ScopedKey machine(HKEY_LOCAL_MACHINE, testlib::DataSourcePath(name));
  machine.SetString("CTX", testlib::ManagerDir("ok") + "MAIN.CTX");
  // Setup could not store it again, but a session still begins.
  machine.SetString("Driver", "KvdrmTest no such driver");
  ExpectCheck(Quoted(name), 0,
              {"HKLM, 32-bit view: present", "HKCU, 32-bit view: absent", "reads the key under HKLM",
               "KvdrmTest no such driver, 32-bit view: not registered",
               "KvdrmTest no such driver, 64-bit view: not registered"});
  testlib::ScopedKey user(HKEY_CURRENT_USER, testlib::DataSourcePath(name));
  ExpectCheck(Quoted(name), 1, {"reads the key under HKCU", "A session loads \"OdbcDrm.dll\""});
}

TEST(KitCheck, RefusesA64BitManagerInWords) {
  Source s(testlib::BinPath("mgr\\x64\\MAIN.CTX"));
  ExpectCheck(Quoted(s.name), 1,
              {"It does not load: Windows error 193", "not a 32-bit DLL", "is not a 32-bit Windows DLL: it is a 64-bit build"});
}

TEST(KitCheck, ListsTheDataSourcesOfTheDriver) {
  Source a(testlib::ManagerDir("ok") + "A.CTX");
  const std::string second = testlib::UniqueName("second"), stranger = testlib::UniqueName("stranger");
  testlib::ScopedKey b(HKEY_LOCAL_MACHINE, testlib::DataSourcePath(second));
  b.SetString("CTX", "C:\\B\\B.CTX");
  b.SetString("Driver", a.driver);
  testlib::ScopedKey c(HKEY_CURRENT_USER, testlib::DataSourcePath(stranger));
  c.SetString("Driver", "KvdrmTest another driver");

  ExpectCheck("--list --driver " + Quoted(a.driver), 0,
              {"HKCU, 32-bit view: " + Quoted(a.name), "HKLM, 32-bit view: " + Quoted(second), "CTX \"C:\\B\\B.CTX\""},
              {stranger});
  // Without --driver: every driver whose Setup or Driver file is KVDRM.dll.
  ExpectCheck("--list", 0, {Quoted(a.driver), a.name}, {stranger});
  ExpectCheck("--list --driver \"KvdrmTest nobody's driver\"", 1, {"none"});
}

TEST(KitCheck, ReportsTheFileDataSource) {
  // The installer's directory of file data sources, as setup reads it.
  const char fileDsnPath[] = "Software\\ODBC\\ODBC.INI\\ODBC File DSN";
  if (testlib::KeyExists(HKEY_CURRENT_USER, fileDsnPath))
    GTEST_SKIP() << "HKCU\\" << fileDsnPath << " exists already; it is not this test's to change";
  const std::string dir = testlib::BinPath(testlib::UniqueName("dsn"));
  ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
  testlib::ScopedKey fileDsn(HKEY_CURRENT_USER, fileDsnPath);
  fileDsn.SetString("DefaultDSNDir", dir);
  Source s(testlib::ManagerDir("ok") + "MAIN.CTX");
  const std::string file = dir + "\\" + s.name + ".DSN";

  ExpectCheck(Quoted(s.name), kAnyStatus, {Quoted(file) + " does not exist"});
  FILE *f = fopen(file.c_str(), "wb");
  ASSERT_NE(nullptr, f);
  fputs("[ODBC]\r\nDSN=x\r\n", f);
  fclose(f);
  ExpectCheck(Quoted(s.name), 0, {Quoted(file) + " exists"});
  DeleteFileA(file.c_str());
  RemoveDirectoryA(dir.c_str());
}

// A registry key of any name, made and removed with the wide calls.
struct WideKey {
  HKEY root;
  std::wstring path;
  HKEY key = nullptr;
  WideKey(HKEY r, const std::string &utf8Path) : root(r), path(Wide(utf8Path)) {
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
  }
  ~WideKey() {
    RegCloseKey(key);
    RegDeleteTreeW(root, path.c_str());
  }
};

void SetWide(HKEY key, const wchar_t *name, const std::string &utf8) {
  const std::wstring text = Wide(utf8);
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))));
}

// Names, values and paths in scripts that no ANSI code page holds all of
// (Cyrillic, Greek, Hebrew, Han): shown exactly, as UTF-8 into a pipe and
// through the console's wide output onto a console. A session names its
// data source in the ANSI code page, so a name it cannot hold is one no
// session can use, and kvdrm-check says so.
TEST(KitCheck, ShowsNamesValuesAndPathsInAnyScript) {
  const std::string ok = testlib::ManagerDir("ok");
  const std::string description = "Отчёт за год α € 日本", dbq = "C:\\Users\\Иван\\Данные";
  Source s(ok + "MAIN.CTX");
  SetWide(s.key.get(), L"Description", description);
  SetWide(s.key.get(), L"DBQ", dbq);
  ExpectCheck(Quoted(s.name), 0, {"Description  " + Quoted(description), "DBQ          " + Quoted(dbq)});

  const std::string name = testlib::UniqueName("Фильм-ספר");
  WideKey other(HKEY_CURRENT_USER, testlib::DataSourcePath(name));
  SetWide(other.key, L"CTX", ok + "MAIN.CTX");
  SetWide(other.key, L"Driver", s.driver);
  ExpectCheck("--list --driver " + Quoted(s.driver), 0, {"HKCU, 32-bit view: " + Quoted(name), Quoted(s.name)});
  ExpectCheck(Quoted(name), 1,
              {"kvdrm-check: data source " + Quoted(name), "HKCU, 32-bit view: present", "cannot hold this name",
               "Result: no session can begin: the data source's name is not in the ANSI code page"});
  ExpectCheck("--session " + Quoted(name), 1, {"cannot hold this name", "Result: the session did not begin."});

  // A console without a window, held by a program waiting on it.
  STARTUPINFOW hs = {};
  hs.cb = sizeof hs;
  PROCESS_INFORMATION holder = {};
  wchar_t hold[] = L"cmd.exe /k";
  ASSERT_TRUE(CreateProcessW(nullptr, hold, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &hs, &holder));
  FreeConsole();
  bool attached = false;
  for (int tries = 0; tries < 200 && !(attached = AttachConsole(holder.dwProcessId)); ++tries) Sleep(50);
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  HANDLE screen = attached ? CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                       &sa, CONSOLE_TEXTMODE_BUFFER, nullptr)
                           : INVALID_HANDLE_VALUE;
  CONSOLE_SCREEN_BUFFER_INFO info = {};
  std::wstring shown;
  DWORD got = 0;
  if (screen != INVALID_HANDLE_VALUE && GetConsoleScreenBufferInfo(screen, &info)) {
    EXPECT_EQ(0u, RunCheck(Quoted(s.name), screen).status);
    // Row after row; a long line goes on in the next row.
    shown.assign(static_cast<size_t>(info.dwSize.X) * info.dwSize.Y, L' ');
    ReadConsoleOutputCharacterW(screen, &shown[0], static_cast<DWORD>(shown.size()), COORD{0, 0}, &got);
  }
  if (screen != INVALID_HANDLE_VALUE) CloseHandle(screen);
  FreeConsole();
  TerminateProcess(holder.hProcess, 0);
  CloseHandle(holder.hThread);
  CloseHandle(holder.hProcess);
  ASSERT_TRUE(attached) << "no console";
  ASSERT_EQ(shown.size(), got);
  ASSERT_GT(got, 0u);
  const std::string onConsole = "Отчёт за год α €";
  EXPECT_NE(std::wstring::npos, shown.find(Wide("Description  \"" + onConsole))) << "no wide Description";
  EXPECT_NE(std::wstring::npos, shown.find(Wide("DBQ          " + Quoted(dbq)))) << "no wide DBQ";
  EXPECT_NE(std::wstring::npos, shown.find(L"Result: a session could begin"));
}

TEST(KitCheck, RefusesAWrongCommandLine) {
  for (const char *args :
       {"", "--frobnicate", "--list --driver", "--session", "--session a b", "--timeout 5 a", "--timeout 5",
        "--session a --timeout", "--session a --timeout 0", "--session a --timeout 86401", "--session a --timeout 2x",
        "--session a --timeout 5 --timeout 6", "--session a --session b"})
    ExpectCheck(args, 2);
}

}  // namespace
