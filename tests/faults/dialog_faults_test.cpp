// The setup dialog's OK against the installer double (real dialog under
// Xvfb): which installer calls it makes, in which order, and what it does
// when they refuse or fail. A refused OK answers with its message and
// leaves the dialog open; a Cancel then keeps the old data source whole,
// and an OK that goes through afterwards stores. No other data source
// changes.
#include <windows.h>

#include <odbcinst.h>
#include <sddl.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/common/testlib.h"
#include "tests/common/dialog_driver.h"
#include "tests/common/imports.h"
#include "tests/common/snapshot.h"
#include "tests/odbcdouble/odbc_double.h"
#include "tests/common/attribute_list_text.h"

using namespace dlgtest;
using testlib::UniqueName;
using testlib::AttributeList;

namespace {

class DialogFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    NEED_DISPLAY();
    state = odbcdouble::Attach();
    ASSERT_NE(nullptr, state) << "the installer double was not loaded";
    odbcdouble::Reset(state);
  }
  // The arguments of each recorded call to `function`, in order.
  std::vector<std::string> Calls(const char *function) const {
    std::vector<std::string> args;
    for (int i = odbcdouble::FindCall(state, function); i >= 0; i = odbcdouble::FindCall(state, function, i + 1))
      args.push_back(state->calls[i].args);
    return args;
  }
  // The double's profile answers for the data source as the real
  // installer would from its key.
  void Profile(const std::string &name) {
    odbcdouble::SetProfile(state, name.c_str(), "Description", "Stored description");
    odbcdouble::SetProfile(state, name.c_str(), "DBQ", "C:\\STORED");
    odbcdouble::SetProfile(state, name.c_str(), "CTX", "C:\\STORED\\STORED.CTX");
  }
  odbcdouble::State *state = nullptr;
};

std::string SourceList(const std::string &name) {
  return AttributeList({"DSN=" + name, "Description=d", "DBQ=C:\\D", "CTX=C:\\D\\M.CTX"});
}

// ---- Every change a request makes, made to fail in turn ----
// KVDRM.dll's own imports of the calls that change the registry or a file
// are pointed at stand-ins that count the changes and fail the chosen one;
// the installer's calls, bound by name at run time, through its import of
// GetProcAddress. SQLWriteFileDSN is a working stand-in here (the double's
// only records), so the file's side is seen.
struct Sweep {
  int calls = 0, failAt = 0;  // 0: nothing fails
  std::string failed;         // the call that was made to fail
  std::string dir;            // where SQLWriteFileDSN puts its files
  FARPROC writeDsnToIni = nullptr;
  bool Fail(const char *function) {
    if (++calls != failAt) return false;
    failed = function;
    SetLastError(ERROR_ACCESS_DENIED);
    return true;
  }
} g_sweep;

LONG WINAPI SweepRegCreateKeyExW(HKEY key, LPCWSTR sub, DWORD reserved, LPWSTR cls, DWORD options, REGSAM sam,
                                 const SECURITY_ATTRIBUTES *sa, PHKEY out, LPDWORD disposition) {
  if (g_sweep.Fail("RegCreateKeyExW")) return ERROR_ACCESS_DENIED;
  return RegCreateKeyExW(key, sub, reserved, cls, options, sam, const_cast<SECURITY_ATTRIBUTES *>(sa), out,
                         disposition);
}
LONG WINAPI SweepRegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE *data, DWORD size) {
  return g_sweep.Fail("RegSetValueExW") ? ERROR_ACCESS_DENIED : RegSetValueExW(key, name, reserved, type, data, size);
}
LONG WINAPI SweepRegDeleteKeyW(HKEY key, LPCWSTR sub) {
  return g_sweep.Fail("RegDeleteKeyW") ? ERROR_ACCESS_DENIED : RegDeleteKeyW(key, sub);
}
LONG WINAPI SweepRegDeleteValueW(HKEY key, LPCWSTR name) {
  return g_sweep.Fail("RegDeleteValueW") ? ERROR_ACCESS_DENIED : RegDeleteValueW(key, name);
}
BOOL WINAPI SweepDeleteFileW(LPCWSTR path) { return g_sweep.Fail("DeleteFileW") ? FALSE : DeleteFileW(path); }
BOOL WINAPI SweepWriteFileDSN(LPCSTR file, LPCSTR section, LPCSTR key, LPCSTR text) {
  if (g_sweep.Fail("SQLWriteFileDSN")) return FALSE;
  std::string body = std::string("[") + section + "]\r\n" + key + "=" + text + "\r\n";
  HANDLE h = CreateFileA((g_sweep.dir + "\\" + file + ".DSN").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return FALSE;
  DWORD written = 0;
  BOOL ok = WriteFile(h, body.data(), static_cast<DWORD>(body.size()), &written, nullptr);
  CloseHandle(h);
  return ok;
}
BOOL WINAPI SweepWriteFileDSNW(LPCWSTR file, LPCWSTR section, LPCWSTR key, LPCWSTR text) {
  return SweepWriteFileDSN(testlib::Utf8(reinterpret_cast<const char16_t *>(file)).c_str(),
                           testlib::Utf8(reinterpret_cast<const char16_t *>(section)).c_str(),
                           testlib::Utf8(reinterpret_cast<const char16_t *>(key)).c_str(),
                           testlib::Utf8(reinterpret_cast<const char16_t *>(text)).c_str());
}
// Fails after it has done its work, as an installer may that replaced the
// key and then could not list the name: what it changed must be put back.
BOOL WINAPI SweepWriteDSNToIniW(LPCWSTR name, LPCWSTR driver) {
  BOOL done = reinterpret_cast<BOOL(WINAPI *)(LPCWSTR, LPCWSTR)>(reinterpret_cast<void *>(g_sweep.writeDsnToIni))(
      name, driver);
  return g_sweep.Fail("SQLWriteDSNToIni") ? FALSE : done;
}
FARPROC WINAPI SweepGetProcAddress(HMODULE module, LPCSTR name) {
  FARPROC real = GetProcAddress(module, name);
  if (!HIWORD(name)) return real;
  if (!strcmp(name, "SQLWriteFileDSNW"))
    return reinterpret_cast<FARPROC>(reinterpret_cast<void *>(SweepWriteFileDSNW));
  if (!strcmp(name, "SQLWriteDSNToIniW")) {
    g_sweep.writeDsnToIni = real;
    return reinterpret_cast<FARPROC>(reinterpret_cast<void *>(SweepWriteDSNToIniW));
  }
  return real;
}

struct OtherValue {
  std::u16string name;
  DWORD type;
  std::string data;
};
std::string Bytes(const std::u16string &text) {
  return std::string(reinterpret_cast<const char *>(text.data()), text.size() * 2);
}
std::string Blob() {
  std::string b(3000, '\0');
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<char>(i * 7 + 1);
  return b;
}
const OtherValue kOtherValues[] = {
    {u"Flags", REG_DWORD, std::string("\x78\x56\x34\x12", 4)},
    {u"Blob", REG_BINARY, Blob()},
    {u"List", REG_MULTI_SZ, Bytes(std::u16string(u"one\0\u0434\u0432\u0430\0\0", 9))},
    {std::u16string(300, u'N'), REG_SZ, Bytes(std::u16string(u"long name", 10))},
    {u"\u041e\u0442\u0447\u0451\u0442", REG_SZ, Bytes(std::u16string(u"\u0424\u0438\u043b\u044c\u043c \u20ac", 8))},
};
// Everyone may do anything, the system too, users read; nothing inherited.
LONG SetProtectedAccess(HKEY key) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;KA;;;WD)(A;;KA;;;SY)(A;;KR;;;BU)", SDDL_REVISION_1,
                                                            &sd, nullptr))
    return static_cast<LONG>(GetLastError());
  LONG rc = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd);
  LocalFree(sd);
  return rc;
}

