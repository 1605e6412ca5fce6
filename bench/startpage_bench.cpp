// A whole start-page request over a realistic home (tests/fixtures/benchhome:
// a tk_obj of 200 objects and a 15 KB start page): `up` started as a web
// server starts a CGI program, beside a bare C CGI program of the same build
// and `up` showing its version, and the same request run inside this
// process: the request's own work (the time in main) without the cost of
// starting a process.
// Measure a Release build without sanitizers (bench/run-startpage makes one).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "bench/benchsupport.h"
#include "commands/up.h"
#include "platform/output.h"
#include "platform/process.h"
#include "platform/state.h"
#include "toolkit/base/kiv_malloc.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

// A copy of the benchmark's home in the temporary area: the request may write
// under tmp, and the sources stay untouched.
struct Home : kiv::bench::CopiedHome {
  Home() : CopiedHome(fs::path(KIV_SOURCE_DIR) / "tests/fixtures/benchhome", "kiv_startpage_bench") {}
};

// The environment a web server (lighttpd's mod_cgi) gives a GET of the start
// page; standard input reads nothing.
std::vector<std::string> cgi_environment(const Home& home) {
  return {"NVHOME=" + home.path.string(),
          "PATH=/usr/local/bin:/usr/bin:/bin",
          "GATEWAY_INTERFACE=CGI/1.1",
          "SERVER_SOFTWARE=lighttpd/1.4.69",
          "SERVER_NAME=helpdesk.northwind.example",
          "SERVER_ADDR=127.0.0.1",
          "SERVER_PORT=80",
          "SERVER_PROTOCOL=HTTP/1.1",
          "REQUEST_METHOD=GET",
          "REQUEST_URI=/cgi-bin/up.exe?KIVACTION=start",
          "QUERY_STRING=KIVACTION=start",
          "SCRIPT_NAME=/cgi-bin/up.exe",
          "SCRIPT_FILENAME=/srv/helpdesk/cgi-bin/up.exe",
          "DOCUMENT_ROOT=/srv/helpdesk/htdocs",
          "REMOTE_ADDR=10.1.4.27",
          "REMOTE_PORT=51744",
          "REMOTE_USER=ann.lee",
          "AUTH_TYPE=Basic",
          "HTTP_HOST=helpdesk.northwind.example",
          "HTTP_USER_AGENT=Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
          "Chrome/122.0 Safari/537.36",
          "HTTP_ACCEPT=text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8",
          "HTTP_ACCEPT_LANGUAGE=en-US,en;q=0.9",
          "HTTP_ACCEPT_ENCODING=gzip, deflate",
          "HTTP_CONNECTION=keep-alive",
          "HTTP_REFERER=http://helpdesk.northwind.example/"};
}

// The page is the start page in full, not an error.
bool whole_page(const std::string& page) {
  return page.size() > 15000 && page.find("Welcome to <b>Northwind</b>") != std::string::npos &&
         page.find("KIVACTION=kb&amp;skey=NOKEY&article=KB0112") != std::string::npos &&
         page.ends_with("</html>\n");
}

void context(benchmark::State& state, const std::string& page) {
  state.counters["page_bytes"] = static_cast<double>(page.size());
}

// What the children this process has reaped cost together: processor time
// (user and system) in microseconds, and the page faults that found the
// page in memory (each new page a process touches is one; in a virtual
// machine each costs about a microsecond, whatever the instructions).
struct ChildCost {
  double cpu_us = 0;
  double minflt = 0;
};

ChildCost children_cost() {
  rusage u{};
  ::getrusage(RUSAGE_CHILDREN, &u);
  auto us = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_usec); };
  return {us(u.ru_utime) + us(u.ru_stime), static_cast<double>(u.ru_minflt)};
}

// The cost of one run of the program since `before`, as counters.
void child_counters(benchmark::State& state, const ChildCost& before) {
  const ChildCost now = children_cost();
  state.counters["child_cpu_us"] = benchmark::Counter(now.cpu_us - before.cpu_us, benchmark::Counter::kAvgIterations);
  state.counters["child_minflt"] = benchmark::Counter(now.minflt - before.minflt, benchmark::Counter::kAvgIterations);
}

