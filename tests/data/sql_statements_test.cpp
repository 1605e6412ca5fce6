// The four statements, byte for byte, for each database type, from tables
// described by a real SQLite and a real PostgreSQL database; the select forms
// with joins, distinct lists and orders; the update and delete row
// selections and their refusals. SQLite gets its dates as ISO text whatever
// the database type, PostgreSQL each type's own form. The statements valid
// in the database are run there too.
#include <gtest/gtest.h>

#include "data/sql_pars.h"
#include "tests/data/dbroad.h"
#include "toolkit/base/kivcontext.h"

using namespace kiv;

namespace {

// The key row names its columns in another order than the table, and one
// column the table lacks.
const char* kKeys = "title^@nosuch^@case_num^@amount^@opened^@date_first_sent_by_user^@date_closed^@id_num^$";

class Statements : public kivtest::DbRoadTest, public ::testing::WithParamInterface<kivtest::Road> {
 protected:
  Statements() : DbRoadTest(GetParam()) {}

  // A date as the statement writes it: the database type's form, or on
  // SQLite the ISO text.
  std::string date(const std::string& form, const std::string& iso) const { return pg() ? form : iso; }

  void SetUp() override {
    DbRoadTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    exec("create table cases (id_num integer, case_num varchar(20), title varchar(80), amount float, "
         "opened date, date_first_sent_by_user varchar(20), date_closed varchar(20))");
    exec("create table log (id_num integer, line varchar(80))");
    exec("create table notes (line varchar(80))");
  }

  std::string insert(const std::string& data) {
    if (gen_insert_query(dsn_, "cases", data, kKeys) != 0) return "FAILED";
    return sqlbuf().query;
  }
  std::string select(const std::string& table, const std::string& criteria,
                     const std::optional<std::string>& order = std::nullopt) {
    if (int rc = gen_retrieve_query(dsn_, table, criteria, kKeys, order); rc != 0) return "FAILED " + std::to_string(rc);
    return sqlbuf().query;
  }
  std::string update(const std::string& table, const std::string& alldata, const std::string& allkeys,
                     const std::string& newdata, const std::string& newkeys) {
    if (int rc = gen_modify_query(dsn_, table, alldata, allkeys, newdata, newkeys); rc != 0)
      return "FAILED " + std::to_string(rc);
    return sqlbuf().query;
  }
  std::string remove(const std::string& data, const std::string& keys) {
    if (int rc = gen_delete_query(dsn_, "cases", data, keys); rc != 0) return "FAILED " + std::to_string(rc);
    return sqlbuf().query;
  }
};

}  // namespace

TEST_P(Statements, InsertForEachDatabaseType) {
  sqlbuf().idnum = "7";
  // title, nosuch, case_num, amount, opened, date_first_sent_by_user, date_closed, id_num
  std::string data = "O'Brien|x^@ignored^@C-1^@2.5^@3/5/2001^@3/1/2001^@^^^@99^$";
  const char* cols = "insert into cases (id_num, case_num, title, amount, opened, date_first_sent_by_user) values ";
  struct Case {
    int flag;
    std::string values, dates;  // the dates: the database type's form
  } cases[] = {
      {0, "('7', 'C-1', 'O''Brien0x7Cx', '2.5', ", "'3/5/2001', '3/1/2001')"},
      {1, "(7, 'C-1', 'O''Brien|x', 2.5, ", "'3/5/2001', '3/1/2001')"},
      {2, "(7, 'C-1', 'O''Brien|x', 2.5, ", "'5-MAR-1', '1-MAR-1')"},
      {3, "(7, 'C-1', 'O''Brien|x', 2.5, ", "'Mar 5 2001', 'Mar 1 2001')"},
      {4, "(7, 'C-1', 'O''Brien|x', 2.5, ", "'3/5/2001', '3/1/2001')"},
  };
  for (const Case& c : cases) {
    settings().mssqlflag = c.flag;
    EXPECT_EQ(insert(data), cols + c.values + date(c.dates, "'2001-03-05', '2001-03-01')")) << c.flag;
    if (c.flag <= 1) exec(sqlbuf().query);
  }
  // SQLite orders the dates it was given as dates.
  if (!pg()) {
    EXPECT_EQ(rows("select opened from cases where opened between '2001-03-01' and '2001-03-31'"),
              "03/05/2001^$03/05/2001^$");
  }
  EXPECT_EQ(rows("select id_num, title from cases order by title"), "7^@O'Brien0x7Cx^$7^@O'Brien|x^$");

  // No id drawn: the column is left out, not written empty. An empty date
  // leaves its column out too.
  settings().mssqlflag = 1;
  sqlbuf().idnum.clear();
  EXPECT_EQ(insert("t^@^@C-2^@^^^@ ^@^^^@^^^@^^^$"), "insert into cases (case_num, title) values ('C-2', 't')");
  // ORACLE's empty date is no value.
  settings().mssqlflag = 2;
  EXPECT_EQ(insert("t^@^@C-2^@^^^@00/00/00^@^^^@^^^@^^^$"), "insert into cases (case_num, title) values ('C-2', 't')");
}