snap::Picture RegistryOnly(snap::Picture p) {
  for (auto i = p.begin(); i != p.end();) i = i->first.rfind("file:", 0) == 0 ? p.erase(i) : std::next(i);
  return p;
}

// Add, configure and remove of a user and a system data source without a
// window, and a rename through the dialog: each run once to count its
// changes, then once per change with that change failing. A request that
// returns FALSE leaves everything as it was; one that returns TRUE has made
// every registry change (only a file's change may fail, best effort).
TEST_F(DialogFaults, EveryChangeFailingLeavesAllOrNothing) {
  const std::string a = UniqueName("swA"), b = UniqueName("swB");
  DataSource cleanA(a, false), cleanB(b, false);
  testlib::ScopedKey driver64(HKEY_LOCAL_MACHINE, "Software\\ODBC\\ODBCINST.INI\\" + Driver(), KEY_WOW64_64KEY);
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  g_sweep.dir = std::string(temp) + UniqueName("dsn");
  CreateDirectoryA(g_sweep.dir.c_str(), nullptr);
  HMODULE kvdrm = testlib::Kvdrm();
  const struct {
    const char *dll, *function;
    void *stand;
  } kStands[] = {{"advapi32.dll", "RegCreateKeyExW", reinterpret_cast<void *>(SweepRegCreateKeyExW)},
                 {"advapi32.dll", "RegSetValueExW", reinterpret_cast<void *>(SweepRegSetValueExW)},
                 {"advapi32.dll", "RegDeleteKeyW", reinterpret_cast<void *>(SweepRegDeleteKeyW)},
                 {"advapi32.dll", "RegDeleteValueW", reinterpret_cast<void *>(SweepRegDeleteValueW)},
                 {"kernel32.dll", "DeleteFileW", reinterpret_cast<void *>(SweepDeleteFileW)},
                 {"kernel32.dll", "GetProcAddress", reinterpret_cast<void *>(SweepGetProcAddress)}};
  std::vector<std::unique_ptr<testlib::ImportPatch>> patches;
  for (const auto &s : kStands) {
    patches.emplace_back(new testlib::ImportPatch(kvdrm, s.dll, s.function, s.stand));
    ASSERT_TRUE(patches.back()->ok()) << s.function;
  }
  const struct {
    const char *what;
    WORD request;
    uint16_t mode;
    bool dialog;  // a configure renamed from A to B in the dialog
  } rows[] = {{"add, user", kAdd, 1, false},           {"configure, user", kConfigure, 1, false},
              {"remove, user", 3, 1, false},           {"add, system", kAdd, 2, false},
              {"configure, system", kConfigure, 2, false}, {"remove, system", 3, 2, false},
              {"rename, user", kConfigure, 1, true},   {"rename, system", kConfigure, 2, true}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.what);
    // A stored (in the mode's root, both views for a system data source,
    // listed, with its file) unless the request adds B.
    auto prepare = [&] {
      for (const std::string &n : {a, b}) {
        testlib::DeleteDataSourceEverywhere(n);
        DeleteFileA((g_sweep.dir + "\\" + n + ".DSN").c_str());
      }
      odbcdouble::Reset(state);
      state->configMode = row.mode;
      odbcdouble::SetDefaultDsnDir(state, g_sweep.dir.c_str());
      if (row.request == kAdd) return;
      HKEY root = row.mode == 2 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
      for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY)}) {
        kvdrm::RegKey k;
        // A class of its own too, which a key made again must get back.
        const std::u16string path = testlib::U16(testlib::DataSourcePath(a));
        WCHAR keyClass[] = L"KvdrmTestClass";
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, reinterpret_cast<const WCHAR *>(path.c_str()), 0, keyClass, 0,
                                                 KEY_ALL_ACCESS | view, nullptr, k.out(), nullptr));
        // Each view holds its own values: a put-back restores each from
        // what that view held. No "Description": a configure makes that
        // value, and a put-back must delete it again.
        for (const char *v : {"DBQ", "CTX", "Driver"})
          testlib::SetString(k.get(), v, view ? "old in the 64-bit view" : "old");
        // What an administrator's key may hold besides: values of other
        // types, a long value name, text outside the ANSI code page, and
        // a protected access list. A put-back keeps every bit of it.
        for (const auto &v : kOtherValues)
          ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(k.get(), reinterpret_cast<const WCHAR *>(v.name.c_str()), 0, v.type,
                                                  reinterpret_cast<const BYTE *>(v.data.data()),
                                                  static_cast<DWORD>(v.data.size())));
        ASSERT_EQ(ERROR_SUCCESS, SetProtectedAccess(k.get()));
        kvdrm::RegKey list;
        ASSERT_EQ(ERROR_SUCCESS, testlib::CreateKey(root, "Software\\ODBC\\ODBC.INI\\ODBC Data Sources", list, view));
        testlib::SetString(list.get(), a.c_str(), view ? "listed in the 64-bit view" : "listed");
      }
      SweepWriteFileDSN(a.c_str(), "ODBC", "DSN", a.c_str());
    };
    // A handle on A's key taken before a configure, as a session in
    // another process may hold one: a put-back that deleted the key and made
    // it again would leave that handle on a deleted key.
    kvdrm::RegKey held;
    auto run = [&](int failAt) {
      prepare();
      held.Close();
      if (row.request == kConfigure && !row.dialog)
        testlib::OpenKey(row.mode == 2 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, testlib::DataSourcePath(a),
                         KEY_QUERY_VALUE, held);
      g_sweep.calls = 0;
      g_sweep.failAt = failAt;
      g_sweep.failed.clear();
      const std::string list =
          row.request == 3 ? AttributeList({"DSN=" + a}) : SourceList(row.request == kAdd ? b : a);
      if (!row.dialog) return testlib::KvdrmConfigDSN()(nullptr, row.request, Driver().c_str(), list.c_str());
      return RunDialog(row.request, list, [&](Ui &ui) {
        ui.OkWithName(b);
        // A name the installer would not register: the dialog says so and
        // stays open; the user gives up.
        if (g_sweep.failed == "SQLWriteDSNToIni") {
          AnswerMessageBox(ui);
          ui.Click(IDCANCEL);
        }
      });
    };
    prepare();
    const snap::Picture before = snap::Take({g_sweep.dir});
    ASSERT_EQ(kTrue, run(0));
    const snap::Picture after = snap::Take({g_sweep.dir});
    const int changes = g_sweep.calls;
    ASSERT_FALSE(snap::Differences(before, after, {}).empty()) << "the request changed nothing";
    if (row.request == kConfigure && !row.dialog) {
      // Without a failure only the values asked for change: the list named
      // Description, DBQ and CTX, and the driver is written.
      EXPECT_EQ(snap::Differences(before, after, {a}), std::vector<std::string>()) << "beyond A";
      auto ofA = [&](const std::string &entry) { return entry.find("ODBC.INI\\" + a) != std::string::npos; };
      auto asked = [&](const std::string &entry) {
        for (const char *v : {"|Description", "|DBQ", "|CTX", "|Driver"}) {
          const std::string tail = "ODBC.INI\\" + a + v;
          if (entry.size() >= tail.size() && entry.compare(entry.size() - tail.size(), tail.size(), tail) == 0)
            return true;
        }
        return false;
      };
      for (const auto &e : after) {
        auto was = before.find(e.first);
        if (ofA(e.first) && (was == before.end() || was->second != e.second)) {
          EXPECT_TRUE(asked(e.first)) << "changed " << e.first;
        }
      }
      for (const auto &e : before) {
        if (ofA(e.first)) {
          EXPECT_TRUE(after.count(e.first)) << "removed " << e.first;
        }
      }
    }
    if (row.request == 3 || row.dialog) {
      // The old name goes from every view of its root, each pass finding it
      // in its own view's list.
      HKEY root = row.mode == 2 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
      for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY)}) {
        EXPECT_FALSE(testlib::KeyExists(root, testlib::DataSourcePath(a), view)) << view;
        EXPECT_FALSE(testlib::ReadValue(root, "Software\\ODBC\\ODBC.INI\\ODBC Data Sources", a.c_str(), view).present)
            << view;
      }
    }
    printf("[ sweep    ] %s: %d changes\n", row.what, changes);
    for (int k = 1; k <= changes; ++k) {
      BOOL result = run(k);
      const snap::Picture now = snap::Take({g_sweep.dir});
      SCOPED_TRACE("change " + std::to_string(k) + " failing: " + g_sweep.failed);
      ASSERT_FALSE(g_sweep.failed.empty()) << "the request made fewer changes than before";
      const bool file = g_sweep.failed == "SQLWriteFileDSN" || g_sweep.failed == "DeleteFileW";
      const bool gaveUp = g_sweep.failed == "SQLWriteDSNToIni";  // the dialog's Cancel
      if (held) {
        DWORD values = 0;
        EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(held.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                  &values, nullptr, nullptr, nullptr, nullptr))
            << "the key was deleted and made again";
      }
      if (file) {
        EXPECT_EQ(kTrue, result);
        EXPECT_EQ(snap::Differences(RegistryOnly(after), RegistryOnly(now), {}), std::vector<std::string>());
      } else {
        EXPECT_EQ(gaveUp ? kTrue : FALSE, result);
        EXPECT_EQ(snap::Differences(before, now, {}), std::vector<std::string>());
      }
    }
  }
  patches.clear();
  for (const std::string &n : {a, b}) DeleteFileA((g_sweep.dir + "\\" + n + ".DSN").c_str());
  RemoveDirectoryA(g_sweep.dir.c_str());
}

