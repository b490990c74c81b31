#include "tests/common/snapshot.h"

#include <stdio.h>

#include "tests/common/testlib.h"

namespace snap {

namespace {

// The values ("type:bytes" by name) and subkey names of an open key, all
// names in UTF-8 and exactly as stored (any script, any letter case).
void ReadKey(HKEY k, std::map<std::string, std::string> &out, std::vector<std::string> &children) {
  out.clear();
  children.clear();
  DWORD subkeys = 0, maxSub = 0, values = 0, maxName = 0, maxData = 0;
  RegQueryInfoKeyW(k, nullptr, nullptr, nullptr, &subkeys, &maxSub, nullptr, &values, &maxName, &maxData, nullptr,
                   nullptr);
  std::vector<char16_t> name(maxName + 2);
  std::vector<BYTE> data(maxData + 1);
  for (DWORD i = 0;; ++i) {
    DWORD nameSize = static_cast<DWORD>(name.size()), dataSize = static_cast<DWORD>(data.size()), type = 0;
    LONG rc = RegEnumValueW(k, i, reinterpret_cast<WCHAR *>(name.data()), &nameSize, nullptr, &type, data.data(),
                            &dataSize);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc == ERROR_MORE_DATA) {
      // Grew since the size query: take it again with room.
      name.resize(name.size() * 2 + 256);
      data.resize(data.size() * 2 + 65536);
      --i;
      continue;
    }
    if (rc != ERROR_SUCCESS) break;
    char t[16];
    snprintf(t, sizeof t, "%lu:", type);
    out[testlib::Utf8(std::u16string(name.data(), nameSize))] =
        t + std::string(reinterpret_cast<const char *>(data.data()), dataSize);
  }
  std::vector<char16_t> sub(maxSub + 2 > 256 ? maxSub + 2 : 256);
  for (DWORD i = 0;; ++i) {
    DWORD size = static_cast<DWORD>(sub.size());
    LONG rc = RegEnumKeyExW(k, i, reinterpret_cast<WCHAR *>(sub.data()), &size, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_MORE_DATA) {
      sub.resize(sub.size() * 2);
      --i;
      continue;
    }
    if (rc != ERROR_SUCCESS) break;
    children.push_back(testlib::Utf8(std::u16string(sub.data(), size)));
  }
}

// What a key is besides its values: its class and its access list (the
// self-relative descriptor of its DACL, with its control bits), as hex.
std::string KeyItself(HKEY k) {
  std::string out = "class:";
  char16_t keyClass[512] = {};
  DWORD units = 511;
  if (RegQueryInfoKeyW(k, reinterpret_cast<WCHAR *>(keyClass), &units, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
    out += testlib::Utf8(std::u16string(keyClass, units));
  out += " dacl:";
  DWORD size = 0;
  RegGetKeySecurity(k, DACL_SECURITY_INFORMATION, nullptr, &size);
  std::vector<BYTE> sd(size ? size : 1);
  if (size && RegGetKeySecurity(k, DACL_SECURITY_INFORMATION, sd.data(), &size) == ERROR_SUCCESS) {
    static const char kHex[] = "0123456789abcdef";
    for (DWORD i = 0; i < size; ++i) {
      out += kHex[sd[i] >> 4];
      out += kHex[sd[i] & 15];
    }
  }
  return out;
}

void TakeKey(HKEY root, REGSAM view, const std::string &path, const std::string &label, Picture &out) {
  kvdrm::RegKey k;
  const std::u16string widePath = testlib::U16(path);
  const WCHAR *w = reinterpret_cast<const WCHAR *>(widePath.c_str());
  if (RegOpenKeyExW(root, w, 0, KEY_READ | view, k.out()) != ERROR_SUCCESS) {
    // A key the test cannot read is pictured as such, so that a change of
    // its readability shows as well.
    if (RegOpenKeyExW(root, w, 0, READ_CONTROL | view, k.out()) == ERROR_SUCCESS)
      out[label] = "<unreadable> " + KeyItself(k.get());
    return;
  }
  out[label] = KeyItself(k.get());
  // Enumeration goes by index: a key or value that another program deletes
  // meanwhile can hide one that stays. Read until two readings agree.
  std::map<std::string, std::string> values, again;
  std::vector<std::string> children, againChildren;
  ReadKey(k.get(), values, children);
  for (int i = 0; i < 20; ++i) {
    ReadKey(k.get(), again, againChildren);
    if (again == values && againChildren == children) break;
    values.swap(again);
    children.swap(againChildren);
  }
  for (const auto &v : values) out[label + "|" + v.first] = v.second;
  k.Close();
  for (const std::string &c : children) TakeKey(root, view, path + "\\" + c, label + "\\" + c, out);
}

void TakeFolder(const std::string &folder, Picture &out) {
  WIN32_FIND_DATAA f;
  HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &f);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    std::string n = f.cFileName;
    if (n == "." || n == ".." || (f.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    std::string p = folder + "\\" + n, bytes;
    HANDLE file = CreateFileA(p.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      char buf[4096];
      DWORD got = 0;
      while (ReadFile(file, buf, sizeof buf, &got, nullptr) && got) bytes.append(buf, got);
      CloseHandle(file);
    }
    out["file:" + p] = bytes;
  } while (FindNextFileA(h, &f));
  FindClose(h);
}

bool IEqual(const std::string &a, const std::string &b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

bool Owned(const std::string &entry, const std::vector<std::string> &ownNames) {
  // Registry entries: "<root>/<view>:ODBC.INI\<name>[\...][|value]" and
  // "<root>/<view>:ODBC.INI\ODBC Data Sources|<name>".
  size_t colon = entry.find(':');
  if (entry.compare(0, 5, "file:") == 0) {
    std::string file = entry.substr(entry.rfind('\\') + 1);
    for (const std::string &n : ownNames)
      if (IEqual(file, n + ".DSN")) return true;
    return false;
  }
  std::string rel = entry.substr(colon + 1);
  const std::string ini = "ODBC.INI\\";
  if (rel.compare(0, ini.size(), ini) != 0) return false;
  rel = rel.substr(ini.size());
  const std::string list = "ODBC Data Sources|";
  for (const std::string &n : ownNames) {
    if (rel.size() >= list.size() && IEqual(rel.substr(0, list.size()), list) && IEqual(rel.substr(list.size()), n))
      return true;
    std::string head = rel.substr(0, rel.find_first_of("\\|"));
    if (IEqual(head, n)) return true;
  }
  return false;
}

std::string AsciiLower(std::string s) {
  for (char &c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool Foreign(const std::string &entry) {
  static const std::string own = AsciiLower(testlib::OwnPrefix());
  std::string e = AsciiLower(entry);
  return e.find("kvdrmtest") != std::string::npos && e.find(own) == std::string::npos;
}

std::string Show(const std::string &s) {
  std::string out;
  for (char c : s.substr(0, 60)) out += (c >= 32 && c < 127) ? c : '.';
  if (s.size() > 60) out += "...(" + std::to_string(s.size()) + " bytes)";
  return out;
}

}  // namespace

Picture Take(const std::vector<std::string> &folders) {
  Picture p;
  struct Root {
    HKEY key;
    REGSAM view;
    const char *label;
  } roots[] = {
      {HKEY_CURRENT_USER, 0, "HKCU/32:"},
      {HKEY_CURRENT_USER, KEY_WOW64_64KEY, "HKCU/64:"},
      {HKEY_LOCAL_MACHINE, 0, "HKLM/32:"},
      {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "HKLM/64:"},
  };
  for (const Root &r : roots) {
    TakeKey(r.key, r.view, "Software\\ODBC", std::string(r.label) + "ODBC", p);
  }
  // Drop the "ODBC\" level from the labels: entries read "HKCU/32:ODBC.INI\...".
  Picture q;
  for (auto &e : p) {
    std::string k = e.first;
    size_t at = k.find(":ODBC\\");
    if (at != std::string::npos) k.erase(at + 1, 5);
    q[k] = e.second;
  }
  for (const std::string &f : folders) TakeFolder(f, q);
  return q;
}

std::vector<std::string> Differences(const Picture &before, const Picture &after,
                                     const std::vector<std::string> &names) {
  // Pictures name keys in UTF-8; a test may name its own in UTF-8 or in
  // the ANSI code page.
  std::vector<std::string> ownNames;
  for (const std::string &n : names) {
    ownNames.push_back(n);
    ownNames.push_back(testlib::Utf8(testlib::FromAcp(n)));
  }
  std::vector<std::string> out;
  for (auto &b : before) {
    if (Owned(b.first, ownNames) || Foreign(b.first)) continue;
    auto a = after.find(b.first);
    if (a == after.end())
      out.push_back("removed " + Show(b.first));
    else if (a->second != b.second)
      out.push_back("changed " + Show(b.first) + ": " + Show(b.second) + " -> " + Show(a->second));
  }
  for (auto &a : after) {
    if (Owned(a.first, ownNames) || Foreign(a.first)) continue;
    if (before.find(a.first) == before.end()) out.push_back("added " + Show(a.first));
  }
  return out;
}

}  // namespace snap
