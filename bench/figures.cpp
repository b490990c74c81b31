// The timed functions and the counted figures. Every pair does the same
// work twice: once through KVDRM.dll, once with the platform (or the
// manager) called directly, so that the ratio shows what the proxy adds.
#include <windows.h>
#include <odbcinst.h>
#include <tlhelp32.h>

#include <benchmark/benchmark.h>

#include <ctype.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <iterator>

#include "bench/bench.h"
#include "registry/registry.h"
#include "bench/heap_count.h"

namespace bench {
namespace {

typedef int32_t(__stdcall *BeginFn)(DrmArg *, DrmArg, DrmArg, const char *);
typedef int32_t(__stdcall *EndFn)(DrmArg);
typedef int32_t(__stdcall *Fn3)(DrmArg, DrmArg, DrmArg);
typedef int32_t(__stdcall *Fn4)(DrmArg, DrmArg, DrmArg, DrmArg);
typedef int32_t(__stdcall *Fn5)(DrmArg, DrmArg, DrmArg, DrmArg, DrmArg);
typedef int32_t(__stdcall *Fn9)(DrmArg, DrmArg, DrmArg, DrmArg, DrmArg, DrmArg, DrmArg, DrmArg, DrmArg);
typedef BOOL(__stdcall *ConfigDsnFn)(HWND, WORD, LPCSTR, LPCSTR);

const char kOdbcIni[] = "Software\\ODBC\\ODBC.INI\\";
const char kOdbcInst[] = "Software\\ODBC\\ODBCINST.INI\\";
const char kManagerFile[] = "OdbcDrm.dll";
constexpr uint32_t kMarker = 0xFF000001u;
// Manager ordinals (the table in exports/exports.inc).
constexpr int kMgrBegin = 1, kMgrEnd = 12, kMgrMove = 32, kMgrOpenView = 36, kMgrSetFilter = 40;
constexpr int kSessions = 10000;
constexpr int kForwardedCalls = 1000000;

// The defaults a silent add fills in, and what the baseline writes.
const char kDefDescription[] = "Kolvar Muster Firmendaten";
const char kDefDbq[] = "C:\\KOLVAR\\MUSTER";
const char kDefCtx[] = "C:\\KOLVAR\\KOLVARD.CTX";

struct Env {
  HMODULE kvdrm = nullptr;
  HMODULE pin = nullptr;        // the manager, held so sessions find it loaded
  std::string managerPath;      // ...\benchmgr\OdbcDrm.dll
  std::string dataSource;       // session data source, CTX beside the manager
  std::string dataSourceKey;
  std::string driver;           // a registered driver for the setup request
  std::string driverKey;
  std::string setupName;        // the data source the setup request adds
  std::string setupKey;
  std::string setupAttributes;  // "DSN=<setupName>\0\0"
  BeginFn begin = nullptr;
  EndFn end = nullptr;
  Fn3 move = nullptr;
  Fn9 openView = nullptr;
  Fn5 setFilter = nullptr;
  ConfigDsnFn configDsn = nullptr;
  DrmArg session = 0;           // open for the forwarded calls
  DrmArg managerSession = 0;
  Fn3 mgrMove = nullptr;
  Fn9 mgrOpenView = nullptr;
  Fn4 mgrSetFilter = nullptr;
  bool setupStores = false;     // ConfigDSN wrote the data source key
  std::vector<Row> firstAdd;
};

Env g;

// GetProcAddress's untyped result as the function type the table gives.
template <class F>
F Proc(HMODULE module, const char *nameOrOrdinal) {
  return reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(module, nameOrOrdinal)));
}


bool SetString(HKEY key, const char *name, const std::string &text) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

bool CreateKey(HKEY root, const std::string &path, REGSAM view, kvdrm::RegKey &out) {
  return RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, out.out(), nullptr) ==
         ERROR_SUCCESS;
}

std::string ReadString(HKEY root, const std::string &path, const char *value) {
  kvdrm::RegKey k;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, k.out()) != ERROR_SUCCESS) return "";
  char buf[512];
  DWORD type = 0, size = sizeof buf - 1;
  std::string out;
  if (RegQueryValueExA(k.get(), value, nullptr, &type, reinterpret_cast<BYTE *>(buf), &size) == ERROR_SUCCESS &&
      type == REG_SZ) {
    buf[size] = 0;
    out = buf;
  }
  return out;
}

