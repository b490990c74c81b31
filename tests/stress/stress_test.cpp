// Sessions under load, and the one home of sessions on several threads:
// eight threads beginning, using and ending sessions over four data sources
// whose managers lie in four folders, and a thousand sessions open at once,
// ended out of order on another thread than the one that began them. Every
// forwarded call must reach the manager with its own session's manager handle
// (the test manager in echo mode answers with the handle it received); a
// manager stays loaded exactly while a session holds it; afterwards the
// handle probe and heap are back where they started.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/common/leak_probe.h"
#include "tests/common/proxy_util.h"
#include "tests/common/setup_helpers.h"
#include "tests/common/attribute_list_text.h"

using namespace testlib;
using namespace proxytest;

namespace {

constexpr int kThreads = 8;
constexpr int kSessionsPerThread = 1300;  // 10,400 in all
constexpr int kRounds = 4;                // the eight-thread load, in rounds
constexpr int kOpenAtOnce = 1000;
// The test fails rather than runs on when the machine cannot do the load in
// this time.
constexpr double kLoopSeconds = 60.0;
// Busy heap that may remain after the load (allocator caches of the C
// runtime and the loader); the handle table must be back exactly.
constexpr size_t kHeapMarginBytes = 4 * 1024;

template <class Fn>
Fn Proc(const char *name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void *>(KvdrmProc(name)));
}

// Failures from any thread; the first few are kept for the report.
struct Failures {
  std::atomic<int> count{0};
  std::mutex mu;
  std::vector<std::string> first;
  bool Add(const std::string &what) {
    if (++count <= 20) {
      std::lock_guard<std::mutex> lock(mu);
      first.push_back(what);
    }
    return false;
  }
  void Report() {
    for (const std::string &w : first) ADD_FAILURE() << w;
    EXPECT_EQ(0, count.load());
  }
};

struct Open {
  DrmArg handle = 0;
  int source = 0;
  uint32_t managerSession = 0;
};

class Stress : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char *v : {"ok", "ok2", "ok3", "ok4"}) {
      sources.emplace_back(new DataSource(ManagerDir(v), "stress"));
      managers.push_back(ManagerFile(v));
    }
  }
  void TearDown() override { ReleaseHolds(); }

  // The first two managers are held loaded, so that their echo mode stays
  // set; the others load and unload with their sessions.
  void Hold() {
    for (int i = 0; i < 2; ++i) {
      HMODULE m = LoadLibraryA(managers[i].c_str());
      ASSERT_NE(nullptr, m) << managers[i];
      ManagerStateOf(m)->mode = testmgr::kEchoSession;
      holds.push_back(m);
    }
  }
  void ReleaseHolds() {
    for (HMODULE m : holds) FreeLibrary(m);
    holds.clear();
  }

  // Begins a session on source i and checks the record: acknowledged, the
  // source's own manager loaded, a manager session handle in slot 2.
  bool BeginChecked(int i, DrmArg *handle, Open &out, Failures &f, bool mayBeFresh) {
    int32_t st = begin(handle, 0x1111, 0x2222, sources[i]->name.c_str());
    const uint32_t *slot = Slots(*handle);
    if (!*handle || slot[1] != 0xFF000001u || !slot[3]) return f.Add("begin " + managers[i] + ": no acknowledged record");
    if (!SamePath(managers[i], LoadedPath(*handle))) return f.Add("begin " + managers[i] + " loaded " + LoadedPath(*handle));
    // In echo mode begin-session answers with its first argument, the
    // address of the handle variable; a freshly loaded manager answers 0.
    const int32_t echoed = static_cast<int32_t>(reinterpret_cast<uintptr_t>(handle));
    const bool held = i < 2 && !holds.empty();
    if (st != echoed && (held || !mayBeFresh || st != 0)) return f.Add("begin " + managers[i] + ": status " + std::to_string(st));
    ManagerStateOf(reinterpret_cast<HMODULE>(slot[3]))->mode = testmgr::kEchoSession;
    out = {*handle, i, slot[2]};
    if ((slot[2] & 0xFF000000u) != 0x5E000000u) return f.Add("begin: no manager session handle in slot 2");
    return true;
  }

  // A few forwarded calls and the end: each must come back with this
  // session's manager handle.
  bool UseChecked(const Open &o, Failures &f) {
    char answer[16];
    int32_t len = 0;
    for (int32_t got : {move(o.handle, 1, 2), getInfo(o.handle, 2, answer, sizeof answer, &len),
                        openView(o.handle, 2, 3, 4, 5, 6, 7, 8, 9)})
      if (got != static_cast<int32_t>(o.managerSession))
        return f.Add("forwarded call got " + std::to_string(got) + ", session has " + std::to_string(o.managerSession));
    return true;
  }
  bool EndChecked(const Open &o, Failures &f) {
    return end(o.handle) == static_cast<int32_t>(o.managerSession) ||
           f.Add("end-session did not receive this session's manager handle");
  }

  // One round of the eight-thread loop; returns the sessions completed.
  int RunThreads(int perThread, Failures &f) {
    std::atomic<int> done{0};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kLoopSeconds);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (int k = 0; k < perThread; ++k) {
          if ((k & 63) == 0 && std::chrono::steady_clock::now() > deadline) return (void)f.Add("deadline reached");
          // Threads walk the sources from different starting points, so
          // every manager sees concurrent begins and ends.
          DrmArg h = 0;
          Open o;
          bool begun = BeginChecked((t + k) % 4, &h, o, f, true);
          if (begun) {
            UseChecked(o, f);
            EndChecked(o, f);
          } else if (h) {
            end(h);
          }
          ++done;
        }
      });
    }
    for (std::thread &th : threads) th.join();
    return done;
  }

  void ExpectNoManagerLoaded() {
    std::vector<std::string> left = probe::LoadedModulesNamed("OdbcDrm.dll");
    EXPECT_TRUE(left.empty()) << "still loaded: " << (left.empty() ? "" : left[0]);
  }

  BeginFn begin = Begin();
  EndFn end = End();
  MoveFn move = Move();
  int32_t(__stdcall *getInfo)(DrmArg, int32_t, void *, int32_t, int32_t *) =
      Proc<int32_t(__stdcall *)(DrmArg, int32_t, void *, int32_t, int32_t *)>("DrmGetInfo");
  int32_t(__stdcall *openView)(DrmArg, DrmArg, DrmArg, DrmArg, DrmArg, DrmArg, DrmArg, DrmArg, DrmArg) =
      Proc<int32_t(__stdcall *)(DrmArg, DrmArg, DrmArg, DrmArg, DrmArg, DrmArg, DrmArg, DrmArg, DrmArg)>(
          "DrmOpenView");
  std::vector<std::unique_ptr<DataSource>> sources;
  std::vector<std::string> managers;
  std::vector<HMODULE> holds;
};

