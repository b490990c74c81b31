// The ODBC registry keys and the helpers that read and write them, shared by
// the proxy, data source setup and kvdrm-check. Free of the C++ standard
// library: texts are kvdrm::Text on the C runtime's heap.
#pragma once
#include <windows.h>

#include <stddef.h>

#include "registry/dbcs.h"
#include "registry/text.h"

namespace kvdrm {

// HKEY_CURRENT_USER first, HKEY_LOCAL_MACHINE second. Sessions search them
// in this order; setup indexes them with "is the mode ODBC_SYSTEM_DSN".
extern const HKEY kRegistryRoots[2];

#define KVDRM_ODBC_INI_KEY "Software\\ODBC\\ODBC.INI"
// A data source is the subkey of its name; "ODBC Data Sources" lists them.
inline constexpr char kOdbcIniKey[] = KVDRM_ODBC_INI_KEY;
inline constexpr char kDataSourceListKey[] = KVDRM_ODBC_INI_KEY "\\ODBC Data Sources";
#undef KVDRM_ODBC_INI_KEY
// A driver's registration is the subkey of its description, under
// HKEY_LOCAL_MACHINE only.
inline constexpr char kOdbcInstKey[] = "Software\\ODBC\\ODBCINST.INI";

// Whether c leads a double-byte character in the ANSI code page.
bool AcpLeadByte(unsigned char c);

// out = base + "\" + name (a null name counts as empty). False, with out
// unchanged, when memory is short.
bool RegPath(Text &out, const char *base, const char *name);

// Reads a REG_SZ value into `text`: its bytes up to the first NUL, or all
// of them when it was stored without one. A REG_DWORD of at most 4 bytes
// reads as signed decimal. Absent values, other types and a value that
// cannot be read leave `text` as it was; a value that changes type or grows
// between the two queries a long text needs reads as empty. False only
// when memory is short (then `text` is as it was).
bool ReadRegString(HKEY key, const char *valueName, Text &text);

// ReadRegString with the wide call, into UTF-16: the same rules for the
// same values (the registry holds REG_SZ in UTF-16, so no character is lost
// to the ANSI code page); a value of an odd number of bytes loses the last.
bool ReadRegStringW(HKEY key, const WCHAR *valueName, WText &text);

// Writes bytes[0..length) as REG_SZ with a terminating NUL, which must
// follow at bytes[length] (a Text's data or a C string; null writes the
// empty text). The registry's error: ERROR_INVALID_HANDLE for a null key,
// ERROR_SUCCESS when written.
LONG WriteRegString(HKEY key, const char *valueName, const char *bytes, size_t length);

// Closes the key it holds when it goes out of scope.
class RegKey {
 public:
  RegKey() = default;
  ~RegKey() { Close(); }
  RegKey(const RegKey &) = delete;
  RegKey &operator=(const RegKey &) = delete;

  HKEY get() const { return key_; }
  PHKEY out() { Close(); return &key_; }
  explicit operator bool() const { return key_ != nullptr; }
  void Close() {
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
  }

 private:
  HKEY key_ = nullptr;
};

}  // namespace kvdrm
