// The installer double: see odbc_double.h.
#include <windows.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include "registry/registry.h"
#include "tests/odbcdouble/odbc_double.h"

using odbcdouble::State;

namespace {

State g_state;
// Set by a wide form for the call it hands on to the shared behaviour.
bool g_wideCall = false;

const char *Text(const char *s) { return s ? s : "<null>"; }

// A wide form's text in UTF-8, for the shared behaviour and the record;
// null stays null.
struct Utf8 {
  char *text = nullptr;
  explicit Utf8(const WCHAR *w) {
    if (!w) return;
    int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
    text = static_cast<char *>(malloc(n > 0 ? n : 1));
    if (text) {
      text[0] = '\0';
      WideCharToMultiByte(CP_UTF8, 0, w, -1, text, n, nullptr, nullptr);
    }
  }
  ~Utf8() { free(text); }
  operator const char *() const { return text; }
};

// UTF-8 into a wide buffer of `size` units, cut to fit; returns the units.
int ToWide(const char *utf8, int length, WCHAR *out, int size) {
  if (!out || size <= 0) return 0;
  int n = length ? MultiByteToWideChar(CP_UTF8, 0, utf8, length, out, size) : 0;
  if (n <= 0 && length) {
    // Too long: take what fits.
    WCHAR *all = static_cast<WCHAR *>(malloc((length + 1) * sizeof(WCHAR)));
    n = all ? MultiByteToWideChar(CP_UTF8, 0, utf8, length, all, length + 1) : 0;
    if (n > size) n = size;
    if (all) memcpy(out, all, n * sizeof(WCHAR));
    free(all);
  }
  return n;
}

// The registry under a UTF-8 name.
struct Wide {
  WCHAR *text = nullptr;
  explicit Wide(const char *utf8) {
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    text = static_cast<WCHAR *>(malloc((n > 0 ? n : 1) * sizeof(WCHAR)));
    if (text) {
      text[0] = 0;
      MultiByteToWideChar(CP_UTF8, 0, utf8, -1, text, n);
    }
  }
  ~Wide() { free(text); }
  operator const WCHAR *() const { return text; }
};

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
    c.wide = g_wideCall;
  }
  g_wideCall = false;
  ++s.callCount;
  return s.fail[fn];
}

}  // namespace

