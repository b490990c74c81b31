#include "registry/registry.h"

#include <stdlib.h>
#include <string.h>

#include "registry/reg_text.h"
#include "registry/wide.h"

namespace kvdrm {

const HKEY kRegistryRoots[2] = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};

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

bool RegPathW(WText &out, const WCHAR *base, const WChar *name) {
  size_t b = wcslen(base), n = WLength(name);
  WChar *path = static_cast<WChar *>(malloc((b + 1 + n + 1) * sizeof(WChar)));
  if (!path) return false;
  memcpy(path, base, b * sizeof(WChar));
  path[b] = u'\\';
  if (n) memcpy(path + b + 1, name, n * sizeof(WChar));
  path[b + 1 + n] = 0;
  WTextFree(out);
  out.data = path;
  out.length = b + 1 + n;
  return true;
}

bool ReadRegStringW(HKEY key, const WCHAR *valueName, WText &text) {
  // Most values (a control-file path) fit the first query, which saves the
  // second one: each query is a round trip to the registry. A REG_DWORD is
  // only taken at its own width, as a 4-byte query would take it.
  WCHAR first[MAX_PATH + 4] = {0, 0};
  DWORD type = REG_NONE, bytes = sizeof first;
  LONG rc = RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE *>(first), &bytes);
  if (type == REG_DWORD) {
    if (rc != ERROR_SUCCESS || bytes > 4) return true;
    // A short REG_DWORD leaves the rest of its four bytes at zero.
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
  // The value may have changed or vanished since the first query: a second
  // query that fails, grows or turns into another type reads as empty.
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

}  // namespace kvdrm
