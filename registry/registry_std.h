// The std::string form of WriteRegString, for the setup code that still
// holds its texts in std::string. Goes when setup writes Texts.
#pragma once
#include <string>

#include "registry/registry.h"

namespace kvdrm {

inline LONG WriteRegString(HKEY key, const char *valueName, const std::string &text) {
  return WriteRegString(key, valueName, text.c_str(), text.size());
}

}  // namespace kvdrm