TEST_P(Statements, InsertRefusesValuesThatAreNotOfTheirType) {
  settings().mssqlflag = 1;
  sqlbuf().idnum = "1";
  sqlbuf().query = "untouched";
  EXPECT_EQ(insert("t^@^@C-1^@1); drop table cases; --^@^^^@^^^@^^^@^^^$"), "FAILED");
  EXPECT_EQ(insert("t^@^@C-1^@^^^@3/5/2001'); drop table cases; --^@^^^@^^^@^^^$"), "FAILED");
  // A date that is none is not silently dropped from the row either.
  EXPECT_EQ(insert("t^@^@C-1^@^^^@someday^@^^^@^^^@^^^$"), "FAILED");
  settings().mssqlflag = 2;
  EXPECT_EQ(insert("t^@^@C-1^@^^^@13/5/2001^@^^^@^^^@^^^$"), "FAILED");
  EXPECT_EQ(sqlbuf().query, "untouched");
  EXPECT_NE(page().find("Bad date 'someday' for column opened"), std::string::npos) << page();
  EXPECT_NE(page().find("Bad date '13/5/2001' for column opened"), std::string::npos) << page();
  EXPECT_NE(page().find("Bad number '1); drop table cases; --' for column amount"), std::string::npos) << page();
  EXPECT_NE(page().find("Bad date '3/5/2001&#39;); drop table cases; --' for column opened"), std::string::npos)
      << page();
}

TEST_P(Statements, SelectFormsWithJoinDistinctAndOrder) {
  settings().mssqlflag = 1;
  // title, nosuch, case_num, amount, opened, date_first_sent_by_user, date_closed, id_num
  std::string crit = "smith^@x^@==C-1^@^^^@3/5/2001--3/9/2001^@^^^@^^^@^^^$";
  std::string cond = "(( case_num = 'C-1' )) and (( title LIKE '%smith%' )) and "
                     "(( opened between " +
                     date("'3/5/2001' and '3/9/2001'", "'2001-03-05' and '2001-03-09'") + " ))";
  std::string none = "^@^@^^^@ ^@^@^@^@^^^$";
  EXPECT_EQ(select("cases", crit), "select * from cases where " + cond);
  EXPECT_EQ(select("cases", crit, "case_num desc, id_num"), "select * from cases where " + cond +
                                                                 " order by case_num desc, id_num");
  EXPECT_EQ(select("cases", crit, " case_num"), "select * from cases where " + cond);
  EXPECT_EQ(select("cases", crit, ""), "select * from cases where " + cond);
  EXPECT_EQ(select("cases", none), "select * from cases  ");
  EXPECT_EQ(select("cases", none, "id_num"), "select * from cases   order by id_num");
  exec(select("cases", crit, "case_num desc"));
  exec(select("cases", none));

  settings().join_condition = "cases.id_num=log.id_num";
  EXPECT_EQ(select("cases,log", crit), "select * from cases,log where " + cond + " and cases.id_num=log.id_num");
  EXPECT_EQ(select("cases,log", none, "line"), "select * from cases,log where cases.id_num=log.id_num order by line");
  settings().distinct_condition = "cases.case_num, line";
  EXPECT_EQ(select("cases,log", crit, "line"),
            "select distinct cases.case_num, line from cases,log where " + cond +
                " and cases.id_num=log.id_num order by line");
  EXPECT_EQ(select("cases,log", none),
            "select distinct cases.case_num, line from cases,log where cases.id_num=log.id_num");
  exec(select("cases,log", none, "line"));

  // Configured names are checked too.
  EXPECT_EQ(select("cases,log", none, "line; drop table cases"), "FAILED -2");
  settings().distinct_condition = "(select 1)";
  EXPECT_EQ(select("cases,log", none), "FAILED -2");
  settings().distinct_condition.reset();
  settings().join_condition = "1=1; drop table cases";
  EXPECT_EQ(select("cases,log", none), "FAILED -1");
  settings().join_condition = "log.line = 'a;b'";
  EXPECT_EQ(select("cases,log", none), "select * from cases,log where log.line = 'a;b'");
  settings().join_condition.reset();
  EXPECT_EQ(select("cases where 1=1", none), "FAILED -1");
  EXPECT_NE(page().find("Bad table name 'cases where 1=1'"), std::string::npos);
  // A refused criterion refuses the select.
  EXPECT_EQ(select("cases", "^@^@^@^@^@^@^@1 or 1=1^$"), "FAILED -2");
}