// A name typed before OK is checked in this order: a duplicate in the
// installer's profile first, then the names that would make the installer
// wipe its list ("ODBC Data Sources") or its settings, which storage could
// not store afterwards, with the list already gone; then the installer's
// SQLValidDSN. Only a name that passes all three reaches SQLWriteDSNToIni.
// A '/' is an ordinary character.
TEST_F(DialogFaults, TypedNamesAreCheckedInOrderBeforeRegistering) {
  const std::string duplicate = UniqueName("dup"), slashed = "a/b-" + UniqueName("slash"),
                    invalid = "[" + UniqueName("bad");
  DataSource initial(UniqueName("init"), false), cleanSlashed(slashed, false), cleanInvalid(invalid, false);
  // The message (null: accepted) and whether SQLValidDSN was asked.
  const struct {
    std::string name;
    const char *message;
    bool askedInstaller;
  } rows[] = {{duplicate, kDuplicateText, false},       {"ODBC Data Sources", kInvalidText, false},
              {"odbc DATA sources", kInvalidText, false}, {"ODBC File dsn", kInvalidText, false},
              {invalid, kInvalidText, true},             {slashed, nullptr, true}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    odbcdouble::Reset(state);
    odbcdouble::SetProfile(state, duplicate.c_str(), "CTX", "C:\\X.CTX");
    RunDialog(kAdd, SourceList(initial.name()), [&](Ui &ui) {
      odbcdouble::ClearLog(state);
      ui.OkWithName(row.name);
      if (!row.message) EXPECT_TRUE(ui.WaitClosed());
      else EXPECT_EQ(row.message, AnswerMessageBox(ui));
      EXPECT_EQ(row.message != nullptr, ui.Open());
    });
    std::vector<std::string> reads = Calls("SQLGetPrivateProfileString");
    EXPECT_EQ(row.name + "|<null>||256|odbc.ini", reads.empty() ? "<none>" : reads.front()) << "the entry list";
    EXPECT_EQ(row.askedInstaller ? std::vector<std::string>{row.name} : std::vector<std::string>{},
              Calls("SQLValidDSN"));
    EXPECT_EQ(row.message ? std::vector<std::string>{} : std::vector<std::string>{row.name + "|" + Driver()},
              Calls("SQLWriteDSNToIni"));
    // The list's own key exists whatever happens.
    if (row.askedInstaller) {
      EXPECT_EQ(!row.message, Stored(row.name));
    }
  }
}

