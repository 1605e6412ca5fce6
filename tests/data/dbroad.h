// A database of its own for a test on one of the two ODBC roads: SQLite
// through Debian's SQLite ODBC driver, or PostgreSQL through psqlodbc. The
// home's tmp folder holds the scratch files and the id lock; no scratch file
// may be left behind.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "data/iodbc.h"
#include "data/sql_pars.h"
#include "data/webhandle_db.h"
#include "platform/flavour.h"
#include "support/services.h"
#include "support/testsupport.h"
#include "tests/data/odbcconfig.h"
#include "toolkit/kivcontext.h"
#include "toolkit/kivsettings.h"

namespace kivtest {

enum class Road { sqlite, postgres };

inline void PrintTo(Road road, std::ostream* os) { *os << (road == Road::sqlite ? "SQLite" : "PostgreSQL"); }

inline std::string road_name(const ::testing::TestParamInfo<Road>& p) {
  return p.param == Road::sqlite ? "SQLite" : "PostgreSQL";
}

// The statements of the sample installation's schema, comments left out.
inline std::vector<std::string> schema_statements() {
  std::string text = read_file(std::string(KIV_SOURCE_DIR) + "/install/home/db/schema.sql");
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

class DbRoadTest : public KivTest {
 protected:
  explicit DbRoadTest(Road road) : road_(road) {}

  void SetUp() override {
    KivTest::SetUp();
    if (pg()) {
      KIV_NEED_SERVICE(postgres_missing());
      KIV_NEED_SERVICE(odbc_driver_missing("psqlodbca.so"));
    } else {
      KIV_NEED_SERVICE(odbc_driver_missing("libsqlite3odbc.so"));
    }
    kiv::set_platform(kiv::Platform::windows);
    fs::create_directories(home_.path() / "tmp");
    kiv::reqctx().nvhome = home_.str();
    OdbcConfig& cfg = OdbcConfig::get();
    dsn_ = unique_name("kivdb");
    if (!pg()) {
      cfg.add_dsn(dsn_, {{"Driver", "SQLite3"}, {"Database", home_.str() + "/cases.db"}, {"Timeout", "60000"}});
    } else {
      admin_ = dsn_ + "_admin";
      cfg.add_dsn(admin_, pg_dsn_attrs("postgres"));
      db_ = dsn_ + "_db";
      ASSERT_EQ(kiv::iodbc::kivodbcexec(nullptr, 0, admin_, "create database " + db_), 0)
          << kiv::driver_results().odbcerror;
      created_ = true;
      cfg.add_dsn(dsn_, pg_dsn_attrs(db_));
    }
    ready_ = true;
  }

  void TearDown() override {
    if (ready_) {
      for (const auto& e : fs::directory_iterator(home_.path() / "tmp"))
        EXPECT_EQ(e.path().filename().string().find("odbcfile."), std::string::npos) << "scratch file left behind";
    }
    if (created_)
      kiv::iodbc::kivodbcexec(nullptr, 0, admin_, "drop database if exists " + db_ + " with (force)");
    OdbcConfig& cfg = OdbcConfig::get();
    if (!dsn_.empty()) cfg.remove_dsn(dsn_);
    if (!admin_.empty()) cfg.remove_dsn(admin_);
    KivTest::TearDown();
  }

  bool pg() const { return road_ == Road::postgres; }

  // Runs a statement that must succeed.
  void exec(const std::string& sql) {
    ASSERT_EQ(kiv::iodbc::kivodbcexec(nullptr, 0, dsn_, sql), 0) << sql << "\n" << kiv::driver_results().odbcerror;
  }

  // The rows a select gives ("" when it fails).
  std::string rows(const std::string& sql) {
    if (kiv::iodbc::kivodbcexec(nullptr, 0, dsn_, sql) != 0) return "FAILED: " + kiv::driver_results().odbcerror;
    return kiv::driver_results().odbcdata.value_or("");
  }

  Road road_;
  TempDir home_;
  std::string dsn_, admin_, db_;
  bool created_ = false, ready_ = false;
};

}  // namespace kivtest
