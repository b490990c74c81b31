// Helpers of the proxy's Windows-side tests.
#pragma once
#include <windows.h>

#include <string>

#include "tests/common/testlib.h"

namespace proxytest {

// The drive letter that the test fixture maps onto bin\qdrive (a manager
// copy at its root and another in X\). Q: is not used by a fresh prefix.
constexpr char kDrive[] = "Q:";

// Holds one extra load of a module so that its state can be read after the
// proxy has released its own reference; Release() drops it early.
class ModulePin {
 public:
  explicit ModulePin(const std::string &path) : module_(LoadLibraryA(path.c_str())) {}
  ~ModulePin() { Release(); }
  ModulePin(const ModulePin &) = delete;
  ModulePin &operator=(const ModulePin &) = delete;
  HMODULE get() const { return module_; }
  testmgr::State *state() const { return testlib::ManagerStateOf(module_); }
  void Release() {
    if (module_) FreeLibrary(module_);
    module_ = nullptr;
  }

 private:
  HMODULE module_;
};

// Windows paths compare without regard to letter case.
inline bool SamePath(const std::string &a, const std::string &b) {
  return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

inline std::string ManagerFile(const std::string &variant) {
  return testlib::ManagerDir(variant) + "OdbcDrm.dll";
}

// The path a session's manager was loaded from (from the module itself), or
// "" when the session has no module.
inline std::string LoadedPath(DrmArg handle) {
  HMODULE m = reinterpret_cast<HMODULE>(testlib::Slots(handle)[3]);
  char buf[MAX_PATH] = "";
  if (m) GetModuleFileNameA(m, buf, sizeof buf);
  return buf;
}

// A data source of its own under HKEY_CURRENT_USER whose CTX value lies in
// `dir` (a folder with trailing backslash), removed when it goes.
struct DataSource {
  explicit DataSource(const std::string &dir, const char *stem = "ds")
      : name(testlib::UniqueName(stem)), key(HKEY_CURRENT_USER, testlib::DataSourcePath(name)) {
    key.SetString("CTX", dir + "KOLVARD.CTX");
  }
  std::string name;
  testlib::ScopedKey key;
};

typedef int32_t(__stdcall *MoveFn)(DrmArg, DrmArg, DrmArg);
inline MoveFn Move() {
  return reinterpret_cast<MoveFn>(reinterpret_cast<void *>(testlib::KvdrmProc("DrmMove")));
}

}  // namespace proxytest