// A rename that SQLValidDSN refuses or that SQLWriteDSNToIni fails to
// register: the message, the dialog stays open. A Cancel then keeps the old
// data source whole (also when the name was kept: what was there before
// registering is put back, never deleted); an OK once the installer takes
// the name renames it.
// A user request puts back only its own root: a system data source of the
// same name (both views, a protected access list, text outside the code
// page) is never rewritten.
// The dialog's loop dispatches every message of the caller's thread, so a
// second request can arrive meanwhile: it is refused, and the open request
// goes on with its own state.
TEST_F(DialogFaults, RenameThroughInstallerFailuresAndANestedRequest) {
  const struct {
    odbcdouble::Fn fails;
    bool retry;
    int writes;         // calls of SQLWriteDSNToIni
    bool keep = false;  // the name is kept, not changed to B's
    bool systemTwin = false;
  } rows[] = {{odbcdouble::kValidDSN, false, 0},        {odbcdouble::kWriteDSNToIni, false, 1},
              {odbcdouble::kWriteDSNToIni, true, 2},    {odbcdouble::kWriteDSNToIni, false, 1, true},
              {odbcdouble::kWriteDSNToIni, false, 1, true, true}};
  for (const auto &row : rows) {
    SCOPED_TRACE(std::string(row.fails == odbcdouble::kValidDSN ? "SQLValidDSN refuses" : "SQLWriteDSNToIni fails") +
                 (row.keep ? " on the kept name" : "") + (row.retry ? ", then OK" : ", then Cancel") +
                 (row.systemTwin ? ", a system data source of the name" : ""));
    DataSource a(UniqueName("a")), b(UniqueName("b"), false), bystander(UniqueName("by"));
    odbcdouble::Reset(state);
    Profile(a.name());
    if (row.systemTwin) {
      for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY)}) {
        kvdrm::RegKey k;
        ASSERT_EQ(ERROR_SUCCESS, testlib::CreateKey(HKEY_LOCAL_MACHINE, testlib::DataSourcePath(a.name()), k, view));
        for (const auto &v : kOtherValues)
          ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(k.get(), reinterpret_cast<const WCHAR *>(v.name.c_str()), 0, v.type,
                                                  reinterpret_cast<const BYTE *>(v.data.data()),
                                                  static_cast<DWORD>(v.data.size())));
        ASSERT_EQ(ERROR_SUCCESS, SetProtectedAccess(k.get()));
      }
    }
    snap::Picture before = snap::Take({});
    state->fail[row.fails] = true;
    BOOL nested = kTrue;
    const std::string nestedList = AttributeList({"DSN=" + bystander.name(), "Description=nested"});
    BOOL r = RunDialog(kConfigure, AttributeList({"DSN=" + a.name()}), [&](Ui &ui) {
      ui.OnUiThread([&] { nested = testlib::KvdrmConfigDSN()(nullptr, kConfigure, Driver().c_str(), nestedList.c_str()); });
      ASSERT_EQ(1, state->errorCount) << "the refusal is posted";
      EXPECT_EQ(11u, state->errors[0].code) << "ODBC_ERROR_REQUEST_FAILED";
      // From another thread (this one) while the dialog is open: refused too,
      // rather than left waiting for a user.
      EXPECT_EQ(FALSE, testlib::KvdrmConfigDSN()(nullptr, kConfigure, Driver().c_str(), nestedList.c_str()));
      ASSERT_EQ(2, state->errorCount);
      EXPECT_EQ(11u, state->errors[1].code);
      ui.OkWithName(row.keep ? a.name() : b.name());
      EXPECT_EQ(kInvalidText, AnswerMessageBox(ui));
      EXPECT_TRUE(ui.Open()) << "the dialog stays open after the message";
      state->fail[row.fails] = false;
      ui.Click(row.retry ? IDOK : IDCANCEL);
      EXPECT_TRUE(ui.WaitClosed());
    });
    EXPECT_EQ(kTrue, r);
    EXPECT_EQ(FALSE, nested);
    EXPECT_EQ(row.writes, odbcdouble::CountCalls(state, "SQLWriteDSNToIni"));
    EXPECT_TRUE(row.retry || odbcdouble::CountCalls(state, "SQLWriteFileDSN") == 0) << "nothing stored after Cancel";
    EXPECT_EQ(row.retry ? "<missing>" : "Stored description", StoredValue(a.name(), "Description"));
    EXPECT_EQ(row.retry ? "Stored description" : "<missing>", StoredValue(b.name(), "Description"));
    const std::vector<std::string> changed = row.retry ? std::vector<std::string>{a.name(), b.name()}
                                                       : std::vector<std::string>{};
    for (const std::string &d : snap::Differences(before, snap::Take({}), changed)) ADD_FAILURE() << d;
  }
}

