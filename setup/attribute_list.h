// Reading a setup request's attribute list and filling what it left out.
// Pure code (no windows.h): the profile read is handed in, so parsing and
// filling can be tested and fuzzed natively.
#pragma once
#include <string>

#include "setup/attributes.h"

namespace kvdrm {

// What one attribute list said: values[i] and supplied[i] for the indexes
// 1..4 whose key occurred; [0] is unused.
struct ParsedAttributes {
  std::string values[kAttributeCount + 1];
  bool supplied[kAttributeCount + 1] = {false, false, false, false, false};
};

// Reads a run of NUL-terminated "key=value" texts that ends with an empty
// text (a second NUL); null counts as an empty list. Keys match exactly and
// case-sensitively, the value is everything after the first '=', a later
// pair replaces an earlier one, and a pair without '=' is ignored. `out`
// is reset first.
void ParseAttributeList(const char *list, ParsedAttributes &out);

typedef std::string (*ProfileReader)(const char *section, const char *entry);

// For indexes 2..4 that were not supplied: the add defaults, or for any
// other request the entry of that key in the profile section `section`
// (which replaces the value even when it comes back empty). values[1] is
// never touched.
void FillAbsent(bool isAddRequest, const bool supplied[kAttributeCount + 1], const std::string &section,
                std::string values[kAttributeCount + 1], ProfileReader read);

}  // namespace kvdrm
