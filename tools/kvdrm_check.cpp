// kvdrm-check: tells the people who support an installation, step by step
// and in plain words, what a session of KVDRM.dll would find for a data
// source, and why it would fail. It looks the manager up with the DLL's own
// code (proxy/locate.cpp, registry/), so the two cannot disagree.
//
//   kvdrm-check <data source>           exit 0 exactly when a session could begin
//   kvdrm-check --session <data source> [--timeout <s>]
//                                       one real session through KVDRM.dll,
//                                       in a process of its own
//   kvdrm-check --list [--driver NAME]  the data sources of this driver
//
// Run it as a 32-bit program, like the driver: it then sees the registry
// as a session does (the 32-bit view of HKLM\Software on 64-bit Windows).
// Its texts are UTF-8 inside; they reach a console through its wide
// output, and a file or pipe as UTF-8.
#include <windows.h>
#include <odbcinst.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#define KVDRM_NO_DLLIMPORT
#define KVDRM_NO_CONFIGDSN
#include "include/kvdrm.h"
#include "proxy/locate.h"
#include "registry/reg_text.h"
#include "registry/registry.h"
#include "tools/pe_imports.h"

using kvdrm::kOdbcIniKey;
using kvdrm::kOdbcInstKey;

namespace {

struct Root {
  HKEY key;
  const char *name;
};
// In the order of kvdrm::kRegistryRoots.
const Root kRoots[2] = {{HKEY_CURRENT_USER, "HKCU"}, {HKEY_LOCAL_MACHINE, "HKLM"}};

struct View {
  REGSAM flag;
  const char *name;
};
const View kViews[2] = {{KEY_WOW64_32KEY, "32-bit view"}, {KEY_WOW64_64KEY, "64-bit view"}};

const char *const kManagerNames[KVDRM_MANAGER_ENTRIES + 1] = {
    "",
#define KC_NAME(ordinal, name, count) #name,
    KVDRM_MANAGER_TABLE(KC_NAME)
#undef KC_NAME
};

// ------------------------------------------------------------ texts

std::string Utf8(const wchar_t *w, size_t n) {
  if (!n) return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
  std::string s(size > 0 ? size : 0, '\0');
  if (size > 0) WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(n), &s[0], size, nullptr, nullptr);
  return s;
}
std::string Utf8(const std::wstring &w) { return Utf8(w.data(), w.size()); }

std::wstring Wide(const char *s, size_t n, UINT codePage = CP_UTF8) {
  if (!n) return std::wstring();
  const int size = MultiByteToWideChar(codePage, 0, s, static_cast<int>(n), nullptr, 0);
  std::wstring w(size > 0 ? size : 0, L'\0');
  if (size > 0) MultiByteToWideChar(codePage, 0, s, static_cast<int>(n), &w[0], size);
  return w;
}
std::wstring Wide(const std::string &s) { return Wide(s.data(), s.size()); }

// A text of the ANSI code page (a session's own texts) as UTF-8.
std::string FromAcp(const char *s, size_t n) { return Utf8(Wide(s, n, CP_ACP)); }

// The text in the ANSI code page, in which a session names its data source;
// false when the code page cannot hold it exactly (no best fit, no default
// character).
bool ToAcp(const std::string &text, std::string &acp) {
  const std::wstring w = Wide(text);
  acp.clear();
  if (w.empty()) return true;
  const UINT cp = GetACP();
  const bool utf8 = cp == CP_UTF8;  // takes no flags and no default character
  BOOL lossy = FALSE;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const int n = static_cast<int>(w.size());
  const int size = WideCharToMultiByte(cp, flags, w.data(), n, nullptr, 0, nullptr, utf8 ? nullptr : &lossy);
  if (size <= 0 || lossy) return false;
  acp.resize(size);
  WideCharToMultiByte(cp, flags, w.data(), n, &acp[0], size, nullptr, nullptr);
  return true;
}

// All output goes through here: to a console with its wide output, so that
// names, values and paths show in any script; to a file or pipe as UTF-8,
// lines ending in CR LF.
void WriteText(HANDLE out, const std::string &text) {
  DWORD mode, done;
  if (GetConsoleMode(out, &mode)) {
    const std::wstring w = Wide(text);
    for (size_t at = 0; at < w.size(); at += done) {
      if (!WriteConsoleW(out, w.data() + at, static_cast<DWORD>(w.size() - at), &done, nullptr) || !done) return;
    }
    return;
  }
  std::string bytes;
  for (char c : text) {
    if (c == '\n') bytes += '\r';
    bytes += c;
  }
  for (size_t at = 0; at < bytes.size(); at += done)
    if (!WriteFile(out, bytes.data() + at, static_cast<DWORD>(bytes.size() - at), &done, nullptr) || !done) return;
}

std::string Format(const char *format, va_list args) {
  va_list again;
  va_copy(again, args);
  const int n = vsnprintf(nullptr, 0, format, again);
  va_end(again);
  std::string s(n > 0 ? n : 0, '\0');
  if (n > 0) vsnprintf(&s[0], s.size() + 1, format, args);
  return s;
}

__attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2))) void Print(const char *format, ...) {
  va_list args;
  va_start(args, format);
  WriteText(GetStdHandle(STD_OUTPUT_HANDLE), Format(format, args));
  va_end(args);
}

__attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2))) void PrintError(const char *format, ...) {
  va_list args;
  va_start(args, format);
  WriteText(GetStdHandle(STD_ERROR_HANDLE), Format(format, args));
  va_end(args);
}

// The Windows error in words, without the trailing line break.
std::string SystemText(DWORD code) {
  wchar_t buf[512] = L"";
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buf,
                           sizeof buf / sizeof buf[0], nullptr);
  while (n > 0 && (buf[n - 1] == L'\r' || buf[n - 1] == L'\n' || buf[n - 1] == L' ')) buf[--n] = 0;
  return "Windows error " + std::to_string(code) + (n ? ": " + Utf8(buf, n) : std::string());
}

