// The case engine's find over a table of 1,000 cases of the sample
// installation, as the find command will run it: the search form's objects
// into criteria, the select through the ODBC driver manager (SQLite, and
// PostgreSQL when PGHOST names a server), the rows back through the driver's
// scratch file, and the result filed into findresult and a scratch data file.
// Three searches: every case, one case by its number, and a quarter of them
// by category. Beside each of the first two, its floor in the same run: what
// any program must do for that find over the driver manager, written out
// with its calls (one connection, a describe of the table that reads no row,
// the select with every value fetched, the rows as a row/column table into
// a file). With KIV_POOLER_PGHOST and KIV_POOLER_PGPORT (the PostgreSQL
// service prints them), the PostgreSQL finds run through PgBouncer as well.
// Measure a Release build without sanitizers (bench/run-find).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "bench/benchsupport.h"
#include "data/iodbc.h"
#include "data/odbcdm.h"
#include "data/webhandle_db.h"
#include "engine/upcommon.h"
#include "engine/upcommon_find.h"
#include "engine/upfile.h"
#include "platform/output.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/text/rowcol.h"

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
  bool pg = false, pooled = false;

  Setup() {
    std::string templ = (fs::temp_directory_path() / "kivfind.XXXXXX").string();
    dir = ::mkdtemp(templ.data());
    fs::copy(fs::path(KIV_SOURCE_DIR) / "install/home/client", dir / "client", fs::copy_options::recursive);
    fs::create_directories(dir / "tmp");
    reqctx().nvhome = dir.string();
    pg = std::getenv("PGHOST") != nullptr;
    pooled = pg && std::getenv("KIV_POOLER_PGHOST") && std::getenv("KIV_POOLER_PGPORT");
    pgdb = "kivfind_" + std::to_string(::getpid());
    std::string sources = "[findlite]\nDriver=SQLite3\nDatabase=" + (dir / "cases.db").string() +
                          "\nTimeout=60000\n" + bench::pg_source("findpgadmin", "postgres") +
                          bench::pg_source("findpg", pgdb);
    if (pooled)
      sources += "[findpool]\nDriver=PostgreSQL ANSI\nServername=" + bench::env_or_empty("KIV_POOLER_PGHOST") +
                 "\nPort=" + bench::env_or_empty("KIV_POOLER_PGPORT") +
                 "\nUsername=" + bench::env_or_empty("PGUSER") + "\nDatabase=" + pgdb + "\n";
    bench::write_odbc_config(dir, sources);
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
  adduniqobj(*objs, "db_name.VALUE", dsn);
  const std::string key = std::string(object) + ".VALUE";
  for (auto _ : state) {
    if (!object.empty()) adduniqobj(*objs, key, value, Origin::request);
    if (find(*objs) != 0) {
      state.SkipWithError(("find failed: " + page.text()).c_str());
      break;
    }
    const std::string file = objtext(*objs, "hidedatafile.VALUE");
    const std::string found = objtext(*objs, "findresultnum.VALUE");
    if (found != std::to_string(rows)) {
      state.SkipWithError(("found " + found + " cases").c_str());
      break;
    }
    remove_tmpdatafile(file);
  }
  set_out(nullptr);
  state.counters["cases"] = rows;
}

// ---- the floor: the same find, with nothing but the driver manager's calls

bool ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// One value of the current row as text, in pieces as long as it takes.
bool floor_value(const odbcdm::Calls& dm, SQLHSTMT stmt, SQLUSMALLINT col, std::string& buf, std::string& row) {
  for (;;) {
    SQLLEN ind = 0;
    SQLRETURN rc = dm.SQLGetData(stmt, col, SQL_C_CHAR, buf.data(), static_cast<SQLLEN>(buf.size()), &ind);
    if (rc == SQL_NO_DATA) return true;
    if (!ok(rc)) return false;
    if (ind == SQL_NULL_DATA) {
      row += "^^";
      return true;
    }
    size_t room = buf.size() - 1;
    bool whole = rc == SQL_SUCCESS;
    size_t got = whole && ind != SQL_NO_TOTAL ? std::min(static_cast<size_t>(ind), room) : room;
    row.append(buf.data(), got);
    if (whole) return true;
    if (ind != SQL_NO_TOTAL && static_cast<size_t>(ind) - got + 1 > buf.size())
      buf.resize(static_cast<size_t>(ind) - got + 1);
  }
}