// OK must not let the installer replace the key's values (it would, with a
// bare "Driver") when storage cannot write them again: a standard user's
// system data source (its key opens for reading only), or a configuration
// mode that cannot be read. The request fails and says why, and the data
// source stays as it was.
TEST_F(DialogFaults, ASystemDataSourceThatCannotBeWrittenKeepsItsValues) {
  const struct {
    bool readOnly;  // else the mode cannot be read
    const char *message;
  } rows[] = {{true, "access denied"}, {false, "configuration mode"}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.message);
    odbcdouble::Reset(state);
    DataSource a(UniqueName("sys"), false);
    testlib::ScopedKey key(HKEY_LOCAL_MACHINE, testlib::DataSourcePath(a.name()));
    key.SetString("Description", "Stored description");
    key.SetString("CTX", "C:\\STORED\\STORED.CTX");
    ASSERT_EQ(ERROR_SUCCESS, testlib::SetEveryoneAccess(key.get(), row.readOnly ? KEY_READ | WRITE_DAC : KEY_ALL_ACCESS));
    Profile(a.name());
    state->configMode = 2;
    state->fail[odbcdouble::kGetConfigMode] = !row.readOnly;
    BOOL r = RunDialog(kConfigure, AttributeList({"DSN=" + a.name()}), [&](Ui &ui) {
      ui.Click(IDOK);
      EXPECT_TRUE(ui.WaitClosed());
    });
    state->fail[odbcdouble::kGetConfigMode] = false;
    EXPECT_EQ(FALSE, r);
    ASSERT_EQ(1, state->errorCount);
    EXPECT_NE(nullptr, strstr(state->errors[0].message, row.message)) << state->errors[0].message;
    EXPECT_EQ(0, odbcdouble::CountCalls(state, "SQLWriteDSNToIni"));
    testlib::Value description =
        testlib::ReadValue(HKEY_LOCAL_MACHINE, testlib::DataSourcePath(a.name()), "Description");
    EXPECT_STREQ("Stored description", description.data.c_str());
    EXPECT_EQ(ERROR_SUCCESS, testlib::SetEveryoneAccess(key.get(), KEY_ALL_ACCESS));  // so that it can go
  }
}

// ---------------------------------------------------------------- libraries

// Which of the four libraries, and SHELL32 that COMDLG32 brings, the
// process has. Not its whole module list: Wine's SHELL32 delay-loads
// COMCTL32 at times and never returns that reference, whoever loaded it.
std::string Present() {
  std::string out;
  for (const char *name : {"odbccp32.dll", "user32.dll", "gdi32.dll", "comdlg32.dll", "shell32.dll"})
    if (GetModuleHandleA(name)) out += std::string(name) + " ";
  return out;
}

// A copy of KVDRM.dll's LoadLibraryW and FreeLibrary pointed at these:
// what it holds of the four libraries (loads less frees), a library that
// will not load, and an installer that lacks one entry (the double without
// SQLGetConfigMode, loaded in place of odbccp32.dll). RegSetValueExW
// pointed at SetValueNoting shows what a silent request holds while it
// writes.
const char *const kLibraries[] = {"odbccp32.dll", "user32.dll", "gdi32.dll", "comdlg32.dll"};
volatile LONG g_held[4], g_during[4];
const char *g_missing = nullptr;
HMODULE g_lacking = nullptr;  // while set, stands in for odbccp32.dll
decltype(&RegSetValueExW) g_setValue = nullptr;

// The library names KVDRM.dll asks for are ASCII.
HMODULE WINAPI LoadNoting(LPCWSTR wideName) {
  const std::string narrow = testlib::Utf8(reinterpret_cast<const char16_t *>(wideName));
  const char *name = narrow.c_str();
  if (g_missing && lstrcmpiA(name, g_missing) == 0) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  char path[MAX_PATH];
  if (g_lacking && lstrcmpiA(name, kLibraries[0]) == 0 && GetModuleFileNameA(g_lacking, path, MAX_PATH)) name = path;
  HMODULE m = LoadLibraryA(name);
  if (m && m == g_lacking) InterlockedIncrement(&g_held[0]);
  for (int i = 0; i < 4; ++i)
    if (m && lstrcmpiA(name, kLibraries[i]) == 0) InterlockedIncrement(&g_held[i]);
  return m;
}
BOOL WINAPI FreeNoting(HMODULE module) {
  if (module && module == g_lacking) InterlockedDecrement(&g_held[0]);
  for (int i = 0; i < 4; ++i)
    if (module == GetModuleHandleA(kLibraries[i])) InterlockedDecrement(&g_held[i]);
  return FreeLibrary(module);
}
void NoteDuring() {
  for (int i = 0; i < 4; ++i) g_during[i] = g_held[i];
}
LONG WINAPI SetValueNoting(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE *data, DWORD size) {
  NoteDuring();
  return g_setValue(key, name, reserved, type, data, size);
}

