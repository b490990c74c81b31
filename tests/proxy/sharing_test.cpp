// Several sessions at once: each holds its own load and its own record, on
// one thread or many.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
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

TEST(Sessions, BeginAndEndOnSeveralThreadsAtOnce) {
  const char *variants[] = {"ok", "ok2", "ok3", "ok4"};
  std::vector<std::unique_ptr<DataSource>> sources;
  std::vector<std::unique_ptr<ModulePin>> pins;
  for (const char *v : variants) {
    sources.emplace_back(new DataSource(ManagerDir(v)));
    // Pinned so that the echo mode holds while sessions come and go.
    pins.emplace_back(new ModulePin(ManagerFile(v)));
    ASSERT_NE(nullptr, pins.back()->state());
    pins.back()->state()->mode = testmgr::kEchoSession;
  }

  const int kThreads = 8, kRounds = 40;
  std::atomic<int> failures{0}, sessions{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        int v = (t + i) % 4;
        DrmArg h = 0;
        // In echo mode every manager entry returns the first value it got:
        // begin-session the handle variable, the others the manager handle.
        int32_t status = Begin()(&h, t, i, sources[v]->name.c_str());
        bool good = h != 0 && status == static_cast<int32_t>(reinterpret_cast<uint32_t>(&h)) &&
                    Slots(h)[1] == 0xFF000001u && Slots(h)[3] == reinterpret_cast<uint32_t>(pins[v]->get());
        if (good) good = Move()(h, t, i) == static_cast<int32_t>(Slots(h)[2]);
        if (good) good = Move()(h, i, t) == static_cast<int32_t>(Slots(h)[2]);
        uint32_t managerHandle = h ? Slots(h)[2] : 0;
        if (h && End()(h) != static_cast<int32_t>(managerHandle)) good = false;
        if (!good) ++failures;
        ++sessions;
      }
    });
  }
  for (std::thread &th : threads) th.join();
  EXPECT_EQ(0, failures.load());
  EXPECT_EQ(kThreads * kRounds, sessions.load());
  for (size_t v = 0; v < pins.size(); ++v) {
    testmgr::State *st = pins[v]->state();
    EXPECT_EQ(st->begins, st->ends) << variants[v];
    EXPECT_EQ(kThreads * kRounds / 4, st->begins) << variants[v];
  }
  pins.clear();
  for (const char *v : variants) EXPECT_FALSE(IsLoaded(ManagerFile(v))) << v;
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