// The before-and-after checks mean something only if the probe sees what a
// leak would leave: a C runtime block, a process heap block, a registry key.
TEST(LeakProbe, SeesWhatALeakWouldLeave) {
  kvdrm::RegKey key;
  // First use of the registry and of the probe allocates for good.
  ASSERT_EQ(ERROR_SUCCESS, OpenKey(HKEY_CURRENT_USER, "Software", KEY_READ, key));
  key.Close();
  probe::Measure();
  probe::Usage base = probe::Measure();
  // volatile and written to: the compiler may drop an unused malloc.
  char *volatile crt = static_cast<char *>(malloc(50000));
  char *volatile rec = static_cast<char *>(HeapAlloc(GetProcessHeap(), 0, 208));
  memset(crt, 1, 50000);
  memset(rec, 1, 208);
  ASSERT_EQ(ERROR_SUCCESS, OpenKey(HKEY_CURRENT_USER, "Software", KEY_READ, key));
  probe::Usage held = probe::Measure();
  EXPECT_GE(held.heapBusy, base.heapBusy + 50000 + 208);
  EXPECT_GT(held.handleProbe, base.handleProbe);
  key.Close();
  HeapFree(GetProcessHeap(), 0, rec);
  free(crt);
  probe::Usage back = probe::Measure();
  EXPECT_EQ(base.handleProbe, back.handleProbe);
  EXPECT_EQ(base.heapBusy, back.heapBusy);
}

