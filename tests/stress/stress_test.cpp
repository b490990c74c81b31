// Sessions under load: eight threads beginning, using and ending sessions
// over four data sources whose managers lie in four folders, and a thousand
// sessions open at once ended out of order. Every forwarded call must reach
// the manager with its own session's manager handle (the test manager in
// echo mode answers with the handle it received); afterwards no manager is
// loaded and the handle probe and heap are back where they started.
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
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/common/testlib.h"
#include "tests/common/leak_probe.h"

using namespace testlib;

namespace {

constexpr int kThreads = 8;
constexpr int kSessionsPerThread = 1300;   // 10,400 in all
constexpr int kRounds = 4;                 // the eight-thread load, in rounds
constexpr int kOpenAtOnce = 1000;
// Bounds the loop whatever the machine: the test fails if it cannot do the
// sessions in this time rather than running on.
constexpr double kLoopSeconds = 60.0;
// What may differ after the load: nothing in the handle table, and at most
// this much busy heap (allocator caches of the C runtime and the loader).
constexpr uintptr_t kHandleMargin = 0;
constexpr size_t kHeapMarginBytes = 4 * 1024;

typedef int32_t(__stdcall *MoveFn)(DrmArg, DrmArg, DrmArg);
typedef int32_t(__stdcall *GetInfoFn)(DrmArg, int32_t, void *, int32_t, int32_t *);
typedef int32_t(__stdcall *OpenViewFn)(DrmArg, DrmArg, DrmArg, DrmArg, DrmArg, DrmArg, DrmArg, DrmArg,
                                       DrmArg);
typedef int32_t(__stdcall *CloseDatabaseFn)(DrmArg, DrmArg);

struct Exports {
  BeginFn begin = Begin();
  EndFn end = End();
  MoveFn move = reinterpret_cast<MoveFn>(reinterpret_cast<void *>(KvdrmProc("DrmMove")));
  GetInfoFn getInfo = reinterpret_cast<GetInfoFn>(reinterpret_cast<void *>(KvdrmProc("DrmGetInfo")));
  OpenViewFn openView = reinterpret_cast<OpenViewFn>(reinterpret_cast<void *>(KvdrmProc("DrmOpenView")));
  CloseDatabaseFn closeDb =
      reinterpret_cast<CloseDatabaseFn>(reinterpret_cast<void *>(KvdrmProc("DrmCloseDatabase")));
  bool ok() const { return begin && end && move && getInfo && openView && closeDb; }
};

// A data source whose CTX points into one test manager's folder. A held
// source keeps an extra load of its manager for the whole test, so that the
// manager's echo mode stays set; the others load and unload with their
// sessions.
struct Source {
  std::string variant, name, managerPath;
  std::unique_ptr<ScopedKey> key;
  bool held = false;
};

std::string ModulePath(HMODULE m) {
  char p[MAX_PATH] = "";
  GetModuleFileNameA(m, p, sizeof p);
  return p;
}

// Failures from the worker threads, kept for the main thread to report.
struct Failures {
  std::atomic<int> count{0};
  std::mutex mu;
  std::vector<std::string> first;
  void Add(const std::string &what) {
    if (++count <= 20) {
      std::lock_guard<std::mutex> lock(mu);
      first.push_back(what);
    }
  }
};

// A begun session, as the test checks it.
struct Open {
  DrmArg handle = 0;
  int source = 0;
  uint32_t managerSession = 0;
};

class Stress : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(x.ok());
    const char *variants[] = {"ok", "ok2", "ok3", "ok4"};
    for (int i = 0; i < 4; ++i) {
      Source s;
      s.variant = variants[i];
      s.name = UniqueName(std::string("stress-") + variants[i]);
      s.managerPath = ManagerDir(s.variant) + "OdbcDrm.dll";
      s.key.reset(new ScopedKey(HKEY_CURRENT_USER, DataSourcePath(s.name)));
      s.key->SetString("CTX", ManagerDir(s.variant) + "KOLVARD.CTX");
      s.held = i < 2;
      sources.push_back(std::move(s));
    }
  }
  void TearDown() override { ReleaseHolds(); }

  void Hold() {
    for (Source &s : sources) {
      if (!s.held) continue;
      HMODULE m = LoadLibraryA(s.managerPath.c_str());
      ASSERT_NE(nullptr, m) << s.managerPath;
      ManagerStateOf(m)->mode = testmgr::kEchoSession;
      holds.push_back(m);
    }
  }
  void ReleaseHolds() {
    for (HMODULE m : holds) FreeLibrary(m);
    holds.clear();
  }

  // Begins a session on source i and checks what the record and the
  // manager show. Returns false (after noting why) when anything is wrong.
  bool BeginChecked(int i, DrmArg *handle, Open &out, Failures &f, bool firstOfModuleIsFresh) {
    const Source &s = sources[i];
    int32_t st = x.begin(handle, 0x1111, 0x2222, s.name.c_str());
    const uint32_t *slot = Slots(*handle);
    if (!*handle || slot[1] != 0xFF000001u || !slot[3]) {
      f.Add("begin " + s.name + ": no acknowledged record");
      return false;
    }
    HMODULE m = reinterpret_cast<HMODULE>(slot[3]);
    if (lstrcmpiA(ModulePath(m).c_str(), s.managerPath.c_str()) != 0) {
      f.Add("begin " + s.name + " loaded " + ModulePath(m));
      return false;
    }
    testmgr::State *state = ManagerStateOf(m);
    // In echo mode the manager's begin-session answers with its first
    // argument, the address of our handle variable; a freshly loaded one is
    // not in echo mode yet and answers 0.
    int32_t echoed = static_cast<int32_t>(reinterpret_cast<uintptr_t>(handle));
    bool statusOk = s.held && !holds.empty() ? st == echoed : (st == echoed || (firstOfModuleIsFresh && st == 0));
    if (!statusOk) {
      char buf[96];
      snprintf(buf, sizeof buf, "begin %s: status %ld", s.name.c_str(), static_cast<long>(st));
      f.Add(buf);
      return false;
    }
    state->mode = testmgr::kEchoSession;
    out.handle = *handle;
    out.source = i;
    out.managerSession = slot[2];
    if ((out.managerSession & 0xFF000000u) != 0x5E000000u) {
      f.Add("begin " + s.name + ": no manager session handle in slot 2");
      return false;
    }
    return true;
  }

  // A few forwarded calls, each of which must come back with this session's
  // manager handle.
  bool UseChecked(const Open &o, Failures &f) {
    int32_t want = static_cast<int32_t>(o.managerSession);
    char answer[16];
    int32_t len = 0;
    int32_t got[4] = {
        x.move(o.handle, 1, 2),
        x.getInfo(o.handle, 2, answer, sizeof answer, &len),
        x.openView(o.handle, 2, 3, 4, 5, 6, 7, 8, 9),
        x.closeDb(o.handle, 7),
    };
    for (int32_t g : got) {
      if (g != want) {
        char buf[96];
        snprintf(buf, sizeof buf, "forwarded call got %08lx, session has %08lx", static_cast<unsigned long>(g),
                 static_cast<unsigned long>(want));
        f.Add(buf);
        return false;
      }
    }
    return true;
  }

  bool EndChecked(const Open &o, Failures &f) {
    // End-session in echo mode answers with the manager handle it received.
    int32_t st = x.end(o.handle);
    if (st != static_cast<int32_t>(o.managerSession)) {
      f.Add("end-session did not receive this session's manager handle");
      return false;
    }
    return true;
  }

  // One round of the eight-thread loop; returns the sessions completed.
  int RunThreads(int perThread, Failures &f, double *seconds) {
    std::atomic<int> done{0};
    auto start = std::chrono::steady_clock::now();
    auto deadline = start + std::chrono::duration<double>(kLoopSeconds);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (int k = 0; k < perThread; ++k) {
          if ((k & 63) == 0 && std::chrono::steady_clock::now() > deadline) {
            f.Add("deadline reached");
            return;
          }
          // Threads walk the sources from different starting points so
          // that every manager sees concurrent begins and ends.
          int i = (t + k) % 4;
          DrmArg h = 0;
          Open o;
          bool begun = BeginChecked(i, &h, o, f, true);
          if (begun) UseChecked(o, f);
          if (h) {
            if (begun)
              EndChecked(o, f);
            else
              x.end(h);
          }
          ++done;
        }
      });
    }
    for (std::thread &th : threads) th.join();
    *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return done;
  }

  void ExpectNoManagerLoaded() {
    for (const Source &s : sources) EXPECT_FALSE(IsLoaded(s.managerPath)) << s.managerPath;
    std::vector<std::string> left = probe::LoadedModulesNamed("OdbcDrm.dll");
    EXPECT_TRUE(left.empty()) << "still loaded: " << (left.empty() ? "" : left[0]);
  }

  Exports x;
  std::vector<Source> sources;
  std::vector<HMODULE> holds;
};

