#include "tests/common/testlib.h"

#include <stdio.h>

#include <vector>

#include <gtest/gtest.h>

namespace testlib {

std::string BinPath(const std::string &relative) {
  std::string p = "Z:" KVDRM_BIN_DIR "/";
  for (char &c : p)
    if (c == '/') c = '\\';
  return p + relative;
}

std::string ManagerDir(const std::string &variant) { return BinPath("mgr\\" + variant + "\\"); }

const std::string &OwnPrefix() {
  static const std::string prefix = "KvdrmTest-" + std::to_string(GetCurrentProcessId()) + "-";
  return prefix;
}

std::string UniqueName(const std::string &stem) {
  static LONG counter = 0;
  return OwnPrefix() + stem + "-" + std::to_string(InterlockedIncrement(&counter));
}

std::string DataSourcePath(const std::string &name) { return "Software\\ODBC\\ODBC.INI\\" + name; }

ScopedKey::ScopedKey(HKEY root, const std::string &path, REGSAM view)
    : root_(root), path_(path), view_(view) {
  LONG rc = RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key_,
                            nullptr);
  EXPECT_EQ(ERROR_SUCCESS, rc) << "creating " << path;
}

ScopedKey::~ScopedKey() {
  if (key_) RegCloseKey(key_);
  HKEY parent;
  std::string::size_type cut = path_.rfind('\\');
  std::string parentPath = path_.substr(0, cut), leaf = path_.substr(cut + 1);
  if (RegOpenKeyExA(root_, parentPath.c_str(), 0, KEY_ALL_ACCESS | view_, &parent) == ERROR_SUCCESS) {
    RegDeleteTreeA(parent, leaf.c_str());
    RegCloseKey(parent);
  }
}

void ScopedKey::SetString(const char *value, const std::string &text) {
  SetRaw(value, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

void ScopedKey::SetRaw(const char *value, DWORD type, const void *data, DWORD size) {
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key_, value, 0, type, static_cast<const BYTE *>(data), size));
}

LONG SetEveryoneAccess(HKEY key, DWORD access) {
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone))
    return static_cast<LONG>(GetLastError());
  std::vector<BYTE> aclBuf(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(everyone));
  PACL acl = reinterpret_cast<PACL>(aclBuf.data());
  SECURITY_DESCRIPTOR sd;
  LONG rc = ERROR_INVALID_ACL;
  if (InitializeAcl(acl, static_cast<DWORD>(aclBuf.size()), ACL_REVISION) &&
      AddAccessAllowedAce(acl, ACL_REVISION, access, everyone) &&
      InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) && SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE) &&
      SetSecurityDescriptorControl(&sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
    rc = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd);
  FreeSid(everyone);
  return rc;
}

bool KeyExists(HKEY root, const std::string &path, REGSAM view) {
  HKEY k;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, &k) != ERROR_SUCCESS) return false;
  RegCloseKey(k);
  return true;
}

HMODULE Kvdrm() {
  static HMODULE m = LoadLibraryA("KVDRM.dll");
  return m;
}

FARPROC KvdrmProc(const char *name) { return GetProcAddress(Kvdrm(), name); }

BeginFn Begin() { return reinterpret_cast<BeginFn>(reinterpret_cast<void *>(KvdrmProc("DrmBeginSession"))); }
EndFn End() { return reinterpret_cast<EndFn>(reinterpret_cast<void *>(KvdrmProc("DrmEndSession"))); }

testmgr::State *ManagerStateOf(HMODULE manager) {
  if (!manager) return nullptr;
  auto fn = reinterpret_cast<testmgr::StateFn>(reinterpret_cast<void *>(GetProcAddress(manager, "TestManagerState")));
  return fn ? fn() : nullptr;
}

testmgr::State *ManagerState(DrmArg handle) {
  return ManagerStateOf(reinterpret_cast<HMODULE>(Slots(handle)[3]));
}

bool IsLoaded(const std::string &path) { return GetModuleHandleA(path.c_str()) != nullptr; }

}  // namespace testlib
