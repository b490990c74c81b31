// The load figure: what LoadLibrary and FreeLibrary of KVDRM.dll cost a host
// process, against a DLL that imports only KERNEL32, ADVAPI32 and msvcrt.
// Rounds alternate which of the two goes first; the best round of each
// counts, since a load can only be slowed by the machine, never sped up.
#include <windows.h>

#include <stdio.h>

#include <utility>

#include "bench/bench.h"

namespace bench {
namespace {

constexpr int kRounds = 100;

double Now(const LARGE_INTEGER &freq) {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) * 1e9 / static_cast<double>(freq.QuadPart);
}

// One LoadLibrary + FreeLibrary in ns; negative when the DLL did not load or
// stayed loaded afterwards (then nothing was measured).
double LoadAndFree(const std::string &path, const LARGE_INTEGER &freq) {
  double t0 = Now(freq);
  HMODULE m = LoadLibraryA(path.c_str());
  if (!m) return -1;
  FreeLibrary(m);
  double t1 = Now(freq);
  return GetModuleHandleA(path.c_str()) ? -1 : t1 - t0;
}

long long FileSize(const std::string &path) {
  WIN32_FILE_ATTRIBUTE_DATA a;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &a)) return -1;
  return static_cast<long long>(a.nFileSizeHigh) << 32 | a.nFileSizeLow;
}

}  // namespace

std::vector<Row> MeasureLoad() {
  const std::string bin = ExeDir();
  const std::string ours = bin + "KVDRM.dll", base = bin + "benchload\\LoadBaseline.dll";
  Row r;
  r.figure = "LoadLibrary+FreeLibrary of KVDRM.dll";
  r.unit = "ns";
  r.goal = "<= 1.2x";
  if (GetModuleHandleA(ours.c_str())) {
    r.note = "KVDRM.dll was loaded already: not measured";
    return {r};
  }
  LARGE_INTEGER freq;
  QueryPerformanceFrequency(&freq);
  double bestOurs = -1, bestBase = -1;
  bool failed = false;
  for (int i = 0; i < kRounds && !failed; ++i) {
    double t[2];
    const std::string *order[2] = {&ours, &base};
    if (i % 2) std::swap(order[0], order[1]);
    for (int k = 0; k < 2; ++k) t[k] = LoadAndFree(*order[k], freq);
    double o = i % 2 ? t[1] : t[0], b = i % 2 ? t[0] : t[1];
    if (o < 0 || b < 0) failed = true;
    if (bestOurs < 0 || o < bestOurs) bestOurs = o;
    if (bestBase < 0 || b < bestBase) bestBase = b;
  }
  if (failed) {
    r.note = "a DLL did not load, or stayed loaded after FreeLibrary: not measured";
    return {r};
  }
  r.ours = bestOurs;
  r.baseline = bestBase;
  r.ratio = bestOurs / bestBase;
  r.met = r.ratio <= 1.2 ? 1 : 0;
  char note[200];
  snprintf(note, sizeof note,
           "best of %d rounds, interleaved; baseline LoadBaseline.dll imports KERNEL32, ADVAPI32, msvcrt only "
           "(%lld B); KVDRM.dll %lld B",
           kRounds, FileSize(base), FileSize(ours));
  r.note = note;
  return {r};
}

}  // namespace bench
