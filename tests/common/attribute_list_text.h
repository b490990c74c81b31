// The attribute list of ConfigDSN and SQLConfigDataSource, as the tests
// build it: each pair NUL-terminated, then one more NUL. Free of windows.h,
// so that tests of pure code can use it too.
#pragma once
#include <string>
#include <vector>

namespace testlib {

inline std::string AttributeList(const std::vector<std::string> &pairs) {
  std::string s;
  for (const std::string &p : pairs) s += p + '\0';  // a pair may hold any byte but NUL
  return s + '\0';
}

}  // namespace testlib
