// Stepping over the characters of an ANSI text. In the double-byte code
// pages (932, 936, 949, 950) the second byte of a character may be 0x5C,
// the backslash: a separator is only a separator when it is a character
// of its own. Pure code; the caller says which bytes lead a double-byte
// character (IsDBCSLeadByte on Windows, a table in the native tests).
// In UTF-16 no unit of another character, surrogates included, equals a
// separator, so the wide scan needs no such rules.
#pragma once
#include <stddef.h>

#include "registry/text.h"

namespace kvdrm {

typedef bool (*LeadByteTest)(unsigned char c);

// The last ':' or '\' of text[0..len): `end` is the length up to and
// including it (0 when there is none), `afterSeparator` whether the
// character just before it is a ':' or '\' too. A lead byte in the last
// position stands alone.
struct SeparatorScan {
  size_t end;
  bool afterSeparator;
};
SeparatorScan LastSeparator(const char *text, size_t len, LeadByteTest isLead);

// The same cut of a UTF-16 text: the length in units up to and including
// its last ':' or '\' (0 when there is none).
size_t LastSeparatorW(const WChar *text, size_t len);

// Whether text[0..len) holds a '\' character.
bool HasBackslash(const char *text, size_t len, LeadByteTest isLead);

}  // namespace kvdrm
