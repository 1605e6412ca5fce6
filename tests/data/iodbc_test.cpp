// The ODBC layer against real data sources: SQLite through Debian's SQLite
// ODBC driver and PostgreSQL through the ANSI psqlodbc driver. Each test gets
// a data source and a database of its own, and leaves no scratch file.
#include <gtest/gtest.h>

#include <filesystem>

#include "data/dbdriver.h"
#include "data/iodbc.h"
#include "data/sql_pars.h"
#include "data/webhandle_db.h"
#include "platform/exit.h"
#include "support/services.h"
#include "support/testsupport.h"
#include "tests/data/dbroad.h"
#include "tests/data/fakedriver.h"
#include "tests/data/odbcconfig.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/base/kivsettings.h"

using namespace kiv;
namespace fs = std::filesystem;

namespace {

using kivtest::Road;
using kivtest::road_name;

// A data source and a database of their own on one of the two ODBC roads
// (the shared fixture); the home's tmp folder must be empty again after the
// test. exec and info run a statement through the ODBC layer itself.
class OdbcBase : public kivtest::DbRoadTest {
 protected:
  explicit OdbcBase(Road road) : DbRoadTest(road) {}

  void TearDown() override {
    if (ready_) {
      EXPECT_EQ(kivtest::entries_but((home_.path() / "tmp").string(), kOdbcSweepMarker), std::vector<std::string>{})
          << "scratch file left behind";
    }
    DbRoadTest::TearDown();
  }

  int exec(const std::string& sql) { return iodbc::kivodbcexec(nullptr, 0, dsn_, sql); }
  int info(const std::string& sql) { return iodbc::kivodbcinfo(nullptr, 0, dsn_, sql); }
  const DriverResults& r() const { return driver_results(); }

  // The case table with two rows: NULL, empty text, numbers, dates, times,
  // and a time-stamp before 1970.
  void make_cases() {
    ASSERT_EQ(exec("create table kiv_case (id_num integer, title varchar(80), note text, opened date, "
                   "stamp timestamp, at time, amount float, price numeric(10,2))"),
              0)
        << r().odbcerror;
    ASSERT_EQ(exec("insert into kiv_case values (1, 'First', NULL, '2001-03-05', "
                   "'2001-03-05 10:30:00', '10:30:00', 1.5, 12.50)"),
              0)
        << r().odbcerror;
    ASSERT_EQ(exec("insert into kiv_case values (2, '', 'x', '1969-07-20', '1969-07-20 20:17:00', "
                   "'23:05:00', -2.25, 0)"),
              0)
        << r().odbcerror;
  }

};

class Odbc : public OdbcBase, public ::testing::WithParamInterface<Road> {
 protected:
  Odbc() : OdbcBase(GetParam()) {}
};

class PgOdbc : public OdbcBase {
 protected:
  PgOdbc() : OdbcBase(Road::postgres) {}
};

}  // namespace

TEST_P(Odbc, InsertLeavesNoResultsAndSelectGivesRowsByType) {
  make_cases();
  EXPECT_FALSE(r().odbcdata.has_value());
  EXPECT_FALSE(r().odbckey.has_value());
  EXPECT_EQ(r().odbcerror, "");

  ASSERT_EQ(exec("select * from kiv_case order by id_num"), 0) << r().odbcerror;
  EXPECT_EQ(r().odbckey, "id_num^@title^@note^@opened^@stamp^@at^@amount^@price^$");
  // NUMERIC is text in PostgreSQL; the SQLite driver calls it DOUBLE.
  std::string p1 = pg() ? "12.50" : "12.500000", p2 = pg() ? "0.00" : "0.000000";
  EXPECT_EQ(r().odbcdata, "1^@First^@^^^@03/05/2001^@03/05/2001 10:30:00^@10:30AM^@1.500000^@" + p1 + "^$" +
                              "2^@^@x^@07/20/1969^@20:17^@11:05PM^@-2.250000^@" + p2 + "^$");
  EXPECT_EQ(r().odbcerror, "");

  settings().dateformat = "dmy";
  ASSERT_EQ(exec("select opened, stamp from kiv_case where id_num = 1"), 0);
  EXPECT_EQ(r().odbcdata, "05/03/2001^@05/03/2001 10:30:00^$");
}

