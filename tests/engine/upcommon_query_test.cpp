// Query settings from objects: the order list of the sort menus in both
// flavours, the stored query, join and distinct settings, the row-number
// column, and hostile row-number values meeting the SQL generator on the
// SQLite road.
#include <gtest/gtest.h>

#include "data/sql_pars.h"
#include "engine/upcommon_query.h"
#include "platform/flavour.h"
#include "support/testsupport.h"
#include "tests/data/dbroad.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/base/kivsettings.h"

using namespace kiv;

namespace {

struct Obj {
  const char* name;
  const char* value = nullptr;
  const char* dbkey = nullptr;
  const char* title = nullptr;
  const char* control = nullptr;
};

void fill(objlist& list, std::initializer_list<Obj> objs) {
  for (const Obj& o : objs) {
    auto n = getnewobj();
    modattrib(*n, attr::NAME, o.name);
    if (o.value) modattrib(*n, attr::VALUE, o.value);
    if (o.dbkey) modattrib(*n, attr::DBKEY, o.dbkey);
    if (o.title) modattrib(*n, attr::TITLE, o.title);
    if (o.control) modattrib(*n, attr::CONTROL, o.control);
    addobj(list, std::move(n));
  }
}

// Four fields with a column and a title each, as tk_obj gives them.
void add_fields(objlist& list) {
  fill(list, {{"status", nullptr, "status", "Status"},
              {"title", nullptr, "title", "Title"},
              {"date_open", nullptr, "date_open", "Opened"},
              {"assigned_to", nullptr, "assigned_to", "Staff"}});
}

class QuerySettings : public kivtest::KivTest {
 protected:
  void SetUp() override {
    KivTest::SetUp();
    add_fields(list_);
  }
  std::string value(const char* key) { return getvalfromlist(list_, key).value_or("<none>"); }
  objlist list_;
};

}  // namespace

TEST_F(QuerySettings, OrderListFromTheSortMenus) {
  struct Case {
    const char* what;
    const char* menus[4];
    std::optional<std::string> windows, linux_order;
  } cases[] = {
      {"menus 1 and 3 chosen, 2 empty", {"Status", nullptr, "Opened", nullptr}, "status", "status"},
      {"all four", {"Opened", "Status", "Title", "Staff"}, "date_open, status, title, assigned_to", "date_open"},
      {"a title no field has stops the list", {"Title", "Nothing", "Staff", nullptr}, "title", "title"},
      {"menu 1 empty", {nullptr, "Status", nullptr, nullptr}, std::nullopt, std::nullopt},
      {"menus holding their item list give their selection",
       {"Staff^@Status^@Staff^$", "^@Status^@Title^$", nullptr, nullptr}, "assigned_to", "assigned_to"},
  };
  for (const Case& c : cases) {
    objlist list;
    add_fields(list);
    for (int m = 0; m < 4; ++m)
      if (c.menus[m]) adduniqobj(list, sformat("sort_titles%d_menu.VALUE", m + 1), c.menus[m]);
    set_platform(Platform::windows);
    EXPECT_EQ(getsortlist(list), c.windows) << c.what;
    set_platform(Platform::linux);
    EXPECT_EQ(getsortlist(list), c.linux_order) << c.what;
  }
}

TEST_F(QuerySettings, StoredQueryReplacesJoinTableAndOrder) {
  reqctx().kivdebug = 1;
  EXPECT_EQ(sql_control(list_), 0);
  EXPECT_NE(page().find("sql_control: no name found"), std::string::npos);
  EXPECT_EQ(settings().sql_control_sort, std::nullopt);

  fill(list_, {{"db_table_name", "cases"},
               {"sql_control", "query_open"},
               {"query_open", "cases.id_num=notes.id_num", nullptr, "date_open desc", nullptr},
               {"query_all", nullptr, nullptr, nullptr, "cases, notes"}});
  adduniqobj(list_, "sort_titles1_menu.VALUE", "Status");
  clear_output();
  EXPECT_EQ(sql_control(list_), 0);
  EXPECT_EQ(value("join_condition.VALUE"), "cases.id_num=notes.id_num");
  EXPECT_EQ(value("db_table_name.VALUE"), "cases");  // an empty CONTROL leaves the table
  EXPECT_EQ(settings().sql_control_sort, "date_open desc");
  EXPECT_EQ(getsortlist(list_), "date_open desc");  // instead of the sort menus
  for (const char* trace : {"sql_control:name=query_open",
                            "sql_control: joint condition is jcdond='cases.id_num=notes.id_num'",
                            "sql_control: table is null"})
    EXPECT_NE(page().find(trace), std::string::npos) << trace;

  adduniqobj(list_, "sql_control.VALUE", "query_all");
  clear_output();
  EXPECT_EQ(sql_control(list_), 0);
  EXPECT_EQ(value("db_table_name.VALUE"), "cases, notes");
  EXPECT_EQ(value("join_condition.VALUE"), "cases.id_num=notes.id_num");  // unchanged
  EXPECT_EQ(settings().sql_control_sort, "date_open desc");
  for (const char* trace : {"sql_control: joint condition is null", "sql_control: table='cases, notes'",
                            "sql_control: sort is null "})
    EXPECT_NE(page().find(trace), std::string::npos) << trace;
}