// The same for a manager that does not load, with what the error usually
// means there.
std::string ErrorText(DWORD code) {
  const std::string text = SystemText(code);
  switch (code) {
    case ERROR_MOD_NOT_FOUND:
      return text + " (there is no such file, or a DLL that it needs is missing)";
    case ERROR_BAD_EXE_FORMAT:
      return text + " (not a 32-bit DLL: the manager must be built for 32-bit x86, like KVDRM.dll)";
    case ERROR_ACCESS_DENIED:
      return text + " (the file may not be read by this user)";
    default:
      return text;
  }
}

// base\name, as the DLL makes it.
std::string KeyPath(const char *base, const std::string &name) { return std::string(base) + "\\" + name; }

bool OpenKey(HKEY root, const std::string &path, REGSAM access, kvdrm::RegKey &key) {
  return RegOpenKeyExW(root, Wide(path).c_str(), 0, access, key.out()) == ERROR_SUCCESS;
}

// Whether a key that opens with `access` does not open with full access:
// what a standard user meets under HKEY_LOCAL_MACHINE.
bool ReadOnly(HKEY root, const std::string &path, REGSAM view) {
  kvdrm::RegKey full;
  return !OpenKey(root, path, KEY_ALL_ACCESS | view, full);
}

// A value as text, by a session's rules for CTX (kvdrm::ReadRegStringW): a
// REG_SZ up to its first NUL, a REG_DWORD of at most 4 bytes in signed
// decimal, nothing of other types. Read whole, in UTF-16. Whether it exists.
bool ReadValue(HKEY key, const char *name, std::string &text) {
  const std::wstring wname = Wide(name, strlen(name));
  DWORD type = REG_NONE, size = 0;
  if (RegQueryValueExW(key, wname.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  text.clear();
  std::vector<wchar_t> data;
  LONG rc = ERROR_MORE_DATA;
  // It may grow between the queries: a few tries, then it reads as empty.
  for (int tries = 0; rc == ERROR_MORE_DATA && tries < 4; ++tries) {
    data.assign(size / sizeof(wchar_t) + 2, L'\0');
    size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    rc = RegQueryValueExW(key, wname.c_str(), nullptr, &type, reinterpret_cast<BYTE *>(data.data()), &size);
  }
  if (rc != ERROR_SUCCESS) return true;
  if (type == REG_DWORD && size <= 4) {
    uint32_t v = 0;
    memcpy(&v, data.data(), size);
    char digits[12];
    text.assign(digits, kvdrm::FormatRegDword(v, digits));
  } else if (type == REG_SZ) {
    const size_t n = size / sizeof(wchar_t);
    size_t length = 0;
    while (length < n && data[length]) ++length;
    text = Utf8(data.data(), length);
  }
  return true;
}

std::string Quoted(const std::string &s) { return "\"" + s + "\""; }

std::string Lower(std::string s) {
  for (char &c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// "...\KVDRM.dll" in any letter case, after the last ':' or '\'.
bool NamesKvdrm(const std::string &path) {
  size_t cut = path.find_last_of(":\\/");
  std::string file = cut == std::string::npos ? path : path.substr(cut + 1);
  return Lower(file) == "kvdrm.dll";
}

// The folder part of a path, with its separator ("" for a bare name).
std::string FolderOf(const std::string &path) {
  size_t cut = path.find_last_of(":\\/");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string WithSeparator(std::string folder) {
  if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
  return folder;
}

// A module's file, however long its path.
std::wstring ModuleFileW(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(module, &path[0], static_cast<DWORD>(path.size()));
    if (n < path.size() || path.size() >= 32768) {
      path.resize(n < path.size() ? n : 0);
      return path;
    }
    path.resize(path.size() * 2);
  }
}
std::string ModuleFile(HMODULE module) { return Utf8(ModuleFileW(module)); }

std::string ProgramFolder() { return FolderOf(ModuleFile(nullptr)); }

// ------------------------------------------- why a manager does not load

// Where the loader looks for a DLL named without a folder while it loads a
// manager, in its order: `first` (the manager's folder when it is loaded by
// its path, the program's for a bare name), the system folders, the current
// directory, then PATH.
struct SearchOrder {
  std::string first;
  std::vector<std::string> system, rest;
};

SearchOrder LoaderSearch(const std::string &first) {
  SearchOrder order;
  order.first = WithSeparator(first);
  wchar_t buf[MAX_PATH];
  UINT n;
  if ((n = GetSystemDirectoryW(buf, MAX_PATH)) && n < MAX_PATH) order.system.push_back(WithSeparator(Utf8(buf, n)));
  if ((n = GetWindowsDirectoryW(buf, MAX_PATH)) && n < MAX_PATH) {
    order.system.push_back(WithSeparator(Utf8(buf, n)) + "System\\");
    order.system.push_back(WithSeparator(Utf8(buf, n)));
  }
  std::wstring text(GetCurrentDirectoryW(0, nullptr), L'\0');
  text.resize(text.empty() ? 0 : GetCurrentDirectoryW(static_cast<DWORD>(text.size()), &text[0]));
  if (!text.empty()) order.rest.push_back(WithSeparator(Utf8(text)));
  text.assign(GetEnvironmentVariableW(L"PATH", nullptr, 0), L'\0');
  text.resize(text.empty() ? 0 : GetEnvironmentVariableW(L"PATH", &text[0], static_cast<DWORD>(text.size())));
  const std::string path = Utf8(text);
  for (size_t at = 0; at <= path.size();) {
    size_t end = path.find(';', at);
    if (end == std::string::npos) end = path.size();
    std::string folder = path.substr(at, end - at);
    folder.erase(std::remove(folder.begin(), folder.end(), '"'), folder.end());
    if (!folder.empty()) order.rest.push_back(WithSeparator(folder));
    at = end + 1;
  }
  return order;
}

DWORD Attributes(const std::string &path) { return GetFileAttributesW(Wide(path).c_str()); }

bool IsFile(const std::string &path) {
  DWORD attr = Attributes(path);
  return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

// The path of `name` in the first folder of `order` that holds it; "" when
// none does. `system` tells whether that was a system folder.
std::string Find(const SearchOrder &order, const std::string &name, bool &system) {
  system = false;
  if (IsFile(order.first + name)) return order.first + name;
  for (const std::string &folder : order.system)
    if (IsFile(folder + name)) return system = true, folder + name;
  for (const std::string &folder : order.rest)
    if (IsFile(folder + name)) return folder + name;
  return "";
}

// The file's PE headers and import table, read as bytes: nothing is loaded.
kvcheck::PeImage ReadPe(const std::string &path) {
  std::vector<unsigned char> bytes;
  HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kvcheck::PeImage();
  DWORD size = GetFileSize(file, nullptr), got = 0;
  // A DLL that matters here is far below this; a larger file is read in part.
  if (size == INVALID_FILE_SIZE || size > (64u << 20)) size = size == INVALID_FILE_SIZE ? 0 : 64u << 20;
  bytes.resize(size);
  if (size && !ReadFile(file, bytes.data(), size, &got, nullptr)) got = 0;
  CloseHandle(file);
  return kvcheck::ReadPeImage(bytes.data(), got);
}

// Names the loader resolves without a file of that name: the API sets.
bool IsApiSet(const std::string &lowerName) {
  return lowerName.compare(0, 7, "api-ms-") == 0 || lowerName.compare(0, 7, "ext-ms-") == 0;
}

std::string BaseName(const std::string &path) { return path.substr(FolderOf(path).size()); }

struct ImportWalk {
  std::vector<std::string> missing;   // "<importer> needs <dll>"
  std::vector<std::string> notX86;    // DLLs found on the way that are no 32-bit DLLs
  std::vector<std::string> tooLarge;  // files whose import table is too large to read
};

// The manager's imports, and the imports of each DLL found on the way,
// each DLL once. A DLL found in a system folder is the system's: its own
// imports are resolved through the system's known DLLs and API sets, which
// a look at files cannot follow, so the walk stops there.
ImportWalk WalkImports(const std::string &manager, const SearchOrder &order) {
  ImportWalk walk;
  std::vector<std::string> seen = {Lower(BaseName(manager))};
  std::vector<std::string> queue = {manager};
  for (size_t q = 0; q < queue.size(); ++q) {
    const kvcheck::PeImage pe = ReadPe(queue[q]);
    if (q > 0 && !kvcheck::IsX86Dll(pe)) walk.notX86.push_back(queue[q]);
    if (pe.tooLarge) walk.tooLarge.push_back(queue[q]);
    for (const std::string &name : pe.imports) {
      // The loader reads the names in the ANSI code page.
      const std::string dll = FromAcp(name.data(), name.size()), key = Lower(dll);
      if (IsApiSet(key) || std::find(seen.begin(), seen.end(), key) != seen.end()) continue;
      seen.push_back(key);
      bool system = false;
      const std::string found = Find(order, dll, system);
      if (found.empty())
        walk.missing.push_back(BaseName(queue[q]) + " needs " + dll);
      else if (!system)
        queue.push_back(found);
    }
  }
  return walk;
}

// What a file is, when it is not a 32-bit DLL.
std::string NotX86Dll(const kvcheck::PeImage &pe) {
  if (pe.kind == kvcheck::kPe32Plus || pe.machine == kvcheck::kMachineAmd64) return "it is a 64-bit build";
  if (pe.kind == kvcheck::kNotPe) return "it is no Windows program or DLL at all";
  if (pe.machine != kvcheck::kMachineI386) {
    char machine[8];
    snprintf(machine, sizeof machine, "%04X", pe.machine);
    return std::string("it is built for another processor (machine 0x") + machine + ")";
  }
  return "it is a program, not a DLL";
}

// Why the manager a session names did not load with Windows error `error`,
// in words, one line each: for 126 the DLLs that are not where the loader
// looks, for 193 what the file is instead. Reads files only.
std::vector<std::string> WhyNoLoad(const std::string &managerPath, bool hasDirectory, DWORD error) {
  std::vector<std::string> lines;
  if (error != ERROR_MOD_NOT_FOUND && error != ERROR_BAD_EXE_FORMAT) return lines;
  std::string file;
  SearchOrder order;
  if (hasDirectory) {
    const std::wstring path = Wide(managerPath);
    std::wstring full(GetFullPathNameW(path.c_str(), 0, nullptr, nullptr), L'\0');
    const DWORD n = full.empty() ? 0 : GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
    file = n && n < full.size() ? Utf8(full.data(), n) : managerPath;
    order = LoaderSearch(FolderOf(file));
  } else {
    order = LoaderSearch(ProgramFolder());
    bool system = false;
    file = Find(order, managerPath, system);
  }
  const std::string nowhere = ", which is not in " + order.first + ", the system folders, the current directory or PATH";
  if (file.empty()) {
    lines.push_back(managerPath + " itself is not in " + order.first +
                    ", the system folders, the current directory or PATH");
    return lines;
  }
  if (!IsFile(file)) {
    lines.push_back("there is no file " + Quoted(file));
    return lines;
  }
  const kvcheck::PeImage pe = ReadPe(file);
  if (!kvcheck::IsX86Dll(pe)) {
    lines.push_back(Quoted(file) + " is not a 32-bit Windows DLL: " + NotX86Dll(pe) +
                    "; the manager must be built for 32-bit x86, like KVDRM.dll");
    return lines;
  }
  const ImportWalk walk = WalkImports(file, order);
  for (const std::string &dll : walk.tooLarge)
    lines.push_back(BaseName(dll) + ": import table too large to read (over " +
                    std::to_string(kvcheck::kMaxImportDescriptors) + " DLLs or " +
                    std::to_string(kvcheck::kMaxImportNameBytes / 1024) +
                    " KB of DLL names); the DLLs it needs cannot be told");
  for (const std::string &m : walk.missing) lines.push_back(m + nowhere);
  for (const std::string &dll : walk.notX86)
    lines.push_back(BaseName(file) + " needs " + Quoted(dll) + ", which is not a 32-bit Windows DLL: " +
                    NotX86Dll(ReadPe(dll)));
  if (lines.empty())
    lines.push_back("every DLL it imports was found (" +
                    std::string(pe.complete ? "" : "as far as its import table could be read; ") +
                    "one of them may fail to load in turn)");
  return lines;
}

void PrintWhy(const std::vector<std::string> &lines) {
  for (const std::string &line : lines) Print("   - %s\n", line.c_str());
}

// ----------------------------------------------------------- one source

// The DLL's own lookup of a data source's manager (proxy/locate.h), freed
// when it goes. Its texts are copied here, once, into the tool's own
// (`found`); the rest of the tool reads those, and loads through Load().
struct Lookup {
  enum Outcome { kFound, kNameNotInCodePage, kOutOfMemory };
  struct Found {
    int root = -1;  // index into kRoots of the key that opened; -1: none
    std::string ctx, directory, managerPath;
  } found;
  kvdrm::ManagerLookup lookup = {};

  Lookup() = default;
  Lookup(const Lookup &) = delete;
  Lookup &operator=(const Lookup &) = delete;
  ~Lookup() { kvdrm::FreeManagerLookup(lookup); }

  // `dsn` as a session names it: in the ANSI code page.
  Outcome Find(const std::string &dsn, std::string &acpName) {
    if (!ToAcp(dsn, acpName)) return kNameNotInCodePage;
    if (!kvdrm::LookupManager(acpName.c_str(), lookup)) {
      PrintError("kvdrm-check: out of memory\n");
      return kOutOfMemory;
    }
    found.root = lookup.root;
    const wchar_t *ctx = reinterpret_cast<const wchar_t *>(kvdrm::WTextStr(lookup.ctx));
    found.ctx = Utf8(ctx, lookup.ctx.length);
    found.directory = Utf8(ctx, lookup.directory);
    found.managerPath = Utf8(reinterpret_cast<const wchar_t *>(kvdrm::WTextStr(lookup.managerPath)),
                             lookup.managerPath.length);
    return kFound;
  }
  HMODULE Load() const { return kvdrm::LoadManager(lookup); }
};

// What a session does with a name its code page cannot hold.
void NameNotInCodePage() {
  Print("   A session names its data source in the ANSI code page (%u), which cannot hold this name\n"
        "   exactly: no session can name this data source.\n",
        GetACP());
}

int CheckDataSource(const std::string &dsn) {
  Print("kvdrm-check: data source %s\n", Quoted(dsn).c_str());
  const std::string path = KeyPath(kOdbcIniKey, dsn);

  Print("\n1. Where the data source is (key %s)\n", path.c_str());
  for (const Root &r : kRoots)
    for (const View &v : kViews) {
      kvdrm::RegKey key;
      bool present = OpenKey(r.key, path, KEY_READ | v.flag, key);
      Print("   %s, %s: %s\n", r.name, v.name,
            !present                         ? "absent"
            : ReadOnly(r.key, path, v.flag) ? "present, opens for reading only (enough: a session only reads it)"
                                             : "present");
    }

  Lookup where;
  std::string acpName;
  switch (where.Find(dsn, acpName)) {
    case Lookup::kOutOfMemory:
      return 2;
    case Lookup::kNameNotInCodePage:
      NameNotInCodePage();
      Print("\nResult: no session can begin: the data source's name is not in the ANSI code page; "
            "DrmBeginSession would return %d.\n",
            KVDRM_E_NO_MANAGER);
      return 1;
    case Lookup::kFound:
      break;
  }
  const Lookup::Found &found = where.found;
  const int root = found.root;
  const std::string &ctx = found.ctx, &directory = found.directory, &managerPath = found.managerPath;
  if (root < 0) {
    Print("   A session finds no key it can open for reading, under HKCU nor HKLM: it has no CTX value\n"
          "   and loads the bare file name %s from the program's search path.\n",
          KVDRM_MANAGER_FILE);
  } else {
    Print("   A session reads the key under %s (HKCU is searched first, then HKLM; the first key that opens\n"
          "   decides), in this program's view, which is a 32-bit driver's.\n",
          kRoots[root].name);
  }

  std::string driver;
  Print("\n2. Its values\n");
  if (root < 0) {
    Print("   (no key)\n");
  } else {
    kvdrm::RegKey key;
    OpenKey(kRoots[root].key, path, KEY_READ, key);
    for (const char *name : {"Description", "DBQ", "CTX", "Driver"}) {
      std::string text;
      bool has = ReadValue(key.get(), name, text);
      Print("   %-12s %s\n", name, has ? Quoted(text).c_str() : "(missing)");
      if (has && strcmp(name, "Driver") == 0) driver = text;
    }
    if (ctx.empty()) Print("   Without a CTX value a session loads the bare file name %s.\n", KVDRM_MANAGER_FILE);
  }

  Print("\n3. The driver\n");
  if (driver.empty()) {
    Print("   The data source names no driver (no \"Driver\" value): setup cannot store it again.\n");
  } else {
    const std::string dpath = KeyPath(kOdbcInstKey, driver);
    for (const View &v : kViews) {
      kvdrm::RegKey key;
      if (!OpenKey(HKEY_LOCAL_MACHINE, dpath, KEY_READ | v.flag, key)) {
        Print("   HKLM\\%s, %s: not registered (setup stores nothing in this view)\n", dpath.c_str(), v.name);
        continue;
      }
      std::string setup, file;
      ReadValue(key.get(), "Setup", setup);
      ReadValue(key.get(), "Driver", file);
      Print("   HKLM\\%s, %s: registered; Setup %s, Driver %s\n", dpath.c_str(), v.name,
            setup.empty() ? "(missing)" : Quoted(setup).c_str(), file.empty() ? "(missing)" : Quoted(file).c_str());
      if (ReadOnly(HKEY_LOCAL_MACHINE, dpath, v.flag))
        Print("      it opens for reading only (enough: setup only reads it to store a user data source)\n");
    }
  }

  Print("\n4. The control-file directory\n");
  if (ctx.empty()) {
    Print("   empty (no CTX value)\n");
  } else {
    Print("   CTX %s gives the directory %s (the text up to its last ':' or '\\'; '/' is no separator)\n",
          Quoted(ctx).c_str(), Quoted(directory).c_str());
    DWORD attr = Attributes(ctx);
    Print("   the control file %s\n", attr == INVALID_FILE_ATTRIBUTES ? "does not exist (the manager may need it)"
                                      : (attr & FILE_ATTRIBUTE_DIRECTORY) ? "is a directory, not a file"
                                                                            : "exists");
  }

  Print("\n5. The manager file\n");
  Print("   A session loads %s\n", Quoted(managerPath).c_str());
  if (directory.empty())
    Print("   Warning: a bare name, loaded through the search path: Windows searches the program's folder,\n"
          "   the system folders, the current directory and PATH, so the driver's program may find another\n"
          "   file than this tool does. Give CTX as a full path, such as C:\\KOLVAR\\KOLVARD.CTX.\n");
  HMODULE manager = where.Load();
  std::string failure;
  if (!manager) {
    DWORD err = GetLastError();
    failure = "the manager " + Quoted(managerPath) + " does not load";
    Print("   It does not load: %s.\n", ErrorText(err).c_str());
    PrintWhy(WhyNoLoad(managerPath, !directory.empty(), err));
  } else {
    Print("   It loads: %s\n", ModuleFile(manager).c_str());

    Print("\n6. The 48 entry points (by ordinal)\n");
    std::vector<int> missing;
    for (int n = 1; n <= KVDRM_MANAGER_ENTRIES; ++n)
      if (!GetProcAddress(manager, MAKEINTRESOURCEA(n))) missing.push_back(n);
    if (missing.empty()) {
      Print("   all 48 present\n");
    } else {
      Print("   %u of 48 missing:\n", static_cast<unsigned>(missing.size()));
      for (int n : missing) Print("      ordinal %2d %s\n", n, kManagerNames[n]);
      failure = "the manager lacks " + std::to_string(missing.size()) + " of its 48 entry points (first: ordinal " +
                std::to_string(missing[0]) + " " + kManagerNames[missing[0]] + ")";
    }
    FreeLibrary(manager);
  }

  Print("\n7. The file data source\n");
  wchar_t dir[MAX_PATH + 1] = L"";
  UWORD mode = ODBC_BOTH_DSN;
  SQLGetConfigMode(&mode);
  // Setup reads the directory in this mode as well.
  SQLSetConfigMode(ODBC_BOTH_DSN);
  SQLGetPrivateProfileStringW(L"ODBC File DSN", L"DefaultDSNDir", L"", dir, MAX_PATH + 1, L"odbc.ini");
  SQLSetConfigMode(mode);
  if (!dir[0]) {
    Print("   DefaultDSNDir is not set: the installer keeps no file data sources here\n");
  } else {
    std::string file = Utf8(dir, wcslen(dir)) + "\\" + dsn + ".DSN";
    Print("   %s %s\n", Quoted(file).c_str(), Attributes(file) == INVALID_FILE_ATTRIBUTES ? "does not exist" : "exists");
  }

  Print("\n");
  if (failure.empty()) {
    Print("Result: a session could begin (whether the manager acknowledges it shows only when one does).\n");
    return 0;
  }
  Print("Result: no session can begin: %s; DrmBeginSession would return %d.\n", failure.c_str(), KVDRM_E_NO_MANAGER);
  return 1;
}

// ------------------------------------------------------------------ list

// Every subkey name of `key` (root\path), whatever its length. A name that
// cannot be read is told, with its index and the error, and counted in
// `unreadable`.
std::vector<std::string> SubkeyNames(HKEY key, const char *path, const View &v, const char *rootName,
                                     int &unreadable) {
  std::vector<std::string> names;
  std::vector<wchar_t> name(256);
  for (DWORD i = 0;;) {
    DWORD len = static_cast<DWORD>(name.size());
    LONG rc = RegEnumKeyExW(key, i, name.data(), &len, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    // A key name has at most 255 characters, but Wine takes 256; grow and
    // read the same entry again.
    if (rc == ERROR_MORE_DATA && name.size() < 0x10000) {
      name.resize(name.size() * 2);
      continue;
    }
    if (rc == ERROR_SUCCESS) {
      names.push_back(Utf8(name.data(), len));
    } else {
      Print("   %s, %s: entry %lu of %s\\%s could not be read: %s\n", rootName, v.name,
            static_cast<unsigned long>(i), rootName, path, SystemText(rc).c_str());
      ++unreadable;
    }
    ++i;
  }
  return names;
}

std::string ValueOf(HKEY root, const std::string &path, const char *value, REGSAM view) {
  kvdrm::RegKey key;
  std::string text;
  if (OpenKey(root, path, KEY_READ | view, key)) ReadValue(key.get(), value, text);
  return text;
}

int List(std::vector<std::string> drivers) {
  int unreadable = 0;
  if (drivers.empty()) {
    // The drivers whose Setup or Driver file is KVDRM.dll, in either view.
    for (const View &v : kViews) {
      kvdrm::RegKey registered;
      if (!OpenKey(HKEY_LOCAL_MACHINE, kOdbcInstKey, KEY_READ | v.flag, registered)) continue;
      for (const std::string &d : SubkeyNames(registered.get(), kOdbcInstKey, v, "HKLM", unreadable)) {
        std::string p = KeyPath(kOdbcInstKey, d);
        if ((NamesKvdrm(ValueOf(HKEY_LOCAL_MACHINE, p, "Setup", v.flag)) ||
             NamesKvdrm(ValueOf(HKEY_LOCAL_MACHINE, p, "Driver", v.flag))))
          if (std::find(drivers.begin(), drivers.end(), d) == drivers.end()) drivers.push_back(d);
      }
    }
    if (drivers.empty()) {
      Print("kvdrm-check: no driver under HKLM\\%s names KVDRM.dll as its Setup or Driver file\n", kOdbcInstKey);
      return 1;
    }
  }
  Print("kvdrm-check: data sources of the driver%s", drivers.size() > 1 ? "s" : "");
  for (size_t i = 0; i < drivers.size(); ++i) Print("%s%s", i ? ", " : " ", Quoted(drivers[i]).c_str());
  Print("\n");
  int count = 0;
  for (const Root &r : kRoots)
    for (const View &v : kViews) {
      // Each data source opened under its parent: a full path of a long
      // name can be longer than the registry calls take.
      kvdrm::RegKey sources;
      if (!OpenKey(r.key, kOdbcIniKey, KEY_READ | v.flag, sources)) continue;
      for (const std::string &name : SubkeyNames(sources.get(), kOdbcIniKey, v, r.name, unreadable)) {
        kvdrm::RegKey key;
        LONG rc = RegOpenKeyExW(sources.get(), Wide(name).c_str(), 0, KEY_READ | v.flag, key.out());
        if (rc != ERROR_SUCCESS) {
          // Its driver is unknown: it may be one of these.
          Print("   %s, %s: %s could not be read: %s\n", r.name, v.name, Quoted(name).c_str(),
                SystemText(rc).c_str());
          ++unreadable;
          continue;
        }
        std::string drv, ctx;
        ReadValue(key.get(), "Driver", drv);
        if (std::find(drivers.begin(), drivers.end(), drv) == drivers.end()) continue;
        ReadValue(key.get(), "CTX", ctx);
        Print("   %s, %s: %-24s CTX %s\n", r.name, v.name, Quoted(name).c_str(), Quoted(ctx).c_str());
        ++count;
      }
    }
  if (!count) Print("   none\n");
  if (unreadable) {
    Print("kvdrm-check: %d entr%s could not be read: the list may be incomplete\n", unreadable,
          unreadable == 1 ? "y" : "ies");
    return 1;
  }
  return count ? 0 : 1;
}

// ------------------------------------------------------------- a session

// A session runs in a process of its own: the tool itself, started with
// --session-child. A manager that crashes or never returns takes only that
// process with it; this one reports. The child tells how far it got, and
// what crashed, through this record in memory both processes share.
enum Step : LONG { kStarting, kLoadingKvdrm, kBeginning, kLookingAtManager, kLoadingAgain, kEnding, kReleasing,
                   kExiting };
const char *const kStepNames[] = {"the start of the session process", "LoadLibrary of KVDRM.dll",
                                  "DrmBeginSession", "the look at the loaded manager",
                                  "the second load of the manager (to learn why it did not load)", "DrmEndSession",
                                  "FreeLibrary of KVDRM.dll", "the end of the session process"};

struct ChildReport {
  volatile LONG step;      // Step
  volatile LONG finished;  // the report is printed, `status` is its exit status
  volatile LONG status;
  volatile LONG crashed;   // an exception nothing handled: what and where
  DWORD code;
  uintptr_t address;
  wchar_t module[1024];    // the file of the module that holds `address`; empty: none
};

ChildReport *g_report;  // null outside the session process
const UINT kCrashedStatus = 3;

void At(Step step) {
  if (g_report) g_report->step = step;
}

// Every exception that no one handles ends here (the manager's, or ours):
// what and where go to the report, and the process ends at once, without
// a debugger or a dialog.
LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS *e) {
  ChildReport *r = g_report;
  r->code = e->ExceptionRecord->ExceptionCode;
  r->address = reinterpret_cast<uintptr_t>(e->ExceptionRecord->ExceptionAddress);
  HMODULE module = nullptr;
  if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         static_cast<LPCWSTR>(e->ExceptionRecord->ExceptionAddress), &module) &&
      module)
    GetModuleFileNameW(module, r->module, sizeof r->module / sizeof r->module[0] - 1);
  r->crashed = 1;
  TerminateProcess(GetCurrentProcess(), kCrashedStatus);
  return EXCEPTION_EXECUTE_HANDLER;
}

double Milliseconds(const LARGE_INTEGER &from, const LARGE_INTEGER &to) {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(f.QuadPart);
}

typedef int32_t(__stdcall *BeginFn)(KvdrmSession *, KvdrmArg, KvdrmArg, const char *);
typedef int32_t(__stdcall *EndFn)(KvdrmSession);

// One session as the driver makes it, through the KVDRM.dll the data
// source's driver registration names (or the one beside this program). Runs
// in the session process.
int Session(const std::string &dsn) {
  Print("kvdrm-check: a session on the data source %s, as the driver makes one\n\n", Quoted(dsn).c_str());
  Lookup where;
  std::string acpName;
  switch (where.Find(dsn, acpName)) {
    case Lookup::kOutOfMemory:
      Print("\nResult: no session: kvdrm-check ran out of memory.\n");
      return 1;
    case Lookup::kNameNotInCodePage:
      NameNotInCodePage();
      Print("\nResult: the session did not begin.\n");
      return 1;
    case Lookup::kFound:
      break;
  }
  const Lookup::Found &found = where.found;

  // The driver loads the KVDRM.dll it was installed with: its Setup file,
  // in this program's view (a 32-bit driver's).
  std::string driver, setup, dll, why;
  if (found.root >= 0) driver = ValueOf(kRoots[found.root].key, KeyPath(kOdbcIniKey, dsn), "Driver", 0);
  if (!driver.empty()) setup = ValueOf(HKEY_LOCAL_MACHINE, KeyPath(kOdbcInstKey, driver), "Setup", 0);
  if (NamesKvdrm(setup)) {
    dll = setup;
    why = "the Setup file of the driver " + Quoted(driver);
  } else {
    dll = ProgramFolder() + "KVDRM.dll";
    why = "the one beside kvdrm-check.exe: " +
          (found.root < 0   ? std::string("there is no data source key")
           : driver.empty() ? std::string("the data source names no driver")
           : setup.empty()  ? "the driver " + Quoted(driver) + " has no Setup value in this view"
                            : "the driver's Setup file " + Quoted(setup) + " is not a KVDRM.dll");
  }
  Print("   KVDRM.dll: %s (%s)\n", Quoted(dll).c_str(), why.c_str());
  At(kLoadingKvdrm);
  HMODULE proxy = LoadLibraryW(Wide(dll).c_str());
  if (!proxy) {
    Print("   It does not load: %s.\n\nResult: no session: KVDRM.dll does not load.\n", SystemText(GetLastError()).c_str());
    return 1;
  }
  BeginFn begin = reinterpret_cast<BeginFn>(reinterpret_cast<void *>(GetProcAddress(proxy, "DrmBeginSession")));
  EndFn end = reinterpret_cast<EndFn>(reinterpret_cast<void *>(GetProcAddress(proxy, "DrmEndSession")));
  if (!begin || !end) {
    Print("   It exports no DrmBeginSession or DrmEndSession.\n\nResult: no session: that file is no KVDRM.dll.\n");
    FreeLibrary(proxy);
    return 1;
  }

  KvdrmSession handle = 0;
  LARGE_INTEGER t0, t1, t2, t3;
  At(kBeginning);
  QueryPerformanceCounter(&t0);
  const int32_t began = begin(&handle, 0, 0, acpName.c_str());
  QueryPerformanceCounter(&t1);
  At(kLookingAtManager);
  Print("   DrmBeginSession(%s) returned %d (%.2f ms)\n", Quoted(dsn).c_str(), began, Milliseconds(t0, t1));

  // The record stays the caller's until DrmEndSession: read it before.
  const KvdrmSessionRecord *rec = reinterpret_cast<const KvdrmSessionRecord *>(static_cast<uintptr_t>(handle));
  HMODULE manager = rec ? reinterpret_cast<HMODULE>(static_cast<uintptr_t>(rec->module)) : nullptr;
  std::wstring loaded;
  if (manager) {
    loaded = ModuleFileW(manager);
    Print("   The manager loaded: %s\n", Utf8(loaded).c_str());
    const bool ack = rec->ack == KVDRM_RECORD_MARKER;
    Print("   The manager %s the session (record slot 2 %s the marker 0x%08lX)\n",
          ack ? "acknowledged" : "did not acknowledge", ack ? "holds" : "does not hold",
          static_cast<unsigned long>(KVDRM_RECORD_MARKER));
    int missing = 0, first = 0;
    for (int n = 1; n <= KVDRM_MANAGER_ENTRIES; ++n)
      if (!GetProcAddress(manager, MAKEINTRESOURCEA(n)) && !missing++) first = n;
    if (missing)
      Print("   It lacks %d of its 48 entry points (first: ordinal %d %s)\n", missing, first, kManagerNames[first]);
  } else {
    Print("   The manager %s did not load.\n", Quoted(found.managerPath).c_str());
    // The session's own error is gone with it: load the same file the same
    // way to learn it.
    At(kLoadingAgain);
    HMODULE again = where.Load();
    const DWORD err = GetLastError();
    At(kLookingAtManager);
    if (again) {
      Print("   (It loads when this program tries again: something changed meanwhile.)\n");
      FreeLibrary(again);
    } else {
      Print("   Why: %s.\n", ErrorText(err).c_str());
      PrintWhy(WhyNoLoad(found.managerPath, !found.directory.empty(), err));
    }
  }

  At(kEnding);
  QueryPerformanceCounter(&t2);
  const int32_t ended = end(handle);
  QueryPerformanceCounter(&t3);
  At(kLookingAtManager);
  Print("   DrmEndSession returned %d (%.2f ms)\n", ended, Milliseconds(t2, t3));
  if (manager)
    Print("   The manager %s\n",
          GetModuleHandleW(loaded.c_str()) ? "is still loaded afterwards" : "was released afterwards");
  At(kReleasing);
  FreeLibrary(proxy);
  At(kExiting);

  if (began == KVDRM_OK && ended == KVDRM_OK) {
    Print("\nResult: the session began and ended.\n");
    return 0;
  }
  Print("\nResult: %s.\n", began != KVDRM_OK ? "the session did not begin" : "the session did not end cleanly");
  return 1;
}

// The session process: the report record comes as an inherited handle.
int SessionChild(const std::string &reportHandle, const std::string &dsn) {
  char *end = nullptr;
  const unsigned long value = strtoul(reportHandle.c_str(), &end, 10);
  if (reportHandle.empty() || *end) return 2;
  HANDLE mapping = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
  g_report = static_cast<ChildReport *>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(ChildReport)));
  if (!g_report) return 2;
  SetUnhandledExceptionFilter(OnUnhandledException);
  // No dialog for a manager that fails to load or crashes: nobody may be
  // there to close it.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  const int status = Session(dsn);
  g_report->status = status;
  g_report->finished = 1;
  return status;
}

// What an exception code means, for the common ones.
const char *ExceptionName(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION: return "access violation";
    case EXCEPTION_STACK_OVERFLOW: return "stack overflow";
    case EXCEPTION_ILLEGAL_INSTRUCTION: return "illegal instruction";
    case EXCEPTION_PRIV_INSTRUCTION: return "privileged instruction";
    case EXCEPTION_INT_DIVIDE_BY_ZERO: return "integer division by zero";
    case EXCEPTION_BREAKPOINT: return "breakpoint";
    case EXCEPTION_IN_PAGE_ERROR: return "in-page error";
    case EXCEPTION_DATATYPE_MISALIGNMENT: return "misaligned data";
    case 0xC0000409u: return "stack buffer overrun";
    case 0xE06D7363u: return "a C++ exception";
    default: return "";
  }
}