// A time stamp reads with its time of day (midnight as the date alone), and
// what is read goes back into a time stamp as the same moment: a record read
// and written again keeps its time.
TEST_P(Odbc, TimeStampsKeepTheirTimeOfDay) {
  ASSERT_EQ(exec("create table kiv_stamp (n integer, stamp timestamp)"), 0) << r().odbcerror;
  struct Case {
    const char* stored;
    const char* read;
  } cases[] = {
      {"2001-03-05 00:00:00", "03/05/2001"},
      {"2001-03-05 00:00:01", "03/05/2001 00:00:01"},
      {"2001-03-05 12:00:00", "03/05/2001 12:00:00"},
      {"2001-03-05 23:59:59", "03/05/2001 23:59:59"},
      {"2001-03-05 10:30:00.250", "03/05/2001 10:30:00"},  // fractions are not shown
  };
  settings().mssqlflag = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    ASSERT_EQ(exec("delete from kiv_stamp"), 0);
    ASSERT_EQ(exec(sformat("insert into kiv_stamp values (1, '%s')", c.stored)), 0) << r().odbcerror;
    ASSERT_EQ(exec("select stamp from kiv_stamp"), 0) << r().odbcerror;
    EXPECT_EQ(r().odbcdata, std::string(c.read) + "^$");
    // Written again as the generator writes the text read.
    sqlbuf().idnum.clear();
    ASSERT_EQ(gen_insert_query(dsn_, "kiv_stamp", sformat("2^@%s^$", c.read), "n^@stamp^$"), 0) << page();
    ASSERT_EQ(exec(sqlbuf().query), 0) << sqlbuf().query << "\n" << r().odbcerror;
    ASSERT_EQ(exec("select stamp from kiv_stamp where n = 2"), 0) << r().odbcerror;
    EXPECT_EQ(r().odbcdata, std::string(c.read) + "^$") << sqlbuf().query;
  }
}

TEST_P(Odbc, SelectWithoutRowsKeepsTheColumnNames) {
  make_cases();
  ASSERT_EQ(exec("select id_num, title from kiv_case where id_num = 99"), 0);
  EXPECT_EQ(r().odbckey, "id_num^@title^$");
  EXPECT_EQ(r().odbcdata, "");
}

TEST_P(Odbc, DescribeGivesOneRowOfTypeNames) {
  make_cases();
  ASSERT_EQ(info("select * from kiv_case"), 0) << r().odbcerror;
  EXPECT_EQ(r().odbckey, "id_num^@title^@note^@opened^@stamp^@at^@amount^@price^$");
  EXPECT_EQ(r().odbcdata, "INT^@CHAR^@CHAR^@DATE_TIME^@DATE_TIME^@DATE_TIME^@FLOAT^@FLOAT^$");

  EXPECT_EQ(info("select * from nosuch_table"), -3);
  EXPECT_NE(r().odbcerror.find("nosuch_table"), std::string::npos) << r().odbcerror;
  EXPECT_FALSE(r().odbckey.has_value());
}

TEST_P(Odbc, NamesLowerCasedAndWholeAndLongValuesWhole) {
  make_cases();
  std::string longname = "A_Column_Name_Well_Beyond_Thirty_One_Bytes";
  std::string quote = pg() ? "\"" : "";
  ASSERT_EQ(exec("select id_num as " + quote + "MixedCase" + quote + ", title as " + longname +
                 " from kiv_case where id_num = 1"),
            0);
  EXPECT_EQ(r().odbckey, "mixedcase^@a_column_name_well_beyond_thirty_one_bytes^$");

  // Longer than any bound buffer of a text column, and than 64 KiB.
  std::string big(70001, 'x');
  big[0] = 'B';
  big.back() = 'E';
  ASSERT_EQ(exec("update kiv_case set note = '" + big + "' where id_num = 1"), 0) << r().odbcerror;
  ASSERT_EQ(exec("select note from kiv_case where id_num = 1"), 0) << r().odbcerror;
  EXPECT_EQ(r().odbcdata, big + "^$");
}

// Text values come in pieces whose first is short: values on either side of
// its length, after a long one and before short ones, come back whole.
TEST_P(Odbc, TextValuesOfEveryLengthComeBackWhole) {
  ASSERT_EQ(exec("create table kiv_len (n integer, code varchar(8), note text)"), 0) << r().odbcerror;
  std::string expected, values;
  const size_t lengths[] = {1, 255, 256, 257, 5000, 2, 70000, 3};
  for (size_t i = 0; i < std::size(lengths); ++i) {
    std::string note(lengths[i], static_cast<char>('a' + i));
    note.back() = 'Z';
    values += (values.empty() ? "" : ", ") + sformat("(%d, 'c%d', '%s')", i, i, note);
    expected += sformat("%d^@c%d^@%s^$", i, i, note);
  }
  ASSERT_EQ(exec("insert into kiv_len values " + values), 0) << r().odbcerror;
  ASSERT_EQ(exec("select n, code, note from kiv_len order by n"), 0) << r().odbcerror;
  EXPECT_TRUE(r().odbcdata == expected) << "the values differ from what was stored";
}

