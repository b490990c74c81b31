// Reading a setup request's attribute list and filling what it left out.
// Pure code (no windows.h): the profile read is handed in, so parsing and
// filling can be tested and fuzzed natively.
#pragma once
#include "setup/attributes.h"

namespace kvdrm {

// What one attribute list said: values[i] points into the list at the value
// of key i (1..4), null when the key did not occur; [0] is unused.
struct ParsedAttributes {
  const WChar *values[kAttributeCount + 1];
};

// Reads a run of NUL-terminated "key=value" texts that ends with an empty
// text (a second NUL); null counts as an empty list. Keys match exactly and
// case-sensitively, the value is everything after the first '=', a later
// pair replaces an earlier one, and a pair without '=' is ignored. `out`
// is reset first.
void ParseAttributeList(const WChar *list, ParsedAttributes &out);

// One profile entry into out (at most 255 characters, NUL-terminated).
typedef void (*ProfileReader)(const WChar *section, const WChar *entry, WChar (&out)[256]);

// For indexes 2..4 that `parsed` does not supply: the add defaults, or for
// any other request the entry of that key in the profile section `section`
// (which replaces the value even when it comes back empty). values[1] is
// never touched. False when memory ran short (values then partly filled).
bool FillAbsent(bool isAddRequest, const ParsedAttributes &parsed, const WChar *section,
                WText values[kAttributeCount + 1], ProfileReader read);

// The length of a list (null counts as empty) up to and including its
// closing empty text, in units of T: what a copy of it must take.
template <typename T>
size_t AttributeListLength(const T *list) {
  if (!list) return 0;
  size_t i = 0;
  while (list[i]) {
    while (list[i]) ++i;
    ++i;
  }
  return i + 1;
}

}  // namespace kvdrm