std::string ExceptionText(DWORD code) {
  char hex[16];
  snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(code));
  const std::string name = ExceptionName(code);
  return "exception " + std::string(hex) + (name.empty() ? "" : " (" + name + ")");
}

// Windows' rules for one argument of a command line.
std::wstring QuoteArgument(const std::wstring &arg) {
  std::wstring q = L"\"";
  size_t slashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    q.append(c == L'"' ? 2 * slashes + 1 : slashes, L'\\');
    slashes = 0;
    q += c;
  }
  q.append(2 * slashes, L'\\');
  return q + L"\"";
}

// Copies the session process's output to ours as it comes: bytes as they
// are to a file or pipe, whole lines through the console's wide output.
DWORD WINAPI PassOutput(void *pipe) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode, got, done;
  const bool console = GetConsoleMode(out, &mode);
  std::string pending;
  char buf[4096];
  while (ReadFile(pipe, buf, sizeof buf, &got, nullptr) && got) {
    if (!console) {
      for (DWORD at = 0; at < got; at += done)
        if (!WriteFile(out, buf + at, got - at, &done, nullptr) || !done) break;
      continue;
    }
    pending.append(buf, got);
    const size_t line = pending.rfind('\n');
    if (line == std::string::npos) continue;
    WriteText(out, pending.substr(0, line + 1));
    pending.erase(0, line + 1);
  }
  if (console && !pending.empty()) WriteText(out, pending);
  return 0;
}

