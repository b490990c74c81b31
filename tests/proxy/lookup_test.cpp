// How a session finds its data source key: HKEY_CURRENT_USER before
// HKEY_LOCAL_MACHINE, read access enough, and the empty name.
#include <gtest/gtest.h>

#include <vector>

#include "tests/common/proxy_util.h"

using namespace testlib;
using namespace proxytest;

namespace {

// Begins and ends one session of `name`; returns the path of the manager it
// loaded ("" when none loaded, then the status must be -1101).
std::string LoadedFor(const char *name) {
  EXPECT_EQ(nullptr, GetModuleHandleA("OdbcDrm.dll")) << "a manager is still loaded";
  DrmArg h = 0;
  int32_t status = Begin()(&h, 0, 0, name);
  std::string path = LoadedPath(h);
  EXPECT_EQ(path.empty() ? -1101 : 0, status);
  EXPECT_EQ(0, End()(h));
  return path;
}

// Makes bare "OdbcDrm.dll" findable (the ok3 copy) while it lives, so that a
// bare-name load shows as a load rather than a failure.
struct BareNameFindsOk3 {
  BareNameFindsOk3() { SetDllDirectoryA(ManagerDir("ok3").c_str()); }
  ~BareNameFindsOk3() { SetDllDirectoryA(nullptr); }
};

TEST(Lookup, LocalMachineKeyIsUsedWhenCurrentUserHasNone) {
  std::string name = UniqueName("hklm");
  ScopedKey lm(HKEY_LOCAL_MACHINE, DataSourcePath(name));
  lm.SetString("CTX", ManagerDir("ok") + "KOLVARD.CTX");
  BareNameFindsOk3 bare;
  EXPECT_TRUE(SamePath(ManagerFile("ok"), LoadedFor(name.c_str())));
}

TEST(Lookup, CurrentUserKeyWithoutCtxShadowsLocalMachine) {
  std::string name = UniqueName("shadow");
  ScopedKey lm(HKEY_LOCAL_MACHINE, DataSourcePath(name));
  lm.SetString("CTX", ManagerDir("ok") + "KOLVARD.CTX");
  ScopedKey cu(HKEY_CURRENT_USER, DataSourcePath(name));
  cu.SetString("DBQ", "C:\\KOLVAR\\MUSTER");
  {
    BareNameFindsOk3 bare;
    EXPECT_TRUE(SamePath(ManagerFile("ok3"), LoadedFor(name.c_str())));
  }
  EXPECT_EQ("", LoadedFor(name.c_str()));
}

TEST(Lookup, CurrentUserCtxWinsOverLocalMachine) {
  std::string name = UniqueName("both");
  ScopedKey lm(HKEY_LOCAL_MACHINE, DataSourcePath(name));
  lm.SetString("CTX", ManagerDir("ok") + "KOLVARD.CTX");
  ScopedKey cu(HKEY_CURRENT_USER, DataSourcePath(name));
  cu.SetString("CTX", ManagerDir("ok2") + "KOLVARD.CTX");
  EXPECT_TRUE(SamePath(ManagerFile("ok2"), LoadedFor(name.c_str())));
}

// A standard user's system data source: HKEY_LOCAL_MACHINE opens for
// reading only, and that is all a session needs. The user's own key, read
// only too, still shadows it.
TEST(Lookup, KeysThatOpenOnlyForReadingAreUsed) {
  std::string name = UniqueName("readonly");
  std::string path = DataSourcePath(name);
  ScopedKey lm(HKEY_LOCAL_MACHINE, path);
  lm.SetString("CTX", ManagerDir("ok") + "KOLVARD.CTX");
  // Everyone may read the key and change its DACL back; nobody may write.
  ASSERT_EQ(ERROR_SUCCESS, testlib::SetEveryoneAccess(lm.get(), KEY_READ | WRITE_DAC | DELETE));
  kvdrm::RegKey probe;
  ASSERT_EQ(ERROR_ACCESS_DENIED, OpenKey(HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS, probe))
      << "the platform does not enforce the key's security";
  EXPECT_TRUE(SamePath(ManagerFile("ok"), LoadedFor(name.c_str())));
  {
    ScopedKey cu(HKEY_CURRENT_USER, path);
    cu.SetString("CTX", ManagerDir("ok2") + "KOLVARD.CTX");
    ASSERT_EQ(ERROR_SUCCESS, testlib::SetEveryoneAccess(cu.get(), KEY_READ | WRITE_DAC | DELETE));
    EXPECT_TRUE(SamePath(ManagerFile("ok2"), LoadedFor(name.c_str())));
  }

  // Our handle was opened with full access before the DACL changed; use it
  // to open the key up again so that it can be removed.
  SECURITY_DESCRIPTOR open;
  InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE);
  EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(lm.get(), DACL_SECURITY_INFORMATION, &open));
}

// Puts a CTX value into HKEY_CURRENT_USER\Software\ODBC\ODBC.INI itself and
// restores what was there (or removes what it created) afterwards.
class ParentKeyCtx {
 public:
  explicit ParentKeyCtx(const std::string &ctx) {
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\ODBC\\ODBC.INI", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        key_.out(), &disposition) != ERROR_SUCCESS)
      return;
    created_ = disposition == REG_CREATED_NEW_KEY;
    DWORD size = 0;
    if (RegQueryValueExA(key_.get(), "CTX", nullptr, &oldType_, nullptr, &size) == ERROR_SUCCESS) {
      old_.resize(size);
      hadOld_ = RegQueryValueExA(key_.get(), "CTX", nullptr, &oldType_, old_.data(), &size) == ERROR_SUCCESS;
    }
    RegSetValueExA(key_.get(), "CTX", 0, REG_SZ, reinterpret_cast<const BYTE *>(ctx.c_str()),
                   static_cast<DWORD>(ctx.size() + 1));
  }
  ~ParentKeyCtx() {
    if (!key_) return;
    if (hadOld_)
      RegSetValueExA(key_.get(), "CTX", 0, oldType_, old_.data(), static_cast<DWORD>(old_.size()));
    else
      RegDeleteValueA(key_.get(), "CTX");
    key_.Close();
    if (created_) RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\ODBC\\ODBC.INI");
  }
  bool ok() const { return static_cast<bool>(key_); }

 private:
  kvdrm::RegKey key_;
  bool created_ = false, hadOld_ = false;
  DWORD oldType_ = REG_NONE;
  std::vector<BYTE> old_;
};

TEST(Lookup, EmptyAndNullNameReadTheDataSourcesKeyItself) {
  ParentKeyCtx parent(ManagerDir("ok4") + "KOLVARD.CTX");
  ASSERT_TRUE(parent.ok());
  EXPECT_TRUE(SamePath(ManagerFile("ok4"), LoadedFor(""))) << "empty name";
  EXPECT_TRUE(SamePath(ManagerFile("ok4"), LoadedFor(nullptr))) << "null name";
}

TEST(Lookup, NameIsTakenAsItIs) {
  std::string name = UniqueName("exact");
  ScopedKey cu(HKEY_CURRENT_USER, DataSourcePath(name));
  cu.SetString("CTX", ManagerDir("ok") + "KOLVARD.CTX");
  // Registry names ignore case, so only trimming would change the key.
  EXPECT_EQ("", LoadedFor((" " + name).c_str()));
  EXPECT_EQ("", LoadedFor((name + " ").c_str()));
  EXPECT_TRUE(SamePath(ManagerFile("ok"), LoadedFor(name.c_str())));
}

}  // namespace
