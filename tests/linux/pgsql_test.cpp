// The PostgreSQL driver against the test cluster (PGHOST, PGPORT, PGUSER):
// each test has a database of its own and leaves no scratch file; and the
// date texts and the describe statement of joins, which need no server.
#include <gtest/gtest.h>

#include <filesystem>

#include "data/dbdriver.h"
#include "data/webhandle_db.h"
#include "linux/pgsql.h"
#include "support/services.h"
#include "support/testsupport.h"
#include "tests/data/odbcconfig.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivsettings.h"

using namespace kiv;
namespace fs = std::filesystem;

namespace {

class Pgsql : public kivtest::KivTest {
 protected:
  void SetUp() override {
    KivTest::SetUp();
    KIV_NEED_SERVICE(kivtest::postgres_missing());
    fs::create_directories(home_.path() / "tmp");
    reqctx().nvhome = home_.str();
    db_ = kivtest::unique_name("kivpq");
    ASSERT_EQ(pgsql::kivodbcexecute(nullptr, 0, "postgres", "create database " + db_), 0)
        << driver_results().odbcerror;
    created_ = true;
  }

  void TearDown() override {
    if (created_) {
      EXPECT_EQ(kivtest::entries_but((home_.path() / "tmp").string(), kOdbcSweepMarker), std::vector<std::string>{})
          << "scratch file left behind";
      pgsql::kivodbcexecute(nullptr, 0, "postgres", "drop database if exists " + db_ + " with (force)");
    }
    KivTest::TearDown();
  }

  int exec(const std::string& sql) { return pgsql::kivodbcexecute(nullptr, 0, db_, sql); }
  int info(const std::string& sql) { return pgsql::kivodbcinfo(nullptr, 0, db_, sql); }
  const DriverResults& r() const { return driver_results(); }

  void make_cases() {
    ASSERT_EQ(exec("create table kiv_case (id_num integer, \"Title\" varchar(80), note text, opened date, "
                   "stamp timestamp, zoned timestamptz, at time, amount float8, ratio real, "
                   "price numeric(10,2), small int2, big int8)"),
              0)
        << r().odbcerror;
    ASSERT_EQ(exec("insert into kiv_case values (1, 'First', NULL, '2001-03-05', '2001-03-05 10:30:00', "
                   "'2001-03-05 10:30:00+00', '10:30:00', 1.5, 0.25, 12.50, 3, 9000000000)"),
              0)
        << r().odbcerror;
    ASSERT_EQ(exec("insert into kiv_case values (2, '', 'x', '1969-07-20', '1969-07-20 20:17:00', "
                   "NULL, '23:05:00', -2.25, 0, 0, -1, 0)"),
              0);
  }

  kivtest::TempDir home_;
  std::string db_;
  bool created_ = false;
  kivtest::ScopedEnv zone_{"PGTZ", "UTC"};  // time stamps with a zone read in UTC
};

const char* kCaseKeys = "id_num^@Title^@note^@opened^@stamp^@zoned^@at^@amount^@ratio^@price^@small^@big^$";

}  // namespace

TEST_F(Pgsql, InsertGivesEmptyDataAndSelectGivesRowsWithNamesInTheirCase) {
  make_cases();
  EXPECT_EQ(r().odbcdata, "");
  EXPECT_FALSE(r().odbckey.has_value());
  EXPECT_EQ(r().odbcerror, "");

  ASSERT_EQ(exec("select * from kiv_case order by id_num"), 0) << r().odbcerror;
  EXPECT_EQ(r().odbckey, kCaseKeys);
  // Dates come in the server's Postgres style: time-stamps read as the date
  // and the time of day, plain dates as the date. NULL and empty texts
  // both read "^^".
  EXPECT_EQ(r().odbcdata,
            "1^@First^@^^^@03/05/2001^@3/05/2001 10:30:00^@3/05/2001 10:30:00^@10:30:00^@1.5^@0.25^@12.50^@3^@"
            "9000000000^$"
            "2^@^^^@x^@07/20/1969^@7/20/1969 20:17:00^@^^^@23:05:00^@-2.25^@0^@0.00^@-1^@0^$");

  ASSERT_EQ(exec("select id_num from kiv_case where id_num = 99"), 0);
  EXPECT_EQ(r().odbckey, "id_num^$");
  EXPECT_EQ(r().odbcdata, "");
}

