// The ODBC registry keys and the helpers that read and write them, shared by
// the proxy, data source setup and kvdrm-check. Free of the C++ standard
// library: texts are kvdrm::Text on the C runtime's heap.
#pragma once
#include <windows.h>

#include "registry/text.h"

namespace kvdrm {

// HKEY_CURRENT_USER first, HKEY_LOCAL_MACHINE second. Sessions search them
// in this order; setup indexes them with "is the mode ODBC_SYSTEM_DSN".
extern const HKEY kRegistryRoots[2];

#define KVDRM_ODBC_INI_KEY "Software\\ODBC\\ODBC.INI"
#define KVDRM_DATA_SOURCE_LIST_KEY KVDRM_ODBC_INI_KEY "\\ODBC Data Sources"
#define KVDRM_ODBC_INST_KEY "Software\\ODBC\\ODBCINST.INI"
// A data source is the subkey of its name; "ODBC Data Sources" lists them.
// Sessions name it in the ANSI code page, setup in UTF-16: each key has both.
inline constexpr char kOdbcIniKey[] = KVDRM_ODBC_INI_KEY;
inline constexpr WCHAR kOdbcIniKeyW[] = L"" KVDRM_ODBC_INI_KEY;
inline constexpr char kDataSourceListKey[] = KVDRM_DATA_SOURCE_LIST_KEY;
inline constexpr WCHAR kDataSourceListKeyW[] = L"" KVDRM_DATA_SOURCE_LIST_KEY;
// A driver's registration is the subkey of its description, under
// HKEY_LOCAL_MACHINE only.
inline constexpr char kOdbcInstKey[] = KVDRM_ODBC_INST_KEY;
inline constexpr WCHAR kOdbcInstKeyW[] = L"" KVDRM_ODBC_INST_KEY;
#undef KVDRM_ODBC_INI_KEY
#undef KVDRM_DATA_SOURCE_LIST_KEY
#undef KVDRM_ODBC_INST_KEY

// out = base + "\" + name (a null name counts as empty). False, with out
// unchanged, when memory is short.
bool RegPath(Text &out, const char *base, const char *name);
bool RegPathW(WText &out, const WCHAR *base, const WChar *name);

// Reads a REG_SZ value into `text`, in UTF-16 as the registry holds it (no
// character is lost to the ANSI code page): its units up to the first NUL,
// or all of them when it was stored without one; a value of an odd number
// of bytes loses the last. A REG_DWORD of at most 4 bytes reads as signed
// decimal. Absent values, other types and a value that cannot be read leave
// `text` as it was; a value that changes type or grows between the two
// queries a long text needs reads as empty. False only when memory is short
// (then `text` is as it was).
bool ReadRegStringW(HKEY key, const WCHAR *valueName, WText &text);

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
