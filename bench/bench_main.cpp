// kvdrm_bench: what KVDRM.dll costs against the same work done directly.
// Runs the timed pairs with Google Benchmark (each benchmark times ours and
// its baseline in alternating blocks; repetitions randomly interleaved, the
// median over them), counts memory, and prints one table:
//   figure, ours, baseline, ratio, goal, met.
// Options: --json FILE writes the table as JSON; every --benchmark_* option
// of Google Benchmark is passed on (later ones override the defaults).
#include <windows.h>

#include <benchmark/benchmark.h>

#include <math.h>
#include <stdio.h>
#include <string.h>

#include <map>

#include "bench/bench.h"
#include "registry/registry.h"

namespace {

// Keeps the median over the repetitions of every benchmark's counters (or
// those of its single run when there are no repetitions) while the console
// shows what it always shows.
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  struct Result {
    double ours = NAN, base = NAN, ratio = NAN, extra = NAN;
    bool median = false;
    std::string error;
  };
  std::map<std::string, Result> results;

  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &r : runs) {
      Result &res = results[r.run_name.function_name];
      if (r.error_occurred) {
        res.error = r.error_message;
        continue;
      }
      bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
      if (!median && (r.run_type == Run::RT_Aggregate || res.median)) continue;
      auto get = [&r](const char *name) {
        auto c = r.counters.find(name);
        return c == r.counters.end() ? NAN : c->second.value;
      };
      res.ours = get("ours_ns");
      res.base = get("base_ns");
      res.ratio = get("ratio");
      res.extra = get("extra_ns");
      res.median = median;
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

std::string Format(double v, const std::string &unit) {
  char buf[64];
  if (isnan(v)) return "-";
  if (unit == "ns") {
    if (v >= 1e6) snprintf(buf, sizeof buf, "%.3f ms", v / 1e6);
    else if (v >= 1e4) snprintf(buf, sizeof buf, "%.2f us", v / 1e3);
    else snprintf(buf, sizeof buf, "%.2f ns", v);
  } else {
    snprintf(buf, sizeof buf, "%.2f %s", v, unit.c_str());
  }
  return buf;
}

std::string JsonText(const std::string &s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    if (static_cast<unsigned char>(c) < 0x20) {
      char buf[8];
      snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
      continue;
    }
    out += c;
  }
  return out + "\"";
}

