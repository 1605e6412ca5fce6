// The database handles on a road to a database: add, find, modify and delete
// round trips into the sample schema, with the id each add draws, a list of
// tables, a row-number column, duplicate rows, a driver failure, one
// connection per operation, an add's statements on a full table, and many
// processes adding at once. A suite instantiates the cases for the roads its
// programs take (the data suite the two ODBC roads, the Linux suite libpq).
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "data/dbdriver.h"
#include "data/webhandle_db_ops.h"
#include "tests/data/dbroad.h"
#include "toolkit/base/kivlock.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/text/rowcol.h"

namespace kivtest {
namespace {

using namespace ::kiv;

class Handles : public DbRoadTest, public ::testing::WithParamInterface<Road> {
 protected:
  Handles() : DbRoadTest(GetParam()) {}

  void SetUp() override {
    DbRoadTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    for (const std::string& s : schema_statements()) exec(s);
    settings().mssqlflag = 1;
  }

  int add(const std::string& data, const std::string& table = "cases") {
    packet p{data, kAddKeys};
    addhandle h;
    h.rec = &p;
    h.host = "dbhost";
    h.database = dsn_;
    h.table = table;
    return handle_add(h);
  }

  findreply find(const std::string& keys, const std::string& criteria, std::optional<std::string> order = " ") {
    packet p{criteria, keys};
    findhandle h;
    h.rec = &p;
    h.database = dsn_;
    h.table = "cases";
    h.order = std::move(order);
    findreply r = handle_find(h);
    EXPECT_TRUE(h.copy.has_value());
    if (h.copy) {
      EXPECT_EQ(h.copy->data, criteria);
    }
    return r;
  }

  // A date as the road reads it back: the ODBC layer with two digits for the
  // month, the libpq driver (the server's "Postgres" style turned round) with
  // as many as it needs.
  std::string shown_date(int month, int day, int year) const {
    return sformat(libpq() ? "%d/%02d/%d" : "%02d/%02d/%d", month, day, year);
  }

  static std::string value(const findreply& r, const std::string& column, int row = 1) {
    return getvaluebykey(getrow(r.data.value_or(""), row).value_or(""), r.keys.value_or(""), column)
        .value_or("(none)");
  }

  // The statements a traced run sent through the driver interface, in order.
  static std::vector<std::string> traced_statements(const std::string& page) {
    std::vector<std::string> found;
    for (const char* head : {"<PRE>\nkivodbcexec statement='", "<PRE>\nkivodbcinfo statement='"}) {
      for (size_t at = page.find(head); at != std::string::npos; at = page.find(head, at + 1)) {
        const size_t start = at + std::strlen(head);
        const size_t end = page.find("'\n</PRE>", start);
        if (end == std::string::npos) break;
        found.push_back(unescape(page.substr(start, end - start)));
      }
    }
    return found;
  }

  static std::string unescape(std::string text) {
    const std::pair<const char*, const char*> refs[] = {
        {"&#34;", "\""}, {"&#39;", "'"}, {"&#60;", "<"}, {"&#62;", ">"}, {"&#38;", "&"}};
    for (const auto& [ref, ch] : refs)
      for (size_t p = text.find(ref); p != std::string::npos; p = text.find(ref, p + 1)) text.replace(p, 5, ch);
    return text;
  }