struct Handle {
  HANDLE h = nullptr;
  ~Handle() {
    if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};

// --session: the session in a process of its own, given `seconds` in all.
int RunSession(const std::string &dsn, unsigned seconds) {
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
  Handle mapping, readEnd, writeEnd, job, process, thread, relay;
  mapping.h = CreateFileMappingW(INVALID_HANDLE_VALUE, &inherited, PAGE_READWRITE, 0, sizeof(ChildReport), nullptr);
  ChildReport *report =
      mapping.h ? static_cast<ChildReport *>(MapViewOfFile(mapping.h, FILE_MAP_WRITE, 0, 0, sizeof(ChildReport)))
                : nullptr;
  std::string failed;
  if (!report || !CreatePipe(&readEnd.h, &writeEnd.h, &inherited, 0) ||
      !SetHandleInformation(readEnd.h, HANDLE_FLAG_INHERIT, 0))
    failed = SystemText(GetLastError());
  // It must not outlive this process, however this one ends.
  job.h = failed.empty() ? CreateJobObjectW(nullptr, nullptr) : nullptr;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (failed.empty() &&
      (!job.h || !SetInformationJobObject(job.h, JobObjectExtendedLimitInformation, &limits, sizeof limits)))
    failed = SystemText(GetLastError());
  if (failed.empty()) {
    const std::wstring exe = ModuleFileW(nullptr);
    std::wstring cmd = QuoteArgument(exe) + L" --session-child " +
                       std::to_wstring(reinterpret_cast<uintptr_t>(mapping.h)) + L" " + QuoteArgument(Wide(dsn));
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = writeEnd.h;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr, &si, &pi)) {
      failed = SystemText(GetLastError());
    } else {
      process.h = pi.hProcess, thread.h = pi.hThread;
      if (!AssignProcessToJobObject(job.h, pi.hProcess)) {
        failed = SystemText(GetLastError());
        TerminateProcess(pi.hProcess, 1);
      }
    }
  }
  CloseHandle(writeEnd.h);
  writeEnd.h = nullptr;
  if (!failed.empty()) {
    Print("kvdrm-check: a session on the data source %s\n\nResult: no session: the session process could not be "
          "started: %s.\n",
          Quoted(dsn).c_str(), failed.c_str());
    return 1;
  }
  relay.h = CreateThread(nullptr, 0, PassOutput, readEnd.h, 0, nullptr);
  ResumeThread(thread.h);
  const bool hung = WaitForSingleObject(process.h, seconds * 1000) == WAIT_TIMEOUT;
  const Step step = static_cast<Step>(report->step);
  // Whatever it left running goes too, and then its output ends.
  TerminateJobObject(job.h, 1);
  WaitForSingleObject(process.h, 10000);
  if (relay.h) WaitForSingleObject(relay.h, 10000);
  DWORD status = 1;
  GetExitCodeProcess(process.h, &status);

  const char *call = kStepNames[step >= kStarting && step <= kExiting ? step : kStarting];
  // Past DrmBeginSession's return, the session began.
  const std::string result = step > kBeginning && step != kLoadingAgain ? "the session did not end cleanly"
                                                                        : "no session";
  if (hung) {
    Print("   %s did not return within %u s: kvdrm-check ended the session process.\n\nResult: %s: %s did not "
          "return within %u s.\n",
          call, seconds, result.c_str(), call, seconds);
    return 1;
  }
  if (report->crashed) {
    const std::string what = ExceptionText(report->code);
    const std::string module = Utf8(report->module, wcslen(report->module));
    char at[16];
    snprintf(at, sizeof at, "0x%08lX", static_cast<unsigned long>(report->address));
    Print("   %s crashed: %s at %s, %s.\n\nResult: %s: %s crashed with %s%s.\n", call, what.c_str(), at,
          module.empty() ? "in no module" : ("in " + Quoted(module)).c_str(), result.c_str(), call, what.c_str(),
          module.empty() ? "" : (" in " + BaseName(module)).c_str());
    return 1;
  }
  if (report->finished && status == static_cast<DWORD>(report->status) && status <= 1) return static_cast<int>(status);
  // Ended by something else: an exception the report did not see, or an
  // exit from inside a call.
  if (status >= 0xC0000000u) {
    const std::string what = ExceptionText(status);
    Print("   The session process ended during %s with %s.\n\nResult: %s: %s crashed with %s.\n", call,
          what.c_str(), result.c_str(), call, what.c_str());
  } else {
    Print("   The session process ended during %s with exit status %lu and no result.\n\nResult: %s: the session "
          "process ended during %s.\n",
          call, static_cast<unsigned long>(status), result.c_str(), call);
  }
  return 1;
}