// The setup request removes nothing of an add, so each run starts afresh.
void RemoveSetupEntries() {
  RegDeleteKeyExA(HKEY_CURRENT_USER, g.setupKey.c_str(), 0, 0);
  RegDeleteKeyExA(HKEY_CURRENT_USER, g.setupKey.c_str(), KEY_WOW64_64KEY, 0);
}

// ---- Paired timing ---------------------------------------------------------
// Each benchmark times ours and the baseline in alternating blocks within
// the same iteration (the order flips every iteration), with the time-stamp
// counter, so both meet the same load; per repetition it keeps the median
// block of each, which a preemption in a few blocks does not move. Google
// Benchmark's repetitions and their median aggregate sit on top.

double g_nsPerTick = 0;

inline uint64_t Ticks() { return __builtin_ia32_rdtsc(); }

// The counter's rate against the performance counter, over a short sleep
// (the time-stamp counter runs on while the thread sleeps).
void CalibrateTicks() {
  LARGE_INTEGER f, q0, q1;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&q0);
  uint64_t t0 = Ticks();
  Sleep(200);
  QueryPerformanceCounter(&q1);
  uint64_t t1 = Ticks();
  double ns = static_cast<double>(q1.QuadPart - q0.QuadPart) * 1e9 / static_cast<double>(f.QuadPart);
  g_nsPerTick = ns / static_cast<double>(t1 - t0);
}

double Median(std::vector<uint32_t> &v) {
  if (v.empty()) return 0;
  size_t mid = v.size() / 2;
  std::nth_element(v.begin(), v.begin() + mid, v.end());
  return v[mid];
}

// What an empty block costs: the two counter reads around it.
double EmptyBlockTicks() {
  std::vector<uint32_t> v(4001);
  for (uint32_t &x : v) {
    uint64_t a = Ticks();
    uint64_t b = Ticks();
    x = static_cast<uint32_t>(b - a);
  }
  return Median(v);
}

constexpr size_t kMaxSamples = 1 << 18;

template <class Ours, class Base>
void Paired(benchmark::State &st, int perBlock, Ours ours, Base base) {
  std::vector<uint32_t> to, tb;
  to.reserve(std::min<size_t>(kMaxSamples, static_cast<size_t>(st.max_iterations)));
  tb.reserve(to.capacity());
  bool oursFirst = false;
  for (auto _ : st) {
    uint64_t t0 = Ticks(), t1, t2;
    if (oursFirst) {
      ours();
      t1 = Ticks();
      base();
    } else {
      base();
      t1 = Ticks();
      ours();
    }
    t2 = Ticks();
    if (to.size() < kMaxSamples) {
      to.push_back(static_cast<uint32_t>(oursFirst ? t1 - t0 : t2 - t1));
      tb.push_back(static_cast<uint32_t>(oursFirst ? t2 - t1 : t1 - t0));
    }
    oursFirst = !oursFirst;
    st.SetIterationTime(static_cast<double>(t2 - t0) * g_nsPerTick * 1e-9);
  }
  double empty = EmptyBlockTicks();
  double o = (Median(to) - empty) * g_nsPerTick / perBlock;
  double b = (Median(tb) - empty) * g_nsPerTick / perBlock;
  st.counters["ours_ns"] = o;
  st.counters["base_ns"] = b;
  st.counters["ratio"] = b > 0 ? o / b : 0;
  st.counters["extra_ns"] = o - b;
}

// ---- Forwarded calls -------------------------------------------------------
// Blocks of 256 calls with the same arguments. Ours and the baseline run the
// very same loop (one function, not inlined), given the export of KVDRM.dll
// or the manager's entry and the handle each takes, so that nothing but the
// target differs.

constexpr int kCallsPerBlock = 256;

__attribute__((noinline)) void Calls3(Fn3 f, DrmArg h) {
  for (int i = 0; i < kCallsPerBlock; ++i) benchmark::DoNotOptimize(f(h, 1, 2));
}
__attribute__((noinline)) void Calls9(Fn9 f, DrmArg h) {
  for (int i = 0; i < kCallsPerBlock; ++i) benchmark::DoNotOptimize(f(h, 1, 2, 3, 4, 5, 6, 7, 8));
}
__attribute__((noinline)) void Calls5(Fn5 f, DrmArg h) {
  for (int i = 0; i < kCallsPerBlock; ++i) benchmark::DoNotOptimize(f(h, 1, 2, 3, 4));
}
__attribute__((noinline)) void Calls4(Fn4 f, DrmArg h) {
  for (int i = 0; i < kCallsPerBlock; ++i) benchmark::DoNotOptimize(f(h, 1, 2, 3));
}