// A request holds the libraries it uses while it runs and none once it has
// returned: a silent add the installer's library only, a dialog USER32 and
// GDI32 too, COMDLG32 only once Browse is pressed. Unloading KVDRM.dll (a
// copy, which nothing else holds) leaves none of them, nor SHELL32, in the
// process unless it was there before; but COMDLG32 stays for good once a
// Browse has opened the Open dialog (the first such row: nothing had it
// before). A library that cannot be loaded, or the installer lacking one
// entry, fails only the request that needs it: FALSE with
// ODBC_ERROR_LOAD_LIB_FAILED, nothing stored, nothing called through the
// missing entry.
TEST_F(DialogFaults, ARequestHoldsTheLibrariesItUsesUntilItEnds) {
  char path[MAX_PATH], temp[MAX_PATH];
  std::string exe(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
  GetTempPathA(MAX_PATH, temp);
  const std::string copy = temp + UniqueName("lifetime") + ".dll";
  ASSERT_TRUE(CopyFileA((exe.substr(0, exe.find_last_of('\\') + 1) + "KVDRM.dll").c_str(), copy.c_str(), FALSE));
  const std::string lackingPath = exe.substr(0, exe.find_last_of('\\') + 1) + "odbccp32-lacking.dll";
  enum Act { kSilent, kCancel, kBrowse };
  const struct {
    Act act;
    const char *missing;  // "lacking": odbccp32.dll is the double without SQLGetConfigMode
    const char *held;     // initials of the libraries held during the request; null: none seen
    BOOL result;
    const char *stays = "";  // initials of the libraries left once KVDRM.dll is unloaded
  } rows[] = {{kSilent, nullptr, "O", kTrue},       {kCancel, nullptr, "OUG", kTrue},
              {kBrowse, nullptr, "OUGC", kTrue, "C"}, {kCancel, "comdlg32.dll", "OUG", kTrue},
              {kBrowse, "comdlg32.dll", "OUG", FALSE}, {kCancel, "user32.dll", nullptr, FALSE},
              {kCancel, "gdi32.dll", nullptr, FALSE}, {kSilent, "lacking", nullptr, FALSE}};
  for (const auto &row : rows) {
    SCOPED_TRACE(std::string(row.act == kSilent ? "silent add" : row.act == kCancel ? "Cancel" : "Browse") +
                 ", missing " + (row.missing ? row.missing : "nothing"));
    DataSource ds(UniqueName("lib"), false);
    odbcdouble::Reset(state);
    const bool lacking = row.missing && strcmp(row.missing, "lacking") == 0;
    odbcdouble::State *posted = state;  // where the request's error goes
    if (lacking) {
      g_lacking = LoadLibraryA(lackingPath.c_str());
      ASSERT_NE(nullptr, g_lacking) << lackingPath;
      ASSERT_EQ(nullptr, GetProcAddress(g_lacking, "SQLGetConfigMode")) << "the stand-in lacks nothing";
      auto stateOf = reinterpret_cast<odbcdouble::StateFn>(
          reinterpret_cast<void *>(GetProcAddress(g_lacking, "OdbcDoubleState")));
      ASSERT_NE(nullptr, stateOf);
      posted = stateOf();
      odbcdouble::Reset(posted);
    }
    g_missing = lacking ? nullptr : row.missing;
    for (int i = 0; i < 4; ++i) g_held[i] = 0, g_during[i] = -1;
    const std::string before = Present();
    HMODULE dll = LoadLibraryA(copy.c_str());
    ASSERT_NE(nullptr, dll);
    BOOL r = FALSE;
    bool sawDialog = false;
    {
      testlib::ImportPatch load(dll, "kernel32.dll", "LoadLibraryW", reinterpret_cast<void *>(LoadNoting));
      testlib::ImportPatch free(dll, "kernel32.dll", "FreeLibrary", reinterpret_cast<void *>(FreeNoting));
      testlib::ImportPatch write(dll, "advapi32.dll", "RegSetValueExW", reinterpret_cast<void *>(SetValueNoting));
      g_setValue = reinterpret_cast<decltype(g_setValue)>(write.original());
      auto configDsn =
          reinterpret_cast<testlib::ConfigDsnFn>(reinterpret_cast<void *>(GetProcAddress(dll, "ConfigDSN")));
      const std::string list = SourceList(ds.name());
      if (!load.ok() || !free.ok() || !write.ok() || !configDsn) {
        ADD_FAILURE() << "a stand-in could not be put in place";
      } else if (row.act == kSilent) {
        r = configDsn(nullptr, kAdd, Driver().c_str(), list.c_str());
      } else {
        r = RunDialog(kAdd, list, [&](Ui &ui) {
          NoteDuring();
          if (row.act == kBrowse) {
            ui.Click(kBrowseDirectory);
            if (row.result == FALSE) {
              EXPECT_TRUE(ui.WaitClosed()) << "the request ends at Browse";
            } else if (WaitOpenDialog(ui.uiThread)) {
              NoteDuring();
            } else {
              ADD_FAILURE() << "no Open dialog";
            }
          }
        }, &sawDialog, configDsn);
        EXPECT_EQ(row.held != nullptr, sawDialog);
      }
    }
    g_missing = nullptr;
    FreeLibrary(dll);
    const std::string after = Present();
    if (!*row.stays) {
      EXPECT_EQ(before, after) << "once KVDRM.dll is unloaded";
    }
    for (int i = 0; i < 4; ++i) {
      if (!strchr(row.stays, "OUGC"[i])) continue;
      EXPECT_EQ(std::string::npos, before.find(kLibraries[i])) << kLibraries[i] << " was there before";
      EXPECT_NE(std::string::npos, after.find(kLibraries[i])) << kLibraries[i] << " once KVDRM.dll is unloaded";
    }

    EXPECT_EQ(row.result, r);
    ASSERT_EQ(row.result == FALSE ? 1 : 0, posted->errorCount);
    if (row.result == FALSE) {
      EXPECT_EQ(static_cast<uint32_t>(ODBC_ERROR_LOAD_LIB_FAILED), posted->errors[0].code);
    }
    if (lacking) {
      FreeLibrary(g_lacking);
      g_lacking = nullptr;
    }
    EXPECT_EQ(row.act == kSilent && row.result != FALSE, Stored(ds.name()));
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(0, g_held[i]) << kLibraries[i] << " after the request";
      if (!row.held) continue;
      EXPECT_EQ(strchr(row.held, "OUGC"[i]) ? 1 : 0, g_during[i]) << kLibraries[i] << " during it";
    }
  }
  DeleteFileA(copy.c_str());
}

