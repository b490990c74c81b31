// The decimal form of a REG_DWORD at every width edge, against snprintf,
// under ASan/UBSan. The other pure code is fuzzed (tests/native/fuzz) and
// tabled on the Windows side.
#include <stdio.h>
#include <string.h>

#include <vector>

#include <gtest/gtest.h>

#include "registry/reg_text.h"

namespace {

// The DWORD values where the decimal form changes width, both signs.
std::vector<uint32_t> WidthEdges() {
  std::vector<uint32_t> v = {0u, 1u, 0x7FFFFFFFu, 0x80000000u, 0x80000001u, 0xFFFFFFFFu};
  for (int64_t p = 10; p <= 1000000000LL; p *= 10) {
    for (int64_t d : {-1, 0, 1}) {
      v.push_back(static_cast<uint32_t>(p + d));
      v.push_back(static_cast<uint32_t>(-(p + d)));
    }
  }
  return v;
}

TEST(RegDwordText, MatchesSignedDecimalAtEveryWidthEdge) {
  for (uint32_t v : WidthEdges()) {
    char got[12];
    memset(got, 0x7F, sizeof got);
    size_t n = kvdrm::FormatRegDword(v, got);
    char ref[16];
    snprintf(ref, sizeof ref, "%d", static_cast<int32_t>(v));
    EXPECT_STREQ(ref, got) << v;
    EXPECT_EQ(strlen(ref), n) << v;
  }
}

}  // namespace