void BM_Move(benchmark::State &st) {
  Paired(
      st, kCallsPerBlock, [] { Calls3(g.move, g.session); }, [] { Calls3(g.mgrMove, g.managerSession); });
}
void BM_OpenView(benchmark::State &st) {
  Paired(
      st, kCallsPerBlock, [] { Calls9(g.openView, g.session); }, [] { Calls9(g.mgrOpenView, g.managerSession); });
}
// DrmSetFilter takes five values and passes four: the baseline is the call
// a driver would make if it reached the manager itself, with four.
void BM_SetFilter(benchmark::State &st) {
  Paired(
      st, kCallsPerBlock, [] { Calls5(g.setFilter, g.session); }, [] { Calls4(g.mgrSetFilter, g.managerSession); });
}

// ---- Session begin and end -------------------------------------------------

void SessionOurs() {
  DrmArg h = 0;
  int32_t s = g.begin(&h, 0, 0, g.dataSource.c_str());
  benchmark::DoNotOptimize(s);
  g.end(h);
}

// The platform calls a session cannot do without: open the data source key,
// read CTX once into a buffer that fits, close, cut the path back to its
// directory, load the manager, resolve 48 ordinals into a record on the
// stack, the manager's begin and end, release the manager.
// With `probe`, CTX is read as the proxy's text helper reads any value:
// first into a 4-byte buffer (for a REG_DWORD, and to learn a text's size),
// then again into a buffer of that size.
template <bool probe>
void SessionDirect() {
  char path[MAX_PATH + 16];
  DWORD used = 0;
  {
    kvdrm::RegKey k;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, g.dataSourceKey.c_str(), 0, KEY_ALL_ACCESS, k.out()) == ERROR_SUCCESS) {
      DWORD type = 0, size = MAX_PATH;
      if (probe) {
        BYTE small[4];
        size = sizeof small;
        RegQueryValueExA(k.get(), "CTX", nullptr, &type, small, &size);
        if (size > MAX_PATH) size = MAX_PATH;
      }
      if (RegQueryValueExA(k.get(), "CTX", nullptr, &type, reinterpret_cast<BYTE *>(path), &size) == ERROR_SUCCESS &&
          type == REG_SZ && size > 0)
        used = size - 1;
    }
  }
  while (used > 0 && path[used - 1] != '\\' && path[used - 1] != ':') --used;
  memcpy(path + used, kManagerFile, sizeof kManagerFile);

  uint32_t record[52] = {0};
  record[0] = kMarker;
  HMODULE m = LoadLibraryA(path);
  record[3] = reinterpret_cast<uint32_t>(m);
  for (int n = 1; n <= 48; ++n) record[n + 3] = reinterpret_cast<uint32_t>(GetProcAddress(m, MAKEINTRESOURCEA(n)));
  DrmArg handle = reinterpret_cast<DrmArg>(record);
  int32_t s = reinterpret_cast<BeginFn>(record[kMgrBegin + 3])(&handle, 0, 0, g.dataSource.c_str());
  benchmark::DoNotOptimize(s);
  reinterpret_cast<EndFn>(record[kMgrEnd + 3])(record[2]);
  FreeLibrary(m);
}

void BM_SessionWarm(benchmark::State &st) { Paired(st, 1, SessionOurs, SessionDirect<false>); }
void BM_SessionWarmProbe(benchmark::State &st) { Paired(st, 1, SessionOurs, SessionDirect<true>); }

// The same with the manager unloaded between sessions: the first session of
// a process, where the loader maps the file each time. The open session of
// the forwarded calls holds the manager too, so it ends for the while and
// begins again afterwards.
bool OpenForwardingSession();
void BM_SessionCold(benchmark::State &st) {
  g.end(g.session);
  g.session = 0;
  FreeLibrary(g.pin);
  g.pin = nullptr;
  if (GetModuleHandleA(g.managerPath.c_str())) {
    st.SkipWithError("the manager stays loaded");
  } else {
    Paired(st, 1, SessionOurs, SessionDirect<false>);
  }
  g.pin = LoadLibraryA(g.managerPath.c_str());
  if (!OpenForwardingSession()) st.SkipWithError("cannot open the forwarding session again");
}

