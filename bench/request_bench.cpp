// Reading a request of many fields: the CGI start-up over a URL-encoded body
// of 30,000 to 120,000 fields of a form's shape ("f<n>.VALUE=v"; 120,000 are
// 1.8 MB), each a name of its own, and over one whose fields repeat a few
// names and join multiple choices. Every field joins the request variable
// list by its add rule, so the cost must grow with the number of fields and
// no faster (the report's big-O).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "benchsupport.h"
#include "platform/output.h"
#include "platform/state.h"
#include "toolkit/cgi/kivcgi.h"
#include "toolkit/request/kivcgiform.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/request/kivexfile.h"

using namespace kiv;

namespace {

class NullSink : public Sink {
 public:
  void write(std::string_view) override {}
};

// A home with a state file that binds the request's action, for the whole
// run.
struct Home {
  Home() {
    root = std::filesystem::temp_directory_path() / ("kivbench-request." + std::to_string(::getpid()));
    std::filesystem::create_directories(root / "client/config");
    std::filesystem::create_directories(root / "tmp");
    std::ofstream(root / "client/config/admin_states") << "FIELDMAXLEN=65536\nstart=up_startup start.html\n";
  }
  ~Home() { std::filesystem::remove_all(root); }
  std::filesystem::path root;
};

Home& home() {
  static Home h;
  return h;
}

// The body of `fields` fields: names of their own ("f<n>.VALUE=v"), or (`repeats`)
// a hundred names given again and again, a third of them as multiple choices.
std::string body_of(long fields, bool repeats) {
  std::string body = "KIVACTION=start";
  body.reserve(static_cast<size_t>(fields) * 20);
  for (long i = 0; i < fields; ++i) {
    body += '&';
    if (repeats && i % 3 == 0) body += "mm_";
    body += 'f';
    body += std::to_string(repeats ? i % 100 : i);
    body += ".VALUE=v";
  }
  return body;
}

void read_request(benchmark::State& state, bool repeats) {
  const std::string body = body_of(state.range(0), repeats);
  std::FILE* in = std::tmpfile();
  std::fwrite(body.data(), 1, body.size(), in);
  const std::string states = (home().root / "client/config/admin_states").string();
  NullSink page;
  size_t nodes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    reset_process_state();
    set_out(&page);
    setenv("NVHOME", home().root.c_str(), 1);
    setenv("SCRIPT_NAME", "/cgi-bin/up.exe", 1);
    setenv("REQUEST_METHOD", "POST", 1);
    setenv("CONTENT_TYPE", "application/x-www-form-urlencoded", 1);
    setenv("CONTENT_LENGTH", std::to_string(body.size()).c_str(), 1);
    std::rewind(in);
    set_form_input(in);
    state.ResumeTiming();
    exlist* request = unixcgiinit(states);
    benchmark::DoNotOptimize(request);
    nodes = request ? request->nodes.size() : 0;
  }
  set_form_input(nullptr);
  set_out(nullptr);
  std::fclose(in);
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
  state.counters["nodes"] = static_cast<double>(nodes);
  state.counters["bytes"] = static_cast<double>(body.size());
}

void BM_FieldsOfTheirOwn(benchmark::State& state) { read_request(state, false); }
BENCHMARK(BM_FieldsOfTheirOwn)->Arg(30000)->Arg(60000)->Arg(120000)->Complexity(benchmark::oN)->Unit(benchmark::kMillisecond);

void BM_FieldsRepeatedAndJoined(benchmark::State& state) { read_request(state, true); }
BENCHMARK(BM_FieldsRepeatedAndJoined)->Arg(30000)->Arg(60000)->Arg(120000)->Complexity(benchmark::oN)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return kiv::bench::main_with_build(argc, argv); }
