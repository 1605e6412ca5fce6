// Cost of the three reports of the print command over a selection of
// 10,000 cases: the elapsed times of three stamp lines a case, the
// percentages of three fields, and the trend table of two fields whose x
// axis holds 300 distinct values.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "engine/upreport.h"
#include "toolkit/base/kivfmt.h"
#include "engine/upcommon.h"
#include "toolkit/objects/kivobj.h"

using namespace kiv;

namespace {

constexpr int kRows = 10000;

std::string selection() {
  static const char* const kStatus[] = {"Open", "open", "Assigned", "In progress", "Closed"};
  static const char* const kPriority[] = {"Low", "Normal", "High", "Urgent"};
  std::string t = "id_num^@case_num^@status^@priority^@assigned_to^@date_open^@problem^$";
  for (int i = 0; i < kRows; ++i) {
    const int day = i % 28 + 1;
    t += sformat(
        "%d^@C%d^@%s^@%s^@staff%d^@03/%02d/2024^@The printer jams.\n"
        "[-Open- 03/%02d/2024 09:%02d:00 AM - ann - add-]\n[-In progress- 03/%02d/2024 11:30:00 AM - sam - modify-]\n"
        "[-Closed- 03/%02d/2024 04:15:00 PM - sam - respond-]^$",
        i + 1, 1000 + i, kStatus[i % 5], kPriority[i % 4], i % 300, day, day, i % 60, day, day);
  }
  return t;
}

const std::string& data() {
  static const std::string d = selection();
  return d;
}

objholder objects() {
  objholder l = std::make_unique<objlist>();
  adduniqobj(*l, "percent_report_fields.VALUE", "status^@priority^@assigned_to^$");
  adduniqobj(*l, "trend_report_fields.VALUE", "assigned_to^@status^$status^@priority^$");
  return l;
}

void BM_ElapseReport10000(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(elapsereport(data(), false));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data().size()));
}
BENCHMARK(BM_ElapseReport10000)->Unit(benchmark::kMillisecond);

void BM_PercentReport10000(benchmark::State& state) {
  objholder l = objects();
  for (auto _ : state) benchmark::DoNotOptimize(PercentReport(*l, data()));
}
BENCHMARK(BM_PercentReport10000)->Unit(benchmark::kMillisecond);

void BM_TrendReport10000With300Values(benchmark::State& state) {
  objholder l = objects();
  for (auto _ : state) benchmark::DoNotOptimize(trendreport(*l, data()));
}
BENCHMARK(BM_TrendReport10000With300Values)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