// Runs `program` in `env` once per iteration, each run's output accepted by
// `good`; a failed or refused run stops the benchmark with `name` in the
// message. Besides the wall time, child_cpu_us is the processor time of one
// run of the program itself, which depends less on the other load of the
// machine, and child_minflt its page faults. Gives the last output.
std::string run_program(benchmark::State& state, const std::string& name, const std::string& program,
                        std::vector<std::string> env, bool (*good)(const std::string&)) {
  kiv::process::Options o;
  o.capture_output = true;
  o.env = std::move(env);
  const std::vector<std::string> argv{program};
  std::string output;
  const ChildCost before = children_cost();
  for (auto _ : state) {
    kiv::process::Result r = kiv::process::run(argv, o);
    if (!r.ok() || !good(r.output)) {
      state.SkipWithError((name + " failed: " + kiv::process::describe(r, o)).c_str());
      break;
    }
    output = std::move(r.output);
  }
  child_counters(state, before);
  return output;
}

// `up` as the web server runs it, from the start of its process to its exit.
void BM_StartPageRequest(benchmark::State& state) {
  Home home;
  const std::string up = std::string(KIV_BINARY_DIR) + "/commands/up";
  context(state, run_program(state, up, up, cgi_environment(home), whole_page));
}
BENCHMARK(BM_StartPageRequest)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(3.0);

// The floor: a bare C CGI program of the same build, through the same
// process layer and with the same environment.
void BM_BareCgiRequest(benchmark::State& state) {
  Home home;
  const std::string bare = std::string(KIV_BINARY_DIR) + "/bench/bare_cgi";
  context(state, run_program(state, bare, bare, cgi_environment(home), [](const std::string&) { return true; }));
}
BENCHMARK(BM_BareCgiRequest)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(3.0);

// `up` doing next to nothing: without SCRIPT_NAME and arguments it prints
// its version and ends. Set beside the bare program it is the cost of
// loading `up` itself; set beside the start page, what the request adds in
// a new process.
void BM_UpVersion(benchmark::State& state) {
  Home home;
  run_program(state, "up", std::string(KIV_BINARY_DIR) + "/commands/up",
              {"NVHOME=" + home.path.string(), "PATH=/usr/local/bin:/usr/bin:/bin"},
              [](const std::string& output) { return output.find("Version: ") != std::string::npos; });
}
BENCHMARK(BM_UpVersion)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(3.0);

// Replaces the environment of this process with `vars` (each NAME=value).
void put_environment(const std::vector<std::string>& vars) {
  clearenv();
  for (const std::string& v : vars) {
    size_t eq = v.find('=');
    setenv(v.substr(0, eq).c_str(), v.c_str() + eq + 1, 1);
  }
}

// The request's own work: what `up`'s main does for the same request, run in
// this process. Between runs, out of the timing, the environment is put back
// as the web server gave it and every piece of process-wide state is reset,
// so that each run starts as a new process would (warm caches apart).
void BM_StartPageInProcess(benchmark::State& state) {
  Home home;
  std::vector<std::string> saved;
  for (char** e = environ; *e; ++e) saved.emplace_back(*e);
  const std::vector<std::string> cgi = cgi_environment(home);
  kiv::kiv_malloc_init();
  kiv::StringSink page, console;
  const char* argv[] = {"up", nullptr};
  for (auto _ : state) {
    state.PauseTiming();
    put_environment(cgi);
    kiv::reset_process_state();
    page.clear();
    kiv::set_out(&page);
    kiv::set_err(&console);
    state.ResumeTiming();
    int status = kiv::up_main(1, argv, kiv::kUpStates);
    kiv::flush_all();
    if (status != 0 || !whole_page(page.text())) {
      state.SkipWithError("the request in this process failed");
      break;
    }
  }
  kiv::set_out(nullptr);
  kiv::set_err(nullptr);
  kiv::reset_process_state();
  put_environment(saved);
  context(state, page.text());
}
BENCHMARK(BM_StartPageInProcess)->Unit(benchmark::kMicrosecond)->MinTime(3.0);

}  // namespace

int main(int argc, char** argv) { return kiv::bench::main_with_build(argc, argv); }
