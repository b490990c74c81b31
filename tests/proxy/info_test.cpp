// DrmGetInfo with the no-session handle -1: the answers given without any
// manager, checked byte by byte up to guard bytes past the stated size.
#include <gtest/gtest.h>
#include <limits.h>
#include <string.h>

#include "tests/proxy/export_rows.h"
#include "tests/common/proxy_util.h"

using namespace testlib;
using namespace proxytest;

namespace {

constexpr uint32_t kNoSession = 0xFFFFFFFFu;
constexpr int kUntouched = 99;
constexpr int kBuf = 64, kGuard = 16;

struct InfoRow {
  int32_t code;
  int32_t size;
  unsigned char prefill;
  int32_t status;
  int32_t length;       // kUntouched: not written
  const char *answer;   // bytes expected at the front of [0, size); zeros follow
  size_t answerLen;
};

TEST(LocalInfo, AnswersEachCode) {
  const InfoRow rows[] = {
      {2, 64, 0xAA, 0, 11, "KVODBC.DLL", 11},
      {2, 11, 0xAA, 0, 11, "KVODBC.DLL", 11},
      {2, 10, 0xAA, 0, 11, "KVODBC.DLL", 10},  // no room for the NUL
      {2, 5, 0xAA, 0, 11, "KVODB", 5},
      {2, 1, 0xAA, 0, 11, "K", 1},
      {2, 0, 0xAA, 0, 11, "", 0},
      {2, -1, 0xAA, 0, 11, "", 0},
      {2, INT_MIN, 0xAA, 0, 11, "", 0},
      {1, 16, 0xFF, 0, 2, "", 0},
      {3, 2, 0xFF, 0, 2, "", 0},
      {4, 64, 0xFF, 0, 2, "", 0},
      {4, -1, 0xFF, 0, 2, "", 0},
      {135, 4, 0xFF, 0, 4, "", 0},
      {136, 8, 0xFF, 0, 4, "", 0},
      {137, 64, 0xFF, 0, 4, "", 0},
      // Stated below the 4 bytes of the answer: the answer is written all the same.
      {136, 2, 0xFF, 0, 4, "\0\0\0\0", 4},
      {135, 0, 0xFF, 0, 4, "\0\0\0\0", 4},
      {6, 16, 0xFF, -1603, kUntouched, "", 0},
      {6, -1, 0xFF, -1603, kUntouched, "", 0},
      {7, 16, 0xFF, 0, kUntouched, "", 0},
      {0, 16, 0xFF, 0, kUntouched, "", 0},
      {5, 16, 0xFF, 0, kUntouched, "", 0},
      {134, 16, 0xFF, 0, kUntouched, "", 0},
      {138, 16, 0xFF, 0, kUntouched, "", 0},
      {-1, 16, 0xFF, 0, kUntouched, "", 0},
      {INT_MIN, 16, 0xFF, 0, kUntouched, "", 0},
      {0x10002, 16, 0xFF, 0, kUntouched, "", 0},  // code 2 in the low 16 bits only
  };
  const void *info = reinterpret_cast<const void *>(KvdrmProc("DrmGetInfo"));
  ASSERT_NE(nullptr, info);
  for (const InfoRow &r : rows) {
    SCOPED_TRACE("code " + std::to_string(r.code) + " size " + std::to_string(r.size));
    unsigned char buf[kBuf + kGuard];
    memset(buf, r.prefill, sizeof buf);
    int32_t length = kUntouched;
    const uint32_t args[] = {kNoSession, static_cast<uint32_t>(r.code), reinterpret_cast<uint32_t>(buf),
                             static_cast<uint32_t>(r.size), reinterpret_cast<uint32_t>(&length)};
    int32_t shift = 99;
    EXPECT_EQ(r.status, CallMeasured(info, args, 5, &shift));
    EXPECT_EQ(0, shift);
    EXPECT_EQ(r.length, length);
    int filled = r.size > 0 ? r.size : 0;
    if (filled < static_cast<int>(r.answerLen)) filled = static_cast<int>(r.answerLen);
    for (int i = 0; i < kBuf + kGuard; ++i) {
      unsigned char want = i >= filled ? r.prefill
                           : static_cast<size_t>(i) < r.answerLen ? static_cast<unsigned char>(r.answer[i])
                                                                 : 0;
      ASSERT_EQ(want, buf[i]) << "byte " << i;
    }
  }
}

TEST(LocalInfo, NullBufferOrLengthIsNotDereferenced) {
  typedef int32_t(__stdcall * InfoFn)(DrmArg, int32_t, void *, int32_t, int32_t *);
  InfoFn info = reinterpret_cast<InfoFn>(reinterpret_cast<void *>(KvdrmProc("DrmGetInfo")));
  for (int32_t code : {1, 2, 3, 4, 6, 7, 135, 136, 137}) {
    SCOPED_TRACE(code);
    int32_t length = kUntouched;
    EXPECT_EQ(code == 6 ? -1603 : 0, info(kNoSession, code, nullptr, 64, &length));
    EXPECT_EQ(code == 2 ? 11 : code <= 4 ? 2 : code >= 135 ? 4 : kUntouched, length);
    unsigned char buf[16];
    memset(buf, 0xFF, sizeof buf);
    EXPECT_EQ(code == 6 ? -1603 : 0, info(kNoSession, code, buf, sizeof buf, nullptr));
    EXPECT_EQ(code == 2 ? 'K' : 0, buf[0]);
    EXPECT_EQ(code == 6 ? -1603 : 0, info(kNoSession, code, nullptr, 64, nullptr));
  }
}

TEST(LocalInfo, NeedsNoManager) {
  // Even where a bare "OdbcDrm.dll" would be found, nothing is loaded.
  ASSERT_EQ(nullptr, GetModuleHandleA("OdbcDrm.dll"));
  SetDllDirectoryA(ManagerDir("ok3").c_str());
  typedef int32_t(__stdcall * InfoFn)(DrmArg, int32_t, void *, int32_t, int32_t *);
  InfoFn info = reinterpret_cast<InfoFn>(reinterpret_cast<void *>(KvdrmProc("DrmGetInfo")));
  char buf[16];
  int32_t length = 0;
  for (int32_t code = -2; code < 140; ++code) info(kNoSession, code, buf, sizeof buf, &length);
  SetDllDirectoryA(nullptr);
  EXPECT_EQ(nullptr, GetModuleHandleA("OdbcDrm.dll"));
}

}  // namespace