TEST_F(Stress, EightThreadsOverFourManagers) {
  // Warm-up on a small scale, so that first-use caches of the runtime, the
  // loader and the thread library exist before measuring.
  Hold();
  Failures warm;
  RunThreads(16, warm);
  ReleaseHolds();
  ASSERT_EQ(0, warm.count.load()) << (warm.first.empty() ? "" : warm.first[0]);
  probe::Usage before = probe::Measure();

  // Handles are counted after each round: a leak grows round after round,
  // while a handle that the runtime makes once, on the first contention of
  // one of its locks (an event, under Wine), appears in one round by one.
  Hold();
  Failures f;
  int done = 0, roundsGrown = 0;
  uintptr_t last = probe::Measure().handleProbe, mostGrown = 0;
  auto start = std::chrono::steady_clock::now();
  for (int r = 0; r < kRounds; ++r) {
    done += RunThreads(kSessionsPerThread / kRounds, f);
    uintptr_t now = probe::Measure().handleProbe;
    if (now > last) ++roundsGrown, mostGrown = std::max(mostGrown, now - last);
    last = now;
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ReleaseHolds();
  probe::Usage after = probe::Measure();
  printf("[ stress   ] %d sessions on %d threads in %.1f s; handles %lu -> %lu, busy heap %lu -> %lu\n", done,
         kThreads, seconds, static_cast<unsigned long>(before.handleProbe),
         static_cast<unsigned long>(after.handleProbe), static_cast<unsigned long>(before.heapBusy),
         static_cast<unsigned long>(after.heapBusy));
  f.Report();
  EXPECT_GE(done, 10000);
  ExpectNoManagerLoaded();
  EXPECT_LE(roundsGrown, 1) << "handles grew in " << roundsGrown << " of " << kRounds << " rounds";
  EXPECT_LE(mostGrown, 1u);
  EXPECT_LE(after.handleProbe, before.handleProbe + (roundsGrown ? 1 : 0));
  EXPECT_LE(after.heapBusy, before.heapBusy + kHeapMarginBytes);
}

TEST_F(Stress, ThousandOpenAtOnceEndedInAnotherOrderOnAnotherThread) {
  for (int i = 0; i < 4; ++i) {  // warm-up, one session a manager
    Failures warm;
    DrmArg h = 0;
    Open o;
    if (BeginChecked(i, &h, o, warm, true)) EndChecked(o, warm);
    ASSERT_EQ(0, warm.count.load()) << (warm.first.empty() ? "" : warm.first[0]);
  }
  ExpectNoManagerLoaded();
  probe::Usage before = probe::Measure();

  Failures f;
  {  // what the test itself allocates is gone again before measuring
    // Handle variables stay put: the manager is given the address of each.
    std::vector<DrmArg> handles(kOpenAtOnce, 0);
    std::vector<Open> open(kOpenAtOnce);
    std::map<int, int> remaining;
    for (int k = 0; k < kOpenAtOnce; ++k) {
      // Only the first session of each manager finds it freshly loaded.
      if (!BeginChecked(k % 4, &handles[k], open[k], f, k < 4)) {
        ASSERT_LT(f.count.load(), 20) << "giving up";
        open[k].handle = 0;
        continue;
      }
      ++remaining[k % 4];
    }
    // All records are distinct, and within one manager so are the manager
    // handles: no two sessions share state.
    std::set<DrmArg> records;
    std::map<int, std::set<uint32_t>> managerHandles;
    for (const Open &o : open) {
      if (!o.handle) continue;
      records.insert(o.handle);
      managerHandles[o.source].insert(o.managerSession);
    }
    EXPECT_EQ(static_cast<size_t>(kOpenAtOnce), records.size());
    for (auto &m : managerHandles) EXPECT_EQ(static_cast<size_t>(kOpenAtOnce / 4), m.second.size());

    for (int k = kOpenAtOnce - 1; k >= 0; --k)  // last begun first
      if (open[k].handle) UseChecked(open[k], f);

    // Ended in a shuffled order on a thread of its own; a manager stays
    // loaded exactly while one of its sessions is open.
    std::vector<int> order(kOpenAtOnce);
    for (int k = 0; k < kOpenAtOnce; ++k) order[k] = k;
    std::shuffle(order.begin(), order.end(), std::mt19937(20261208));
    ASSERT_NE(order[0], 0);
    std::thread([&] {
      for (int k : order) {
        const Open &o = open[k];
        if (!o.handle) {
          if (handles[k]) end(handles[k]);
          continue;
        }
        EndChecked(o, f);
        int left = --remaining[o.source];
        if (IsLoaded(managers[o.source]) != (left > 0))
          f.Add(managers[o.source] + (left > 0 ? " unloaded early" : " still loaded"));
      }
    }).join();
  }
  probe::Usage after = probe::Measure();
  f.Report();
  ExpectNoManagerLoaded();
  EXPECT_LE(after.handleProbe, before.handleProbe);
  EXPECT_LE(after.heapBusy, before.heapBusy + kHeapMarginBytes);
}

}  // namespace

namespace {

// Setup requests from four threads at once, each adding, configuring and
// removing names of its own through the installer: they run one after the
// other, so every request returns TRUE and leaves exactly what it asked for.
TEST(SetupStress, FourThreadsOfRequests) {
  constexpr int kSetupThreads = 4, kNamesPerThread = 40;
  setuptest::ScopedDriver driver(UniqueName("drv"));
  auto config = KvdrmConfigDSN();
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kSetupThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kNamesPerThread; ++i) {
        const std::string name = UniqueName("st" + std::to_string(t) + "-" + std::to_string(i));
        const std::string added = "C:\\A" + std::to_string(t) + "\\" + std::to_string(i) + ".CTX";
        const std::string changed = "C:\\B" + std::to_string(t) + "\\" + std::to_string(i) + ".CTX";
        auto request = [&](WORD code, const std::string &ctx) {
          std::string list = AttributeList({"DSN=" + name, "Description=d", "DBQ=C:\\D", "CTX=" + ctx});
          return config(nullptr, code, driver.name.c_str(), list.c_str()) == setuptest::kTrue;
        };
        bool ok = request(1, added) && setuptest::Stored(name, "CTX") == setuptest::Sz(added) &&
                  request(2, changed) && setuptest::Stored(name, "CTX") == setuptest::Sz(changed) &&
                  request(3, "") && !KeyExists(HKEY_CURRENT_USER, DataSourcePath(name));
        if (!ok) ++wrong;
        DeleteDataSourceEverywhere(name);
      }
    });
  for (std::thread &th : threads) th.join();
  EXPECT_EQ(0, wrong.load()) << "names not stored, changed and removed as asked";
}

}  // namespace
