// Several sessions at once: each holds its own load and its own record
// (many threads at once: tests/stress).
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "tests/common/proxy_util.h"

using namespace testlib;
using namespace proxytest;

namespace {

TEST(Sessions, DifferentDirectoriesHoldDifferentManagers) {
  DataSource a(ManagerDir("ok")), b(ManagerDir("ok2"));
  DrmArg ha = 0, hb = 0;
  ASSERT_EQ(0, Begin()(&ha, 0, 0, a.name.c_str()));
  ASSERT_EQ(0, Begin()(&hb, 0, 0, b.name.c_str()));
  EXPECT_NE(Slots(ha)[3], Slots(hb)[3]);
  EXPECT_TRUE(SamePath(ManagerFile("ok"), LoadedPath(ha)));
  EXPECT_TRUE(SamePath(ManagerFile("ok2"), LoadedPath(hb)));
  testmgr::State *sa = ManagerState(ha), *sb = ManagerState(hb);
  ASSERT_TRUE(sa && sb);
  ASSERT_NE(sa, sb);
  // Each call reaches the manager of its own record with that record's handle.
  EXPECT_EQ(0, Move()(hb, 0xB1, 0xB2));
  EXPECT_EQ(0, Move()(ha, 0xA1, 0xA2));
  ASSERT_EQ(2, sa->calls);
  ASSERT_EQ(2, sb->calls);
  EXPECT_EQ(32, sa->log[1].ordinal);
  EXPECT_EQ(Slots(ha)[2], sa->log[1].args[0]);
  EXPECT_EQ(0xA1u, sa->log[1].args[1]);
  EXPECT_EQ(Slots(hb)[2], sb->log[1].args[0]);
  EXPECT_EQ(0xB1u, sb->log[1].args[1]);
  EXPECT_EQ(0, End()(ha));
  EXPECT_FALSE(IsLoaded(ManagerFile("ok")));
  EXPECT_TRUE(IsLoaded(ManagerFile("ok2")));
  EXPECT_EQ(0, End()(hb));
  EXPECT_FALSE(IsLoaded(ManagerFile("ok2")));
}

TEST(Sessions, SameDataSourceSharesOneModuleUntilTheLastEnds) {
  DataSource ds(ManagerDir("ok"));
  DrmArg h1 = 0, h2 = 0;
  ASSERT_EQ(0, Begin()(&h1, 0, 0, ds.name.c_str()));
  ASSERT_EQ(0, Begin()(&h2, 0, 0, ds.name.c_str()));
  EXPECT_NE(h1, h2);
  EXPECT_EQ(Slots(h1)[3], Slots(h2)[3]);
  ASSERT_NE(Slots(h1)[2], Slots(h2)[2]) << "the manager gives each session its own handle";
  testmgr::State *st = ManagerState(h1);
  ASSERT_NE(nullptr, st);
  st->mode = testmgr::kEchoSession;
  EXPECT_EQ(static_cast<int32_t>(Slots(h2)[2]), Move()(h2, 1, 2));
  EXPECT_EQ(static_cast<int32_t>(Slots(h1)[2]), Move()(h1, 1, 2));
  st->mode = testmgr::kFixedResults;

  EXPECT_EQ(0, End()(h1));
  EXPECT_TRUE(IsLoaded(ManagerFile("ok"))) << "the second session still holds the manager";
  EXPECT_EQ(0, Move()(h2, 3, 4));
  EXPECT_EQ(0, End()(h2));
  EXPECT_FALSE(IsLoaded(ManagerFile("ok")));
}

TEST(Sessions, EndOnAnotherThreadThanTheBegin) {
  DataSource a(ManagerDir("ok")), b(ManagerDir("ok2"));
  const int kSessions = 6;
  DrmArg begunHere[kSessions] = {}, begunThere[kSessions] = {};
  int32_t beginStatus[kSessions] = {}, endStatus[kSessions] = {};
  for (int i = 0; i < kSessions; ++i) ASSERT_EQ(0, Begin()(&begunHere[i], 0, 0, (i % 2 ? a : b).name.c_str()));
  std::vector<std::thread> threads;
  for (int i = 0; i < kSessions; ++i)
    threads.emplace_back([&, i] {
      endStatus[i] = End()(begunHere[i]);
      beginStatus[i] = Begin()(&begunThere[i], 0, 0, (i % 2 ? b : a).name.c_str());
    });
  for (std::thread &th : threads) th.join();
  for (int i = 0; i < kSessions; ++i) {
    EXPECT_EQ(0, endStatus[i]);
    EXPECT_EQ(0, beginStatus[i]);
    EXPECT_TRUE(SamePath(ManagerFile(i % 2 ? "ok2" : "ok"), LoadedPath(begunThere[i])));
  }
  for (int i = 0; i < kSessions; ++i) EXPECT_EQ(0, End()(begunThere[i]));
  EXPECT_FALSE(IsLoaded(ManagerFile("ok")));
  EXPECT_FALSE(IsLoaded(ManagerFile("ok2")));
}

}  // namespace
