// Registry roots and text helpers shared by the proxy and data source setup.
#pragma once
#include <windows.h>

#include <string>

#include "registry/dbcs.h"
#include "registry/text.h"

namespace kvdrm {

// HKEY_CURRENT_USER first, HKEY_LOCAL_MACHINE second. Sessions search them
// in this order; setup indexes them with "is the mode ODBC_SYSTEM_DSN".
extern const HKEY kRegistryRoots[2];

constexpr char kOdbcIniKey[] = "Software\\ODBC\\ODBC.INI";
constexpr char kDataSourceListKey[] = "Software\\ODBC\\ODBC.INI\\ODBC Data Sources";
constexpr char kOdbcInstKey[] = "Software\\ODBC\\ODBCINST.INI";

// Whether c leads a double-byte character in the ANSI code page.
bool AcpLeadByte(unsigned char c);

// Reads a REG_SZ value (or a REG_DWORD as signed decimal) into `text`.
// Absent values and other types leave `text` as it was.
void ReadRegString(HKEY key, const char *valueName, std::string &text);

// Writes `text` as REG_SZ with its terminating NUL. The registry's error:
// ERROR_INVALID_HANDLE for a null key, ERROR_SUCCESS when written.
LONG WriteRegString(HKEY key, const char *valueName, const std::string &text);

// Writes bytes[0..length] as REG_SZ: bytes[length] is the NUL the value
// keeps (a Text's data; null writes ""). The registry's error:
// ERROR_INVALID_HANDLE for a null key, ERROR_SUCCESS when written.
LONG WriteRegString(HKEY key, const char *valueName, const char *bytes, size_t length);

// out = base + "\\" + name. False, with out unchanged, when memory is short.
bool RegPath(Text &out, const char *base, const char *name);

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
