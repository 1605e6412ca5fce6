// The program up_trans: every record of an SQLite data source added to the
// sample home's case table, on SQLite and on PostgreSQL through ODBC, with
// its exact lines and status; every column as it was read, case numbers
// taken from the source's ids; a record the target refuses; the usage and an
// unknown source; and a source that is the target under the same name, under
// another name of the same SQLite file or of the same PostgreSQL database,
// refused before anything is read.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "data/dbdriver.h"
#include "data/webhandle_db.h"
#include "platform/process.h"
#include "support/testsupport.h"
#include "tests/data/odbcconfig.h"
#include "uptest.h"

using namespace kiv;
using kivtest::Road;

namespace {

namespace fs = std::filesystem;

const std::string kUpTrans = std::string(KIV_BINARY_DIR) + "/tools/up_trans";

class UpTrans : public uptest::CommandCaseHome, public ::testing::WithParamInterface<Road> {
 protected:
  UpTrans() : CommandCaseHome(GetParam()) {}

  void SetUp() override {
    CommandCaseHome::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    source_ = kivtest::unique_name("kivsource");
    add_source(source_, home_.str() + "/source.db");
    // The source's table as an older installation had it: the sample's
    // columns, its dates as text.
    source_exec(
        "create table cases (id_num integer, case_num varchar(40), status varchar(40), category varchar(40), "
        "priority varchar(40), submitted_by varchar(80), sub_e_mail varchar(128), assigned_to varchar(128), "
        "sa_e_mail varchar(128), title varchar(255), problem text, resolution text, date_open varchar(40), "
        "date_first_sent_by_user varchar(40), date_assigned varchar(40), time_assigned varchar(16), "
        "date_closed varchar(40))");
  }

  void TearDown() override {
    for (const std::string& name : added_) kivtest::OdbcConfig::get().remove_dsn(name);
    CommandCaseHome::TearDown();
  }

  void add_source(const std::string& name, const std::string& file) {
    kivtest::OdbcConfig::get().add_dsn(name, {{"Driver", "SQLite3"}, {"Database", file}, {"Timeout", "60000"}});
    added_.push_back(name);
  }
  void add_dsn(const std::string& name, const std::map<std::string, std::string>& attrs) {
    kivtest::OdbcConfig::get().add_dsn(name, attrs);
    added_.push_back(name);
  }
  void source_exec(const std::string& sql) {
    ASSERT_EQ(kivodbcexec(nullptr, 0, source_, sql), 0) << sql << "\n" << driver_results().odbcerror;
  }
  std::string source_rows(const std::string& sql) {
    if (kivodbcexec(nullptr, 0, source_, sql) != 0) return "FAILED: " + driver_results().odbcerror;
    return driver_results().odbcdata.value_or("");
  }

  void add_source_case(int id, const std::string& values) {
    source_exec(sformat("insert into cases (id_num, case_num, status, submitted_by, problem, resolution, date_open, "
                        "date_closed, time_assigned) values (%d, %s)",
                        id, values));
  }

  // up_trans as a program with these arguments, over the home.
  process::Result run(std::vector<std::string> args) {
    process::Options o;
    o.capture_output = true;
    o.capture_errors = true;
    o.env = {"NVHOME=" + home_.str(), "PATH=/usr/bin:/bin"};
    for (const char* v : {"ODBCSYSINI", "ODBCINI", "ASAN_OPTIONS", "UBSAN_OPTIONS", "PGHOST", "PGPORT", "PGUSER"})
      if (const char* x = std::getenv(v)) o.env.push_back(std::string(v) + "=" + x);
    args.insert(args.begin(), kUpTrans);
    process::Result r = process::run(args, o);
    EXPECT_TRUE(r.started && !r.timed_out && r.signal == 0) << process::describe(r, o);
    return r;
  }

  // The columns the two tables share, but for the target's own row number
  // and the dates.
  static constexpr const char* kColumns =
      "status, category, priority, submitted_by, sub_e_mail, assigned_to, sa_e_mail, title, problem, resolution, "
      "time_assigned";
  // A date column of the target as the text it holds: on PostgreSQL its
  // moment month first as the source writes it, on SQLite the stored text.
  std::string moment(const std::string& column) const {
    return pg() ? "to_char(" + column + ", 'MM/DD/YYYY HH24:MI:SS')" : "cast(" + column + " as text)";
  }

