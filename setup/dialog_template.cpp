#include "setup/dialog_template.h"

#include <string.h>

namespace kvdrm {

namespace {
// A zero unit never comes from the platform; it must not divide by zero.
unsigned Unit(unsigned u) { return u ? u : 1; }

void Put16(unsigned char *p, uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
}  // namespace

uint16_t TemplateWidth(unsigned horizontalUnit) { return static_cast<uint16_t>(1552u / Unit(horizontalUnit)); }
uint16_t TemplateHeight(unsigned verticalUnit) { return static_cast<uint16_t>(1440u / Unit(verticalUnit)); }

void FillDialogTemplate(unsigned char (&out)[kTemplateBytes], unsigned horizontalUnit, unsigned verticalUnit) {
  memset(out, 0, sizeof out);
  Put16(out + 0, static_cast<uint16_t>(kSetupDialogStyle));
  Put16(out + 2, static_cast<uint16_t>(kSetupDialogStyle >> 16));
  // Extended style, item count, x and y stay 0; so do menu, class and title.
  Put16(out + 14, TemplateWidth(horizontalUnit));
  Put16(out + 16, TemplateHeight(verticalUnit));
}

}  // namespace kvdrm