// ---- Setup request ---------------------------------------------------------

void SetupOurs() {
  benchmark::DoNotOptimize(g.configDsn(nullptr, ODBC_ADD_DSN, g.driver.c_str(), g.setupAttributes.c_str()));
}

// What a silent add of a user data source must do, called directly: read
// the configuration mode, then for each registry view check that the driver
// key opens, create the data source key, write its four values, close it,
// and have the installer write the file data source.
void SetupDirect() {
  static const std::string description = kDefDescription, dbq = kDefDbq, ctx = kDefCtx;
  const char *name = g.setupName.c_str();
  UWORD mode = ODBC_BOTH_DSN;
  if (!SQLGetConfigMode(&mode)) return;
  HKEY root = mode == ODBC_SYSTEM_DSN ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  const REGSAM passes[2] = {KEY_ALL_ACCESS, KEY_ALL_ACCESS | KEY_WOW64_64KEY};
  for (REGSAM access : passes) {
    kvdrm::RegKey k;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, g.driverKey.c_str(), 0, access, k.out()) != ERROR_SUCCESS) continue;
    if (RegCreateKeyExA(root, g.setupKey.c_str(), 0, nullptr, 0, access, nullptr, k.out(), nullptr) == ERROR_SUCCESS) {
      SetString(k.get(), "Description", description);
      SetString(k.get(), "DBQ", dbq);
      SetString(k.get(), "CTX", ctx);
      SetString(k.get(), "Driver", g.driver);
      k.Close();
    }
    SQLWriteFileDSN(name, "ODBC", "DSN", name);
  }
}

void BM_Setup(benchmark::State &st) { Paired(st, 1, SetupOurs, SetupDirect); }

bool OpenForwardingSession() {
  if (g.begin(&g.session, 0, 0, g.dataSource.c_str()) != 0) return false;
  const uint32_t *slot = reinterpret_cast<const uint32_t *>(g.session);
  g.managerSession = slot[2];
  return reinterpret_cast<HMODULE>(slot[3]) == g.pin;
}

// The modules of the process, by lower-case file name.
std::vector<std::string> ModuleNames() {
  std::vector<std::string> names;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0);
  if (snap == INVALID_HANDLE_VALUE) return names;
  MODULEENTRY32 m;
  m.dwSize = sizeof m;
  for (BOOL more = Module32First(snap, &m); more; more = Module32Next(snap, &m)) {
    std::string name = m.szModule;
    for (char &c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    names.push_back(name);
  }
  CloseHandle(snap);
  std::sort(names.begin(), names.end());
  return names;
}

// LoadLibrary of KVDRM.dll, one silent add, FreeLibrary, in ns; negative
// when the DLL did not load or the add stored nothing.
double LoadAddUnload(const std::string &dll) {
  LARGE_INTEGER freq, t0, t1;
  QueryPerformanceFrequency(&freq);
  QueryPerformanceCounter(&t0);
  HMODULE m = LoadLibraryA(dll.c_str());
  ConfigDsnFn configDsn = m ? Proc<ConfigDsnFn>(m, "ConfigDSN") : nullptr;
  if (configDsn) configDsn(nullptr, ODBC_ADD_DSN, g.driver.c_str(), g.setupAttributes.c_str());
  if (m) FreeLibrary(m);
  QueryPerformanceCounter(&t1);
  bool stored = ReadString(HKEY_CURRENT_USER, g.setupKey, "Driver") == g.driver;
  RemoveSetupEntries();
  if (!configDsn || !stored) return -1;
  return static_cast<double>(t1.QuadPart - t0.QuadPart) * 1e9 / static_cast<double>(freq.QuadPart);
}