bool ParseSeconds(const std::string &text, unsigned &seconds) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  seconds = static_cast<unsigned>(strtoul(text.c_str(), nullptr, 10));
  return seconds >= 1 && seconds <= 86400;
}

int Usage() {
  PrintError(
      "usage: kvdrm-check <data source name>\n"
      "       kvdrm-check --session <data source name> [--timeout <seconds>]\n"
      "       kvdrm-check --list [--driver <driver name>]...\n"
      "--session runs the session in a process of its own and ends it after --timeout seconds\n"
      "(1 to 86400; 20 when not given).\n"
      "Exit status: 0 when a session could begin (with --session: when one began and ended;\n"
      "with --list: when a data source was found and every entry could be read),\n"
      "1 otherwise, 2 for a wrong command line.\n");
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(Utf8(argv[i], wcslen(argv[i])));
  if (!args.empty() && args[0] == "--list") {
    std::vector<std::string> drivers;
    for (size_t i = 1; i < args.size(); ++i) {
      if (args[i] != "--driver" || i + 1 >= args.size()) return Usage();
      drivers.push_back(args[++i]);
    }
    return List(drivers);
  }
  if (!args.empty() && args[0] == "--session-child") {
    if (args.size() != 3) return Usage();
    return SessionChild(args[1], args[2]);
  }
  if (!args.empty() && (args[0] == "--session" || args[0] == "--timeout")) {
    std::string dsn;
    bool named = false, timed = false;
    unsigned seconds = 20;
    for (size_t i = 0; i < args.size(); i += 2) {
      if (i + 1 >= args.size()) return Usage();
      if (args[i] == "--session" && !named) {
        dsn = args[i + 1], named = true;
      } else if (args[i] == "--timeout" && !timed && ParseSeconds(args[i + 1], seconds)) {
        timed = true;
      } else {
        return Usage();
      }
    }
    if (!named) return Usage();
    return RunSession(dsn, seconds);
  }
  if (args.size() != 1 || args[0][0] == '-') return Usage();
  return CheckDataSource(args[0]);
}
