#include "registry/registry.h"

#include <stdlib.h>
#include <string.h>

#include "registry/reg_text.h"

namespace kvdrm {

const HKEY kRegistryRoots[2] = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};

bool AcpLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != FALSE; }

void ReadRegString(HKEY key, const char *valueName, std::string &text) {
  // Most values (a control-file path) fit the first query, which saves the
  // second one: each query is a round trip to the registry. A REG_DWORD is
  // only taken at its own width, as a 4-byte query would take it.
  BYTE first[MAX_PATH + 4] = {0, 0, 0, 0};
  DWORD type = REG_NONE, size = sizeof first;
  LONG rc = RegQueryValueExA(key, valueName, nullptr, &type, first, &size);
  if (type == REG_DWORD) {
    if (rc != ERROR_SUCCESS || size > 4) return;
    // A short REG_DWORD leaves the rest of its four bytes at zero.
    uint32_t v = first[0] | first[1] << 8 | first[2] << 16 | static_cast<uint32_t>(first[3]) << 24;
    char digits[12];
    text.assign(digits, FormatRegDword(v, digits));
    return;
  }
  if ((rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA) || type != REG_SZ) return;
  if (rc == ERROR_SUCCESS) {
    text.assign(reinterpret_cast<const char *>(first), RegTextLength(reinterpret_cast<const char *>(first), size));
    return;
  }

  text.clear();
  text.resize(size);
  DWORD got = size;
  type = REG_NONE;
  rc = RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE *>(&text[0]), &got);
  // The value may have changed or vanished since the first query: a second
  // query that fails, grows or turns into another type reads as empty.
  if (rc != ERROR_SUCCESS || type != REG_SZ || got > size) got = 0;
  text.resize(RegTextLength(text.data(), got));
}

LONG WriteRegString(HKEY key, const char *valueName, const std::string &text) {
  if (!key) return ERROR_INVALID_HANDLE;
  return RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1));
}

LONG WriteRegString(HKEY key, const char *valueName, const char *bytes, size_t length) {
  if (!key) return ERROR_INVALID_HANDLE;
  return RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE *>(bytes ? bytes : ""),
                        static_cast<DWORD>(bytes ? length + 1 : 1));
}

bool RegPath(Text &out, const char *base, const char *name) {
  size_t b = strlen(base), n = strlen(name);
  char *path = static_cast<char *>(malloc(b + n + 2));
  if (!path) return false;
  memcpy(path, base, b);
  path[b] = '\\';
  memcpy(path + b + 1, name, n + 1);
  free(out.data);
  out.data = path;
  out.length = b + 1 + n;
  return true;
}

}  // namespace kvdrm
