// The attribute list of ConfigDSN and SQLConfigDataSource, as the tests
// build it: each pair NUL-terminated, then one more NUL. Free of windows.h,
// so that tests of pure code can use it too.
#pragma once
#include <initializer_list>
#include <string>
#include <vector>

namespace testlib {

inline std::string AttributeList(const std::vector<std::string> &pairs) {
  std::string s;
  for (const std::string &p : pairs) {
    s += p;  // a pair may hold any byte but NUL
    s += '\0';
  }
  s += '\0';
  return s;
}

inline std::string AttributeList(std::initializer_list<std::string> pairs) {
  return AttributeList(std::vector<std::string>(pairs));
}

}  // namespace testlib
