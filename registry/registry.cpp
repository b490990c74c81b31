#include "registry/registry.h"

#include <stdlib.h>
#include <string.h>

#include "registry/reg_text.h"
#include "registry/wide.h"

namespace kvdrm {

const HKEY kRegistryRoots[2] = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};

bool AcpLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != FALSE; }

bool RegPath(Text &out, const char *base, const char *name) {
  size_t b = strlen(base), n = name ? strlen(name) : 0;
  char *path = static_cast<char *>(malloc(b + 1 + n + 1));
  if (!path) return false;
  memcpy(path, base, b);
  path[b] = '\\';
  if (n) memcpy(path + b + 1, name, n);
  path[b + 1 + n] = '\0';
  TextFree(out);
  out.data = path;
  out.length = b + 1 + n;
  return true;
}

bool ReadRegString(HKEY key, const char *valueName, Text &text) {
  // Most values (a control-file path) fit the first query, which saves the
  // second one: each query is a round trip to the registry. A REG_DWORD is
  // only taken at its own width, as a 4-byte query would take it.
  BYTE first[MAX_PATH + 4] = {0, 0, 0, 0};
  DWORD type = REG_NONE, size = sizeof first;
  LONG rc = RegQueryValueExA(key, valueName, nullptr, &type, first, &size);
  if (type == REG_DWORD) {
    if (rc != ERROR_SUCCESS || size > 4) return true;
    // A short REG_DWORD leaves the rest of its four bytes at zero.
    uint32_t v = first[0] | first[1] << 8 | first[2] << 16 | static_cast<uint32_t>(first[3]) << 24;
    char digits[12];
    return TextSet(text, digits, FormatRegDword(v, digits));
  }
  if ((rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA) || type != REG_SZ) return true;
  if (rc == ERROR_SUCCESS) {
    const char *bytes = reinterpret_cast<const char *>(first);
    return TextSet(text, bytes, RegTextLength(bytes, size));
  }

  char *buf = static_cast<char *>(malloc(static_cast<size_t>(size) + 1));
  if (!buf) return false;
  DWORD got = size;
  type = REG_NONE;
  rc = RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE *>(buf), &got);
  // The value may have changed or vanished since the first query: a second
  // query that fails, grows or turns into another type reads as empty.
  if (rc != ERROR_SUCCESS || type != REG_SZ || got > size) got = 0;
  size_t length = RegTextLength(buf, got);
  TextFree(text);
  if (length == 0) {
    free(buf);
    return true;
  }
  buf[length] = '\0';
  text.data = buf;
  text.length = length;
  return true;
}

bool ReadRegStringW(HKEY key, const WCHAR *valueName, WText &text) {
  // As ReadRegString: one query for most values, a DWORD at its own width.
  // The first buffer holds as many characters as ReadRegString's bytes.
  WCHAR first[MAX_PATH + 4] = {0, 0};
  DWORD type = REG_NONE, bytes = sizeof first;
  LONG rc = RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE *>(first), &bytes);
  if (type == REG_DWORD) {
    if (rc != ERROR_SUCCESS || bytes > 4) return true;
    const BYTE *b = reinterpret_cast<const BYTE *>(first);
    uint32_t v = b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
    char digits[12];
    WChar wide[12];
    size_t n = FormatRegDword(v, digits);
    for (size_t i = 0; i < n; ++i) wide[i] = static_cast<WChar>(digits[i]);
    return WTextSet(text, wide, n);
  }
  if ((rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA) || type != REG_SZ) return true;
  if (rc == ERROR_SUCCESS) {
    const WChar *units = U(first);
    return WTextSet(text, units, RegTextLengthW(units, bytes / sizeof(WChar)));
  }

  const size_t units = bytes / sizeof(WChar);
  WChar *buf = static_cast<WChar *>(malloc((units + 1) * sizeof(WChar)));
  if (!buf) return false;
  DWORD got = bytes;
  type = REG_NONE;
  rc = RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE *>(buf), &got);
  // Changed or gone since the first query: empty, as ReadRegString reads it.
  if (rc != ERROR_SUCCESS || type != REG_SZ || got > bytes) got = 0;
  size_t length = RegTextLengthW(buf, got / sizeof(WChar));
  WTextFree(text);
  if (length == 0) {
    free(buf);
    return true;
  }
  buf[length] = 0;
  text.data = buf;
  text.length = length;
  return true;
}

LONG WriteRegString(HKEY key, const char *valueName, const char *bytes, size_t length) {
  if (!key) return ERROR_INVALID_HANDLE;
  if (!bytes) {
    bytes = "";
    length = 0;
  }
  return RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE *>(bytes),
                        static_cast<DWORD>(length + 1));
}

}  // namespace kvdrm
