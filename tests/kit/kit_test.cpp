// The kit around KVDRM.dll: its version resource, the sample manager's
// contract and trace, and kvdrm-check's verdicts on healthy and broken data
// sources (run as the real program, as support staff run it).
#include <windows.h>

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

// Runs bin\kvdrm-check.exe with the given command line tail and checks its
// exit status (kAnyStatus: not checked) and that its output says each of
// `says` and none of `saysNot`. Returns the output.
constexpr DWORD kAnyStatus = 0xFFFFFFFFu;
std::string ExpectCheck(const std::string &args, DWORD status, const std::vector<std::string> &says = {},
                        const std::vector<std::string> &saysNot = {}) {
  std::string out;
  DWORD got = 99;
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  HANDLE readEnd, writeEnd;
  if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return out;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = si.hStdError = writeEnd;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi = {};
  std::string cmd = "\"" + testlib::BinPath("kvdrm-check.exe") + "\" " + args;
  BOOL started = CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  CloseHandle(writeEnd);
  if (started) {
    char buf[4096];
    DWORD n;
    while (ReadFile(readEnd, buf, sizeof buf, &n, nullptr) && n) out.append(buf, n);
    WaitForSingleObject(pi.hProcess, INFINITE);
    GetExitCodeProcess(pi.hProcess, &got);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  CloseHandle(readEnd);
  EXPECT_TRUE(started) << cmd;
  if (status != kAnyStatus) {
    EXPECT_EQ(status, got) << out;
  }
  for (const std::string &text : says) EXPECT_THAT(out, HasSubstr(text));
  for (const std::string &text : saysNot) EXPECT_THAT(out, Not(HasSubstr(text)));
  return out;
}

std::string Quoted(const std::string &s) { return "\"" + s + "\""; }

std::string Padded(std::string s, size_t length) {
  if (s.size() < length) s.resize(length, 'x');
  return s;
}

// A data source of a registered driver: the driver key under HKLM (this
// process's view, the 32-bit one) and the data source under HKCU.
// Its name is padded to `nameLength` characters when that is longer.
struct Source {
  std::string name;
  std::string driver = testlib::UniqueName("driver");
  testlib::ScopedKey driverKey{HKEY_LOCAL_MACHINE, kDriversPath + driver};
  testlib::ScopedKey key{HKEY_CURRENT_USER, testlib::DataSourcePath(name)};
  explicit Source(const std::string &ctx, size_t nameLength = 0) : name(Padded(testlib::UniqueName("check"), nameLength)) {
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
// kvdrm-check --session says why in words.
TEST(KitCheck, SessionsFindTheManagersOwnDllsOrSayWhyNot) {
  const std::string with = testlib::ManagerDir("withhelper"), gone = testlib::ManagerDir("helpergone");
  struct Row {
    const char *label;
    std::string dir;  // the manager's folder
    int32_t begins;   // DrmBeginSession's status in this process
    DWORD status;     // kvdrm-check --session's exit status
    std::vector<std::string> says;
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
      {"a 64-bit DLL", testlib::BinPath("mgr\\x64\\"), KVDRM_E_NO_MANAGER, 1,
       {"Why: Windows error 193", "is not a 32-bit Windows DLL: it is a 64-bit build", "Result: the session did not begin."}},
  };
  char cwd[MAX_PATH] = "";
  GetCurrentDirectoryA(sizeof cwd, cwd);
  for (const Row &r : rows) {
    SCOPED_TRACE(r.label);
    Source s(r.dir + "MAIN.CTX");
    // Neither the manager's folder nor on PATH.
    ASSERT_TRUE(SetCurrentDirectoryA(testlib::BinPath("").c_str()));
    KvdrmSession h = 0;
    EXPECT_EQ(r.begins, DrmBeginSession(&h, 0, 0, s.name.c_str()));
    EXPECT_EQ(r.begins == KVDRM_OK, GetModuleHandleA("mgrhelper.dll") != nullptr);
    EXPECT_EQ(KVDRM_OK, DrmEndSession(h));
    EXPECT_EQ(nullptr, GetModuleHandleA("mgrhelper.dll"));
    EXPECT_EQ(nullptr, GetModuleHandleA("OdbcDrm.dll"));
    SetCurrentDirectoryA(cwd);
    std::vector<std::string> says = r.says;
    says.push_back("KVDRM.dll: " + Quoted(testlib::BinPath("KVDRM.dll")));
    ExpectCheck("--session " + Quoted(s.name), r.status, says);
  }
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

TEST(KitCheck, RefusesAWrongCommandLine) {
  for (const char *args : {"", "--frobnicate", "--list --driver", "--session", "--session a b"}) ExpectCheck(args, 2);
}

}  // namespace