extern "C" {

State *__stdcall OdbcDoubleState() { return &g_state; }

namespace {
// The profile's answer, as SQLGetPrivateProfileString gives it.
int ProfileAnswer(LPCSTR section, LPCSTR entry, LPCSTR def, LPSTR buffer, int size) {
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
}  // namespace

int __stdcall SQLGetPrivateProfileString(LPCSTR section, LPCSTR entry, LPCSTR def, LPSTR buffer, int size,
                                         LPCSTR file) {
  if (Enter(odbcdouble::kGetPrivateProfileString, "SQLGetPrivateProfileString", "%s|%s|%s|%d|%s", Text(section),
            Text(entry), Text(def), size, Text(file))) {
    if (buffer && size > 0) buffer[0] = '\0';
    return 0;
  }
  return ProfileAnswer(section, entry, def, buffer, size);
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

// The installer's rule, on `characters` characters.
static bool ValidName(const char *name, size_t characters) {
  return characters > 0 && characters <= 32 && !strpbrk(name, "[]{}(),;?*=!@\\");
}

BOOL __stdcall SQLValidDSN(LPCSTR name) {
  if (Enter(odbcdouble::kValidDSN, "SQLValidDSN", "%s", Text(name))) return FALSE;
  return name && ValidName(name, strlen(name));
}

// As documented for the real installer: the data source's key in the
// mode's root is removed and made again with a single "Driver" value, and
// the name is entered in "ODBC Data Sources".
BOOL __stdcall SQLWriteDSNToIni(LPCSTR name, LPCSTR driver) {
  if (Enter(odbcdouble::kWriteDSNToIni, "SQLWriteDSNToIni", "%s|%s", Text(name), Text(driver))) return FALSE;
  if (!name || !*name || !driver) return FALSE;
  // Texts here are UTF-8 (see the wide forms); the registry gets them wide.
  HKEY root = g_state.configMode == 2 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  char path[1024];
  snprintf(path, sizeof path, "Software\\ODBC\\ODBC.INI\\%s", name);
  Wide widePath(path), wideName(name), wideDriver(driver);
  RegDeleteTreeW(root, widePath);
  kvdrm::RegKey key;
  if (RegCreateKeyExW(root, widePath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.out(), nullptr) != ERROR_SUCCESS)
    return FALSE;
  DWORD bytes = static_cast<DWORD>((wcslen(wideDriver) + 1) * sizeof(WCHAR));
  LONG rc = RegSetValueExW(key.get(), L"Driver", 0, REG_SZ, reinterpret_cast<const BYTE *>(&wideDriver.text[0]), bytes);
  if (rc == ERROR_SUCCESS && RegCreateKeyExA(root, kvdrm::kDataSourceListKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             key.out(), nullptr) == ERROR_SUCCESS)
    rc = RegSetValueExW(key.get(), wideName, 0, REG_SZ, reinterpret_cast<const BYTE *>(&wideDriver.text[0]), bytes);
  return rc == ERROR_SUCCESS;
}

BOOL __stdcall SQLRemoveDSNFromIni(LPCSTR name) {
  return !Enter(odbcdouble::kRemoveDSNFromIni, "SQLRemoveDSNFromIni", "%s", Text(name));
}

BOOL __stdcall SQLWritePrivateProfileString(LPCSTR section, LPCSTR entry, LPCSTR text, LPCSTR file) {
  return !Enter(odbcdouble::kWritePrivateProfileString, "SQLWritePrivateProfileString", "%s|%s|%s|%s",
                Text(section), Text(entry), Text(text), Text(file));
}

// The wide forms: the same behaviour, their texts in UTF-8.

int __stdcall SQLGetPrivateProfileStringW(LPCWSTR section, LPCWSTR entry, LPCWSTR def, LPWSTR buffer, int size,
                                          LPCWSTR file) {
  Utf8 s(section), e(entry), d(def), f(file);
  g_wideCall = true;
  if (Enter(odbcdouble::kGetPrivateProfileString, "SQLGetPrivateProfileString", "%s|%s|%s|%d|%s", Text(s),
            Text(e), Text(d), size, Text(f))) {
    if (buffer && size > 0) buffer[0] = 0;
    return 0;
  }
  // Room for every character of the answer in UTF-8, cut to `size` units.
  int room = size > 0 ? size * 3 + 4 : 0;
  char *narrow = static_cast<char *>(malloc(room > 0 ? room : 1));
  if (!narrow) return 0;
  narrow[0] = '\0';
  int n = ProfileAnswer(s, e, d, room > 0 ? narrow : nullptr, room);
  int units = 0;
  if (buffer && size > 0) {
    units = ToWide(narrow, entry ? static_cast<int>(strlen(narrow)) : n + 1, buffer, size);
    if (entry) {
      if (units > size - 1) units = size - 1;
      buffer[units] = 0;
    } else if (units > 0) {
      units -= 1;  // the list's last NUL is not counted
    }
  }
  free(narrow);
  return units;
}

BOOL __stdcall SQLWriteFileDSNW(LPCWSTR file, LPCWSTR app, LPCWSTR key, LPCWSTR text) {
  Utf8 f(file), a(app), k(key), t(text);
  g_wideCall = true;
  return SQLWriteFileDSN(f, a, k, t);
}

SHORT __stdcall SQLPostInstallerErrorW(DWORD code, LPCWSTR message) {
  Utf8 m(message);
  g_wideCall = true;
  return SQLPostInstallerError(code, m);
}

BOOL __stdcall SQLValidDSNW(LPCWSTR name) {
  Utf8 n(name);
  g_wideCall = true;
  if (Enter(odbcdouble::kValidDSN, "SQLValidDSN", "%s", Text(n))) return FALSE;
  // Characters, not the bytes of their UTF-8.
  return name && ValidName(n, wcslen(name));
}

BOOL __stdcall SQLWriteDSNToIniW(LPCWSTR name, LPCWSTR driver) {
  Utf8 n(name), d(driver);
  g_wideCall = true;
  return SQLWriteDSNToIni(n, d);
}

}  // extern "C"
