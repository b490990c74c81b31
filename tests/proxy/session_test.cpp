// Sessions against the real registry and loader: which manager file a
// data source loads, the handshake, and what ending a session releases.
#include <gtest/gtest.h>

#include "tests/common/testlib.h"

using namespace testlib;

namespace {

TEST(Session, LoadsManagerFromControlFileDirectory) {
  std::string name = UniqueName("dir");
  ScopedKey ds(HKEY_CURRENT_USER, DataSourcePath(name));
  ds.SetString("CTX", ManagerDir("ok") + "KOLVARD.CTX");

  DrmArg h = 0;
  ASSERT_EQ(0, Begin()(&h, 11, 22, name.c_str()));
  ASSERT_NE(0u, h);
  const uint32_t *slot = Slots(h);
  EXPECT_EQ(0xFF000001u, slot[0]);
  EXPECT_EQ(0xFF000001u, slot[1]);
  testmgr::State *st = ManagerState(h);
  ASSERT_NE(nullptr, st);
  EXPECT_STREQ((ManagerDir("ok") + "OdbcDrm.dll").c_str(), st->path);
  EXPECT_EQ(h, st->beginHandleVar);
  EXPECT_EQ(0, End()(h));
  EXPECT_FALSE(IsLoaded(ManagerDir("ok") + "OdbcDrm.dll"));
}

}  // namespace