// Runs a statement on the connection; with `rows`, fetches every value into
// it as row/column text, else only describes the result's columns.
bool floor_statement(const odbcdm::Calls& dm, SQLHDBC dbc, const std::string& sql, std::string* rows) {
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  if (!ok(dm.SQLAllocStmt(dbc, &stmt))) return false;
  std::string text = sql;
  bool good = ok(dm.SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS));
  SQLSMALLINT ncols = 0;
  good = good && ok(dm.SQLNumResultCols(stmt, &ncols));
  std::string keys;
  for (SQLSMALLINT c = 1; good && c <= ncols; ++c) {
    SQLCHAR name[256];
    SQLSMALLINT namelen = 0, type = 0, scale = 0, nullable = 0;
    SQLULEN precision = 0;
    good = ok(dm.SQLDescribeCol(stmt, static_cast<SQLUSMALLINT>(c), name, sizeof name, &namelen, &type, &precision,
                                &scale, &nullable));
    keys += reinterpret_cast<const char*>(name);
    keys += c < ncols ? "^@" : "^$";
  }
  if (good && rows) {
    *rows = keys;
    std::string buf(256, '\0');
    while (good && ok(dm.SQLFetch(stmt))) {
      for (SQLSMALLINT c = 1; good && c <= ncols; ++c) {
        good = floor_value(dm, stmt, static_cast<SQLUSMALLINT>(c), buf, *rows);
        *rows += c < ncols ? "^@" : "^$";
      }
    }
  }
  dm.SQLFreeStmt(stmt, SQL_DROP);
  return good;
}

// The floor of a find: connect, describe without rows, select, the table
// into a file, disconnect. The table, or none when a step failed. (Not
// inlined, so that a profile can count it alone.)
[[gnu::noinline]] std::optional<std::string> floor_find(const odbcdm::Calls& dm, const std::string& dsn, const std::string& condition,
                                      const std::string& file) {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  std::string text = "DSN=" + dsn, table;
  bool good = ok(dm.SQLAllocEnv(&env)) && ok(dm.SQLAllocConnect(env, &dbc)) &&
              ok(dm.SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS, nullptr, 0,
                                     nullptr, SQL_DRIVER_NOPROMPT));
  good = good && floor_statement(dm, dbc, "select * from cases where 1 = 0", nullptr) &&
         floor_statement(dm, dbc, "select * from cases" + condition, &table);
  if (dbc != SQL_NULL_HDBC) {
    dm.SQLDisconnect(dbc);
    dm.SQLFreeConnect(dbc);
  }
  if (env != SQL_NULL_HENV) dm.SQLFreeEnv(env);
  if (!good) return std::nullopt;
  // A new file, as every find files its rows in a new one.
  std::ofstream(file, std::ios::binary | std::ios::trunc) << table;
  return table;
}

void run_floor(benchmark::State& state, const std::string& dsn, const std::string& condition, int rows) {
  setup();
  const odbcdm::Calls* dm = odbcdm::driver_manager();
  if (!dm) {
    state.SkipWithError("the ODBC driver manager cannot be loaded");
    return;
  }
  const std::string file = (setup().dir / "tmp" / "floor").string();
  for (auto _ : state) {
    std::optional<std::string> table = floor_find(*dm, dsn, condition, file);
    if (!table || getrowcount(*table) != rows + 1) {
      state.SkipWithError("the floor's find failed");
      break;
    }
    std::remove(file.c_str());
  }
  state.counters["cases"] = rows;
}

void BM_FindAllSqlite(benchmark::State& state) { run_find(state, "findlite", "", "", kCases); }
void BM_FloorAllSqlite(benchmark::State& state) { run_floor(state, "findlite", "", kCases); }
void BM_FloorOneSqlite(benchmark::State& state) {
  run_floor(state, "findlite", " where case_num like '%1500%'", 1);
}
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
void BM_FloorAllPostgres(benchmark::State& state) {
  need_pg(state);
  if (setup().pg) run_floor(state, "findpg", "", kCases);
}
void BM_FloorOnePostgres(benchmark::State& state) {
  need_pg(state);
  if (setup().pg) run_floor(state, "findpg", " where case_num like '%1500%'", 1);
}

// Through PgBouncer: the same finds and floors.
void need_pooler(benchmark::State& state) {
  if (!setup().pooled) state.SkipWithError("PGHOST, KIV_POOLER_PGHOST or KIV_POOLER_PGPORT is unset");
}
void BM_FindAllPooled(benchmark::State& state) {
  need_pooler(state);
  if (setup().pooled) run_find(state, "findpool", "", "", kCases);
}
void BM_FloorAllPooled(benchmark::State& state) {
  need_pooler(state);
  if (setup().pooled) run_floor(state, "findpool", "", kCases);
}
void BM_FindOnePooled(benchmark::State& state) {
  need_pooler(state);
  if (setup().pooled) run_find(state, "findpool", "case_num", "1500", 1);
}
void BM_FloorOnePooled(benchmark::State& state) {
  need_pooler(state);
  if (setup().pooled) run_floor(state, "findpool", " where case_num like '%1500%'", 1);
}

}  // namespace

BENCHMARK(BM_FindAllSqlite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorAllSqlite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindOneSqlite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorOneSqlite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindCategorySqlite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindAllPostgres)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorAllPostgres)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindOnePostgres)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorOnePostgres)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindCategoryPostgres)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindAllPooled)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorAllPooled)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindOnePooled)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorOnePooled)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) { return kiv::bench::main_with_build(argc, argv); }
