// The setup dialog's in-memory template. Pure code: the caller passes the
// base units that GetDialogBaseUnits reported.
#pragma once
#include <stdint.h>

namespace kvdrm {

constexpr uint32_t kSetupDialogStyle = 0x90C80880;  // popup, visible, caption, sysmenu, centred, modal frame
constexpr unsigned kTemplateBytes = 24;

// Dialog units for a client area of 388 x 180 pixels: 1552 / horizontal
// unit and 1440 / vertical unit, truncated.
uint16_t TemplateWidth(unsigned horizontalUnit);
uint16_t TemplateHeight(unsigned verticalUnit);

// Writes the 24 template bytes (header, then empty menu, class and title
// arrays), little-endian. `out` must be 4-byte aligned for the platform.
void FillDialogTemplate(unsigned char (&out)[kTemplateBytes], unsigned horizontalUnit, unsigned verticalUnit);

}  // namespace kvdrm