TEST_P(Statements, UpdateSetsNamedColumnsAndSelectsItsRow) {
  settings().mssqlflag = 1;
  std::string allkeys = "id_num^@case_num^$", alldata = "7^@C-1^$";
  // The new key row names title, amount, opened, date_first_sent_by_user, case_num.
  std::string newkeys = "title^@amount^@opened^@date_first_sent_by_user^@case_num^$";
  std::string newdata = "O'Neil^@^^^@^^^@1/1/2000^@==\"\"^$";
  EXPECT_EQ(update("cases", alldata, allkeys, newdata, newkeys),
            "update cases set case_num = '', title = 'O''Neil', amount = NULL, opened = NULL where (id_num=7)");
  exec(sqlbuf().query);
  EXPECT_EQ(update("cases", alldata, allkeys, "t^@2.5^@3/5/2001^@1/1/2000^@C-9^$", newkeys),
            "update cases set case_num = 'C-9', title = 't', amount = 2.5, opened = '" +
                date("3/5/2001", "2001-03-05") + "' where (id_num=7)");
  settings().mssqlflag = 2;
  EXPECT_EQ(update("cases", alldata, allkeys, "t^@2.5^@3/5/2001^@1/1/2000^@C-9^$", newkeys),
            "update cases set case_num = 'C-9', title = 't', amount = 2.5, opened = '" +
                date("5-MAR-1", "2001-03-05") + "' where (id_num=7)");
  settings().mssqlflag = 1;

  // A configured row-number column selects the row by its own value, written
  // by the column's type.
  settings().row_number = "case_num";
  settings().row_number_value = "C-1";
  EXPECT_EQ(update("cases", alldata, allkeys, "t^$", "title^$"), "update cases set title = 't' where (case_num='C-1')");
  settings().row_number_value = "x' or 'a'='a";
  EXPECT_EQ(update("cases", alldata, allkeys, "t^$", "title^$"),
            "update cases set title = 't' where (case_num='x'' or ''a''=''a')");
  settings().row_number_value.reset();
  EXPECT_EQ(update("cases", alldata, allkeys, "t^$", "title^$"), "update cases set title = 't' where (case_num=null)");
  settings().row_number = "id_num";
  settings().row_number_value = "7 or 1=1";
  EXPECT_EQ(update("cases", alldata, allkeys, "t^$", "title^$"), "FAILED -2");
  settings().row_number = "id_num) or (1=1";
  EXPECT_EQ(update("cases", alldata, allkeys, "t^$", "title^$"), "FAILED -2");
  settings().row_number.reset();
  settings().row_number_value.reset();

  // Without a row to select the update is refused, never written for all rows.
  clear_output();
  EXPECT_EQ(update("notes", alldata, allkeys, "t^$", "line^$"), "FAILED -2");
  EXPECT_EQ(page(), "<PRE>\nRefused update of notes without a condition\n</PRE>\n");
  EXPECT_EQ(update("cases", "^^^@C-1^$", allkeys, "t^$", "title^$"), "FAILED -2");
  EXPECT_EQ(update("cases", "7 or 1=1^@C-1^$", allkeys, "t^$", "title^$"), "FAILED -2");
  EXPECT_EQ(update("cases", alldata, allkeys, "x^$", "amount^$"), "FAILED -2");
  // A date that is none is refused, not turned into NULL; ORACLE's empty
  // date is no value and clears the column.
  clear_output();
  EXPECT_EQ(update("cases", alldata, allkeys, "someday^$", "opened^$"), "FAILED -2");
  EXPECT_EQ(page(), "<PRE>\nBad date 'someday' for column opened\n</PRE>\n");
  settings().mssqlflag = 2;
  EXPECT_EQ(update("cases", alldata, allkeys, "00/00/00^$", "opened^$"),
            "update cases set opened = NULL where (id_num=7)");
}