// The before-and-after checks mean something only if the probe sees what a
// leak would leave: a C runtime block, a process heap block, a registry key.
TEST(LeakProbe, SeesWhatALeakWouldLeave) {
  kvdrm::RegKey key;
  // First use of the registry and of the probe allocates for good.
  ASSERT_EQ(ERROR_SUCCESS, testlib::OpenKey(HKEY_CURRENT_USER, "Software", KEY_READ, key));
  key.Close();
  probe::Measure();
  probe::Usage base = probe::Measure();
  // volatile and written to: the compiler may drop an unused malloc.
  char *volatile crt = static_cast<char *>(malloc(50000));
  char *volatile rec = static_cast<char *>(HeapAlloc(GetProcessHeap(), 0, 208));
  memset(crt, 1, 50000);
  memset(rec, 1, 208);
  ASSERT_EQ(ERROR_SUCCESS, testlib::OpenKey(HKEY_CURRENT_USER, "Software", KEY_READ, key));
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
  // Warm-up: the same pattern on a small scale, so that first-use caches of
  // the runtime, the loader and the thread library exist before measuring.
  {
    Hold();
    Failures warm;
    double s;
    RunThreads(16, warm, &s);
    ReleaseHolds();
    ASSERT_EQ(0, warm.count.load()) << (warm.first.empty() ? "" : warm.first[0]);
  }
  probe::Usage before = probe::Measure();

  // Handles are counted after each round too: a leak grows round after
  // round, while a handle that the runtime makes once, on the first
  // contention of one of its locks (an event, under Wine; the chance of it
  // is small in every round), appears in one round by one.
  Hold();
  Failures f;
  double seconds = 0;
  int done = 0, roundsGrown = 0;
  uintptr_t last = probe::Measure().handleProbe, mostGrown = 0;
  for (int r = 0; r < kRounds; ++r) {
    double s = 0;
    done += RunThreads(kSessionsPerThread / kRounds, f, &s);
    seconds += s;
    uintptr_t now = probe::Measure().handleProbe;
    if (now > last) {
      ++roundsGrown;
      mostGrown = std::max(mostGrown, now - last);
    }
    last = now;
  }
  ReleaseHolds();

  probe::Usage after = probe::Measure();
  printf("[ stress   ] %d sessions on %d threads in %.1f s (%.0f per second); %d wrong\n", done, kThreads,
         seconds, done / seconds, f.count.load());
  printf("[ stress   ] handle slots in use %lu -> %lu (grew in %d of %d rounds); busy heap %lu -> %lu bytes (%lu -> %lu blocks)\n",
         static_cast<unsigned long>(before.handleProbe), static_cast<unsigned long>(after.handleProbe), roundsGrown, kRounds,
         static_cast<unsigned long>(before.heapBusy), static_cast<unsigned long>(after.heapBusy),
         static_cast<unsigned long>(before.heapBlocks), static_cast<unsigned long>(after.heapBlocks));
  for (const std::string &w : f.first) ADD_FAILURE() << w;
  EXPECT_EQ(0, f.count.load());
  EXPECT_GE(done, 10000);
  ExpectNoManagerLoaded();
  EXPECT_LE(roundsGrown, 1) << "handles grew in " << roundsGrown << " of " << kRounds << " rounds";
  EXPECT_LE(mostGrown, 1u);
  EXPECT_LE(after.handleProbe, before.handleProbe + kHandleMargin + (roundsGrown ? 1 : 0));
  EXPECT_LE(after.heapBusy, before.heapBusy + kHeapMarginBytes);
}