// A process's first setup request pays for binding whatever it binds; the
// rounds after it show what stays cheap because something stayed loaded.
// Timed once, before anything else here has made a setup request, against
// the best of the later rounds; the note names the modules that the first
// round left in the process.
std::vector<Row> TimeFirstAdd(const std::string &dll) {
  constexpr int kLaterRounds = 10;
  Row r;
  r.figure = "first silent add of a process (load, add, unload)";
  r.unit = "ns";
  r.goal = "reported";
  RemoveSetupEntries();
  const std::vector<std::string> before = ModuleNames();
  r.ours = LoadAddUnload(dll);
  const std::vector<std::string> after = ModuleNames();
  double best = -1;
  for (int i = 0; i < kLaterRounds && r.ours > 0; ++i) {
    double t = LoadAddUnload(dll);
    if (t > 0 && (best < 0 || t < best)) best = t;
  }
  if (r.ours < 0 || best < 0) {
    r.ours = NAN;
    r.note = "KVDRM.dll did not load, or the add stored nothing: not measured";
    return {r};
  }
  r.baseline = best;
  r.ratio = r.ours / best;
  std::vector<std::string> left;
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(left));
  r.note = "one round in a process that has made no setup request yet; baseline: best of " +
           std::to_string(kLaterRounds) + " later rounds; left loaded by the first round:";
  for (const std::string &name : left) r.note += " " + name;
  if (left.empty()) r.note += " nothing";
  return {r};
}

}  // namespace

std::vector<Row> FirstAddRows() { return g.firstAdd; }

std::string ExeDir() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s(path, n);
  return s.substr(0, s.find_last_of("\\/") + 1);
}

bool SetUp(std::string &error) {
  CalibrateTicks();
  std::string bin = ExeDir();
  std::string mgrDir = bin + "benchmgr\\";
  g.managerPath = mgrDir + kManagerFile;
  DWORD pid = GetCurrentProcessId();
  g.dataSource = "KvdrmBench" + std::to_string(pid);
  g.dataSourceKey = kOdbcIni + g.dataSource;
  g.driver = "KVDRM Bench Driver " + std::to_string(pid);
  g.driverKey = kOdbcInst + g.driver;
  g.setupName = "KvdrmBenchSetup" + std::to_string(pid);
  g.setupKey = kOdbcIni + g.setupName;
  g.setupAttributes = "DSN=" + g.setupName;
  g.setupAttributes.push_back('\0');  // c_str() adds the list's final NUL

  kvdrm::RegKey k;
  if (!CreateKey(HKEY_CURRENT_USER, g.dataSourceKey, 0, k)) {
    error = "cannot create the data source key";
    return false;
  }
  SetString(k.get(), "CTX", mgrDir + "KOLVARD.CTX");
  // The driver registered in both views, so both passes of a setup request
  // do their whole work.
  for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY)}) {
    if (!CreateKey(HKEY_LOCAL_MACHINE, g.driverKey, view, k)) {
      error = "cannot register the benchmark driver under HKEY_LOCAL_MACHINE";
      return false;
    }
    SetString(k.get(), "Setup", bin + "KVDRM.dll");
  }

  g.firstAdd = TimeFirstAdd(bin + "KVDRM.dll");
  g.pin = LoadLibraryA(g.managerPath.c_str());
  g.kvdrm = LoadLibraryA((bin + "KVDRM.dll").c_str());
  if (!g.pin || !g.kvdrm) {
    error = "cannot load " + (g.pin ? bin + "KVDRM.dll" : g.managerPath);
    return false;
  }
  g.begin = Proc<BeginFn>(g.kvdrm, "DrmBeginSession");
  g.end = Proc<EndFn>(g.kvdrm, "DrmEndSession");
  g.move = Proc<Fn3>(g.kvdrm, "DrmMove");
  g.openView = Proc<Fn9>(g.kvdrm, "DrmOpenView");
  g.setFilter = Proc<Fn5>(g.kvdrm, "DrmSetFilter");
  g.configDsn = Proc<ConfigDsnFn>(g.kvdrm, "ConfigDSN");
  g.mgrMove = Proc<Fn3>(g.pin, MAKEINTRESOURCEA(kMgrMove));
  g.mgrOpenView = Proc<Fn9>(g.pin, MAKEINTRESOURCEA(kMgrOpenView));
  g.mgrSetFilter = Proc<Fn4>(g.pin, MAKEINTRESOURCEA(kMgrSetFilter));
  if (!g.begin || !g.end || !g.move || !g.openView || !g.setFilter || !g.configDsn || !g.mgrMove ||
      !g.mgrOpenView || !g.mgrSetFilter) {
    error = "an export of KVDRM.dll or the benchmark manager is missing";
    return false;
  }

  if (!OpenForwardingSession()) {
    error = "DrmBeginSession failed, or loaded another OdbcDrm.dll than " + g.managerPath;
    return false;
  }

  // Does ConfigDSN store yet? A silent add must leave the key with Driver.
  RemoveSetupEntries();
  g.configDsn(nullptr, ODBC_ADD_DSN, g.driver.c_str(), g.setupAttributes.c_str());
  g.setupStores = ReadString(HKEY_CURRENT_USER, g.setupKey, "Driver") == g.driver;
  RemoveSetupEntries();
  return true;
}

