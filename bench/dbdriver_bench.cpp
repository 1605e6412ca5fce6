// One database round trip per driver, as a record operation makes it: a
// describe of the table and a select of one row, each with its own
// connection. Roads: SQLite through ODBC, PostgreSQL through ODBC (psqlodbc,
// ANSI) and PostgreSQL through libpq. The PostgreSQL roads need PGHOST (see
// scripts/pg-cluster); the ODBC configuration is written to a temporary folder.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "bench/benchsupport.h"
#include "data/iodbc.h"
#include "data/webhandle_db.h"
#include "linux/pgsql.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivsettings.h"

namespace fs = std::filesystem;
using namespace kiv;

namespace {

struct Setup {
  fs::path dir;
  std::string pgdb;
  bool pg = false;

  Setup() {
    std::string templ = (fs::temp_directory_path() / "kivbench.XXXXXX").string();
    dir = ::mkdtemp(templ.data());
    fs::create_directories(dir / "tmp");
    reqctx().nvhome = dir.string();
    pg = std::getenv("PGHOST") != nullptr;
    pgdb = "kivbench_" + std::to_string(::getpid());
    bench::write_odbc_config(dir, "[benchlite]\nDriver=SQLite3\nDatabase=" + (dir / "bench.db").string() + "\n" +
                                      bench::pg_source("benchpg", pgdb));
    const char* table =
        "create table kiv_case (id_num integer, title varchar(80), status varchar(20), opened date, "
        "problem text)";
    const char* row = "insert into kiv_case values (1, 'Printer jams', 'Open', '2001-03-05', 'Paper tray 2')";
    iodbc::kivodbcexec(nullptr, 0, "benchlite", table);
    iodbc::kivodbcexec(nullptr, 0, "benchlite", row);
    if (pg) {
      pgsql::kivodbcexecute(nullptr, 0, "postgres", "create database " + pgdb);
      pgsql::kivodbcexecute(nullptr, 0, pgdb, table);
      pgsql::kivodbcexecute(nullptr, 0, pgdb, row);
    }
  }
  ~Setup() {
    if (pg) pgsql::kivodbcexecute(nullptr, 0, "postgres", "drop database if exists " + pgdb + " with (force)");
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

Setup& setup() {
  static Setup s;
  return s;
}

template <class Exec, class Info>
void round_trip(benchmark::State& state, const std::string& db, Exec exec, Info info) {
  for (auto _ : state) {
    if (info(nullptr, 15, db, "select * from kiv_case") != 0 ||
        exec(nullptr, 0, db, "select * from kiv_case where id_num=1") != 0) {
      state.SkipWithError(driver_results().odbcerror.c_str());
      break;
    }
    benchmark::DoNotOptimize(driver_results().odbcdata);
  }
}

void BM_SqliteOdbc(benchmark::State& state) {
  setup();
  round_trip(state, "benchlite", &iodbc::kivodbcexec, &iodbc::kivodbcinfo);
}

void BM_PostgresOdbc(benchmark::State& state) {
  if (!setup().pg) {
    state.SkipWithError("PGHOST is unset");
    return;
  }
  round_trip(state, "benchpg", &iodbc::kivodbcexec, &iodbc::kivodbcinfo);
}

void BM_PostgresLibpq(benchmark::State& state) {
  if (!setup().pg) {
    state.SkipWithError("PGHOST is unset");
    return;
  }
  round_trip(state, setup().pgdb, &pgsql::kivodbcexecute, &pgsql::kivodbcinfo);
}

}  // namespace

BENCHMARK(BM_SqliteOdbc)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PostgresOdbc)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PostgresLibpq)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