TEST_F(Stress, ThousandOpenAtOnceEndedInAnotherOrder) {
  // Warm-up as above, single-threaded.
  for (int i = 0; i < 4; ++i) {
    Failures warm;
    DrmArg h = 0;
    Open o;
    if (BeginChecked(i, &h, o, warm, true)) EndChecked(o, warm);
    ASSERT_EQ(0, warm.count.load()) << (warm.first.empty() ? "" : warm.first[0]);
  }
  ExpectNoManagerLoaded();
  probe::Usage before = probe::Measure();

  Failures f;
  double seconds = 0;
  {  // what the test itself allocates is gone again before measuring
    // Handle variables stay put for the whole test: the manager is given the
    // address of each at begin-session.
    std::vector<DrmArg> handles(kOpenAtOnce, 0);
    std::vector<Open> open(kOpenAtOnce);
    std::map<int, int> remaining;
    auto start = std::chrono::steady_clock::now();
    for (int k = 0; k < kOpenAtOnce; ++k) {
      int i = k % 4;
      // Only the first session of each manager finds it freshly loaded.
      bool fresh = k < 4;
      if (!BeginChecked(i, &handles[k], open[k], f, fresh)) {
        ASSERT_LT(f.count.load(), 20) << "giving up";
        open[k].handle = 0;
        continue;
      }
      ++remaining[i];
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

    // Use them all, last begun first.
    for (int k = kOpenAtOnce - 1; k >= 0; --k)
      if (open[k].handle) UseChecked(open[k], f);

    // End them in a shuffled order; a manager stays loaded exactly while one
    // of its sessions is open.
    std::vector<int> order(kOpenAtOnce);
    for (int k = 0; k < kOpenAtOnce; ++k) order[k] = k;
    std::mt19937 rng(20261208);
    std::shuffle(order.begin(), order.end(), rng);
    ASSERT_NE(order[0], 0);
    for (int k : order) {
      const Open &o = open[k];
      if (!o.handle) {
        if (handles[k]) x.end(handles[k]);
        continue;
      }
      EndChecked(o, f);
      int left = --remaining[o.source];
      if (IsLoaded(sources[o.source].managerPath) != (left > 0))
        f.Add("manager " + sources[o.source].variant + (left > 0 ? " unloaded early" : " still loaded"));
    }
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  probe::Usage after = probe::Measure();
  printf("[ stress   ] %d sessions open at once, ended shuffled, in %.1f s; %d wrong\n", kOpenAtOnce, seconds,
         f.count.load());
  printf("[ stress   ] handle slots in use %lu -> %lu; busy heap %lu -> %lu bytes\n",
         static_cast<unsigned long>(before.handleProbe), static_cast<unsigned long>(after.handleProbe),
         static_cast<unsigned long>(before.heapBusy), static_cast<unsigned long>(after.heapBusy));
  for (const std::string &w : f.first) ADD_FAILURE() << w;
  EXPECT_EQ(0, f.count.load());
  ExpectNoManagerLoaded();
  EXPECT_LE(after.handleProbe, before.handleProbe + kHandleMargin);
  EXPECT_LE(after.heapBusy, before.heapBusy + kHeapMarginBytes);
}

}  // namespace