// ------------------------------------------------------------------ turns

// KVDRM.dll's imports pointed at these: the first request of a row is held
// at its first registry write, or at its first installer profile read,
// until released; the waiting of a request is seen as it begins.
struct Turn {
  DWORD holder = 0, waiter = 0;  // thread ids; the holder is held once
  bool inWrite = false;          // else in the profile read
  HANDLE held = nullptr, release = nullptr, waiting = nullptr;  // events
  decltype(&RegSetValueExA) setA = nullptr;
  decltype(&RegSetValueExW) setW = nullptr;
  decltype(&SleepConditionVariableSRW) sleep = nullptr;
  FARPROC profile[2] = {};  // the installer's SQLGetPrivateProfileString, A and W
  // A dialog's thread to park in its next GetMessageW, where it holds no
  // lock of the process: a thread ended while it paints or waits inside the
  // window system could leave such a lock held for every later request.
  DWORD park = 0;
  HANDLE parked = nullptr;  // event
  FARPROC getMessage = nullptr;
} g_turn;

void HoldHere(bool write) {
  if (GetCurrentThreadId() != g_turn.holder || write != g_turn.inWrite) return;
  g_turn.holder = 0;
  SetEvent(g_turn.held);
  WaitForSingleObject(g_turn.release, INFINITE);
}
LONG WINAPI HoldSetValueA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE *data, DWORD size) {
  HoldHere(true);
  return g_turn.setA(key, name, reserved, type, data, size);
}
LONG WINAPI HoldSetValueW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE *data, DWORD size) {
  HoldHere(true);
  return g_turn.setW(key, name, reserved, type, data, size);
}
// The ANSI and the wide profile read have one shape.
typedef int(WINAPI *ProfileFn)(const void *, const void *, const void *, void *, int, const void *);
template <int kWide>
int WINAPI HoldProfile(const void *section, const void *entry, const void *fallback, void *out, int size,
                       const void *file) {
  HoldHere(false);
  return reinterpret_cast<ProfileFn>(reinterpret_cast<void *>(g_turn.profile[kWide]))(section, entry, fallback, out,
                                                                                       size, file);
}
BOOL WINAPI ParkGetMessage(LPMSG msg, HWND window, UINT first, UINT last) {
  if (g_turn.park && GetCurrentThreadId() == g_turn.park) {
    g_turn.park = 0;
    SetEvent(g_turn.parked);
    Sleep(INFINITE);  // until terminated
  }
  return reinterpret_cast<decltype(&GetMessageW)>(reinterpret_cast<void *>(g_turn.getMessage))(msg, window, first,
                                                                                             last);
}
FARPROC WINAPI TurnGetProcAddress(HMODULE module, LPCSTR name) {
  FARPROC real = GetProcAddress(module, name);
  if (!HIWORD(name) || !real) return real;
  if (!strcmp(name, "GetMessageW")) {
    g_turn.getMessage = real;
    return reinterpret_cast<FARPROC>(reinterpret_cast<void *>(ParkGetMessage));
  }
  const int wide = !strcmp(name, "SQLGetPrivateProfileStringW") ? 1 : !strcmp(name, "SQLGetPrivateProfileString") ? 0 : -1;
  if (wide < 0) return real;
  g_turn.profile[wide] = real;
  return reinterpret_cast<FARPROC>(reinterpret_cast<void *>(wide ? HoldProfile<1> : HoldProfile<0>));
}
BOOL WINAPI NoteWaiting(PCONDITION_VARIABLE done, PSRWLOCK lock, DWORD ms, ULONG flags) {
  if (GetCurrentThreadId() == g_turn.waiter) SetEvent(g_turn.waiting);
  return g_turn.sleep(done, lock, ms, flags);
}

// A ConfigDSN call on a thread of its own (CreateThread: the thread may be
// terminated), started suspended so that its id can be noted first.
struct Request {
  HWND parent;
  WORD request;
  std::string list;
  BOOL result = 2;  // not returned
  HANDLE thread = nullptr;
  DWORD id = 0;
};
DWORD WINAPI RunRequest(void *p) {
  Request &r = *static_cast<Request *>(p);
  r.result = testlib::KvdrmConfigDSN()(r.parent, r.request, Driver().c_str(), r.list.c_str());
  return 0;
}
void Start(Request &r, DWORD *noteAs = nullptr) {
  r.thread = CreateThread(nullptr, 0, RunRequest, &r, CREATE_SUSPENDED, &r.id);
  ASSERT_NE(nullptr, r.thread);
  if (noteAs) *noteAs = r.id;
  ResumeThread(r.thread);
}
// A request that does not return leaves the turn taken: nothing after it
// could run, so the program stops.
void Finish(Request &r, DWORD ms, const char *what) {
  if (WaitForSingleObject(r.thread, ms) != WAIT_OBJECT_0) {
    fprintf(stderr, "%s did not return within %lu ms; stopping\n", what, static_cast<unsigned long>(ms));
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 99);
  }
  CloseHandle(r.thread);
  r.thread = nullptr;
}