// The dates keep the form touserdate reads when the environment asks the
// server for another style.
TEST_F(Pgsql, DatesKeepTheirFormWhateverTheEnvironmentAsks) {
  make_cases();
  for (const char* style : {"ISO, YMD", "Postgres, DMY", "SQL, DMY"}) {
    kivtest::ScopedEnv env("PGDATESTYLE", style);
    ASSERT_EQ(exec("select opened, stamp, zoned from kiv_case where id_num = 1"), 0) << r().odbcerror;
    EXPECT_EQ(r().odbcdata, "03/05/2001^@3/05/2001 10:30:00^@3/05/2001 10:30:00^$") << style;
  }
}

// A time stamp reads in the configured order with its time of day, a date in
// that order too, and the server takes the time stamp's text back as the same moment: a case read, then stored
// again, keeps when it happened.
TEST_F(Pgsql, TimeStampsKeepTheirTimeInTheConfiguredOrder) {
  make_cases();
  ASSERT_EQ(exec("insert into kiv_case (id_num, stamp) values (3, '2001-03-05 00:00:00'), "
                 "(4, '2001-03-05 23:59:59.75')"),
            0)
      << r().odbcerror;
  struct Case {
    const char* dateformat;
    const char* rows;
  } cases[] = {
      {"", "03/05/2001^@3/05/2001 10:30:00^$^^^@3/05/2001^$^^^@3/05/2001 23:59:59^$"},
      {"dmy", "05/03/2001^@05/3/2001 10:30:00^$^^^@05/3/2001^$^^^@05/3/2001 23:59:59^$"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dateformat);
    settings().dateformat = c.dateformat;
    ASSERT_EQ(exec("select opened, stamp from kiv_case where id_num in (1, 3, 4) order by id_num"), 0)
        << r().odbcerror;
    EXPECT_EQ(r().odbcdata, c.rows);
  }
  settings().dateformat = "";
  ASSERT_EQ(exec("select stamp from kiv_case where id_num = 1"), 0);
  const std::string read = r().odbcdata->substr(0, r().odbcdata->size() - 2);
  ASSERT_EQ(exec("insert into kiv_case (id_num, stamp) values (5, '" + read + "')"), 0) << r().odbcerror;
  ASSERT_EQ(exec("select count(*) as n from kiv_case where id_num = 5 and stamp = '2001-03-05 10:30:00'"), 0);
  EXPECT_EQ(r().odbcdata, "1^$");
}

TEST_F(Pgsql, DescribeGivesOneRowOfTypeNames) {
  make_cases();
  ASSERT_EQ(info("select * from kiv_case"), 0) << r().odbcerror;
  EXPECT_EQ(r().odbckey, kCaseKeys);
  EXPECT_EQ(r().odbcdata,
            "INT^@CHAR^@CHAR^@DATE_TIME^@DATE_TIME^@DATE_TIME^@DATE_TIME^@FLOAT^@FLOAT^@CHAR^@INT^@CHAR^$");

  // A join with a condition is described without its rows.
  ASSERT_EQ(exec("create table kiv_log (id_num integer, line text)"), 0);
  ASSERT_EQ(exec("insert into kiv_log values (1, 'l')"), 0);
  reqctx().kivdebug = 1;
  ASSERT_EQ(info("select kiv_case.id_num, line from kiv_case,kiv_log where kiv_case.id_num=kiv_log.id_num "
                 "and line='l'"),
            0)
      << r().odbcerror;
  EXPECT_EQ(r().odbckey, "id_num^@line^$");
  EXPECT_EQ(r().odbcdata, "INT^@CHAR^$");

  // A statement that does not run gives -1 and no error text.
  EXPECT_EQ(info("select * from nosuch"), -1);
  EXPECT_EQ(r().odbcerror, "");
  EXPECT_FALSE(r().odbcdata.has_value());
}

TEST_F(Pgsql, FailuresGiveTheLibraryMessage) {
  EXPECT_EQ(exec("select * from nosuch"), -1);
  EXPECT_EQ(r().odbcerror,
            "ERROR:  relation \"nosuch\" does not exist\nLINE 1: select * from nosuch\n"
            "                      ^\n");
  EXPECT_FALSE(r().odbcdata.has_value());

  EXPECT_EQ(pgsql::kivodbcexecute(nullptr, 0, "nosuch_db", "select 1"), -1);
  std::string socket = std::string(std::getenv("PGHOST")) + "/.s.PGSQL." +
                       (std::getenv("PGPORT") ? std::getenv("PGPORT") : "5432");
  const std::string refused = "Connection to database failed:connection to server on socket \"" + socket +
                              "\" failed: FATAL:  database \"nosuch_db\" does not exist\n";
  EXPECT_EQ(r().odbcerror, refused);
  EXPECT_EQ(pgsql::kivodbcinfo(nullptr, 0, "nosuch_db", "select 1"), -1);
  EXPECT_EQ(r().odbcerror, refused);
  EXPECT_FALSE(r().odbcdata.has_value());

  // The error text keeps to its size.
  EXPECT_EQ(exec("do $$ begin raise exception '%', repeat('x', 8000); end $$"), -1);
  EXPECT_EQ(r().odbcerror.size(), kOdbcErrorSize - 1);
  EXPECT_TRUE(r().odbcerror.starts_with("ERROR:  xxxx"));
}

