// Reading a setup request's attribute list and filling what it left out.
// Pure code (no windows.h): the profile read is handed in, so parsing and
// filling can be tested and fuzzed natively.
#pragma once
#include "setup/attributes.h"

namespace kvdrm {

// What one attribute list said: values[i] points into the list at the value
// of key i (1..4), null when the key did not occur; [0] is unused.
struct ParsedAttributes {
  const char *values[kAttributeCount + 1];
};

// Reads a run of NUL-terminated "key=value" texts that ends with an empty
// text (a second NUL); null counts as an empty list. Keys match exactly and
// case-sensitively, the value is everything after the first '=', a later
// pair replaces an earlier one, and a pair without '=' is ignored. `out`
// is reset first.
void ParseAttributeList(const char *list, ParsedAttributes &out);

// One profile entry into out (at most 255 characters, NUL-terminated).
typedef void (*ProfileReader)(const char *section, const char *entry, char (&out)[256]);

// For indexes 2..4 that `parsed` does not supply: the add defaults, or for
// any other request the entry of that key in the profile section `section`
// (which replaces the value even when it comes back empty). values[1] is
// never touched. False when memory ran short (values then partly filled).
bool FillAbsent(bool isAddRequest, const ParsedAttributes &parsed, const char *section,
                Text values[kAttributeCount + 1], ProfileReader read);

}  // namespace kvdrm