TEST_P(Odbc, TrimsValuesForMssqlOracleAndDb2) {
  make_cases();
  ASSERT_EQ(exec("update kiv_case set title = '  padded    title  ' where id_num = 1"), 0);
  for (int flag : {0, 1, 2, 3, 4}) {
    settings().mssqlflag = flag;
    ASSERT_EQ(exec("select title from kiv_case where id_num = 1"), 0);
    bool trimmed = flag == 1 || flag == 2 || flag == 4;
    EXPECT_EQ(r().odbcdata, trimmed ? "padded title^$" : "  padded    title  ^$") << flag;
  }
}

// A row that fails after others were fetched fails the statement and leaves
// no rows behind. The drivers are set to fetch as the rows are asked for.
TEST_P(Odbc, FetchThatFailsMidwayFailsTheStatement) {
  std::string sql;
  if (pg()) {
    std::map<std::string, std::string> attrs = kivtest::pg_dsn_attrs(db_);
    attrs["UseDeclareFetch"] = "1";
    attrs["Fetch"] = "10";
    kivtest::OdbcConfig::get().add_dsn(dsn_, attrs);
    sql = "select 10 / (50 - x) as v from generate_series(1, 60) as x";
  } else {
    kivtest::OdbcConfig::get().add_dsn(dsn_, {{"Driver", "SQLite3"}, {"Database", home_.str() + "/cases.db"},
                                              {"StepAPI", "1"}});
    sql = "select case when x = 2 then abs(-9223372036854775807 - 1) else x end as v "
          "from (select 1 as x union all select 2 union all select 3)";
  }
  EXPECT_EQ(exec(sql), -3);
  std::string head = "The SQL command='" + sql +
                     "'\nproduced this error message from the database.\n"
                     " You may check your data and try again to resolve this problem.\n";
  std::string body = pg() ? "Msg 1, Level 16, State 22012:\nERROR: division by zero;\n"
                            "Error while fetching the next result\n"
                          : "Msg 1, Level 16, State S1000:\n[SQLite]integer overflow (1)\n";
  EXPECT_EQ(r().odbcerror, head + body);
  EXPECT_EQ(r().odbckey, "v^$");
  EXPECT_FALSE(r().odbcdata.has_value());
}

// Dates before 1901 keep their year.
TEST_P(Odbc, OldDatesKeepTheirYear) {
  ASSERT_EQ(exec("create table kiv_old (opened date)"), 0) << r().odbcerror;
  ASSERT_EQ(exec("insert into kiv_old values ('1900-01-01')"), 0) << r().odbcerror;
  ASSERT_EQ(exec("insert into kiv_old values ('1066-10-14')"), 0) << r().odbcerror;
  ASSERT_EQ(exec("select opened from kiv_old order by opened"), 0) << r().odbcerror;
  EXPECT_EQ(r().odbcdata, "10/14/1066^$01/01/1900^$");
}

TEST_P(Odbc, EmptyStatementPrintsEmptySql) {
  EXPECT_EQ(exec("  \t "), -3);
  EXPECT_EQ(page(), "empty sql\n");
  EXPECT_FALSE(r().odbcdata.has_value());
}

TEST_P(Odbc, BadStatementFailsWithTheDatabaseMessage) {
  EXPECT_EQ(exec("select * from nosuch"), -3);
  std::string head =
      "The SQL command='select * from nosuch'\nproduced this error message from the database.\n"
      " You may check your data and try again to resolve this problem.\n";
  std::string body = pg() ? "Msg 1, Level 16, State 42P01:\nERROR: relation \"nosuch\" does not exist;\n"
                            "Error while executing the query\n"
                          : "Msg 1, Level 16, State S1000:\n[SQLite]no such table: nosuch (1)\n";
  EXPECT_EQ(r().odbcerror, head + body);
  EXPECT_FALSE(r().odbcdata.has_value());
}

TEST_P(Odbc, StatementWithInformationSucceedsAndTracesIt) {
  // PostgreSQL answers with a notice, which the driver passes on as success
  // with information.
  reqctx().kivdebug = 1;
  EXPECT_EQ(exec("drop table if exists nosuch"), 0);
  EXPECT_EQ(r().odbcerror, "");
  if (pg()) {
    EXPECT_NE(page().find("does not exist, skipping"), std::string::npos);
  }
}