void TearDown() {
  if (g.session) g.end(g.session);
  g.session = 0;
  RemoveSetupEntries();
  RegDeleteKeyExA(HKEY_CURRENT_USER, g.dataSourceKey.c_str(), 0, 0);
  RegDeleteKeyExA(HKEY_LOCAL_MACHINE, g.driverKey.c_str(), 0, 0);
  RegDeleteKeyExA(HKEY_LOCAL_MACHINE, g.driverKey.c_str(), KEY_WOW64_64KEY, 0);
  if (g.pin) FreeLibrary(g.pin);
  g.pin = nullptr;
}

std::vector<TimedPair> RegisterTimings() {
  struct Reg {
    const char *name;
    void (*fn)(benchmark::State &);
  };
  const Reg regs[] = {
      {"forward/DrmMove", BM_Move},
      {"forward/DrmOpenView", BM_OpenView},
      {"forward/DrmSetFilter", BM_SetFilter},
      {"session/warm", BM_SessionWarm},
      {"session/warm-probe", BM_SessionWarmProbe},
      {"session/cold", BM_SessionCold},
      {"setup/add", BM_Setup},
  };
  for (const Reg &r : regs) benchmark::RegisterBenchmark(r.name, r.fn)->UseManualTime()->Unit(benchmark::kMicrosecond);

  std::vector<TimedPair> pairs = {
      {"forwarded call DrmMove (3 args)", "forward/DrmMove", kGoalForward, 1.5, "tail jump"},
      {"forwarded call DrmOpenView (9 args)", "forward/DrmOpenView", kGoalForward, 1.5, "tail jump"},
      {"forwarded call DrmSetFilter (5 args, passes 4)", "forward/DrmSetFilter", kGoalNone, 0,
       "drops its last argument: a call of its own, no tail jump", true},
      {"session begin+end, manager kept loaded", "session/warm", kGoalRatio, 1.1,
       "the case of every session after a driver's first; baseline reads CTX once"},
      {"  same, baseline reading CTX twice (4-byte probe)", "session/warm-probe", kGoalNone, 0,
       "a 4-byte first query, then the read: the cost of the second registry round trip the proxy saves"},
      {"session begin+end, manager unloaded between", "session/cold", kGoalNone, 0,
       "a process's first session: the loader maps the file"},
      {"setup request: silent add", "setup/add", kGoalRatio, 1.5,
       g.setupStores ? "both registry views, Wine's odbccp32" : "ConfigDSN stored nothing: not judged"},
  };
  if (!g.setupStores) pairs.back().goal = kGoalNone;
  return pairs;
}

