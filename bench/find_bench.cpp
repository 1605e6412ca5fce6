// The case engine's find over a table of 1,000 cases of the sample
// installation, as the find command will run it: the search form's objects
// into criteria, the select through the ODBC driver manager (SQLite, and
// PostgreSQL when PGHOST names a server), the rows back through the driver's
// scratch file, and the result filed into findresult and a scratch data file.
// Three searches: every case, one case by its number, and a quarter of them
// by category. Measure a Release build without sanitizers (bench/run-find).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "bench/benchsupport.h"
#include "data/iodbc.h"
#include "data/webhandle_db.h"
#include "engine/upcommon.h"
#include "engine/upcommon_ops.h"
#include "platform/output.h"
#include "toolkit/kivcontext.h"
#include "toolkit/kivfmt.h"
#include "toolkit/rowcol.h"

namespace fs = std::filesystem;
using namespace kiv;

namespace {

constexpr int kCases = 1000;
constexpr const char* kCategories[] = {"Hardware", "Software", "Network", "Account"};

// The statements of the sample schema, comments left out.
std::string schema() {
  std::ifstream in(fs::path(KIV_SOURCE_DIR) / "install/home/db/schema.sql");
  std::string line, sql;
  while (std::getline(in, line))
    if (!line.starts_with("--")) sql += line + "\n";
  return sql;
}

void exec_statements(const std::string& dsn, const std::string& sql) {
  size_t start = 0;
  for (size_t semi = sql.find(';'); semi != std::string::npos; semi = sql.find(';', start)) {
    std::string s = sql.substr(start, semi - start);
    start = semi + 1;
    if (s.find_first_not_of(" \n") == std::string::npos) continue;
    if (iodbc::kivodbcexec(nullptr, 0, dsn, s) != 0)
      std::fprintf(stderr, "find_bench: %s: %s\n", dsn.c_str(), driver_results().odbcerror.c_str());
  }
}

// The 1,000 cases as one insert of many rows.
std::string cases_insert() {
  std::string sql =
      "insert into cases (id_num, case_num, status, category, priority, submitted_by, sub_e_mail, problem) "
      "values ";
  for (int i = 1; i <= kCases; ++i) {
    if (i > 1) sql += ", ";
    sql += sformat("(%d, '%d', '%s', '%s', 'Normal', 'user%d', 'user%d@example.org', "
                   "'Case %d: the printer in room %d jams every morning.\n[-Open- 03/05/2001 09:15:00 AM - "
                   "user%d - add-]')",
                   i, 1000 + i, i % 3 ? "Open" : "Closed", kCategories[i % 4], i % 50, i % 50, i, i % 90,
                   i % 50);
  }
  return sql;
}

// A home of the sample installation with an ODBC configuration of its own:
// the data sources "findlite" (SQLite) and, with PGHOST, "findpg".
struct Setup {
  fs::path dir;
  std::string pgdb;
  bool pg = false;

  Setup() {
    std::string templ = (fs::temp_directory_path() / "kivfind.XXXXXX").string();
    dir = ::mkdtemp(templ.data());
    fs::copy(fs::path(KIV_SOURCE_DIR) / "install/home/client", dir / "client", fs::copy_options::recursive);
    fs::create_directories(dir / "tmp");
    reqctx().nvhome = dir.string();
    pg = std::getenv("PGHOST") != nullptr;
    pgdb = "kivfind_" + std::to_string(::getpid());
    bench::write_odbc_config(dir, "[findlite]\nDriver=SQLite3\nDatabase=" + (dir / "cases.db").string() +
                                      "\nTimeout=60000\n" + bench::pg_source("findpgadmin", "postgres") +
                                      bench::pg_source("findpg", pgdb));
    const std::string sql = schema();
    const std::string rows = cases_insert();
    exec_statements("findlite", sql);
    iodbc::kivodbcexec(nullptr, 0, "findlite", rows);
    if (pg) {
      iodbc::kivodbcexec(nullptr, 0, "findpgadmin", "create database " + pgdb);
      exec_statements("findpg", sql);
      iodbc::kivodbcexec(nullptr, 0, "findpg", rows);
    }
  }
  ~Setup() {
    if (pg) iodbc::kivodbcexec(nullptr, 0, "findpgadmin", "drop database if exists " + pgdb + " with (force)");
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

Setup& setup() {
  static Setup s;
  return s;
}

// One find per iteration over the case objects as a command loads them,
// with `criteria` (object, value) on the form; each result's scratch data
// file is removed again. `rows` is the number of cases each find must file.
void run_find(benchmark::State& state, const std::string& dsn, std::string_view object, std::string_view value,
              int rows) {
  setup();
  StringSink page;
  set_out(&page);
  objholder objs = get_prog_param();
  loadobj(objs);
  if (!objs) {
    state.SkipWithError("the sample's tk_obj cannot be read");
    return;
  }
  adduniqobj(objs.get(), "db_name.VALUE", dsn);
  const std::string key = std::string(object) + ".VALUE";
  for (auto _ : state) {
    if (!object.empty()) adduniqobj(objs.get(), key, value, Origin::request);
    if (find(*objs) != 0) {
      state.SkipWithError(("find failed: " + page.text()).c_str());
      break;
    }
    const std::string file = getvalfromlist(objs.get(), "hidedatafile.VALUE").value_or("");
    const std::string found = getvalfromlist(objs.get(), "findresultnum.VALUE").value_or("");
    if (found != std::to_string(rows)) {
      state.SkipWithError(("found " + found + " cases").c_str());
      break;
    }
    std::remove(file.c_str());
  }
  set_out(nullptr);
  state.counters["cases"] = rows;
}

void BM_FindAllSqlite(benchmark::State& state) { run_find(state, "findlite", "", "", kCases); }
void BM_FindOneSqlite(benchmark::State& state) { run_find(state, "findlite", "case_num", "1500", 1); }
void BM_FindCategorySqlite(benchmark::State& state) {
  run_find(state, "findlite", "category", "Network", kCases / 4);
}

void need_pg(benchmark::State& state) {
  if (!setup().pg) state.SkipWithError("PGHOST is unset");
}
void BM_FindAllPostgres(benchmark::State& state) {
  need_pg(state);
  if (setup().pg) run_find(state, "findpg", "", "", kCases);
}
void BM_FindOnePostgres(benchmark::State& state) {
  need_pg(state);
  if (setup().pg) run_find(state, "findpg", "case_num", "1500", 1);
}
void BM_FindCategoryPostgres(benchmark::State& state) {
  need_pg(state);
  if (setup().pg) run_find(state, "findpg", "category", "Network", kCases / 4);
}

}  // namespace

BENCHMARK(BM_FindAllSqlite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindOneSqlite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindCategorySqlite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindAllPostgres)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindOnePostgres)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindCategoryPostgres)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) { return kiv::bench::main_with_build(argc, argv); }
