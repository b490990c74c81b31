// The attribute set: the one piece of process-wide state of data source
// setup, shared by ConfigDSN, the setup dialog and storage. One request at a
// time per process; nothing here is guarded.
#pragma once
#include <string>

namespace kvdrm {

enum AttributeIndex { kAttrDsn = 1, kAttrDescription = 2, kAttrDbq = 3, kAttrCtx = 4 };
constexpr int kAttributeCount = 4;

// Keys and defaults by index; [0] is unused. Keys compare byte for byte.
extern const char *const kAttributeKeys[kAttributeCount + 1];
extern const char *const kAttributeDefaults[kAttributeCount + 1];

struct AttributeSet {
  std::string values[kAttributeCount + 1];  // values[1..4]; empty = unset
  std::string initialName;                  // the name the request's list gave
  const char *driver = nullptr;             // borrowed for the current request only
};

extern AttributeSet g_attributes;

// Empties the four values and the initial name (on unload).
void ClearAttributes();

// One entry of the installer's profile "odbc.ini": at most 255 characters,
// "" when missing. A null entry asks for the section's entry names, so the
// result is non-empty exactly when the section has entries.
std::string ReadProfileValue(const char *section, const char *entry);

// For a request whose list did not supply Description, DBQ or CTX: the add
// defaults, or for any other request the profile entries of the initial
// name. values[1] is never filled.
void FillAbsentAttributes(bool isAddRequest, const bool supplied[kAttributeCount + 1]);

}  // namespace kvdrm
