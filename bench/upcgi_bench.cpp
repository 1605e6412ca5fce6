// Cost of a request on the Linux road: upcgi alone (an action it refuses),
// in front of a command that does nothing (`true`) and in front of codelabel
// printing a label into a regular file, beside `up`'s start page, each from
// process start to exit as the web server would run it. The differences are
// what the second process and the request variable stream cost. The programs are the ones this build made;
// measure a Release build without sanitizers.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/benchsupport.h"
#include "platform/process.h"

namespace fs = std::filesystem;

namespace {

const std::string kBuild = KIV_BINARY_DIR;

// A home from a fixture of the tests, removed at the end.
struct Home : kiv::bench::CopiedHome {
  explicit Home(const char* fixture)
      : CopiedHome(fs::path(KIV_SOURCE_DIR) / "tests/fixtures" / fixture, std::string("kiv_upcgi_bench.") + fixture) {}
  std::string str(const std::string& rel = "") const { return rel.empty() ? path.string() : (path / rel).string(); }
  // A front started as root runs its commands only as the state file's
  // USER: under root that is 65534, which may then pass the home and write
  // these files.
  void run_as_user(const std::vector<std::string>& writable = {}) const {
    if (::geteuid() != 0) return;
    std::ofstream(str("client/config/prog_states"), std::ios::app) << "USER=65534\n";
    fs::permissions(path, fs::perms(0755));
    for (const std::string& rel : writable)
      if (::chown(str(rel).c_str(), 65534, 65534) != 0) std::perror(rel.c_str());
  }
};

std::vector<std::string> cgi_env(const std::string& home, const std::string& query) {
  return {"NVHOME=" + home,
          "PROG_STATES=" + home + "/client/config/prog_states",
          "PATH=" + kBuild + "/linux:/usr/bin:/bin",
          "SCRIPT_NAME=/cgi-bin/upcgi",
          "SERVER_NAME=helpdesk",
          "REQUEST_METHOD=GET",
          "QUERY_STRING=" + query,
          "CONTENT_LENGTH=0",
          "GATEWAY_INTERFACE=CGI/1.1",
          "REMOTE_ADDR=127.0.0.1"};
}

// Runs the request until the time is up; every run must end by itself with
// `status` and have `expect` in its page.
void requests(benchmark::State& state, const std::vector<std::string>& argv, const kiv::process::Options& o,
              const std::string& expect, int status = 0) {
  size_t bytes = 0;
  for (auto _ : state) {
    kiv::process::Result r = kiv::process::run(argv, o);
    const bool ended = r.started && !r.timed_out && r.signal == 0 && r.status == status;
    if (!ended || r.output.find(expect) == std::string::npos) {
      state.SkipWithError(("request failed: " + kiv::process::describe(r, o) + " " + r.output).c_str());
      break;
    }
    bytes = r.output.size();
  }
  state.counters["page_bytes"] = static_cast<double>(bytes);
}

// The front alone: an action the state file does not bind starts nothing.
void BM_UpcgiAlone(benchmark::State& state) {
  Home home("linuxhome");
  home.run_as_user();
  kiv::process::Options o;
  o.capture_output = true;
  o.env = cgi_env(home.str(), "KIVACTION=unbound&subject.VALUE=printer");
  requests(state, {kBuild + "/linux/upcgi"}, o, "No command for action", 255);
}
BENCHMARK(BM_UpcgiAlone)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(3.0);

void BM_UpcgiTrue(benchmark::State& state) {
  Home home("linuxhome");
  std::ofstream(home.str("client/config/prog_states"), std::ios::app) << "quiet=true\n";
  home.run_as_user();
  kiv::process::Options o;
  o.capture_output = true;
  o.env = cgi_env(home.str(), "KIVACTION=quiet&subject.VALUE=printer");
  requests(state, {kBuild + "/linux/upcgi"}, o, "Content-type: text/html\n\n");
}
BENCHMARK(BM_UpcgiTrue)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(3.0);

void BM_UpcgiCodelabelToFile(benchmark::State& state) {
  Home home("linuxhome");
  fs::create_symlink(kBuild + "/tools/tagwriter", home.path / "client/bin/tagwriter");
  std::ofstream(home.str("client/config/prog_states"), std::ios::app)
      << "bc_printer_port.VALUE=" << home.str("printer.out") << "\n";
  { std::ofstream(home.str("printer.out")); }
  home.run_as_user({"printer.out", "tmp"});
  kiv::process::Options o;
  o.capture_output = true;
  o.env = cgi_env(home.str(), "KIVACTION=label&bc_label.VALUE=CASE-7&bc_label_header.VALUE=Desk&bc_label_qnt.VALUE=1");
  requests(state, {kBuild + "/linux/upcgi"}, o, "Printed 1 labels of [CASE-7]");
}
BENCHMARK(BM_UpcgiCodelabelToFile)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(3.0);

void BM_UpStartPage(benchmark::State& state) {
  Home home("uphome");
  kiv::process::Options o;
  o.capture_output = true;
  o.env = {"NVHOME=" + home.str(), "SCRIPT_NAME=/cgi-bin/up.exe", "SERVER_NAME=helpdesk",
           "REQUEST_METHOD=GET", "QUERY_STRING=KIVACTION=start&assigned_to.VALUE=bob", "CONTENT_LENGTH=0",
           "GATEWAY_INTERFACE=CGI/1.1", "REMOTE_ADDR=127.0.0.1"};
  requests(state, {kBuild + "/commands/up"}, o, "Assigned to [bob]");
}
BENCHMARK(BM_UpStartPage)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(3.0);

}  // namespace

BENCHMARK_MAIN();