std::string JsonNumber(double v) {
  if (isnan(v) || isinf(v)) return "null";
  char buf[64];
  snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

// The machine as the program sees it, for the JSON record.
std::string MachineText() {
  SYSTEM_INFO si;
  GetNativeSystemInfo(&si);
  char cpu[128] = "";
  DWORD size = sizeof cpu - 1, type = 0;
  kvdrm::RegKey k;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", 0, KEY_READ, k.out()) ==
      ERROR_SUCCESS) {
    if (RegQueryValueExA(k.get(), "ProcessorNameString", nullptr, &type, reinterpret_cast<BYTE *>(cpu), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
      cpu[0] = 0;
    cpu[sizeof cpu - 1] = 0;
  }
  return std::to_string(si.dwNumberOfProcessors) + " processors, " + (cpu[0] ? cpu : "unknown CPU");
}

}  // namespace

int main(int argc, char **argv) {
  std::string jsonPath;
  // Defaults first, so that the caller's own --benchmark_* options win.
  std::vector<std::string> args = {argv[0], "--benchmark_repetitions=15", "--benchmark_min_time=0.05",
                                   "--benchmark_enable_random_interleaving=true",
                                   "--benchmark_report_aggregates_only=true"};
  for (int i = 1; i < argc; ++i) {
    if (!strcmp(argv[i], "--json") && i + 1 < argc) {
      jsonPath = argv[++i];
    } else if (!strncmp(argv[i], "--json=", 7)) {
      jsonPath = argv[i] + 7;
    } else {
      args.push_back(argv[i]);
    }
  }
  std::vector<char *> bargv;
  for (std::string &a : args) bargv.push_back(&a[0]);
  bargv.push_back(nullptr);
  int bargc = static_cast<int>(args.size());
  benchmark::Initialize(&bargc, bargv.data());
  if (benchmark::ReportUnrecognizedArguments(bargc, bargv.data())) return 2;

  // First: SetUp loads KVDRM.dll for good.
  std::vector<bench::Row> loadRows = bench::MeasureLoad();
  std::string error;
  if (!bench::SetUp(error)) {
    fprintf(stderr, "kvdrm_bench: %s\n", error.c_str());
    bench::TearDown();
    return 1;
  }
  std::vector<bench::TimedPair> pairs = bench::RegisterTimings();
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::vector<bench::Row> rows;
  for (const bench::TimedPair &p : pairs) {
    auto res = reporter.results.find(p.benchmark);
    if (res == reporter.results.end()) continue;  // filtered out
    bench::Row r;
    r.figure = p.figure;
    r.unit = "ns";
    r.ours = res->second.ours;
    r.baseline = res->second.base;
    // Ratio and difference are those of ours and the baseline timed side
    // by side in one repetition, then the median over the repetitions.
    r.ratio = res->second.ratio;
    double extra = res->second.extra;
    r.note = p.note;
    if (p.goal == bench::kGoalForward || p.perCall) {
      char more[64];
      snprintf(more, sizeof more, "; %+.2f ns per call within a repetition (median)", extra);
      r.note += more;
    }
    char goal[64];
    switch (p.goal) {
      case bench::kGoalForward:
        snprintf(goal, sizeof goal, "<= %.1fx, <= +1 ns", p.limit);
        r.met = r.ratio <= p.limit && extra <= 1.0;
        break;
      case bench::kGoalRatio:
        snprintf(goal, sizeof goal, "<= %.1fx", p.limit);
        r.met = r.ratio <= p.limit;
        break;
      case bench::kGoalNone:
        snprintf(goal, sizeof goal, "reported");
        r.met = -1;
        break;
    }
    r.goal = goal;
    if (isnan(r.ratio)) {
      r.met = -1;
      r.note = res->second.error;
    }
    rows.push_back(r);
  }
  for (bench::Row &r : bench::MeasureMemory()) rows.push_back(r);
  for (bench::Row &r : loadRows) rows.push_back(r);
  for (bench::Row &r : bench::FirstAddRows()) rows.push_back(r);
  std::vector<std::string> calls = bench::DescribeCalls();
  bench::TearDown();

  printf("\n%-48s %12s %12s %7s %-20s %s\n", "figure", "ours", "baseline", "ratio", "goal", "met");
  for (const bench::Row &r : rows) {
    char ratio[16];
    snprintf(ratio, sizeof ratio, r.ratio > 0 ? "%.2fx" : "-", r.ratio);
    printf("%-48s %12s %12s %7s %-20s %s\n", r.figure.c_str(), Format(r.ours, r.unit).c_str(),
           Format(r.baseline, r.unit).c_str(), ratio, r.goal.c_str(),
           r.met == 1 ? "yes" : r.met == 0 ? "NO" : "-");
  }
  printf("\nours, baseline: medians over the repetitions; ratio: median of the ratios within each repetition\n");
  printf("\nNotes:\n");
  for (const bench::Row &r : rows)
    if (!r.note.empty()) printf("  %s: %s\n", r.figure.c_str(), r.note.c_str());
  for (const std::string &c : calls) printf("  %s\n", c.c_str());

  if (!jsonPath.empty()) {
    FILE *f = fopen(jsonPath.c_str(), "w");
    if (!f) {
      fprintf(stderr, "kvdrm_bench: cannot write %s\n", jsonPath.c_str());
      return 1;
    }
    fprintf(f, "{\n  \"machine\": %s,\n  \"figures\": [\n", JsonText(MachineText()).c_str());
    for (size_t i = 0; i < rows.size(); ++i) {
      const bench::Row &r = rows[i];
      fprintf(f, "    {\"figure\": %s, \"unit\": %s, \"ours\": %s, \"baseline\": %s, \"ratio\": %s, "
                 "\"goal\": %s, \"met\": %s, \"note\": %s}%s\n",
              JsonText(r.figure).c_str(), JsonText(r.unit).c_str(), JsonNumber(r.ours).c_str(),
              JsonNumber(r.baseline).c_str(), JsonNumber(r.ratio).c_str(), JsonText(r.goal).c_str(),
              r.met == 1 ? "true" : r.met == 0 ? "false" : "null", JsonText(r.note).c_str(),
              i + 1 < rows.size() ? "," : "");
    }
    fprintf(f, "  ],\n  \"calls\": [\n");
    for (size_t i = 0; i < calls.size(); ++i)
      fprintf(f, "    %s%s\n", JsonText(calls[i]).c_str(), i + 1 < calls.size() ? "," : "");
    fprintf(f, "  ]\n}\n");
    fclose(f);
  }
  return 0;
}