  std::string source_;
  std::vector<std::string> added_;
};

TEST_P(UpTrans, EveryRecordIsAddedWithItsIdAsCaseNumber) {
  add_source_case(5, "'K-5', 'Open', 'Ann O''Brien', 'Line one\nline \"two\" with ''quotes''', 'a^b ^^ c 50%', "
                     "'12/10/2024 10:31:00', null, '10:31 AM'");
  add_source_case(7, "'K-7', 'Closed', 'bob', 'Disk full.', 'Cleaned up ^ freed.', '01/02/2023 08:00:00', "
                     "'01/05/2023 16:45:10', null");
  add_source_case(9, "'K-9', 'Pending', 'carl', 'No mail.', null, null, null, null");
  const process::Result r = run({source_});
  EXPECT_EQ(r.status, 0) << r.output << r.errors;
  EXPECT_EQ(r.output,
            "Find all records\n"
            "There are 3 record(s) to be transfered\n"
            "adding record 1\nadding record 2\nadding record 3\n");
  EXPECT_EQ(r.errors, "");

  // Every column as the source gives it, the case number being the id, and
  // the dates with their times.
  const std::string expected =
      source_rows(sformat("select id_num, %s from cases order by id_num", kColumns));
  EXPECT_EQ(rows(sformat("select case_num, %s from cases order by id_num", kColumns)), expected);
  EXPECT_NE(expected.find("Ann O'Brien"), std::string::npos) << expected;
  EXPECT_NE(expected.find("a^b ^^ c 50%"), std::string::npos) << expected;
  // The dates keep their times: read back as the source gives them, and
  // stored as those moments (SQLite keeps ISO text, the form it orders).
  const std::string dates = "12/10/2024 10:31:00^@^^^$01/02/2023 08:00:00^@01/05/2023 16:45:10^$^^^@^^^$";
  EXPECT_EQ(source_rows("select date_open, date_closed from cases order by id_num"), dates);
  EXPECT_EQ(rows("select date_open, date_closed from cases order by id_num"), dates);
  EXPECT_EQ(rows("select " + moment("date_open") + ", " + moment("date_closed") + " from cases order by id_num"),
            pg() ? dates : "2024-12-10 10:31:00^@^^^$2023-01-02 08:00:00^@2023-01-05 16:45:10^$^^^@^^^$");
  EXPECT_EQ(rows("select case_num from cases order by id_num"), "5^$7^$9^$");
  // The source is read, never changed.
  EXPECT_EQ(source_rows("select id_num, case_num from cases order by id_num"), "5^@K-5^$7^@K-7^$9^@K-9^$");
}

// A source whose dates are time stamps, as the sample's schema makes them:
// each moment reaches the target with its time of day.
TEST_P(UpTrans, TimeStampsKeepTheirTimes) {
  const std::string stamped = kivtest::unique_name("kivstamped");
  add_source(stamped, home_.str() + "/stamped.db");
  const auto stamped_exec = [&](const std::string& sql) {
    ASSERT_EQ(kivodbcexec(nullptr, 0, stamped, sql), 0) << sql << "\n" << driver_results().odbcerror;
  };
  stamped_exec("create table cases (id_num integer, case_num varchar(40), status varchar(40), problem text, "
               "date_open timestamp, date_closed timestamp)");
  stamped_exec("insert into cases values (3, 'T-3', 'Closed', 'Late.', '2024-12-10 23:59:58', '2024-12-11 00:00:01')");
  stamped_exec("insert into cases values (4, 'T-4', 'Open', 'Noon.', '2023-01-02 12:30:15', null)");
  const process::Result r = run({stamped});
  EXPECT_EQ(r.status, 0) << r.output << r.errors;
  EXPECT_EQ(r.output, "Find all records\nThere are 2 record(s) to be transfered\nadding record 1\nadding record 2\n");
  const std::string moments = pg() ? "to_char(date_open, 'YYYY-MM-DD HH24:MI:SS'), "
                                     "to_char(date_closed, 'YYYY-MM-DD HH24:MI:SS')"
                                   : "cast(date_open as text), cast(date_closed as text)";
  EXPECT_EQ(rows("select case_num, " + moments + " from cases order by id_num"),
            "3^@2024-12-10 23:59:58^@2024-12-11 00:00:01^$4^@2023-01-02 12:30:15^@^^^$");
}

TEST_P(UpTrans, ARefusedRecordFailsTheRunAndTheOthersAreAdded) {
  add_source_case(1, "'K-1', 'Open', 'ann', 'First.', null, '12/10/2024', null, null");
  add_source_case(2, "'K-2', 'Open', 'bob', 'Second.', null, 'soon', null, null");
  add_source_case(3, "'K-3', 'Open', 'carl', 'Third.', null, '12/11/2024', null, null");
  const process::Result r = run({source_});
  EXPECT_EQ(r.status, 1) << r.output;
  const size_t second = r.output.find("adding record 2\n");
  const size_t failed = r.output.find("submit operation failed for record\n");
  const size_t third = r.output.find("adding record 3\n");
  ASSERT_NE(second, std::string::npos) << r.output;
  EXPECT_TRUE(second < failed && failed < third) << r.output;
  EXPECT_NE(r.output.find("Bad date 'soon' for column date_open"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("submit operation failed for record\n", failed + 1), std::string::npos) << r.output;
  EXPECT_EQ(rows("select case_num, problem from cases order by case_num"), "1^@First.^$3^@Third.^$");
}

TEST_P(UpTrans, UsageAndAnUnknownSource) {
  process::Result r = run({});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.errors, "Wrong usage: up_trans db_remot_host\n");
  EXPECT_EQ(r.output, "");

  // A connection object missing from the configuration fails the run.
  const std::string objs = kivtest::read_file(home_.str() + "/client/config/tk_obj");
  const std::string timeout = "OBJECT{\n\tNAME=network_timeout\n\tVALUE=30\n};\n";
  ASSERT_NE(objs.find(timeout), std::string::npos);
  home_.write("client/config/tk_obj", std::string(objs).erase(objs.find(timeout), timeout.size()));
  r = run({source_});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "<PRE>\nMissing timeout name object\n</PRE>\n");
  home_.write("client/config/tk_obj", objs);

