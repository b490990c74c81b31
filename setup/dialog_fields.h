// What the pieces of the setup dialog share: its title, the field identifiers and
// reading a field.
#pragma once
#include <windows.h>

#include <string>

namespace kvdrm {

extern const char kSetupTitle[];  // "Kolvar ODBC Setup"

// Field n (1..4, attribute order) is the edit control 16 + n.
constexpr int FieldId(int field) { return 16 + field; }

// Reads field n (at most 256 characters) into `out`; returns its length.
int GetFieldText(HWND dialog, int field, std::string &out);

}  // namespace kvdrm
