// The attribute set: what one setup request works on, shared by ConfigDSN,
// the setup dialog and storage; and the dialog's field of each attribute.
// Pure code (no windows.h).
#pragma once
#include <stdint.h>

#include "registry/text.h"

namespace kvdrm {

enum AttributeIndex { kAttrDsn = 1, kAttrDescription = 2, kAttrDbq = 3, kAttrCtx = 4 };
constexpr int kAttributeCount = 4;

// Keys by index; [0] is unused. Keys compare unit for unit.
extern const WChar *const kAttributeKeys[kAttributeCount + 1];

struct Journal;

// A plain record, one per request; ClearAttributes frees its texts. Texts
// are UTF-16, as the wide entry gives them.
struct AttributeSet {
  WText values[kAttributeCount + 1];  // values[1..4]; empty = unset
  WText initialName;                  // the name the request's list gave
  // Which of values[2..4] the request asked for: named by its list, or
  // changed in the dialog. A configure keeps the others as they are stored.
  bool given[kAttributeCount + 1];
  const WChar *driver;                // borrowed for the current request only
  uint32_t request;                  // the request code as ConfigDSN got it
  Journal *journal;                  // what the request changed, to put back if it fails
};

void ClearAttributes(AttributeSet &set);

// The setup dialog's controls besides OK and Cancel: the edit field of
// attribute n is 16 + n.
enum SetupControl {
  kNameField = 16 + kAttrDsn,
  kDescriptionField = 16 + kAttrDescription,
  kDirectoryField = 16 + kAttrDbq,
  kControlFileField = 16 + kAttrCtx,
  kBrowseDirectory = 101,
  kBrowseControlFile = 102,
};
constexpr int FieldId(int attribute) { return 16 + attribute; }

// One field of the dialog, top to bottom.
struct SetupField {
  AttributeIndex attribute;
  const WChar *addDefault;  // an add request's value when its list has none
  const WChar *label;
  unsigned char textLimit;  // typing only: texts the library puts in are not cut
  int browseButton;         // 0 for none
};
extern const SetupField kSetupFields[kAttributeCount];

}  // namespace kvdrm
