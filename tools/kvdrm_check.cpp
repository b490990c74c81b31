// kvdrm-check: tells the people who support an installation, step by step
// and in plain words, what a session of KVDRM.dll would find for a data
// source, and why it would fail. It looks the manager up with the DLL's own
// code (proxy/locate.cpp, registry/), so the two cannot disagree.
//
//   kvdrm-check <data source>           exit 0 exactly when a session could begin
//   kvdrm-check --session <data source> one real session through KVDRM.dll
//   kvdrm-check --list [--driver NAME]  the data sources of this driver
//
// Run it as a 32-bit program, like the driver: it then sees the registry
// as a session does (the 32-bit view of HKLM\Software on 64-bit Windows).
#include <windows.h>
#include <odbcinst.h>
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

// The Windows error in words, without the trailing line break.
std::string SystemText(DWORD code) {
  char buf[512] = "";
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buf,
                           sizeof buf, nullptr);
  while (n > 0 && (buf[n - 1] == '\r' || buf[n - 1] == '\n' || buf[n - 1] == ' ')) buf[--n] = 0;
  return "Windows error " + std::to_string(code) + (n ? ": " + std::string(buf) : std::string());
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

std::string Str(const kvdrm::Text &t) { return std::string(kvdrm::TextStr(t), t.length); }

// base\name, as the DLL makes it.
std::string KeyPath(const char *base, const std::string &name) {
  kvdrm::Text path = {nullptr, 0};
  if (!kvdrm::RegPath(path, base, name.c_str())) {
    fprintf(stderr, "kvdrm-check: out of memory\n");
    exit(2);
  }
  std::string s = Str(path);
  kvdrm::TextFree(path);
  return s;
}

bool OpenKey(HKEY root, const std::string &path, REGSAM access, kvdrm::RegKey &key) {
  return RegOpenKeyExA(root, path.c_str(), 0, access, key.out()) == ERROR_SUCCESS;
}

// Whether a key that opens with `access` does not open with full access:
// what a standard user meets under HKEY_LOCAL_MACHINE.
bool ReadOnly(HKEY root, const std::string &path, REGSAM view) {
  kvdrm::RegKey full;
  return !OpenKey(root, path, KEY_ALL_ACCESS | view, full);
}

// A value as text (kvdrm::ReadRegString's rules), and whether it exists.
bool ReadValue(HKEY key, const char *name, std::string &text) {
  DWORD type = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) return false;
  kvdrm::Text t = {nullptr, 0};
  kvdrm::ReadRegString(key, name, t);
  text = Str(t);
  kvdrm::TextFree(t);
  return true;
}

std::string Quoted(const std::string &s) { return "\"" + s + "\""; }

