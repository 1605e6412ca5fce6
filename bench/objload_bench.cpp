// Start-up cost of the case objects: every request loads tk_obj first. A
// 500-object file in the canonical form (fields, menus, settings, rules and
// stored mail texts) is loaded, looked up by 100 keys, and run through the
// whole command start-up.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/upcommon.h"
#include "toolkit/objects/objprotect.h"
#include "toolkit/request/kivexfile.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/objects/kivobjfile.h"
#include "toolkit/base/kivpath.h"

using namespace kiv;

namespace {

void set(objlist& l, const std::string& name, const char* word, const std::string& text) {
  adduniqobj(l, name + "." + word, text);
}

// 500 objects shaped like an installation's tk_obj.
std::string make_tk_obj() {
  objlist l;
  for (int i = 0; i < 300; ++i) {  // text fields
    std::string n = sformat("field_%d", i);
    set(l, n, "VALUE", i % 3 ? "" : sformat("default value %d", i));
    set(l, n, "DBKEY", n);
    set(l, n, "TYPE", "TEXT");
    set(l, n, "VTYPE", "CHAR");
    set(l, n, "ENFORCE", i % 10 ? "0" : "1");
    set(l, n, "TITLE", sformat("Field number %d", i));
    set(l, n, "LEN", "30");
    set(l, n, "HELP", sformat("What to enter into field number %d of the case form", i));
  }
  for (int i = 0; i < 100; ++i) {  // selection fields
    std::string n = sformat("menu_%d", i);
    set(l, n, "VALUE", "Item A^@Item A^@Item B^@Item C^@Item D^@Item E^@Item F^@Item G^$");
    set(l, n, "DBKEY", n);
    set(l, n, "TYPE", "MENU");
    set(l, n, "TITLE", sformat("Menu %d", i));
  }
  for (int i = 0; i < 50; ++i) set(l, sformat("setting_%d", i), "VALUE", sformat("/srv/helpdesk/path/%d", i));
  for (int i = 0; i < 30; ++i) {  // mailing-list rules
    std::string n = sformat("maillist_status^@category^$:%d", i + 1);
    set(l, n, "VALUE", "Open^@Assigned^$Hardware^@Network^$");
    set(l, n, "TITLE", "USER^@STAFF-sa_e_mail^@helpdesk@example.com^$");
    set(l, n, "CONTROL", sformat("message_status^@category^$:%d", i + 1));
  }
  for (int i = 0; i < 20; ++i) {  // stored mail texts, continued across lines
    std::string n = sformat("message_%d", i);
    set(l, n, "VALUE", "case_num^@status^@problem^$");
    set(l, n, "TITLE",
        "Your case {case_num} changed.{n}\\\nStatus: {status}{n}\\\n{n}\\\nProblem:{n}\\\n{problem}{n}\\\n");
  }
  std::string text;
  writekivobj(l, text);
  return text;
}

std::vector<std::string> make_keys() {
  std::vector<std::string> keys;
  for (int i = 0; i < 40; ++i) keys.push_back(sformat("field_%d.VALUE", i * 7));
  for (int i = 0; i < 20; ++i) keys.push_back(sformat("menu_%d.VALUE", i * 5));
  for (int i = 0; i < 20; ++i) keys.push_back(sformat("setting_%d.VALUE", i * 2));
  for (int i = 0; i < 10; ++i) keys.push_back(sformat("field_%d.TITLE", i * 3));
  for (int i = 0; i < 10; ++i) keys.push_back(sformat("absent_%d.VALUE", i));  // misses
  return keys;
}

// A home holding the generated tk_obj, for the whole run.
struct Home {
  Home() {
    root = std::filesystem::temp_directory_path() / sformat("kivbench.%d", static_cast<int>(getpid()));
    std::filesystem::create_directories(root / "client/config");
    text = make_tk_obj();
    tk_obj = (root / "client/config/tk_obj").string();
    write_file_atomic(tk_obj, text);
    setenv("NVHOME", root.c_str(), 1);
  }
  ~Home() { std::filesystem::remove_all(root); }
  std::filesystem::path root;
  std::string text, tk_obj;
};

Home& home() {
  static Home h;
  return h;
}

// The lists are freed outside the timing: a request's lists live until the
// process ends.
void BM_ReadFromMemory(benchmark::State& state) {
  const std::string& text = home().text;
  std::unique_ptr<objlist> list;
  for (auto _ : state) {
    list = readkivobj(text);
    state.PauseTiming();
    list.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["objects"] = static_cast<double>(readkivobj(text)->size() - 1);
  state.counters["bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_ReadFromMemory)->Unit(benchmark::kMicrosecond);

void BM_LoadFile(benchmark::State& state) {
  std::unique_ptr<objlist> list;
  for (auto _ : state) {
    list = loadkivobj(home().tk_obj);
    state.PauseTiming();
    list.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_LoadFile)->Unit(benchmark::kMicrosecond);

void BM_Lookup100Keys(benchmark::State& state) {
  auto list = loadkivobj(home().tk_obj);
  std::vector<std::string> keys = make_keys();
  for (auto _ : state)
    for (const std::string& k : keys) benchmark::DoNotOptimize(getvalfromlist(*list, k));
}
BENCHMARK(BM_Lookup100Keys)->Unit(benchmark::kMicrosecond);

void BM_LoadFileAndLookup100Keys(benchmark::State& state) {
  std::vector<std::string> keys = make_keys();
  std::unique_ptr<objlist> list;
  for (auto _ : state) {
    list = loadkivobj(home().tk_obj);
    for (const std::string& k : keys) benchmark::DoNotOptimize(getvalfromlist(*list, k));
    state.PauseTiming();
    list.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_LoadFileAndLookup100Keys)->Unit(benchmark::kMicrosecond);

// get_prog_param and loadobj: the whole start-up of a command, with its
// settings, menus and environment.
void BM_CommandStartUp(benchmark::State& state) {
  home();
  std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  for (auto _ : state) {
    objholder h = get_prog_param();
    loadobj(h);
    state.PauseTiming();
    h.reset();
    setenv("PATH", path.c_str(), 1);  // set_prog_path prepends on every call
    state.ResumeTiming();
  }
}
BENCHMARK(BM_CommandStartUp)->Unit(benchmark::kMicrosecond);

// A form of 60 variables copied onto the loaded objects.
void BM_CopyRequest60(benchmark::State& state) {
  exlist request;
  for (int i = 0; i < 50; ++i) addexdatanode(&request, formexdatanode(sformat("field_%d.VALUE", i), "typed text"));
  for (int i = 0; i < 10; ++i) addexdatanode(&request, formexdatanode(sformat("control_%d", i), "x"));
  for (auto _ : state) {
    state.PauseTiming();
    auto list = readkivobj(home().text);
    state.ResumeTiming();
    ex2obj(request, *list);
  }
}
BENCHMARK(BM_CopyRequest60)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