TEST_P(Statements, DeleteNeedsACondition) {
  settings().mssqlflag = 1;
  exec("insert into cases (id_num, case_num) values (7, 'C-1')");
  exec("insert into cases (id_num, case_num) values (8, 'C-2')");
  EXPECT_EQ(remove("7^@C-1^$", "id_num^@case_num^$"),
            "delete from cases where (( id_num = 7 )) and (( case_num LIKE '%C-1%' ))");
  exec(sqlbuf().query);
  EXPECT_EQ(rows("select id_num from cases"), "8^$");

  clear_output();
  EXPECT_EQ(remove("^^^@ ^$", "id_num^@case_num^$"), "FAILED -2");
  EXPECT_EQ(page(), "<PRE>\nRefused delete from cases without a condition\n</PRE>\n");
  EXPECT_EQ(remove("8 or 1=1^$", "id_num^$"), "FAILED -2");
  EXPECT_EQ(remove("x^$", "nosuch^$"), "FAILED -2");
  EXPECT_EQ(rows("select id_num from cases"), "8^$");
}

TEST_P(Statements, TableThatCannotBeDescribedLeavesTheQuery) {
  reqctx().kivdebug = 1;
  sqlbuf().query = "untouched";
  EXPECT_EQ(gen_insert_query(dsn_, "nosuch", "1^$", "id_num^$"), -1);
  EXPECT_EQ(gen_retrieve_query(dsn_, "nosuch", "1^$", "id_num^$", std::nullopt), -1);
  EXPECT_EQ(gen_modify_query(dsn_, "nosuch", "1^$", "id_num^$", "1^$", "id_num^$"), -1);
  EXPECT_EQ(gen_delete_query(dsn_, "nosuch", "1^$", "id_num^$"), -1);
  EXPECT_EQ(sqlbuf().query, "untouched");
  EXPECT_NE(page().find("gen_delete_query: table='nosuch' RELATION FAILED"), std::string::npos);
  EXPECT_FALSE(mk_dbconfig_node(dsn_, "nosuch", std::string_view("id_num^$")).has_value());
}

TEST_P(Statements, DescriptionGivesColumnsInTableOrderWithTypes) {
  std::optional<dbconfig_node> node = mk_dbconfig_node(dsn_, "cases", std::string_view(kKeys));
  ASSERT_TRUE(node.has_value());
  ASSERT_EQ(node->count, 7);
  std::string got;
  for (const dbconfig_column& c : node->columns) got += c.name + ":" + std::to_string(c.type) + " ";
  EXPECT_EQ(got, "id_num:3 case_num:4 title:4 amount:2 opened:1 date_first_sent_by_user:1 date_closed:1 ");
  // The database product as its driver names it.
  EXPECT_EQ(node->dbms, pg() ? "PostgreSQL" : "SQLite");
  EXPECT_EQ(mk_dbconfig_node(dsn_, "cases", std::nullopt)->count, 0);
}

INSTANTIATE_TEST_SUITE_P(Roads, Statements, ::testing::Values(kivtest::Road::sqlite, kivtest::Road::postgres),
                         kivtest::road_name);
