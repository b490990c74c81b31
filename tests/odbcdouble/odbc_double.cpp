// The installer double: see odbc_double.h.
#include <windows.h>

#include <stdarg.h>
#include <stdio.h>

#include "registry/registry.h"
#include "tests/odbcdouble/odbc_double.h"

using odbcdouble::State;

namespace {

State g_state;

const char *Text(const char *s) { return s ? s : "<null>"; }

// Records the call and tells whether the test wants this function to fail.
bool Enter(odbcdouble::Fn fn, const char *name, const char *format, ...) {
  State &s = g_state;
  if (s.callCount < State::kMaxCalls) {
    odbcdouble::Call &c = s.calls[s.callCount];
    snprintf(c.function, sizeof c.function, "%s", name);
    va_list args;
    va_start(args, format);
    vsnprintf(c.args, sizeof c.args, format, args);
    va_end(args);
    c.mode = s.configMode;
  }
  ++s.callCount;
  return s.fail[fn];
}

}  // namespace

extern "C" {

State *__stdcall OdbcDoubleState() { return &g_state; }

int __stdcall SQLGetPrivateProfileString(LPCSTR section, LPCSTR entry, LPCSTR def, LPSTR buffer, int size,
                                         LPCSTR file) {
  if (Enter(odbcdouble::kGetPrivateProfileString, "SQLGetPrivateProfileString", "%s|%s|%s|%d|%s", Text(section),
            Text(entry), Text(def), size, Text(file))) {
    if (buffer && size > 0) buffer[0] = '\0';
    return 0;
  }
  if (!buffer || size <= 0) return 0;
  buffer[0] = '\0';
  if (!section) return 0;
  const State &s = g_state;
  if (!entry) {
    // Entry names, each NUL-terminated, then one more NUL.
    int used = 0;
    for (int i = 0; i < s.profileCount; ++i) {
      const odbcdouble::ProfileEntry &p = s.profile[i];
      if (_stricmp(p.section, section) != 0) continue;
      int n = static_cast<int>(strlen(p.entry)) + 1;
      if (used + n + 1 > size) break;
      memcpy(buffer + used, p.entry, n);
      used += n;
    }
    buffer[used] = '\0';
    return used;
  }
  const char *value = def ? def : "";
  for (int i = 0; i < s.profileCount; ++i) {
    const odbcdouble::ProfileEntry &p = s.profile[i];
    if (_stricmp(p.section, section) == 0 && _stricmp(p.entry, entry) == 0) value = p.value;
  }
  int n = static_cast<int>(strlen(value));
  if (n > size - 1) n = size - 1;
  memcpy(buffer, value, n);
  buffer[n] = '\0';
  return n;
}

BOOL __stdcall SQLGetConfigMode(WORD *mode) {
  if (Enter(odbcdouble::kGetConfigMode, "SQLGetConfigMode", "%s", mode ? "ptr" : "<null>")) return FALSE;
  if (!mode) return FALSE;
  *mode = g_state.configMode;
  return TRUE;
}

BOOL __stdcall SQLSetConfigMode(WORD mode) {
  if (Enter(odbcdouble::kSetConfigMode, "SQLSetConfigMode", "%u", mode)) return FALSE;
  if (mode > 2) return FALSE;
  g_state.configMode = mode;
  return TRUE;
}

BOOL __stdcall SQLWriteFileDSN(LPCSTR file, LPCSTR app, LPCSTR key, LPCSTR text) {
  return !Enter(odbcdouble::kWriteFileDSN, "SQLWriteFileDSN", "%s|%s|%s|%s", Text(file), Text(app), Text(key),
                Text(text));
}

SHORT __stdcall SQLPostInstallerError(DWORD code, LPCSTR message) {
  if (Enter(odbcdouble::kPostInstallerError, "SQLPostInstallerError", "%lu|%s", code, Text(message))) return -1;
  State &s = g_state;
  if (s.errorCount < State::kMaxErrors) {
    odbcdouble::PostedError &e = s.errors[s.errorCount++];
    e.code = code;
    snprintf(e.message, sizeof e.message, "%s", Text(message));
  }
  return 0;
}

SHORT __stdcall SQLInstallerError(WORD index, DWORD *code, LPSTR message, WORD size, WORD *length) {
  if (Enter(odbcdouble::kInstallerError, "SQLInstallerError", "%u|%u", index, size)) return -1;
  const State &s = g_state;
  if (index == 0) return -1;
  if (index > s.errorCount) return 100;  // SQL_NO_DATA
  const odbcdouble::PostedError &e = s.errors[index - 1];
  if (code) *code = e.code;
  int n = static_cast<int>(strlen(e.message));
  if (length) *length = static_cast<WORD>(n);
  if (message && size > 0) snprintf(message, size, "%s", e.message);
  return n < size ? 0 : 1;  // SQL_SUCCESS, or SQL_SUCCESS_WITH_INFO when cut
}

BOOL __stdcall SQLValidDSN(LPCSTR name) {
  if (Enter(odbcdouble::kValidDSN, "SQLValidDSN", "%s", Text(name))) return FALSE;
  if (!name) return FALSE;
  size_t n = strlen(name);
  return n > 0 && n <= 32 && !strpbrk(name, "[]{}(),;?*=!@\\");
}

// As documented for the real installer: the data source's key in the
// mode's root is removed and made again with a single "Driver" value, and
// the name is entered in "ODBC Data Sources".
BOOL __stdcall SQLWriteDSNToIni(LPCSTR name, LPCSTR driver) {
  if (Enter(odbcdouble::kWriteDSNToIni, "SQLWriteDSNToIni", "%s|%s", Text(name), Text(driver))) return FALSE;
  if (!name || !*name || !driver) return FALSE;
  HKEY root = g_state.configMode == 2 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  char path[512];
  snprintf(path, sizeof path, "Software\\ODBC\\ODBC.INI\\%s", name);
  RegDeleteTreeA(root, path);
  kvdrm::RegKey key;
  if (RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.out(), nullptr) != ERROR_SUCCESS)
    return FALSE;
  LONG rc = RegSetValueExA(key.get(), "Driver", 0, REG_SZ, reinterpret_cast<const BYTE *>(driver),
                           static_cast<DWORD>(strlen(driver) + 1));
  if (rc == ERROR_SUCCESS && RegCreateKeyExA(root, kvdrm::kDataSourceListKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             key.out(), nullptr) == ERROR_SUCCESS)
    rc = RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE *>(driver),
                        static_cast<DWORD>(strlen(driver) + 1));
  return rc == ERROR_SUCCESS;
}

BOOL __stdcall SQLRemoveDSNFromIni(LPCSTR name) {
  return !Enter(odbcdouble::kRemoveDSNFromIni, "SQLRemoveDSNFromIni", "%s", Text(name));
}

BOOL __stdcall SQLWritePrivateProfileString(LPCSTR section, LPCSTR entry, LPCSTR text, LPCSTR file) {
  return !Enter(odbcdouble::kWritePrivateProfileString, "SQLWritePrivateProfileString", "%s|%s|%s|%s",
                Text(section), Text(entry), Text(text), Text(file));
}

}  // extern "C"
