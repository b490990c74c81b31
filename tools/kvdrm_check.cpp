// kvdrm-check: tells the people who support an installation, step by step
// and in plain words, what a session of KVDRM.dll would find for a data
// source, and why it would fail. It looks the manager up with the DLL's own
// code (proxy/locate.cpp, registry/), so the two cannot disagree.
//
//   kvdrm-check <data source>          exit 0 exactly when a session could begin
//   kvdrm-check --list [--driver NAME] the data sources of this driver
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
std::string ErrorText(DWORD code) {
  char buf[512] = "";
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buf,
                           sizeof buf, nullptr);
  while (n > 0 && (buf[n - 1] == '\r' || buf[n - 1] == '\n' || buf[n - 1] == ' ')) buf[--n] = 0;
  std::string text = "Windows error " + std::to_string(code) + (n ? ": " + std::string(buf) : std::string());
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

// ----------------------------------------------------------- one source

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

  kvdrm::ManagerLookup lookup = {};
  if (!kvdrm::LookupManager(dsn.c_str(), lookup)) {
    fprintf(stderr, "kvdrm-check: out of memory\n");
    return 2;
  }
  const int root = lookup.root;
  const std::string ctx = Str(lookup.ctx), directory = ctx.substr(0, lookup.directory),
                    managerPath = Str(lookup.managerPath);
  kvdrm::FreeManagerLookup(lookup);
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
  HMODULE manager = LoadLibraryA(managerPath.c_str());
  std::string failure;
  if (!manager) {
    DWORD err = GetLastError();
    failure = "the manager " + Quoted(managerPath) + " does not load";
    printf("   It does not load: %s.\n", ErrorText(err).c_str());
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

std::vector<std::string> SubkeyNames(HKEY root, const char *path, REGSAM view) {
  std::vector<std::string> names;
  kvdrm::RegKey key;
  if (!OpenKey(root, path, KEY_READ | view, key)) return names;
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD len = sizeof name;
    if (RegEnumKeyExA(key.get(), i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.push_back(name);
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
  if (drivers.empty()) {
    // The drivers whose Setup or Driver file is KVDRM.dll, in either view.
    for (const View &v : kViews)
      for (const std::string &d : SubkeyNames(HKEY_LOCAL_MACHINE, kOdbcInstKey, v.flag)) {
        std::string p = KeyPath(kOdbcInstKey, d);
        if ((NamesKvdrm(ValueOf(HKEY_LOCAL_MACHINE, p, "Setup", v.flag)) ||
             NamesKvdrm(ValueOf(HKEY_LOCAL_MACHINE, p, "Driver", v.flag))))
          if (std::find(drivers.begin(), drivers.end(), d) == drivers.end()) drivers.push_back(d);
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
    for (const View &v : kViews)
      for (const std::string &name : SubkeyNames(r.key, kOdbcIniKey, v.flag)) {
        std::string p = KeyPath(kOdbcIniKey, name);
        std::string drv = ValueOf(r.key, p, "Driver", v.flag);
        if (std::find(drivers.begin(), drivers.end(), drv) == drivers.end()) continue;
        printf("   %s, %s: %-24s CTX %s\n", r.name, v.name, Quoted(name).c_str(),
               Quoted(ValueOf(r.key, p, "CTX", v.flag)).c_str());
        ++count;
      }
  if (!count) printf("   none\n");
  return count ? 0 : 1;
}

int Usage() {
  fprintf(stderr,
          "usage: kvdrm-check <data source name>\n"
          "       kvdrm-check --list [--driver <driver name>]...\n"
          "Exit status: 0 when a session could begin (with --list: when a data source was found),\n"
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
  if (argc != 2 || argv[1][0] == '-') return Usage();
  return CheckDataSource(argv[1]);
}