// "...\KVDRM.dll" in any letter case, after the last ':' or '\'.
bool NamesKvdrm(const std::string &path) {
  size_t cut = path.find_last_of(":\\/");
  std::string file = cut == std::string::npos ? path : path.substr(cut + 1);
  return _stricmp(file.c_str(), "KVDRM.dll") == 0;
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

std::string Lower(std::string s) {
  for (char &c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string ProgramFolder() {
  char exe[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, exe, sizeof exe);
  return FolderOf(exe);
}

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
  char buf[MAX_PATH];
  if (GetSystemDirectoryA(buf, sizeof buf)) order.system.push_back(WithSeparator(buf));
  if (GetWindowsDirectoryA(buf, sizeof buf)) {
    order.system.push_back(WithSeparator(buf) + "System\\");
    order.system.push_back(WithSeparator(buf));
  }
  if (GetCurrentDirectoryA(sizeof buf, buf)) order.rest.push_back(WithSeparator(buf));
  std::string path(GetEnvironmentVariableA("PATH", nullptr, 0), '\0');
  path.resize(GetEnvironmentVariableA("PATH", &path[0], static_cast<DWORD>(path.size())));
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

bool IsFile(const std::string &path) {
  DWORD attr = GetFileAttributesA(path.c_str());
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
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
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
  std::vector<std::string> missing;  // "<importer> needs <dll>"
  std::vector<std::string> notX86;   // DLLs found on the way that are no 32-bit DLLs
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
    for (const std::string &dll : pe.imports) {
      const std::string key = Lower(dll);
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
    char full[MAX_PATH] = "";
    DWORD n = GetFullPathNameA(managerPath.c_str(), sizeof full, full, nullptr);
    file = n && n < sizeof full ? full : managerPath;
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
  for (const std::string &m : walk.missing) lines.push_back(m + nowhere);
  for (const std::string &dll : walk.notX86)
    lines.push_back(BaseName(file) + " needs " + Quoted(dll) + ", which is not a 32-bit Windows DLL: " +
                    NotX86Dll(ReadPe(dll)));
  if (lines.empty())
    lines.push_back("every DLL it imports was found (" + std::string(pe.complete ? "" : "as far as its import table could be read; ") +
                    "one of them may fail to load in turn)");
  return lines;
}

void PrintWhy(const std::vector<std::string> &lines) {
  for (const std::string &line : lines) printf("   - %s\n", line.c_str());
}

// ----------------------------------------------------------- one source

// The DLL's own lookup of a data source's manager, freed when it goes.
struct Lookup {
  kvdrm::ManagerLookup lookup = {};
  Lookup() = default;
  Lookup(const Lookup &) = delete;
  Lookup &operator=(const Lookup &) = delete;
  ~Lookup() { kvdrm::FreeManagerLookup(lookup); }
  bool Find(const std::string &dsn) {
    if (kvdrm::LookupManager(dsn.c_str(), lookup)) return true;
    fprintf(stderr, "kvdrm-check: out of memory\n");
    return false;
  }
};


int CheckDataSource(const std::string &dsn) {
  printf("kvdrm-check: data source %s\n", Quoted(dsn).c_str());
  const std::string path = KeyPath(kOdbcIniKey, dsn);

  printf("\n1. Where the data source is (key %s)\n", path.c_str());
  for (const Root &r : kRoots)
    for (const View &v : kViews) {
      kvdrm::RegKey key;
      bool present = OpenKey(r.key, path, KEY_READ | v.flag, key);
      printf("   %s, %s: %s\n", r.name, v.name,
             !present                         ? "absent"
             : ReadOnly(r.key, path, v.flag) ? "present, opens for reading only (enough: a session only reads it)"
                                              : "present");
    }

  Lookup where;
  if (!where.Find(dsn)) return 2;
  const kvdrm::ManagerLookup &lookup = where.lookup;
  const int root = lookup.root;
  const std::string ctx = Str(lookup.ctx), directory = ctx.substr(0, lookup.directory),
                    managerPath = Str(lookup.managerPath);
  if (root < 0) {
    printf("   A session finds no key it can open for reading, under HKCU nor HKLM: it has no CTX value\n"
           "   and loads the bare file name %s from the program's search path.\n", KVDRM_MANAGER_FILE);
  } else {
    printf("   A session reads the key under %s (HKCU is searched first, then HKLM; the first key that opens\n"
           "   decides), in this program's view, which is a 32-bit driver's.\n",
           kRoots[root].name);
  }

  std::string driver;
  printf("\n2. Its values\n");
  if (root < 0) {
    printf("   (no key)\n");
  } else {
    kvdrm::RegKey key;
    OpenKey(kRoots[root].key, path, KEY_READ, key);
    for (const char *name : {"Description", "DBQ", "CTX", "Driver"}) {
      std::string text;
      bool has = ReadValue(key.get(), name, text);
      printf("   %-12s %s\n", name, has ? Quoted(text).c_str() : "(missing)");
      if (has && strcmp(name, "Driver") == 0) driver = text;
    }
    if (ctx.empty()) printf("   Without a CTX value a session loads the bare file name %s.\n", KVDRM_MANAGER_FILE);
  }

  printf("\n3. The driver\n");
  if (driver.empty()) {
    printf("   The data source names no driver (no \"Driver\" value): setup cannot store it again.\n");
  } else {
    const std::string dpath = KeyPath(kOdbcInstKey, driver);
    for (const View &v : kViews) {
      kvdrm::RegKey key;
      if (!OpenKey(HKEY_LOCAL_MACHINE, dpath, KEY_READ | v.flag, key)) {
        printf("   HKLM\\%s, %s: not registered (setup stores nothing in this view)\n", dpath.c_str(), v.name);
        continue;
      }
      std::string setup, file;
      ReadValue(key.get(), "Setup", setup);
      ReadValue(key.get(), "Driver", file);
      printf("   HKLM\\%s, %s: registered; Setup %s, Driver %s\n", dpath.c_str(), v.name,
             setup.empty() ? "(missing)" : Quoted(setup).c_str(), file.empty() ? "(missing)" : Quoted(file).c_str());
      if (ReadOnly(HKEY_LOCAL_MACHINE, dpath, v.flag))
        printf("      it opens for reading only (enough: setup only reads it to store a user data source)\n");
    }
  }

  printf("\n4. The control-file directory\n");
  if (ctx.empty()) {
    printf("   empty (no CTX value)\n");
  } else {
    printf("   CTX %s gives the directory %s (the text up to its last ':' or '\\'; '/' is no separator)\n",
           Quoted(ctx).c_str(), Quoted(directory).c_str());
    DWORD attr = GetFileAttributesA(ctx.c_str());
    printf("   the control file %s\n", attr == INVALID_FILE_ATTRIBUTES ? "does not exist (the manager may need it)"
                                       : (attr & FILE_ATTRIBUTE_DIRECTORY) ? "is a directory, not a file"
                                                                             : "exists");
  }

  printf("\n5. The manager file\n");
  printf("   A session loads %s\n", Quoted(managerPath).c_str());
  if (directory.empty())
    printf("   Warning: a bare name, loaded through the search path: Windows searches the program's folder,\n"
           "   the system folders, the current directory and PATH, so the driver's program may find another\n"
           "   file than this tool does. Give CTX as a full path, such as C:\\KOLVAR\\KOLVARD.CTX.\n");
  HMODULE manager = kvdrm::LoadManager(lookup);
  std::string failure;
  if (!manager) {
    DWORD err = GetLastError();
    failure = "the manager " + Quoted(managerPath) + " does not load";
    printf("   It does not load: %s.\n", ErrorText(err).c_str());
    PrintWhy(WhyNoLoad(managerPath, !directory.empty(), err));
  } else {
    char loaded[MAX_PATH] = "";
    GetModuleFileNameA(manager, loaded, sizeof loaded);
    printf("   It loads: %s\n", loaded);

    printf("\n6. The 48 entry points (by ordinal)\n");
    std::vector<int> missing;
    for (int n = 1; n <= KVDRM_MANAGER_ENTRIES; ++n)
      if (!GetProcAddress(manager, MAKEINTRESOURCEA(n))) missing.push_back(n);
    if (missing.empty()) {
      printf("   all 48 present\n");
    } else {
      printf("   %u of 48 missing:\n", static_cast<unsigned>(missing.size()));
      for (int n : missing) printf("      ordinal %2d %s\n", n, kManagerNames[n]);
      failure = "the manager lacks " + std::to_string(missing.size()) + " of its 48 entry points (first: ordinal " +
                std::to_string(missing[0]) + " " + kManagerNames[missing[0]] + ")";
    }
    FreeLibrary(manager);
  }

  printf("\n7. The file data source\n");
  char dir[256] = "";
  UWORD mode = ODBC_BOTH_DSN;
  SQLGetConfigMode(&mode);
  // Setup reads the directory in this mode as well.
  SQLSetConfigMode(ODBC_BOTH_DSN);
  SQLGetPrivateProfileString("ODBC File DSN", "DefaultDSNDir", "", dir, sizeof dir, "odbc.ini");
  SQLSetConfigMode(mode);
  if (!dir[0]) {
    printf("   DefaultDSNDir is not set: the installer keeps no file data sources here\n");
  } else {
    std::string file = std::string(dir) + "\\" + dsn + ".DSN";
    printf("   %s %s\n", Quoted(file).c_str(),
           GetFileAttributesA(file.c_str()) == INVALID_FILE_ATTRIBUTES ? "does not exist" : "exists");
  }

  printf("\n");
  if (failure.empty()) {
    printf("Result: a session could begin (whether the manager acknowledges it shows only when one does).\n");
    return 0;
  }
  printf("Result: no session can begin: %s; DrmBeginSession would return %d.\n", failure.c_str(),
         KVDRM_E_NO_MANAGER);
  return 1;
}

// ------------------------------------------------------------------ list

// Every subkey name of `key` (root\path), whatever its length. A name that
// cannot be read is told, with its index and the error, and counted in
// `unreadable`.
std::vector<std::string> SubkeyNames(HKEY key, const char *path, const View &v, const char *rootName,
                                     int &unreadable) {
  std::vector<std::string> names;
  std::vector<char> name(256);
  for (DWORD i = 0;;) {
    DWORD len = static_cast<DWORD>(name.size());
    LONG rc = RegEnumKeyExA(key, i, name.data(), &len, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    // A key name has at most 255 characters, but in a double-byte code page
    // that can be 510 bytes; grow and read the same entry again.
    if (rc == ERROR_MORE_DATA && name.size() < 0x10000) {
      name.resize(name.size() * 2);
      continue;
    }
    if (rc == ERROR_SUCCESS) {
      names.push_back(std::string(name.data(), len));
    } else {
      printf("   %s, %s: entry %lu of %s\\%s could not be read: %s\n", rootName, v.name,
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
      printf("kvdrm-check: no driver under HKLM\\%s names KVDRM.dll as its Setup or Driver file\n", kOdbcInstKey);
      return 1;
    }
  }
  printf("kvdrm-check: data sources of the driver%s", drivers.size() > 1 ? "s" : "");
  for (size_t i = 0; i < drivers.size(); ++i) printf("%s%s", i ? ", " : " ", Quoted(drivers[i]).c_str());
  printf("\n");
  int count = 0;
  for (const Root &r : kRoots)
    for (const View &v : kViews) {
      // Each data source opened under its parent: a full path of a long
      // name can be longer than the registry's ANSI calls take.
      kvdrm::RegKey sources;
      if (!OpenKey(r.key, kOdbcIniKey, KEY_READ | v.flag, sources)) continue;
      for (const std::string &name : SubkeyNames(sources.get(), kOdbcIniKey, v, r.name, unreadable)) {
        kvdrm::RegKey key;
        LONG rc = RegOpenKeyExA(sources.get(), name.c_str(), 0, KEY_READ | v.flag, key.out());
        if (rc != ERROR_SUCCESS) {
          // Its driver is unknown: it may be one of these.
          printf("   %s, %s: %s could not be read: %s\n", r.name, v.name, Quoted(name).c_str(),
                 SystemText(rc).c_str());
          ++unreadable;
          continue;
        }
        std::string drv, ctx;
        ReadValue(key.get(), "Driver", drv);
        if (std::find(drivers.begin(), drivers.end(), drv) == drivers.end()) continue;
        ReadValue(key.get(), "CTX", ctx);
        printf("   %s, %s: %-24s CTX %s\n", r.name, v.name, Quoted(name).c_str(), Quoted(ctx).c_str());
        ++count;
      }
    }
  if (!count) printf("   none\n");
  if (unreadable) {
    printf("kvdrm-check: %d entr%s could not be read: the list may be incomplete\n", unreadable,
           unreadable == 1 ? "y" : "ies");
    return 1;
  }
  return count ? 0 : 1;
}

// ------------------------------------------------------------- a session

double Milliseconds(const LARGE_INTEGER &from, const LARGE_INTEGER &to) {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(f.QuadPart);
}

typedef int32_t(__stdcall *BeginFn)(KvdrmSession *, KvdrmArg, KvdrmArg, const char *);
typedef int32_t(__stdcall *EndFn)(KvdrmSession);

// One session as the driver makes it, through the KVDRM.dll the data
// source's driver registration names (or the one beside this program).
int Session(const std::string &dsn) {
  printf("kvdrm-check: a session on the data source %s, as the driver makes one\n\n", Quoted(dsn).c_str());
  Lookup where;
  if (!where.Find(dsn)) return 2;
  const kvdrm::ManagerLookup &lookup = where.lookup;

  // The driver loads the KVDRM.dll it was installed with: its Setup file,
  // in this program's view (a 32-bit driver's).
  std::string driver, setup, dll, why;
  if (lookup.root >= 0) driver = ValueOf(kRoots[lookup.root].key, KeyPath(kOdbcIniKey, dsn), "Driver", 0);
  if (!driver.empty()) setup = ValueOf(HKEY_LOCAL_MACHINE, KeyPath(kOdbcInstKey, driver), "Setup", 0);
  if (NamesKvdrm(setup)) {
    dll = setup;
    why = "the Setup file of the driver " + Quoted(driver);
  } else {
    dll = ProgramFolder() + "KVDRM.dll";
    why = "the one beside kvdrm-check.exe: " +
          (lookup.root < 0      ? std::string("there is no data source key")
           : driver.empty()     ? std::string("the data source names no driver")
           : setup.empty()      ? "the driver " + Quoted(driver) + " has no Setup value in this view"
                                : "the driver's Setup file " + Quoted(setup) + " is not a KVDRM.dll");
  }
  printf("   KVDRM.dll: %s (%s)\n", Quoted(dll).c_str(), why.c_str());
  HMODULE proxy = LoadLibraryA(dll.c_str());
  if (!proxy) {
    printf("   It does not load: %s.\n\nResult: no session: KVDRM.dll does not load.\n",
           SystemText(GetLastError()).c_str());
    return 1;
  }
  BeginFn begin = reinterpret_cast<BeginFn>(reinterpret_cast<void *>(GetProcAddress(proxy, "DrmBeginSession")));
  EndFn end = reinterpret_cast<EndFn>(reinterpret_cast<void *>(GetProcAddress(proxy, "DrmEndSession")));
  if (!begin || !end) {
    printf("   It exports no DrmBeginSession or DrmEndSession.\n\nResult: no session: that file is no KVDRM.dll.\n");
    FreeLibrary(proxy);
    return 1;
  }

  KvdrmSession handle = 0;
  LARGE_INTEGER t0, t1, t2, t3;
  QueryPerformanceCounter(&t0);
  const int32_t began = begin(&handle, 0, 0, dsn.c_str());
  QueryPerformanceCounter(&t1);
  printf("   DrmBeginSession(%s) returned %d (%.2f ms)\n", Quoted(dsn).c_str(), began, Milliseconds(t0, t1));

  // The record stays the caller's until DrmEndSession: read it before.
  const KvdrmSessionRecord *rec = reinterpret_cast<const KvdrmSessionRecord *>(static_cast<uintptr_t>(handle));
  HMODULE manager = rec ? reinterpret_cast<HMODULE>(static_cast<uintptr_t>(rec->module)) : nullptr;
  char loaded[MAX_PATH] = "";
  if (manager) {
    GetModuleFileNameA(manager, loaded, sizeof loaded);
    printf("   The manager loaded: %s\n", loaded);
    const bool ack = rec->ack == KVDRM_RECORD_MARKER;
    printf("   The manager %s the session (record slot 2 %s the marker 0x%08lX)\n",
           ack ? "acknowledged" : "did not acknowledge", ack ? "holds" : "does not hold",
           static_cast<unsigned long>(KVDRM_RECORD_MARKER));
    int missing = 0, first = 0;
    for (int n = 1; n <= KVDRM_MANAGER_ENTRIES; ++n)
      if (!GetProcAddress(manager, MAKEINTRESOURCEA(n)) && !missing++) first = n;
    if (missing)
      printf("   It lacks %d of its 48 entry points (first: ordinal %d %s)\n", missing, first, kManagerNames[first]);
  } else {
    printf("   The manager %s did not load.\n", Quoted(Str(lookup.managerPath)).c_str());
    // The session's own error is gone with it: load the same file the same
    // way to learn it.
    HMODULE again = kvdrm::LoadManager(lookup);
    const DWORD err = GetLastError();
    if (again) {
      printf("   (It loads when this program tries again: something changed meanwhile.)\n");
      FreeLibrary(again);
    } else {
      printf("   Why: %s.\n", ErrorText(err).c_str());
      PrintWhy(WhyNoLoad(Str(lookup.managerPath), lookup.directory != 0, err));
    }
  }

  QueryPerformanceCounter(&t2);
  const int32_t ended = end(handle);
  QueryPerformanceCounter(&t3);
  printf("   DrmEndSession returned %d (%.2f ms)\n", ended, Milliseconds(t2, t3));
  if (manager)
    printf("   The manager %s\n", GetModuleHandleA(loaded) ? "is still loaded afterwards"
                                                          : "was released afterwards");
  FreeLibrary(proxy);

  if (began == KVDRM_OK && ended == KVDRM_OK) {
    printf("\nResult: the session began and ended.\n");
    return 0;
  }
  printf("\nResult: %s.\n", began != KVDRM_OK ? "the session did not begin" : "the session did not end cleanly");
  return 1;
}

int Usage() {
  fprintf(stderr,
          "usage: kvdrm-check <data source name>\n"
          "       kvdrm-check --session <data source name>\n"
          "       kvdrm-check --list [--driver <driver name>]...\n"
          "Exit status: 0 when a session could begin (with --session: when one began and ended;\n"
          "with --list: when a data source was found and every entry could be read),\n"
          "1 otherwise, 2 for a wrong command line.\n");
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc >= 2 && strcmp(argv[1], "--list") == 0) {
    std::vector<std::string> drivers;
    for (int i = 2; i < argc; ++i) {
      if (strcmp(argv[i], "--driver") != 0 || i + 1 >= argc) return Usage();
      drivers.push_back(argv[++i]);
    }
    return List(drivers);
  }
  if (argc >= 2 && strcmp(argv[1], "--session") == 0) {
    if (argc != 3) return Usage();
    return Session(argv[2]);
  }
  if (argc != 2 || argv[1][0] == '-') return Usage();
  return CheckDataSource(argv[1]);
}