TEST_F(Pgsql, OneStatementPerCall) {
  ASSERT_EQ(exec("create table t (a integer)"), 0);
  EXPECT_EQ(exec("insert into t values (1); insert into t values (2)"), -1);
  EXPECT_EQ(r().odbcerror, "ERROR:  cannot insert multiple commands into a prepared statement\n");
  ASSERT_EQ(exec("select count(*) as n from t"), 0);
  EXPECT_EQ(r().odbcdata, "0^$");
}

TEST_F(Pgsql, DatabaseNamesThatAreConnectionTextsAreRefused) {
  for (const char* name : {"dbname=postgres", "host=/tmp dbname=postgres", "postgresql:///postgres",
                           "postgres://localhost/postgres"}) {
    EXPECT_EQ(pgsql::kivodbcexecute(nullptr, 0, name, "select 1"), -1) << name;
    EXPECT_EQ(r().odbcerror, std::string("Connection to database failed:'") + name + "' is not a database name\n");
    EXPECT_FALSE(r().odbcdata.has_value());
  }
}

TEST_F(Pgsql, InterfaceRunsThisDriverInTheLinuxFlavour) {
  set_platform(Platform::linux);
  pgsql::use_pgsql_driver();
  ASSERT_EQ(kivodbcexec(nullptr, 0, db_, "select 'a' as \"Key\""), 0);
  EXPECT_EQ(r().odbckey, "Key^$");
  EXPECT_EQ(r().odbcdata, "a^$");
  ASSERT_EQ(kivodbcinfo(nullptr, 0, db_, "select 1.5::float8 as f"), 0);
  EXPECT_EQ(r().odbcdata, "FLOAT^$");
}

TEST(PgsqlDates, Touserdate) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"Thu Mar 01 10:00:00 2001 PST", "3/01/2001 10:00:00"},
      {"Thu Mar 01 10:00:00 2001", "3/01/2001 10:00:00"},  // timestamp without zone
      {"Thu Mar 01 10:00:00.125 2001", "3/01/2001 10:00:00"},
      {"Thu Mar 01 00:00:00 2001 UTC", "3/01/2001"},
      {"thu DECEMBER 24 23:59:59 1999 UTC", "12/24/1999 23:59:59"},
      {"Thu Xyz 01 10:00:00 2001", "13/01/2001 10:00:00"},
      {"Invalid Abstime", "^^"},
      {"2001-03-01", "2001-03-01"},
      {"03-01-2001", "03/01/2001"},  // a date column
      {"03-01-01", "03-01-01"},
      {"Thu Mar 01 10:00:00", "Thu Mar 01 10:00:00"},
      {"", ""},
  };
  for (const Case& c : cases) {
    std::string d = c.in;
    EXPECT_EQ(pgsql::touserdate(d), c.out) << c.in;
  }
  std::string huge = "Thu Mar " + std::string(5000, '1') + " 10:00:00 2001";
  EXPECT_EQ(pgsql::touserdate(huge), "3/" + std::string(5000, '1') + "/2001 10:00:00");
  // The day first under the "dmy" date format.
  settings().dateformat = "dmy";
  std::string dmy = "Thu Mar 01 10:00:00 2001 PST";
  EXPECT_EQ(pgsql::touserdate(dmy), "01/3/2001 10:00:00");
  std::string plain = "03-01-2001";
  EXPECT_EQ(pgsql::touserdate(plain), "01/03/2001");
  settings().dateformat = "";
}

TEST(PgsqlDescribe, JoinsGetAConditionOnTheFirstTable) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"select * from a,b where a.x=b.x and a.y=1", "select * from a,b where a.x=b.x and a.y=1 and a.id_num=0"},
      {"select * from a,b where a.x=b.x", "select * from a,b where a.x=b.x"},
      {"select * from a where x=1 and y=2", "select * from a where x=1 and y=2"},
      {"select * from standard", "select * from standard"},
      {"select a, b from t and", "select a, b from t and"},
      // The generator's describe of a join reads no rows already.
      {"select * from a,b where (a.x=b.x) and 1 = 0", "select * from a,b where (a.x=b.x) and 1 = 0"},
  };
  for (const Case& c : cases) EXPECT_EQ(pgsql::infostatement(c.in), c.out) << c.in;
}
