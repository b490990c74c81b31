// The setup dialog's pure pieces: cutting a path back to its directory, the
// bare file name, and the in-memory template.
#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "setup/dialog_template.h"
#include "setup/trim_path.h"

namespace {

// Paths are UTF-16: a ':' or '\' unit is always a character of its own, so
// a character such as U+8868 (whose code page 932 form ends in the byte
// 0x5C) is never cut.
TEST(TrimToDirectory, Table) {
  struct Case {
    const char16_t *path, *directory;
  } cases[] = {
      {u"D:\\DATA\\MAIN.CTX", u"D:\\DATA"},     {u"D:\\DATA\\SET1\\-control.dat", u"D:\\DATA\\SET1"},
      {u"D:\\DATA\\", u"D:\\DATA"},             {u"D:\\-control.dat", u"D:\\"},
      {u"D:MAIN.CTX", u"D:"},                   {u"\\MAIN.CTX", u"\\"},
      {u"MAIN.CTX", u""},                       {u"", u""},
      {u"D:\\", u"D:\\"},                       {u"D:", u"D:"},
      {u"\\\\F.CTX", u"\\\\"},                  {u"\\\\server\\share\\F.CTX", u"\\\\server\\share"},
      {u"D:\\DATA\\\\F.CTX", u"D:\\DATA\\\\"},  {u"D:\\DATA", u"D:\\"},
      {u"A/B/C.CTX", u""},  // forward slashes are no separators here
      {u"D:\\\u8868\\F.CTX", u"D:\\\u8868"},   {u"D:\\\u8868", u"D:\\"},
      {u"C:\\Users\\\u0418\u0432\u0430\u043d\\K.CTX", u"C:\\Users\\\u0418\u0432\u0430\u043d"},
  };
  for (const Case &c : cases) {
    std::u16string buffer(c.path);
    kvdrm::TrimToDirectory(&buffer[0]);
    EXPECT_EQ(std::u16string(c.directory), std::u16string(buffer.c_str())) << testing::PrintToString(std::u16string(c.path));
  }
}

TEST(BareFileName, Table) {
  struct Case {
    const char16_t *path, *name;
  } cases[] = {
      {u"D:\\DATA\\MAIN.CTX", u"MAIN.CTX"}, {u"D:MAIN.CTX", u"MAIN.CTX"}, {u"MAIN.CTX", u"MAIN.CTX"},
      {u"D:\\DATA\\", u""},                 {u"", u""},                   {u"\\MAIN.CTX", u"MAIN.CTX"},
      {u"a:b\\c:d.ctx", u"d.ctx"},          {u"D:\\D\\\u8868.CTX", u"\u8868.CTX"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(std::u16string(c.name), std::u16string(kvdrm::BareFileName(c.path)));
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
