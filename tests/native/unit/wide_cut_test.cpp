// The UTF-16 side of a session's CTX: the control-file directory cut and
// the length of a REG_SZ read with the wide call. Units whose low or high
// byte is 0x5C or 0x3A, and surrogates, are characters like any other: only
// U+005C and U+003A are separators.
#include <string>

#include <gtest/gtest.h>

#include "registry/reg_text.h"
#include "registry/text.h"

namespace {

TEST(ControlFileDirectoryW, CutsAfterLastColonOrBackslash) {
  struct Row {
    std::u16string path;
    size_t len;  // npos: the whole path
    std::u16string directory;
  } const rows[] = {
      {u"C:\\KOLVAR\\KOLVARD.CTX", std::u16string::npos, u"C:\\KOLVAR\\"},
      {u"D:KOLVARD.CTX", std::u16string::npos, u"D:"},
      {u"C:\\KOLVAR", std::u16string::npos, u"C:\\"},
      {u"C:\\KOLVAR\\", std::u16string::npos, u"C:\\KOLVAR\\"},
      {u"KOLVAR/KOLVARD.CTX", std::u16string::npos, u""},
      {u"C:/KOLVAR/KOLVARD.CTX", std::u16string::npos, u"C:"},
      {u"KOLVARD.CTX", std::u16string::npos, u""},
      {u"", std::u16string::npos, u""},
      {u"\\", std::u16string::npos, u"\\"},
      {u":", std::u16string::npos, u":"},
      {u"a:b\\c:d", std::u16string::npos, u"a:b\\c:"},
      {u"\\\\srv\\share\\K.CTX", std::u16string::npos, u"\\\\srv\\share\\"},
      {u"C:\\K\\x:y", std::u16string::npos, u"C:\\K\\x:"},
      {u"C:\\\u0418\u0432\u0430\u043D\\K.CTX", std::u16string::npos, u"C:\\\u0418\u0432\u0430\u043D\\"},
      // U+955C and U+5C95: a byte of 0x5C either way round; U+3A3A, U+FF3C
      // (fullwidth backslash), U+00A5 (the yen sign 0x5C shows in 932).
      {u"C:\\D\\\u955C\u5C95.CTX", std::u16string::npos, u"C:\\D\\"},
      {u"C:\\\u8868\\\u3A3A\uFF3C\u00A5", std::u16string::npos, u"C:\\\u8868\\"},
      // Names whose code page 932 form has 0x5C as a trail byte (U+8868
      // is 0x95 0x5C, U+30BD 0x83 0x5C), and the bytes 0x95 0x5C read as
      // code page 1252 (U+2022, then a real backslash).
      {u"C:\\\u8868\\K.CTX", std::u16string::npos, u"C:\\\u8868\\"},
      {u"C:\\D\\\u8868.CTX", std::u16string::npos, u"C:\\D\\"},
      {u"C:\\D\\\u2022\\.CTX", std::u16string::npos, u"C:\\D\\\u2022\\"},
      {u"\u30BD\u30BD", std::u16string::npos, u""},
      {u"\\\u30BD:x", std::u16string::npos, u"\\\u30BD:"},
      // Surrogate pairs and lone surrogates, one with 0x5C in its low byte.
      {u"C:\\\U0001F600\\\U0001F600", std::u16string::npos, u"C:\\\U0001F600\\"},
      {u"a\\\xD800\xDC5C", std::u16string::npos, u"a\\"},
      {u"a\\\xDC5C\\\xD800", std::u16string::npos, u"a\\\xDC5C\\"},
      // Only the counted part is scanned; NULs are units like others.
      {u"C:\\K\\L", 4, u"C:\\"},
      {u"C:\\K\\L\\", 6, u"C:\\K\\"},
      {std::u16string(u"ab\\c\0d", 6), 6, u"ab\\"},
      {std::u16string(u"ab\\c\0d\\e", 8), 5, u"ab\\"},
      {std::u16string(u"ab\\c\0d\\e", 8), 8, std::u16string(u"ab\\c\0d\\", 7)},
  };
  for (const Row &r : rows) {
    size_t len = r.len == std::u16string::npos ? r.path.size() : r.len;
    size_t got = kvdrm::LastSeparatorW(r.path.data(), len);
    EXPECT_TRUE(r.directory == r.path.substr(0, got)) << "row of " << r.path.size() << " units, cut at " << got;
  }
  EXPECT_EQ(0u, kvdrm::LastSeparatorW(nullptr, 0));
}

TEST(RegTextW, LengthUpToTheFirstNulUnit) {
  const std::u16string nul(1, u'\0');
  struct Row {
    std::u16string units;
    size_t length;
  } const rows[] = {
      {u"", 0},
      {nul, 0},
      {u"abc", 3},
      {u"abc" + nul, 3},
      {u"ab" + nul + u"c" + nul, 2},
      // A unit whose low or high byte is 0 is no NUL.
      {u"\u0100\u0001\u4E00", 3},
  };
  for (const Row &r : rows) EXPECT_EQ(r.length, kvdrm::RegTextLengthW(r.units.data(), r.units.size()));

  kvdrm::WText t = {nullptr, 0};
  ASSERT_TRUE(kvdrm::WTextSet(t, u"\u0418x", 2));
  EXPECT_TRUE(std::u16string(u"\u0418x") == kvdrm::WTextStr(t));
  ASSERT_TRUE(kvdrm::WTextSet(t, nullptr, 0));
  EXPECT_EQ(nullptr, t.data);
  EXPECT_TRUE(std::u16string() == kvdrm::WTextStr(t));
  kvdrm::WTextFree(t);
}

}  // namespace
