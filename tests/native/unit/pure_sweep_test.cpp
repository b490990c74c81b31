// Sweeps of the pure code under ASan/UBSan that the Windows-side tables do
// not make: every size of an exact heap buffer, every decimal width, every
// separator position.
#include <stdio.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "include/kvdrm.h"
#include "proxy/info_local.h"
#include "registry/dbcs.h"
#include "registry/reg_text.h"

namespace {

bool SingleByte(unsigned char) { return false; }

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

TEST(RegTextLength, NeverReadsPastTheValue) {
  // Exact-size heap copies: a look at byte `size` is an ASan report.
  const std::string text = "C:\\KOLVAR\\KOLVARD.CTX";
  for (size_t size = 0; size <= text.size(); ++size) {
    std::unique_ptr<char[]> bytes(new char[size ? size : 1]);
    memcpy(bytes.get(), text.data(), size);
    EXPECT_EQ(size, kvdrm::RegTextLength(bytes.get(), size));
    for (size_t nul = 0; nul < size; ++nul) {
      char keep = bytes[nul];
      bytes[nul] = 0;
      EXPECT_EQ(nul, kvdrm::RegTextLength(bytes.get(), size));
      bytes[nul] = keep;
    }
  }
}

TEST(ControlFileDirectory, CutsAfterTheLastSeparatorWherEverItStands) {
  for (char sep : {':', '\\'}) {
    for (size_t len = 1; len <= 12; ++len) {
      for (size_t at = 0; at < len; ++at) {
        std::string p(len, 'a');
        p[at] = sep;
        std::unique_ptr<char[]> exact(new char[len]);
        memcpy(exact.get(), p.data(), len);
        EXPECT_EQ(at + 1, kvdrm::LastSeparator(exact.get(), len, SingleByte).end) << p;
        p[at] = '/';
        memcpy(exact.get(), p.data(), len);
        EXPECT_EQ(0u, kvdrm::LastSeparator(exact.get(), len, SingleByte).end) << p;
      }
    }
  }
}

struct InfoCase {
  int32_t code;
  int32_t status;
  int32_t length;  // 99: not written
};

TEST(LocalInfo, EveryCodeWithEveryBufferSizeStaysInsideTheBuffer) {
  const InfoCase cases[] = {
      {0, 0, 99},   {1, 0, 2},    {2, 0, 11},   {3, 0, 2},   {4, 0, 2},   {5, 0, 99},
      {6, KVDRM_E_NO_SESSION, 99},          {7, 0, 99},  {134, 0, 99}, {135, 0, 4},
      {136, 0, 4},  {137, 0, 4},  {138, 0, 99}, {-1, 0, 99}, {-6, 0, 99}, {INT32_MIN, 0, 99},
  };
  for (const InfoCase &c : cases) {
    // Codes 135 to 137 answer 4 bytes whatever the stated size: their
    // callers always give room for them.
    const bool word = c.code >= 135 && c.code <= 137;
    for (int32_t size = 0; size <= 16; ++size) {
      const int32_t room = word && size < 4 ? 4 : size;
      std::unique_ptr<unsigned char[]> buf(new unsigned char[room ? room : 1]);
      memset(buf.get(), 0xEE, room ? room : 1);
      int32_t length = 99;
      EXPECT_EQ(c.status, kvdrm::LocalInfo(c.code, buf.get(), size, &length)) << c.code;
      EXPECT_EQ(c.length, length) << c.code << " size " << size;
      for (int32_t i = 0; i < room; ++i) {
        unsigned char want = 0;
        if (c.code == 2 && i < 11) want = static_cast<unsigned char>(kvdrm::kDriverFileName[i]);
        EXPECT_EQ(want, buf[i]) << "code " << c.code << " size " << size << " byte " << i;
      }
      if (room == 0) EXPECT_EQ(0xEE, buf[0]) << "code " << c.code << ": a zero size fills nothing";
    }
  }
}

TEST(LocalInfo, NegativeSizeFillsNothingAndStillAnswers) {
  unsigned char guard[4] = {1, 2, 3, 4};
  int32_t length = 99;
  EXPECT_EQ(0, kvdrm::LocalInfo(4, guard, -1, &length));
  EXPECT_EQ(2, length);
  EXPECT_EQ(0, kvdrm::LocalInfo(2, guard, INT32_MIN, &length));
  EXPECT_EQ(11, length);
  const unsigned char same[4] = {1, 2, 3, 4};
  EXPECT_EQ(0, memcmp(same, guard, 4));
}

}  // namespace