// Requests on several threads take turns. A request that begins while
// another thread's request runs waits for it, and is refused as soon as
// that request opens its setup dialog (it does not wait for the user). A
// request whose thread is terminated in the middle (a host ending a hung
// worker) gives its turn up: within seconds the next requests run and
// store, whether it was writing the registry or showing its dialog.
TEST_F(DialogFaults, RequestsTakeTurnsAndADeadRequestGivesItsTurnUp) {
  HMODULE kvdrm = testlib::Kvdrm();
  testlib::ImportPatch setA(kvdrm, "advapi32.dll", "RegSetValueExA", reinterpret_cast<void *>(HoldSetValueA)),
      setW(kvdrm, "advapi32.dll", "RegSetValueExW", reinterpret_cast<void *>(HoldSetValueW)),
      lookup(kvdrm, "kernel32.dll", "GetProcAddress", reinterpret_cast<void *>(TurnGetProcAddress)),
      sleep(kvdrm, "kernel32.dll", "SleepConditionVariableSRW", reinterpret_cast<void *>(NoteWaiting));
  ASSERT_TRUE((setA.ok() || setW.ok()) && lookup.ok() && sleep.ok());
  g_turn.setA = reinterpret_cast<decltype(g_turn.setA)>(setA.original());
  g_turn.setW = reinterpret_cast<decltype(g_turn.setW)>(setW.original());
  g_turn.sleep = reinterpret_cast<decltype(g_turn.sleep)>(sleep.original());
  g_turn.held = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  g_turn.release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  g_turn.waiting = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  g_turn.parked = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HWND const noParent = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));  // never used as a window
  const struct {
    const char *what;
    bool dialog;  // the first request configures through its dialog; else a silent add, held in its write
    bool killed;  // its thread is terminated (in the write, or with the dialog open)
  } rows[] = {{"terminated inside a registry write", false, true},
              {"terminated with its dialog open", true, true},
              {"its dialog opens while another request waits", true, false}};
  for (const auto &row : rows) {
    SCOPED_TRACE(std::string("the first request: ") + row.what);
    DataSource first(UniqueName("turn1"), row.dialog), second(UniqueName("turn2"), false),
        third(UniqueName("turn3"), false);
    odbcdouble::Reset(state);
    ResetEvent(g_turn.release);
    g_turn.waiter = 0;
    Request holder{row.dialog ? noParent : nullptr, row.dialog ? kConfigure : kAdd,
                   row.dialog ? AttributeList({"DSN=" + first.name()}) : SourceList(first.name())};
    Request next{nullptr, kAdd, SourceList(second.name())}, last{nullptr, kAdd, SourceList(third.name())};
    g_turn.inWrite = !row.dialog;
    Start(holder, &g_turn.holder);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(g_turn.held, 5000)) << "the first request was not held";
    if (!row.killed) {
      Start(next, &g_turn.waiter);
      EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(g_turn.waiting, 5000)) << "the second request does not wait";
    }
    if (row.dialog) SetEvent(g_turn.release);
    HWND dialog = row.dialog ? WaitDialog(holder.id, "Kolvar ODBC Setup", kName) : nullptr;
    // Once the dialog's loop answers, the dialog counts as open. Its font
    // must go with it.
    DWORD_PTR font = 0;
    if (row.dialog) {
      EXPECT_TRUE(dialog && SendMessageTimeoutA(GetWindow(dialog, GW_CHILD), WM_GETFONT, 0, 0, SMTO_NORMAL, 5000,
                                                &font) && font)
          << "the setup dialog did not appear";
    }
    if (!row.killed) {
      const DWORD shown = GetTickCount();
      EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(next.thread, 1000)) << "the waiting request waits for the user";
      printf("[ turn     ] refused %lu ms after the dialog was seen\n", GetTickCount() - shown);
      EXPECT_TRUE(IsWindow(dialog)) << "the dialog closed before the waiting request returned";
      PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
      Finish(holder, 5000, "the request of the dialog");
      Finish(next, 10000, "the waiting request");
      EXPECT_EQ(kTrue, holder.result);
      EXPECT_EQ(FALSE, next.result);
      ASSERT_EQ(1, state->errorCount);
      EXPECT_EQ(static_cast<uint32_t>(ODBC_ERROR_REQUEST_FAILED), state->errors[0].code);
    } else {
      if (row.dialog) {
        // The dialog's loop takes its next message and parks there.
        g_turn.park = holder.id;
        PostMessageW(dialog, WM_NULL, 0, 0);
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(g_turn.parked, 5000)) << "the dialog's loop did not park";
      }
      ASSERT_TRUE(TerminateThread(holder.thread, 1));
      Finish(holder, 5000, "the terminated request");
      SetEvent(g_turn.release);
      Start(next);
      Start(last);
      Finish(next, 10000, "the request after the terminated one");
      Finish(last, 10000, "the request after the terminated one");
      EXPECT_EQ(kTrue, next.result);
      EXPECT_EQ(kTrue, last.result);
      EXPECT_EQ("C:\\D\\M.CTX", StoredValue(second.name(), "CTX"));
      EXPECT_EQ("C:\\D\\M.CTX", StoredValue(third.name(), "CTX"));
      EXPECT_EQ(0, state->errorCount);
    }
    LOGFONTA gone;
    if (row.dialog) {
      EXPECT_EQ(0, GetObjectA(reinterpret_cast<HFONT>(font), sizeof gone, &gone)) << "the dialog's font outlived it";
    }
  }
  CloseHandle(g_turn.held);
  CloseHandle(g_turn.release);
  CloseHandle(g_turn.waiting);
  CloseHandle(g_turn.parked);
}

}  // namespace