std::vector<Row> MeasureMemory() {
  std::vector<Row> rows;
  std::vector<DrmArg> handles(kSessions);
  std::vector<void *> blocks(kSessions);

  // One session first: whatever the platform sets up once per process (the
  // current user's key, the loader's caches) is not the sessions' doing.
  DrmArg warm = 0;
  g.begin(&warm, 0, 0, g.dataSource.c_str());
  g.end(warm);

  HeapTotals before = WalkHeaps();
  int opened = 0;
  for (DrmArg &h : handles)
    if (g.begin(&h, 0, 0, g.dataSource.c_str()) == 0) ++opened;
  HeapTotals during = WalkHeaps();
  for (DrmArg h : handles) g.end(h);
  HeapTotals after = WalkHeaps();

  // The baseline: the record alone, allocated as the process heap gives it.
  HeapTotals bBefore = WalkHeaps();
  for (void *&b : blocks) b = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, 208);
  HeapTotals bDuring = WalkHeaps();
  for (void *b : blocks) HeapFree(GetProcessHeap(), 0, b);

  auto perSession = [](const HeapTotals &a, const HeapTotals &b) {
    return (static_cast<double>(b.busyBytes + b.overheadBytes) - static_cast<double>(a.busyBytes + a.overheadBytes)) /
           kSessions;
  };
  Row r;
  r.figure = "heap bytes held per open session (10000 open)";
  r.unit = "B";
  r.ours = perSession(before, during);
  r.baseline = perSession(bBefore, bDuring);
  r.ratio = r.baseline > 0 ? r.ours / r.baseline : 0;
  r.goal = "<= 208 B + overhead";
  bool walked = before.ok && during.ok && bBefore.ok && bDuring.ok;
  r.met = walked && opened == kSessions ? (r.ours <= r.baseline ? 1 : 0) : -1;
  char note[200];
  snprintf(note, sizeof note, "%d opened; blocks/session %.2f (baseline %.2f); data %.1f B + overhead %.1f B; "
           "%lld B still held after all ended",
           opened, static_cast<double>(during.busyBlocks - before.busyBlocks) / kSessions,
           static_cast<double>(bDuring.busyBlocks - bBefore.busyBlocks) / kSessions,
           static_cast<double>(during.busyBytes - before.busyBytes) / kSessions,
           static_cast<double>(during.overheadBytes - before.overheadBytes) / kSessions,
           static_cast<long long>(after.busyBytes + after.overheadBytes) -
               static_cast<long long>(before.busyBytes + before.overheadBytes));
  r.note = walked ? note : "HeapWalk did not walk every heap";
  rows.push_back(r);

  // Allocations on forwarded calls: the heaps before and after a million
  // calls of each forwarder, and every platform call KVDRM.dll makes
  // meanwhile (none is expected: a forwarder calls only the manager).
  ImportCounter counter;
  bool hooked = counter.Install(g.kvdrm);
  HeapTotals fBefore = WalkHeaps();
  for (int i = 0; i < kForwardedCalls; ++i) {
    g.move(g.session, 1, 2);
    g.openView(g.session, 1, 2, 3, 4, 5, 6, 7, 8);
    g.setFilter(g.session, 1, 2, 3, 4);
  }
  HeapTotals fAfter = WalkHeaps();
  uint64_t imports = counter.Total();
  counter.Restore();
  Row f;
  f.figure = "heap allocations per forwarded call (3 x 1e6 calls)";
  f.unit = "allocs";
  long long blockDelta = static_cast<long long>(fAfter.busyBlocks) - static_cast<long long>(fBefore.busyBlocks);
  long long byteDelta = static_cast<long long>(fAfter.busyBytes) - static_cast<long long>(fBefore.busyBytes);
  f.ours = static_cast<double>(imports) / (3.0 * kForwardedCalls);
  f.baseline = 0;
  f.goal = "0";
  f.met = hooked && fBefore.ok && fAfter.ok ? (imports == 0 && blockDelta == 0 && byteDelta == 0 ? 1 : 0) : -1;
  snprintf(note, sizeof note, "platform calls by KVDRM.dll: %llu%s; heap blocks %+lld, bytes %+lld",
           static_cast<unsigned long long>(imports), hooked ? "" : " (import table not hooked)", blockDelta,
           byteDelta);
  f.note = note;
  rows.push_back(f);
  return rows;
}

std::vector<std::string> DescribeCalls() {
  std::vector<std::string> out;
  ImportCounter counter;
  if (!counter.Install(g.kvdrm)) return {"(import table of KVDRM.dll not hooked)"};

  DrmArg h = 0;
  g.begin(&h, 0, 0, g.dataSource.c_str());
  g.end(h);
  std::string line = "KVDRM.dll's platform calls per session begin+end:";
  for (auto &c : counter.Called()) line += " " + c.first + " x" + std::to_string(c.second);
  out.push_back(line);

  counter.Reset();
  g.configDsn(nullptr, ODBC_ADD_DSN, g.driver.c_str(), g.setupAttributes.c_str());
  line = "KVDRM.dll's platform calls per silent add:";
  for (auto &c : counter.Called()) line += " " + c.first + " x" + std::to_string(c.second);
  if (!g.setupStores) line += "  (ConfigDSN stored nothing in this build)";
  out.push_back(line);
  counter.Restore();
  RemoveSetupEntries();
  return out;
}

}  // namespace bench
