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
  LONG rc = RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, key_.out(),
                            nullptr);
  // Wine's ANSI registry calls take a path of at most 260 characters, and a
  // key name alone may have 256: such a key is created under its parent.
  std::string::size_type cut = path.rfind('\\');
  kvdrm::RegKey parent;
  if (rc == ERROR_MORE_DATA && cut != std::string::npos &&
      (rc = CreateKey(root, path.substr(0, cut), parent, view)) == ERROR_SUCCESS)
    rc = RegCreateKeyExA(parent.get(), path.c_str() + cut + 1, 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                         key_.out(), nullptr);
  EXPECT_EQ(ERROR_SUCCESS, rc) << "creating " << path;
}

ScopedKey::~ScopedKey() {
  key_.Close();
  std::string::size_type cut = path_.rfind('\\');
  std::string parentPath = path_.substr(0, cut), leaf = path_.substr(cut + 1);
  kvdrm::RegKey parent;
  if (OpenKey(root_, parentPath, KEY_ALL_ACCESS, parent, view_) == ERROR_SUCCESS)
    RegDeleteTreeA(parent.get(), leaf.c_str());
}

void ScopedKey::SetString(const char *value, const std::string &text) {
  SetRaw(value, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

void ScopedKey::SetRaw(const char *value, DWORD type, const void *data, DWORD size) {
  // From a buffer that goes on with another byte: the registry's ANSI
  // entry stores a text with a NUL after it when the byte after the data
  // happens to be one (as after a std::string), and "no NUL" would not be.
  std::vector<BYTE> bytes(static_cast<const BYTE *>(data), static_cast<const BYTE *>(data) + size);
  bytes.push_back('#');
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key_.get(), value, 0, type, bytes.data(), size));
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

LONG OpenKey(HKEY root, const std::string &path, REGSAM access, kvdrm::RegKey &key, REGSAM view) {
  return RegOpenKeyExA(root, path.c_str(), 0, access | view, key.out());
}

LONG CreateKey(HKEY root, const std::string &path, kvdrm::RegKey &key, REGSAM view) {
  return RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, key.out(), nullptr);
}

bool KeyOpens(HKEY root, const std::string &path, REGSAM access, REGSAM view) {
  kvdrm::RegKey k;
  return OpenKey(root, path, access, k, view) == ERROR_SUCCESS;
}

bool KeyExists(HKEY root, const std::string &path, REGSAM view) { return KeyOpens(root, path, KEY_READ, view); }

LONG SetString(HKEY key, const char *value, const std::string &text) {
  return RegSetValueExA(key, value, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1));
}

Value ReadValue(HKEY root, const std::string &path, const char *name, REGSAM view) {
  Value v;
  kvdrm::RegKey k;
  if (OpenKey(root, path, KEY_READ, k, view) != ERROR_SUCCESS) return v;
  DWORD size = 0;
  if (RegQueryValueExA(k.get(), name, nullptr, &v.type, nullptr, &size) != ERROR_SUCCESS) return v;
  std::string buf(size, '\0');
  if (RegQueryValueExA(k.get(), name, nullptr, &v.type, reinterpret_cast<BYTE *>(&buf[0]), &size) == ERROR_SUCCESS) {
    v.present = true;
    v.data = buf.substr(0, size);
  }
  return v;
}

void DeleteDataSourceEverywhere(const std::string &name) {
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
    for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY)}) {
      kvdrm::RegKey k;
      if (OpenKey(root, kvdrm::kOdbcIniKey, KEY_ALL_ACCESS, k, view) == ERROR_SUCCESS)
        RegDeleteTreeA(k.get(), name.c_str());
      if (OpenKey(root, kvdrm::kDataSourceListKey, KEY_ALL_ACCESS, k, view) == ERROR_SUCCESS)
        RegDeleteValueA(k.get(), name.c_str());
    }
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

namespace {
std::u16string Widen(UINT codePage, const std::string &text) {
  if (text.empty()) return std::u16string();
  int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::u16string out(n > 0 ? n : 0, u'\0');
  if (n > 0)
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), reinterpret_cast<WCHAR *>(&out[0]),
                        n);
  return out;
}
}  // namespace

std::u16string U16(const std::string &utf8) { return Widen(CP_UTF8, utf8); }
std::u16string FromAcp(const std::string &ansi) { return Widen(CP_ACP, ansi); }

std::string Utf8(const std::u16string &utf16) {
  if (utf16.empty()) return std::string();
  const WCHAR *w = reinterpret_cast<const WCHAR *>(utf16.data());
  int n = WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(utf16.size()), nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n : 0, '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(utf16.size()), &out[0], n, nullptr, nullptr);
  return out;
}

namespace {
const WCHAR *Wz(const std::u16string &s) { return reinterpret_cast<const WCHAR *>(s.c_str()); }
}  // namespace

Value ReadValueW(HKEY root, const std::u16string &path, const std::u16string &name, REGSAM view) {
  Value v;
  kvdrm::RegKey k;
  if (RegOpenKeyExW(root, Wz(path), 0, KEY_READ | view, k.out()) != ERROR_SUCCESS) return v;
  DWORD size = 0;
  if (RegQueryValueExW(k.get(), Wz(name), nullptr, &v.type, nullptr, &size) != ERROR_SUCCESS) return v;
  std::string buf(size, '\0');
  if (RegQueryValueExW(k.get(), Wz(name), nullptr, &v.type, reinterpret_cast<BYTE *>(&buf[0]), &size) ==
      ERROR_SUCCESS) {
    v.present = true;
    v.data = buf.substr(0, size);
  }
  return v;
}

bool KeyExistsW(HKEY root, const std::u16string &path, REGSAM view) {
  kvdrm::RegKey k;
  return RegOpenKeyExW(root, Wz(path), 0, KEY_READ | view, k.out()) == ERROR_SUCCESS;
}

void DeleteDataSourceEverywhereW(const std::u16string &name) {
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
    for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY)}) {
      kvdrm::RegKey k;
      if (RegOpenKeyExW(root, kvdrm::kOdbcIniKeyW, 0, KEY_ALL_ACCESS | view, k.out()) == ERROR_SUCCESS)
        RegDeleteTreeW(k.get(), Wz(name));
      if (RegOpenKeyExW(root, kvdrm::kDataSourceListKeyW, 0, KEY_ALL_ACCESS | view, k.out()) ==
          ERROR_SUCCESS)
        RegDeleteValueW(k.get(), Wz(name));
    }
}

}  // namespace testlib
