// The setup dialog's pure pieces: cutting a path back to its directory, the
// bare file name, and the in-memory template.
#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "setup/dialog_template.h"
#include "setup/trim_path.h"

namespace {

bool SingleByte(unsigned char) { return false; }
// The lead bytes of code page 932.
bool Cp932Lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

TEST(TrimToDirectory, Table) {
  struct Case {
    const char *path, *directory;
    bool cp932 = false;
  } cases[] = {
      {"D:\\DATA\\MAIN.CTX", "D:\\DATA"},     {"D:\\DATA\\SET1\\-control.dat", "D:\\DATA\\SET1"},
      {"D:\\DATA\\", "D:\\DATA"},             {"D:\\-control.dat", "D:\\"},
      {"D:MAIN.CTX", "D:"},                   {"\\MAIN.CTX", "\\"},
      {"MAIN.CTX", ""},                       {"", ""},
      {"D:\\", "D:\\"},                       {"D:", "D:"},
      {"\\\\F.CTX", "\\\\"},                  {"\\\\server\\share\\F.CTX", "\\\\server\\share"},
      {"D:\\DATA\\\\F.CTX", "D:\\DATA\\\\"},  {"D:\\DATA", "D:\\"},
      {"A/B/C.CTX", ""},  // forward slashes are no separators here
      // Code page 932: "\x95\x5C" is one character, its trail byte no '\\'.
      {"D:\\\x95\x5C\\F.CTX", "D:\\\x95\x5C", true},
      {"D:\\\x95\x5C", "D:\\", true},
      {"D:\\\x95\x5C", "D:\\\x95", false},
      {"\x83\x5C\\F.CTX", "\x83\x5C", true},
      {"D:\\\x83\x5C\x83\x5C\\F.CTX", "D:\\\x83\x5C\x83\x5C", true},
  };
  for (const Case &c : cases) {
    char buffer[64];
    strcpy(buffer, c.path);
    kvdrm::TrimToDirectory(buffer, c.cp932 ? Cp932Lead : SingleByte);
    EXPECT_STREQ(c.directory, buffer) << c.path;
  }
}

TEST(BareFileName, Table) {
  struct Case {
    const char *path, *name;
    bool cp932 = false;
  } cases[] = {
      {"D:\\DATA\\MAIN.CTX", "MAIN.CTX"}, {"D:MAIN.CTX", "MAIN.CTX"}, {"MAIN.CTX", "MAIN.CTX"},
      {"D:\\DATA\\", ""},                 {"", ""},                   {"\\MAIN.CTX", "MAIN.CTX"},
      {"a:b\\c:d.ctx", "d.ctx"},
      {"D:\\D\\\x95\x5C.CTX", "\x95\x5C.CTX", true},
      {"D:\\D\\\x95\x5C.CTX", ".CTX", false},
  };
  for (const Case &c : cases)
    EXPECT_STREQ(c.name, kvdrm::BareFileName(c.path, c.cp932 ? Cp932Lead : SingleByte)) << c.path;
}

TEST(DialogTemplate, SizeFromBaseUnits) {
  struct Case {
    unsigned h, v;
    uint16_t cx, cy;
  } cases[] = {
      {8, 16, 194, 90},  // 388 x 180 pixels
      {9, 18, 172, 80},  // 387 x 180 pixels
      {9, 16, 172, 90},  // Wine's system font under Xvfb
      {7, 13, 221, 110},
      {0, 0, 1552, 1440},  // never from the platform; must not divide by zero
  };
  for (const Case &c : cases) {
    unsigned char t[kvdrm::kTemplateBytes];
    memset(t, 0xAB, sizeof t);
    kvdrm::FillDialogTemplate(t, c.h, c.v);
    // style 0x90C80880, little-endian; everything else zero but cx and cy.
    const unsigned char expected[kvdrm::kTemplateBytes] = {
        0x80, 0x08, 0xC8, 0x90, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        static_cast<unsigned char>(c.cx), static_cast<unsigned char>(c.cx >> 8),
        static_cast<unsigned char>(c.cy), static_cast<unsigned char>(c.cy >> 8), 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, memcmp(expected, t, sizeof t)) << c.h << "/" << c.v;
    EXPECT_EQ(c.cx, kvdrm::TemplateWidth(c.h));
    EXPECT_EQ(c.cy, kvdrm::TemplateHeight(c.v));
  }
}

}  // namespace