  static constexpr const char* kAddKeys =
      "case_num^@status^@submitted_by^@title^@problem^@date_open^@date_first_sent_by_user^$";
};

TEST_P(Handles, AddFindModifyDeleteRoundTrip) {
  ASSERT_EQ(add("C-1^@Open^@ann^@Printer jam^@It's stuck^@3/5/2001^@3/5/2001^$"), 0) << page();
  ASSERT_EQ(add("C-2^@Closed^@bob^@Network down^@^^^@3/9/2001^@^^^$"), 0) << page();
  // An empty table gives id 1, the next add its maximum plus one.
  EXPECT_EQ(rows("select id_num, case_num from cases order by id_num"), "1^@C-1^$2^@C-2^$");

  std::string keys = "id_num^@case_num^@title^@date_open^$";
  findreply r = find(keys, "^^^@^^^@Printer^@^^^$");
  ASSERT_EQ(r.errflag, 0) << page();
  EXPECT_EQ(getrowcount(r.data.value_or("")), 1);
  EXPECT_EQ(value(r, "id_num"), "1");
  EXPECT_EQ(value(r, "problem"), "It's stuck");
  EXPECT_EQ(value(r, "resolution"), "");
  EXPECT_EQ(value(r, "date_open"), shown_date(3, 5, 2001));

  findreply all = find(keys, "1--2^@^^^@^^^@^^^$", "case_num desc");
  EXPECT_EQ(value(all, "case_num", 1), "C-2");
  EXPECT_EQ(value(all, "case_num", 2), "C-1");
  // (SQLite keeps dates as text and compares them so.)
  findreply dates = find(keys, "^^^@^^^@^^^@3/6/2001--3/9/2001^$");
  EXPECT_EQ(value(dates, "case_num"), "C-2");

  findreply nothing = find(keys, "^^^@==C-9^@^^^@^^^$");
  EXPECT_EQ(nothing.errflag, 0);
  EXPECT_FALSE(nothing.data.has_value());
  EXPECT_FALSE(nothing.keys.has_value());

  // The row as read selects the row; an empty value clears its column, and
  // the first sending date never changes.
  packet old{*r.data, *r.keys};
  // The date goes back as the find showed it.
  packet changed{"O'Reilly's printer^@^^^@1/1/1999^@Pending^@" + value(r, "date_open") + "^$",
                 "title^@problem^@date_first_sent_by_user^@status^@date_open^$"};
  modifyhandle m;
  m.database = dsn_;
  m.table = "cases";
  m.all = &old;
  m.new_ = &changed;
  ASSERT_EQ(handle_modify(m), 0) << page();
  EXPECT_EQ(old.data, *r.data);
  EXPECT_EQ(rows("select id_num, title, problem, status, date_first_sent_by_user, date_open "
                 "from cases order by id_num"),
            "1^@O'Reilly's printer^@^^^@Pending^@" + shown_date(3, 5, 2001) + "^@" + shown_date(3, 5, 2001) +
                "^$2^@Network down^@^^^@Closed^@^^^@" + shown_date(3, 9, 2001) + "^$");

  packet gone{"2^@C-2^$", "id_num^@case_num^$"};
  deletehandle d;
  d.database = dsn_;
  d.table = "cases";
  d.rec = &gone;
  ASSERT_EQ(handle_delete(d), 0) << page();
  EXPECT_EQ(rows("select id_num from cases"), "1^$");

  // A delete whose criteria are all empty is refused, not run on every row.
  packet blank{"^^^@^^^$", "id_num^@case_num^$"};
  d.rec = &blank;
  clear_output();
  EXPECT_EQ(handle_delete(d), 1);
  EXPECT_EQ(page(),
            "<PRE>\nRefused delete from cases without a condition\n</PRE>\n"
            "<PRE>\nDelete Error:\nCan&#39;t generate query -3\n</PRE>\n");
  EXPECT_EQ(rows("select id_num from cases"), "1^$");
}

// A time stamp of a month's last day with a time of day lies in a range that
// ends at that day's last second, and it is read with its time: written back
// as read, it keeps its moment.
TEST_P(Handles, TimeStampsKeepTheirTimeThroughFindAndModify) {
  ASSERT_EQ(add("C-1^@Open^@ann^@Late^@p^@3/31/2001 15:00^@^^^$"), 0) << page();
  ASSERT_EQ(add("C-2^@Open^@bob^@Next^@p^@4/1/2001^@^^^$"), 0) << page();
  ASSERT_EQ(add("C-3^@Open^@carl^@First^@p^@3/1/2001^@^^^$"), 0) << page();
  const std::string keys = "id_num^@case_num^@title^@date_open^$";
  findreply month = find(keys, "^^^@^^^@^^^@3/1/2001--3/31/2001 23:59:59^$", "case_num");
  ASSERT_EQ(month.errflag, 0) << page();
  ASSERT_EQ(getrowcount(month.data.value_or("")), 2) << month.data.value_or("");
  EXPECT_EQ(value(month, "case_num", 1), "C-1");
  EXPECT_EQ(value(month, "case_num", 2), "C-3");
  const std::string late = shown_date(3, 31, 2001) + " 15:00:00";
  EXPECT_EQ(value(month, "date_open", 1), late);
  EXPECT_EQ(value(month, "date_open", 2), shown_date(3, 1, 2001));

  packet old{*getrow(*month.data, 1), *month.keys};
  packet changed{"Later^@" + late + "^$", "title^@date_open^$"};
  modifyhandle m;
  m.database = dsn_;
  m.table = "cases";
  m.all = &old;
  m.new_ = &changed;
  ASSERT_EQ(handle_modify(m), 0) << page();
  EXPECT_EQ(rows("select title, date_open from cases where case_num = 'C-1'"), "Later^@" + late + "^$");
}

TEST_P(Handles, InjectionThroughValuesIsRefused) {
  ASSERT_EQ(add("C-1^@Open^@ann^@t^@p^@3/5/2001^@^^^$"), 0) << page();
  ASSERT_EQ(add("C-2^@Open^@bob^@t^@p^@3/5/2001^@^^^$"), 0) << page();
  // The value of the old row is no condition of its own.
  packet old{"1 or 1=1^$", "id_num^$"}, changed{"hacked^$", "title^$"};
  modifyhandle m;
  m.database = dsn_;
  m.table = "cases";
  m.all = &old;
  m.new_ = &changed;
  EXPECT_EQ(handle_modify(m), 1);
  findreply r = find("id_num^$", "1) or (1=1");
  EXPECT_EQ(r.errflag, 1);
  EXPECT_EQ(add("C-3^@Open^@x^@t^@p^@3/5/2001'); delete from cases; --^@^^^$"), 1);
  // Text travels quoted whatever it holds.
  ASSERT_EQ(add("C-4^@Open^@x^@'); delete from cases; --^@p^@^^^@^^^$"), 0) << page();
  EXPECT_EQ(rows("select id_num, title from cases order by id_num"),
            "1^@t^$2^@t^$3^@'); delete from cases; --^$");
}

TEST_P(Handles, ListOfTablesGivesEachItsOwnId) {
  exec("create table cases_copy (id_num integer, case_num varchar(40), title varchar(255))");
  exec("insert into cases_copy (id_num, case_num) values (41, 'old')");
  ASSERT_EQ(add("C-1^@Open^@ann^@Copied^@p^@^^^@^^^$", "cases,cases_copy"), 0) << page();
  EXPECT_EQ(rows("select id_num, title from cases"), "1^@Copied^$");
  EXPECT_EQ(rows("select id_num, title from cases_copy order by id_num"), "41^@^^^$42^@Copied^$");
  // A later table that fails leaves the earlier row in place.
  EXPECT_EQ(add("C-2^@Open^@ann^@Twice^@p^@^^^@^^^$", "cases,nosuch"), 1);
  EXPECT_EQ(rows("select id_num, title from cases order by id_num"), "1^@Copied^$2^@Twice^$");
}

TEST_P(Handles, RowNumberColumnDrawsNoId) {
  ASSERT_EQ(add("C-1^@Open^@ann^@t^@p^@^^^@^^^$"), 0);
  settings().row_number = "case_num";
  settings().row_number_value = "C-2";
  reqctx().kivdebug = 1;
  ASSERT_EQ(add("C-2^@Open^@ann^@t^@p^@^^^@^^^$"), 0);
  EXPECT_EQ(page().find("max ("), std::string::npos);
  // The id of the earlier add is not written again.
  EXPECT_EQ(rows("select id_num, case_num from cases order by case_num"), "1^@C-1^$^^^@C-2^$");
}

TEST_P(Handles, DuplicateRowIsExplained) {
  exec("create table uniq (id_num integer, case_num varchar(40) unique)");
  ASSERT_EQ(add("C-1^@Open^@ann^@t^@p^@^^^@^^^$", "uniq"), 0);
  clear_output();
  EXPECT_EQ(add("C-1^@Open^@ann^@t^@p^@^^^@^^^$", "uniq"), 1);
  std::string p = page();
  // The detail is the driver's: the ODBC layer shows the statement and its
  // code, the libpq driver the server's message.
  const std::string detail = libpq() ? "ERROR:  duplicate key value violates unique constraint"
                                     : "The SQL command=&#39;insert into uniq (id_num, case_num) "
                                       "values (2, &#39;C-1&#39;)&#39;\n";
  EXPECT_TRUE(p.starts_with("<PRE>\nThe entry you have attempted to create already exists.</PRE>\n"
                            "<PRE>\nPlease change your information and try again.</PRE>\n"
                            "<PRE>\nThe detailed error message is shown below:</PRE>\n"
                            "<PRE>\nhandle_add:Insert Error:\n" +
                            detail))
      << p;
  EXPECT_TRUE(p.ends_with(libpq() ? " -1</PRE>\n" : " -3</PRE>\n")) << p;
}

TEST_P(Handles, DriverFailureCarriesTheDriversText) {
  dberr e = db_add("", 0, "no_such_source", "cases", "C-1^$", "case_num^$");
  EXPECT_EQ(e.code, libpq() ? -1 : -2);
  EXPECT_EQ(e.msg, driver_results().odbcerror);
  EXPECT_NE(e.msg->find(libpq() ? "database \"no_such_source\" does not exist" : "Data source name not found"),
            std::string::npos)
      << e.msg.value_or("(none)");
  EXPECT_FALSE(e.hint.has_value());
}

// A record operation runs its describe and its statements on one connection
// (an add's maximum too, for every table of its list); a lone statement
// connects for itself.
TEST_P(Handles, EachOperationConnectsOnce) {
  exec("create table cases_copy (id_num integer, case_num varchar(40), title varchar(255))");
  auto connections = [](const std::function<void()>& step) {
    const long before = driver_connections().opened;
    step();
    return driver_connections().opened - before;
  };
  EXPECT_EQ(connections([&] { EXPECT_EQ(add("C-1^@Open^@ann^@t^@p^@^^^@^^^$"), 0) << page(); }), 1);
  EXPECT_EQ(connections([&] { EXPECT_EQ(add("C-2^@Open^@ann^@t^@p^@^^^@^^^$", "cases,cases_copy"), 0); }), 1);
  findreply found;
  EXPECT_EQ(connections([&] { found = find("id_num^$", "1^$"); }), 1);
  ASSERT_TRUE(found.data.has_value()) << page();
  packet old{*found.data, *found.keys}, changed{"New title^$", "title^$"};
  modifyhandle m;
  m.database = dsn_;
  m.table = "cases";
  m.all = &old;
  m.new_ = &changed;
  EXPECT_EQ(connections([&] { EXPECT_EQ(handle_modify(m), 0) << page(); }), 1);
  packet gone{"2^$", "id_num^$"};
  deletehandle d;
  d.database = dsn_;
  d.table = "cases";
  d.rec = &gone;
  EXPECT_EQ(connections([&] { EXPECT_EQ(handle_delete(d), 0) << page(); }), 1);
  EXPECT_EQ(connections([&] {
              rows("select id_num from cases");
              rows("select id_num from cases_copy");
            }),
            2);
  EXPECT_FALSE(connection_shared());
  EXPECT_EQ(rows("select id_num, title from cases"), "1^@New title^$");
  // A failed call does not leave its connection to the next.
  EXPECT_EQ(connections([&] { EXPECT_EQ(add("C-3^@Open^@ann^@t^@p^@^^^@^^^$", "cases,nosuch"), 1); }), 2);
  EXPECT_EQ(rows("select count(*) from cases"), "2^$");
}

// The statements of an add read no more rows of a table of many cases than
// of an empty one: the describe reads none, the maximum one.
TEST_P(Handles, AddStatementsReadNoRowsOfTheTable) {
  std::string values;
  for (int i = 1; i <= 300; ++i) values += sformat("%s(%d, 'X-%d')", i > 1 ? ", " : "", i, i);
  exec("insert into cases (id_num, case_num) values " + values);
  reqctx().kivdebug = 1;
  clear_output();
  ASSERT_EQ(add("C-1^@Open^@ann^@t^@p^@^^^@^^^$"), 0) << page();
  reqctx().kivdebug = 0;
  std::vector<std::string> selects;
  for (const std::string& s : traced_statements(page()))
    if (s.starts_with("select")) selects.push_back(s);
  // The describe and the maximum.
  ASSERT_EQ(selects.size(), 2u) << page();
  for (const std::string& s : selects) {
    const std::string got = rows(s);
    EXPECT_FALSE(got.starts_with("FAILED")) << s << ": " << got;
    EXPECT_LE(getrowcount(got), 1) << s;
  }
  EXPECT_EQ(rows("select id_num from cases where case_num = 'C-1'"), "301^$");
}

// Many processes add at once: each row gets an id of its own. The lock
// guards only the draw of the id and the insert: while it is held, every
// add gets as far as its own connection and its table's description.
TEST_P(Handles, ConcurrentAddsDrawDistinctIds) {
  constexpr int kProcesses = 12;
  FileLock held;
  ASSERT_TRUE(held.acquire(idnum_lockfile()));
  std::vector<pid_t> children;
  for (int i = 1; i <= kProcesses; ++i) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int rc = add("C-" + std::to_string(i) + "^@Open^@ann^@t^@p^@^^^@^^^$");
      ::_exit(rc);
    }
    children.push_back(pid);
  }
  if (pg()) {
    // Each waits for the lock on a connection of its own.
    const std::string waiting =
        "select count(*) from pg_stat_activity where datname = '" + db_ + "' and pid <> pg_backend_pid()";
    std::string count;
    for (int tries = 0; tries < 600 && count != std::to_string(kProcesses) + "^$"; ++tries) {
      if (tries) ::usleep(100 * 1000);
      ASSERT_EQ(kivodbcexec(nullptr, 0, admin_, waiting), 0) << driver_results().odbcerror;
      count = driver_results().odbcdata.value_or("");
    }
    EXPECT_EQ(count, std::to_string(kProcesses) + "^$") << "adds that wait for the lock before they connect";
  }
  // The children share the lock's open file: unlock, not only close it.
  held.unlock();
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  std::string expected;
  for (int i = 1; i <= kProcesses; ++i) expected += std::to_string(i) + "^$";
  EXPECT_EQ(rows("select id_num from cases order by id_num"), expected);
  EXPECT_EQ(rows("select count(distinct case_num) from cases"), std::to_string(kProcesses) + "^$");
}


}  // namespace
}  // namespace kivtest