  r = run({"no_such_source"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.output.starts_with("Find all records\n")) << r.output;
  EXPECT_TRUE(r.output.ends_with("<PRE>\nFind operation failed\n</PRE>\nFind failed. Exiting\n")) << r.output;
  EXPECT_EQ(rows("select count(*) from cases"), "0^$");
}

// A source that is the target would add every record to its own table
// again: refused, whichever name leads to it, before anything is read.
TEST_P(UpTrans, TheTargetUnderAnyNameIsRefused) {
  std::string shouted = dsn_;
  for (char& c : shouted) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::vector<std::string> names = {dsn_, shouted};
  const std::string alias = kivtest::unique_name("kivalias");
  // A data source may name its driver by the library's path instead of its
  // odbcinst.ini entry: the same driver still.
  const std::string by_path = kivtest::unique_name("kivalias");
  if (pg()) {
    add_dsn(alias, kivtest::pg_dsn_attrs(db_));
    std::map<std::string, std::string> attrs = kivtest::pg_dsn_attrs(db_);
    attrs["Driver"] = kivtest::odbc_driver_dir() + "/psqlodbca.so";
    add_dsn(by_path, attrs);
  } else {
    fs::create_symlink(home_.path() / "cases.db", home_.path() / "link.db");
    add_source(alias, home_.str() + "/link.db");
    const std::string other = kivtest::unique_name("kivalias");
    add_source(other, home_.str() + "/./cases.db");
    names.push_back(other);
    add_dsn(by_path, {{"Driver", kivtest::odbc_driver_dir() + "/libsqlite3odbc.so"},
                      {"Database", home_.str() + "/cases.db"},
                      {"Timeout", "60000"}});
  }
  names.push_back(by_path);
  names.push_back(alias);
  exec("insert into cases (id_num, case_num, problem) values (1, 'K-1', 'Kept once.')");
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const process::Result r = run({name});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "Source and target are the same database '" + name + "'. Exiting\n");
    EXPECT_EQ(rows("select count(*) from cases"), "1^$");
  }
  // Another file with the same driver is another database.
  add_source_case(4, "'K-4', 'Open', 'dora', 'Other file.', null, null, null, null");
  const process::Result r = run({source_});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(rows("select case_num from cases order by id_num"), "K-1^$4^$");
}

INSTANTIATE_TEST_SUITE_P(Roads, UpTrans, ::testing::Values(Road::sqlite, Road::postgres), kivtest::road_name);

}  // namespace
