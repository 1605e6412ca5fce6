// A database of its own for a test on one of three roads: SQLite through
// Debian's SQLite ODBC driver or PostgreSQL through psqlodbc (the Windows
// programs' ODBC layer), or PostgreSQL through libpq (the Linux programs'
// driver). The home's tmp folder holds the scratch files and the id lock; no
// scratch file may be left behind.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "data/dbdriver.h"
#include "data/iodbc.h"
#include "data/sql_pars.h"
#include "data/webhandle_db.h"
#include "platform/flavour.h"
#include "support/services.h"
#include "support/testsupport.h"
#include "tests/data/odbcconfig.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivsettings.h"

namespace kivtest {

// A road to a database. The libpq road carries the Linux programs'
// PostgreSQL driver, which only a suite that links the Linux library can name.
struct Road {
  enum Kind { sqlite, postgres, libpq };
  Road(Kind k, const kiv::DbDriver* driver = nullptr) : kind(k), libpq_driver(driver) {}
  Kind kind;
  const kiv::DbDriver* libpq_driver;
};

inline std::string road_label(const Road& road) {
  switch (road.kind) {
    case Road::sqlite:
      return "SQLite";
    case Road::postgres:
      return "PostgreSQL";
    case Road::libpq:
      return "libpq";
  }
  return "?";
}

inline void PrintTo(const Road& road, std::ostream* os) { *os << road_label(road); }

inline std::string road_name(const ::testing::TestParamInfo<Road>& p) { return road_label(p.param); }

// The statements of an SQL file of the sample installation's kind (one
// statement ends at each ";", lines that begin with "--" are comments).
inline std::vector<std::string> sql_file_statements(const std::string& path) {
  std::string text = read_file(path);
  std::string sql;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.starts_with("--")) sql += line + "\n";
    start = end + 1;
  }
  std::vector<std::string> statements;
  start = 0;
  for (size_t semi = sql.find(';'); semi != std::string::npos; semi = sql.find(';', start)) {
    statements.push_back(sql.substr(start, semi - start));
    start = semi + 1;
  }
  return statements;
}

// The statements of the sample installation's schema, comments left out.
inline std::vector<std::string> schema_statements() {
  return sql_file_statements(std::string(KIV_SOURCE_DIR) + "/install/home/db/schema.sql");
}

class DbRoadTest : public KivTest {
 protected:
  explicit DbRoadTest(Road road) : road_(road) {}

  void SetUp() override {
    KivTest::SetUp();
    if (pg()) KIV_NEED_SERVICE(postgres_missing());
    if (road_.kind == Road::postgres) KIV_NEED_SERVICE(odbc_driver_missing("psqlodbca.so"));
    if (road_.kind == Road::sqlite) KIV_NEED_SERVICE(odbc_driver_missing("libsqlite3odbc.so"));
    fs::create_directories(home_.path() / "tmp");
    kiv::reqctx().nvhome = home_.str();
    dsn_ = unique_name("kivdb");
    switch (road_.kind) {
      case Road::sqlite:
        kiv::set_platform(kiv::Platform::windows);
        add_dsn(dsn_, {{"Driver", "SQLite3"}, {"Database", home_.str() + "/cases.db"}, {"Timeout", "60000"}});
        break;
      case Road::postgres:
        kiv::set_platform(kiv::Platform::windows);
        admin_ = dsn_ + "_admin";
        add_dsn(admin_, pg_dsn_attrs("postgres"));
        db_ = dsn_ + "_db";
        add_dsn(dsn_, pg_dsn_attrs(db_));
        break;
      case Road::libpq:
        // The Linux programs name the database itself; libpq's environment
        // says where it is.
        ASSERT_NE(road_.libpq_driver, nullptr) << "the libpq road needs the Linux programs' driver";
        kiv::set_platform(kiv::Platform::linux);
        kiv::set_linux_driver(road_.libpq_driver);
        admin_ = "postgres";
        db_ = dsn_;
        break;
    }
    if (!db_.empty()) {
      ASSERT_EQ(kiv::kivodbcexec(nullptr, 0, admin_, "create database " + db_), 0)
          << kiv::driver_results().odbcerror;
      created_ = true;
    }
    ready_ = true;
  }

  void TearDown() override {
    if (ready_) {
      for (const auto& e : fs::directory_iterator(home_.path() / "tmp"))
        EXPECT_EQ(e.path().filename().string().find("odbcfile."), std::string::npos) << "scratch file left behind";
    }
    if (created_) kiv::kivodbcexec(nullptr, 0, admin_, "drop database if exists " + db_ + " with (force)");
    for (const std::string& name : dsns_) OdbcConfig::get().remove_dsn(name);
    KivTest::TearDown();
  }

  // PostgreSQL, through ODBC or libpq.
  bool pg() const { return road_.kind != Road::sqlite; }
  bool libpq() const { return road_.kind == Road::libpq; }

  // Runs a statement that must succeed, through the road's driver.
  void exec(const std::string& sql) {
    ASSERT_EQ(kiv::kivodbcexec(nullptr, 0, dsn_, sql), 0) << sql << "\n" << kiv::driver_results().odbcerror;
  }

  // The rows a select gives ("FAILED: " and the error when it fails).
  std::string rows(const std::string& sql) {
    if (kiv::kivodbcexec(nullptr, 0, dsn_, sql) != 0) return "FAILED: " + kiv::driver_results().odbcerror;
    return kiv::driver_results().odbcdata.value_or("");
  }

  Road road_;
  TempDir home_;
  // dsn_: what the handles name as their database (an ODBC data source, or
  // the database itself on the libpq road); db_: the database made for the
  // test on PostgreSQL; admin_: where it is made and dropped.
  std::string dsn_, admin_, db_;
  bool created_ = false, ready_ = false;

 private:
  void add_dsn(const std::string& name, const std::map<std::string, std::string>& attrs) {
    OdbcConfig::get().add_dsn(name, attrs);
    dsns_.push_back(name);
  }

  std::vector<std::string> dsns_;  // the ODBC data sources to remove again
};

}  // namespace kivtest
