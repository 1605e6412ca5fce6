// Cost of a whole request: the `up` program started with a CGI environment
// for the start page over a small home (state file, case objects, a start
// page template), from process start to exit, as the web server would run
// it, beside the cost of starting a program that does nothing. The program
// is the one this build made; measure a Release build without sanitizers.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "bench/benchsupport.h"
#include "platform/process.h"

namespace fs = std::filesystem;

namespace {

struct Home : kiv::bench::CopiedHome {
  Home() : CopiedHome(fs::path(KIV_SOURCE_DIR) / "tests/fixtures/uphome", "kiv_up_bench") {}
};

void BM_UpStartPage(benchmark::State& state) {
  Home home;
  kiv::process::Options o;
  o.capture_output = true;
  o.env = {"NVHOME=" + home.path.string(), "SCRIPT_NAME=/cgi-bin/up.exe", "SERVER_NAME=helpdesk",
           "REQUEST_METHOD=GET", "QUERY_STRING=KIVACTION=start&assigned_to.VALUE=bob", "CONTENT_LENGTH=0",
           "GATEWAY_INTERFACE=CGI/1.1", "REMOTE_ADDR=127.0.0.1"};
  const std::vector<std::string> argv{std::string(KIV_BINARY_DIR) + "/commands/up"};
  size_t bytes = 0;
  for (auto _ : state) {
    kiv::process::Result r = kiv::process::run(argv, o);
    if (!r.ok() || r.output.find("Assigned to [bob]") == std::string::npos) {
      state.SkipWithError(("up failed: " + kiv::process::describe(r, o)).c_str());
      break;
    }
    bytes = r.output.size();
  }
  state.counters["page_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_UpStartPage)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(3.0);

// The floor under every request on this machine: starting and reaping a
// program that does nothing, through the same process layer.
void BM_EmptyProcess(benchmark::State& state) {
  kiv::process::Options o;
  o.capture_output = true;
  for (auto _ : state) {
    kiv::process::Result r = kiv::process::run({"/bin/true"}, o);
    if (!r.ok()) {
      state.SkipWithError("/bin/true failed");
      break;
    }
  }
}
BENCHMARK(BM_EmptyProcess)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(3.0);

}  // namespace

BENCHMARK_MAIN();