TEST_F(QuerySettings, JoinAndDistinctFromTheirObjects) {
  settings().join_condition = "old";
  settings().distinct_condition = "old";
  join_func(list_);
  EXPECT_EQ(settings().join_condition, std::nullopt);
  EXPECT_EQ(settings().distinct_condition, std::nullopt);
  fill(list_, {{"join_condition", "a.x=b.x"}, {"distinct_condition", "a.x, b.y"}});
  join_func(list_);
  EXPECT_EQ(settings().join_condition, "a.x=b.x");
  EXPECT_EQ(settings().distinct_condition, "a.x, b.y");
}

TEST_F(QuerySettings, RowNumberAndItsValue) {
  settings().row_number = "old";
  settings().row_number_value = "old";
  primary_func(list_);
  EXPECT_EQ(settings().row_number, std::nullopt);
  EXPECT_EQ(settings().row_number_value, std::nullopt);

  fill(list_, {{"row_number", "ticket_no"}, {"ticket_no"}});
  primary_func(list_);
  EXPECT_EQ(settings().row_number, "ticket_no");
  EXPECT_EQ(settings().row_number_value, std::nullopt);  // the object has no value
  adduniqobj(list_, "ticket_no.VALUE", "T-17", Origin::request);
  primary_func(list_);
  EXPECT_EQ(settings().row_number_value, "T-17");
}

namespace {

class RowNumberSql : public kivtest::DbRoadTest {
 protected:
  RowNumberSql() : DbRoadTest(kivtest::Road::sqlite) {}
  void SetUp() override {
    DbRoadTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    exec("create table tickets (id_num integer, ticket_no integer, code varchar(20), status varchar(20))");
    exec("insert into tickets values (1, 10, 'A', 'Open')");
    exec("insert into tickets values (2, 11, 'B', 'Open')");
  }
};

}  // namespace

// The row-number value of a form reaches SQL only through the generator:
// a number column takes a number, a text column quotes the value.
TEST_F(RowNumberSql, HostileValuesAreRefusedOrQuoted) {
  struct Case {
    const char* column;
    const char* value;
    int result;
    const char* query;
    const char* message;
  } cases[] = {
      {"ticket_no", "1 or 1=1", -2, "", "Bad number '1 or 1=1' for column ticket_no\n"},
      {"ticket_no", " 10 ", 0, "update tickets set status = 'Closed' where (ticket_no=10)", ""},
      {"code", "1' or '1'='1", 0, "update tickets set status = 'Closed' where (code='1'' or ''1''=''1')", ""},
      {"code", "1 or 1=1", 0, "update tickets set status = 'Closed' where (code='1 or 1=1')", ""},
  };
  for (const Case& c : cases) {
    objlist list;
    fill(list, {{"row_number", c.column}, {c.column}});
    adduniqobj(list, std::string(c.column) + ".VALUE", c.value, Origin::request);
    primary_func(list);
    sqlbuf().query.clear();
    clear_output();
    EXPECT_EQ(gen_modify_query(dsn_, "tickets", "1^@Open^$", "id_num^@status^$", "Closed^$", "status^$"), c.result)
        << c.value;
    EXPECT_EQ(sqlbuf().query, c.query) << c.value;
    if (*c.message) {
      EXPECT_NE(page().find(c.message), std::string::npos) << page();
    }
  }
}
