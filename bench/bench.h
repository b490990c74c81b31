// Shared between the benchmark program's parts: the environment the timed
// functions run in, and the rows of the final table.
#pragma once
#include <windows.h>

#include <stdint.h>
#include <string>
#include <vector>

#include "proxy/arity.h"

namespace bench {

// How a pair of timings is judged.
enum GoalKind {
  kGoalForward,  // ours <= 1.5 x baseline and ours - baseline <= 1 ns
  kGoalRatio,    // ours <= limit x baseline
  kGoalNone,     // reported only
};

// A timed pair: one benchmark that times ours and the baseline (the
// unavoidable part of the same work done directly) in alternating blocks
// and reports both per operation, in ns, as the counters ours_ns and base_ns,
// with the ratio and the difference of the two within the same repetition
// (ratio, extra_ns), whose medians judge the goal.
struct TimedPair {
  std::string figure;
  std::string benchmark;  // registered name
  GoalKind goal;
  double limit;
  std::string note;
  bool perCall = false;  // a single call: the note gives the extra ns too
};

struct Row {
  std::string figure;
  std::string unit;
  double ours = 0, baseline = 0, ratio = 0;
  std::string goal;
  int met = -1;  // 1 met, 0 missed, -1 not judged
  std::string note;
};

// The folder of the benchmark program (bin\), with its trailing backslash.
std::string ExeDir();

// The load figure: LoadLibrary+FreeLibrary of KVDRM.dll against a DLL that
// imports only KERNEL32, ADVAPI32 and msvcrt. Runs before SetUp, which
// keeps KVDRM.dll loaded.
std::vector<Row> MeasureLoad();

// Prepares the registry entries, loads KVDRM.dll and the benchmark manager
// and opens the session that the forwarded calls use. False with a message
// when something is missing. Before it loads KVDRM.dll for good it times
// the process's first silent add (FirstAddRows).
bool SetUp(std::string &error);
std::vector<Row> FirstAddRows();
void TearDown();

// Registers the timed functions with Google Benchmark and returns the pairs
// to be turned into rows.
std::vector<TimedPair> RegisterTimings();

// The figures that are counts, not timings (memory per session,
// allocations per forwarded call); each returns its rows.
std::vector<Row> MeasureMemory();

// What KVDRM.dll asks of the platform per session and per setup request,
// and whether the setup request stored anything: printed under the table.
std::vector<std::string> DescribeCalls();

}  // namespace bench
