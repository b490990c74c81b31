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
  // Even where a bare "OdbcDrm.dll" would be found, nothing is loaded.
  ASSERT_EQ(nullptr, GetModuleHandleA("OdbcDrm.dll"));
  SetDllDirectoryA(ManagerDir("ok3").c_str());
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
    // A null buffer or length is not dereferenced; the rest of the answer
    // stays the same.
    length = kUntouched;
    const uint32_t noBuffer[] = {args[0], args[1], 0, args[3], args[4]};
    EXPECT_EQ(r.status, CallMeasured(info, noBuffer, 5, &shift));
    EXPECT_EQ(r.length, length);
    const uint32_t noLength[] = {args[0], args[1], 0, args[3], 0};
    EXPECT_EQ(r.status, CallMeasured(info, noLength, 5, &shift));
  }
  SetDllDirectoryA(nullptr);
  EXPECT_EQ(nullptr, GetModuleHandleA("OdbcDrm.dll"));
}

}  // namespace
