// A stand-in for the ODBC installer library (odbccp32.dll) that records
// every call and answers as a test tells it.
//
// Use: in a tests/<area>/CMakeLists.txt,
//     kvdrm_test(my_test SOURCES my_test.cpp [LIBS ...] INSTALLER_DOUBLE)
// builds my_test.exe into bin/my_test/ with copies of KVDRM.dll and of this
// double as odbccp32.dll; wine-run.sh then runs it with odbccp32=n, so
// KVDRM.dll (and the test program, if it imports odbccp32) gets the double.
// In the test, odbcdouble::Attach() returns the double's state (null when
// the real installer was loaded instead: assert on it).
//
// Exports (stdcall, undecorated names like the real library). Each text
// function has an ANSI and a wide form (SQLValidDSN and SQLValidDSNW, ...);
// both record their call under the ANSI name, the wide one with `wide` set
// and its texts in UTF-8, and share one behaviour. Profile values are kept
// in UTF-8 and read back by the wide form exactly:
//   SQLGetPrivateProfileString  answers from `profile` (see below)
//   SQLGetConfigMode            *mode = configMode
//   SQLSetConfigMode            configMode = mode (FALSE for a mode above 2)
//   SQLWriteFileDSN             records only
//   SQLPostInstallerError       appends to `errors`
//   SQLInstallerError           reads `errors` back (1-based, SQL_NO_DATA past the end)
//   SQLValidDSN                 the installer's rule: 1..32 characters, none of []{}(),;?*=!@\ .
//   SQLWriteDSNToIni            as the documented installer: removes the data
//                               source's key in the mode's root (HKLM for
//                               mode 2, else HKCU), makes it again with a
//                               single "Driver" value, lists the name in
//                               "ODBC Data Sources"
//   SQLRemoveDSNFromIni         records only
//   SQLWritePrivateProfileString records only
//   OdbcDoubleState             returns the State below (not in the real library)
// Every function first records its call, then, if fail[its Fn] is set,
// returns its failure (FALSE, 0, or SQL_ERROR) without doing anything else.
// Nothing here clears `errors` implicitly, unlike the real installer.
#pragma once
#ifdef _WIN32
#include <windows.h>
#endif
#include <stdint.h>
#include <string.h>

namespace odbcdouble {

enum Fn {
  kGetPrivateProfileString,
  kGetConfigMode,
  kSetConfigMode,
  kWriteFileDSN,
  kPostInstallerError,
  kInstallerError,
  kValidDSN,
  kWriteDSNToIni,
  kRemoveDSNFromIni,
  kWritePrivateProfileString,
  kFnCount
};

// One recorded call. `function` is the export's name ("SQLWriteFileDSN"),
// `args` its arguments as text joined by '|': texts as they are ("<null>"
// for a null pointer), numbers in decimal, buffers by their size. E.g.
//   SQLGetPrivateProfileString  "ODBC File DSN|DefaultDSNDir||256|odbc.ini"
//   SQLWriteFileDSN             "Sales|ODBC|DSN|Sales"
//   SQLPostInstallerError       "7|Invalid data source name"
//   SQLSetConfigMode            "0"
// `mode` is configMode when the call began (so a profile read can be
// checked to have happened under ODBC_BOTH_DSN).
struct Call {
  char function[40];
  char args[600];
  uint16_t mode;
  bool wide;  // the wide form was called (its texts are here in UTF-8)
};

// A profile entry: SQLGetPrivateProfileString(section, entry, ...) returns
// `value` (section and entry compare case-insensitively, as the registry
// does). With a null entry it returns the entry names of the section, each
// NUL-terminated, plus a final NUL. Missing entries give the default.
// The file data source directory is the entry ("ODBC File DSN",
// "DefaultDSNDir"): see SetDefaultDsnDir.
struct ProfileEntry {
  char section[128];
  char entry[128];
  char value[512];
};

struct PostedError {
  uint32_t code;
  char message[256];
};

struct State {
  enum { kMaxCalls = 512, kMaxProfile = 64, kMaxErrors = 8 };
  // Answers and switches, set by the test.
  uint16_t configMode;  // starts at 0 (ODBC_BOTH_DSN), like the real installer
  bool fail[kFnCount];
  int profileCount;
  ProfileEntry profile[kMaxProfile];
  // What happened.
  int callCount;  // may exceed kMaxCalls; only the first kMaxCalls are kept
  Call calls[kMaxCalls];
  int errorCount;
  PostedError errors[kMaxErrors];
};

typedef State *(__stdcall *StateFn)();

#ifdef _WIN32
// The double's state, or null when odbccp32.dll in this process is not the
// double (the override did not take).
inline State *Attach() {
  HMODULE m = LoadLibraryA("odbccp32.dll");
  if (!m) return nullptr;
  StateFn fn = reinterpret_cast<StateFn>(reinterpret_cast<void *>(GetProcAddress(m, "OdbcDoubleState")));
  return fn ? fn() : nullptr;
}
#endif

// Back to the start: mode 0, no failures, empty profile, no calls, no errors.
inline void Reset(State *s) { memset(s, 0, sizeof *s); }

// Forgets the recorded calls and errors, keeps the answers.
inline void ClearLog(State *s) {
  s->callCount = 0;
  s->errorCount = 0;
}

inline void SetProfile(State *s, const char *section, const char *entry, const char *value) {
  for (int i = 0; i < s->profileCount; ++i) {
    ProfileEntry &p = s->profile[i];
    if (_stricmp(p.section, section) == 0 && _stricmp(p.entry, entry) == 0) {
      strncpy(p.value, value, sizeof p.value - 1);
      return;
    }
  }
  if (s->profileCount == State::kMaxProfile) return;
  ProfileEntry &p = s->profile[s->profileCount++];
  memset(&p, 0, sizeof p);
  strncpy(p.section, section, sizeof p.section - 1);
  strncpy(p.entry, entry, sizeof p.entry - 1);
  strncpy(p.value, value, sizeof p.value - 1);
}

inline void SetDefaultDsnDir(State *s, const char *directory) {
  SetProfile(s, "ODBC File DSN", "DefaultDSNDir", directory);
}

// How many recorded calls were to `function`.
inline int CountCalls(const State *s, const char *function) {
  int n = 0, kept = s->callCount < State::kMaxCalls ? s->callCount : State::kMaxCalls;
  for (int i = 0; i < kept; ++i)
    if (strcmp(s->calls[i].function, function) == 0) ++n;
  return n;
}

// Index of the first recorded call to `function` at or after `from`, or -1.
inline int FindCall(const State *s, const char *function, int from = 0) {
  int kept = s->callCount < State::kMaxCalls ? s->callCount : State::kMaxCalls;
  for (int i = from; i < kept; ++i)
    if (strcmp(s->calls[i].function, function) == 0) return i;
  return -1;
}

}  // namespace odbcdouble