TEST_P(Odbc, StackedStatementsGiveTheFirstResultOnly) {
  if (!pg()) {
    // The SQLite driver refuses them itself.
    EXPECT_EQ(exec("select 1 as x; select 2 as y"), -3);
    EXPECT_NE(r().odbcerror.find("only one SQL statement allowed"), std::string::npos);
    return;
  }
  ASSERT_EQ(exec("select 1 as x; select 2 as y, 3 as z"), 0) << r().odbcerror;
  EXPECT_EQ(r().odbckey, "x^$");
  EXPECT_EQ(r().odbcdata, "1^$");
  ASSERT_EQ(exec("create table t (a integer); insert into t values (7); select a from t"), 0);
  EXPECT_EQ(r().odbckey, "a^$");
  EXPECT_EQ(r().odbcdata, "7^$");
  EXPECT_EQ(exec("select 1 as x; select * from nosuch"), -3);
  EXPECT_NE(r().odbcerror.find("\"nosuch\" does not exist"), std::string::npos) << r().odbcerror;
  EXPECT_FALSE(r().odbcdata.has_value());
}

TEST_P(Odbc, UnknownDataSourceFailsToConnect) {
  EXPECT_EQ(iodbc::kivodbcexec(nullptr, 0, "no_such_source", "select 1"), -2);
  std::string one =
      "The SQL command='select 1'\nproduced this error message from the database.\n"
      " You may check your data and try again to resolve this problem.\n"
      "Msg 0, Level 16, State IM002:\n"
      "[unixODBC][Driver Manager]Data source name not found and no default driver specified\n";
  // Once for the connection text, once for the plain connect.
  EXPECT_EQ(r().odbcerror, one + one);
  EXPECT_FALSE(r().odbcdata.has_value());
  EXPECT_FALSE(r().odbckey.has_value());

  // No data source named is the one named "default", which is not there
  // either; the driver manager does not pick one of its own.
  EXPECT_EQ(iodbc::kivodbcexec(nullptr, 0, "", "select 1"), -2);
  EXPECT_EQ(r().odbcerror, one + one);
}

// The data source's own database wins; one that names none gets the data
// source's name as its database.
TEST_F(PgOdbc, DatabaseOfTheDataSource) {
  ASSERT_EQ(exec("select current_database()"), 0) << r().odbcerror;
  EXPECT_EQ(r().odbcdata, db_ + "^$");
  std::map<std::string, std::string> attrs = kivtest::pg_dsn_attrs("");
  attrs.erase("Database");
  kivtest::OdbcConfig::get().add_dsn(db_, attrs);
  ASSERT_EQ(iodbc::kivodbcexec(nullptr, 0, db_, "select current_database()"), 0) << r().odbcerror;
  kivtest::OdbcConfig::get().remove_dsn(db_);
  EXPECT_EQ(r().odbcdata, db_ + "^$");
}

// A value holding ";" never adds an attribute of its own: the SQLite driver
// reads no braces, so such values go to SQLConnect as they are. psqlodbc
// shows the whole user name in its message; the SQLite driver ignores the
// user and opens the data source's own database.
TEST_P(Odbc, ConnectionValuesCannotAddAttributes) {
  if (pg()) {
    settings().pcodbcuser = "kiv;DATABASE=template1";
    EXPECT_EQ(exec("select current_database()"), -2);
    EXPECT_NE(r().odbcerror.find("role \"kiv;DATABASE=template1\" does not exist"), std::string::npos)
        << r().odbcerror;
    return;
  }
  fs::path other = home_.path() / "other.db";
  settings().pcodbcuser = "kiv;Database=" + other.string();
  ASSERT_EQ(exec("create table only_here (a integer)"), 0) << r().odbcerror;
  for (const auto& e : fs::directory_iterator(home_.path()))
    EXPECT_TRUE(e.path().filename() == "cases.db" || e.path().filename() == "tmp") << e.path();
  settings().pcodbcuser = "";
  ASSERT_EQ(exec("select count(*) as n from only_here"), 0) << r().odbcerror;
  EXPECT_EQ(r().odbcdata, "0^$");
}

// Integer columns give every digit: SQLite keeps 64 bits in them.
TEST_P(Odbc, IntegersKeepAllTheirDigits) {
  ASSERT_EQ(exec("create table kiv_num (n integer, s smallint)"), 0) << r().odbcerror;
  std::vector<std::string> values = {"2147483647", "-2147483648"};
  if (!pg()) values.push_back("9000000000");
  std::string want;
  for (const std::string& v : values) {
    ASSERT_EQ(exec("insert into kiv_num values (" + v + ", -32768)"), 0) << r().odbcerror;
    want += v + "^@-32768^$";
  }
  ASSERT_EQ(exec("select n, s from kiv_num"), 0) << r().odbcerror;
  EXPECT_EQ(r().odbcdata, want);
}

// A call with rows stops the process when its scratch file cannot be made;
// a describe writes no file and runs.
TEST_P(Odbc, ScratchFileThatCannotBeMadeEndsTheProcess) {
  ASSERT_EQ(exec("create table kiv_t (a integer)"), 0) << r().odbcerror;
  fs::remove_all(home_.path() / "tmp");
  ASSERT_EQ(info("select * from kiv_t where 1 = 0"), 0) << r().odbcerror;
  EXPECT_EQ(r().odbcdata, "INT^$");
  EXPECT_EQ(page(), "");
  try {
    exec("select 1");
    FAIL() << "no exit";
  } catch (const Exit& e) {
    EXPECT_EQ(e.status, -1);
  }
  EXPECT_TRUE(page().starts_with("Cannot open tmp file '" + home_.str() + "/tmp/odbcfile.")) << page();
  EXPECT_TRUE(page().ends_with("'. errno=2\n")) << page();
  fs::create_directories(home_.path() / "tmp");
}

TEST_P(Odbc, InterfaceRunsTheOdbcLayerInTheWindowsFlavour) {
  make_cases();
  set_platform(Platform::windows);
  ASSERT_EQ(kivodbcexec(nullptr, 0, dsn_, "select title from kiv_case where id_num = 1"), 0);
  EXPECT_EQ(r().odbcdata, "First^$");
  ASSERT_EQ(kivodbcinfo(nullptr, 15, dsn_, "select id_num from kiv_case"), 0);
  EXPECT_EQ(r().odbcdata, "INT^$");
}

INSTANTIATE_TEST_SUITE_P(Roads, Odbc, ::testing::Values(Road::sqlite, Road::postgres), road_name);

TEST(OdbcConnectText, OnlyPlainValuesGoIntoTheText) {
  struct Case {
    const char* value;
    bool plain;
  } cases[] = {
      {"plain", true}, {"", true},     {"p=w", true},   {"a;b", false},
      {"x}y", false},  {"{z", false},  {" pad", false}, {"pad ", false},
  };
  for (const Case& c : cases) EXPECT_EQ(iodbc::plain_value(c.value), c.plain) << c.value;
  EXPECT_EQ(iodbc::connect_text("src", std::nullopt, std::nullopt, std::nullopt), "DSN=src;PWD=");
  EXPECT_EQ(iodbc::connect_text("src", std::string("u"), std::string("p=w"), std::string("db")),
            "DSN=src;UID=u;PWD=p=w;DATABASE=db");
  EXPECT_EQ(iodbc::connect_text("src", std::string("u"), std::string("p;w"), std::nullopt), std::nullopt);
  EXPECT_EQ(iodbc::connect_text("s}rc", std::nullopt, std::nullopt, std::nullopt), std::nullopt);
}

// A driver whose column description fails: the column keeps its place in
// the key row, the rows and the type row, and the failure is shown.
class OdbcFakeDriver : public kivtest::FakeDriverTest {};

TEST_F(OdbcFakeDriver, ColumnWhoseDescriptionFailsKeepsItsPlace) {
  const DriverResults& r = driver_results();
  ASSERT_EQ(iodbc::kivodbcexec(nullptr, 0, dsn_, "select a, b, c"), 0) << r.odbcerror;
  EXPECT_EQ(r.odbckey, "a^@b^@c^$");
  EXPECT_EQ(r.odbcdata, "1^@two^@3^$");

  std::string message =
      "The SQL command='select a, b, c broken'\nproduced this error message from the database.\n"
      " You may check your data and try again to resolve this problem.\n"
      "Msg 7, Level 16, State S1000:\ncolumn 2 cannot be described\n";
  ASSERT_EQ(iodbc::kivodbcexec(nullptr, 0, dsn_, "select a, b, c broken"), 0) << r.odbcerror;
  EXPECT_EQ(r.odbckey, "a^@^@c^$");
  EXPECT_EQ(r.odbcdata, "1^@two^@3^$");
  EXPECT_EQ(r.odbcerror, message);

  ASSERT_EQ(iodbc::kivodbcinfo(nullptr, 0, dsn_, "select a, b, c broken"), 0) << r.odbcerror;
  EXPECT_EQ(r.odbckey, "a^@^@c^$");
  EXPECT_EQ(r.odbcdata, "INT^@CHAR^@INT^$");
  EXPECT_EQ(r.odbcerror, message);
}
