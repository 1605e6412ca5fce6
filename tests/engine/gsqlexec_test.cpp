// Free SQL statements and address lookups over both ODBC roads: the three
// shapes a dataset name chooses, the errors, and the users and staff lookups
// of the three-table model (a login holding a quote, a bad table name, a
// column left empty).
#include <gtest/gtest.h>

#include <filesystem>

#include "data/mailrecords.h"
#include "engine/gsqlexec.h"
#include "enginetest.h"
#include "tests/data/dbroad.h"
#include "toolkit/base/kivcontext.h"

using namespace kiv;
using enginetest::value;
using kivtest::Road;
namespace fs = std::filesystem;

namespace {

class FreeSql : public kivtest::DbRoadTest, public ::testing::WithParamInterface<Road> {
 protected:
  FreeSql() : DbRoadTest(GetParam()) {}
  void SetUp() override {
    DbRoadTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    exec("create table states (name varchar(20))");
    exec("insert into states values ('Open')");
    exec("insert into states values ('Closed')");
    exec("insert into states values ('Pending')");
    list_ = fresh();
  }
  // An object list with the connection objects only.
  std::unique_ptr<objlist> fresh() {
    return enginetest::objects(
        {{"dbserver_hostname.VALUE", "localhost"}, {"network_timeout.VALUE", "30"}, {"db_name.VALUE", dsn_}});
  }
  // The scratch data files in the home's tmp.
  std::vector<std::string> datafiles() {
    std::vector<std::string> names;
    for (const std::string& n : enginetest::entries(home_.str() + "/tmp"))
      if (n.starts_with("tmp_datafile.")) names.push_back(n);
    return names;
  }
  bool has(const char* name) { return list_->find(name) != nullptr; }
  std::unique_ptr<objlist> list_;
};

}  // namespace

TEST_P(FreeSql, MenuListShape) {
  ASSERT_EQ(gsqlexec(*list_, "menulist_status", "select name from states where name <> 'Pending' order by name desc"),
            0);
  EXPECT_EQ(value(*list_, "status"), "^^^@Open^@Closed^$");
  EXPECT_TRUE(list_->find("status")->marked(attr::VALUE));
  EXPECT_FALSE(has("menulist_status_key"));
  EXPECT_TRUE(datafiles().empty());
}

TEST_P(FreeSql, MenuShape) {
  ASSERT_EQ(gsqlexec(*list_, "staffmenu", "select name from states order by name"), 0);
  EXPECT_EQ(value(*list_, "staffmenu_key"), "name^$");
  EXPECT_EQ(value(*list_, "staffmenu_data"), "^^^@Closed^@Open^@Pending^$");
  EXPECT_EQ(value(*list_, "staffmenu"), "name^$Closed^$Open^$Pending^$");
  EXPECT_FALSE(has("findresult"));
  EXPECT_TRUE(datafiles().empty());
}

TEST_P(FreeSql, TableShapeWritesAScratchFile) {
  ASSERT_EQ(gsqlexec(*list_, "report", "select name, 'x' as tag from states order by name"), 0);
  const std::string all = "name^@tag^$Closed^@x^$Open^@x^$Pending^@x^$";
  EXPECT_EQ(value(*list_, "report_key"), "name^@tag^$");
  EXPECT_EQ(value(*list_, "report_data"), "Closed^@x^$Open^@x^$Pending^@x^$");
  EXPECT_EQ(value(*list_, "report"), all);
  EXPECT_EQ(value(*list_, "findresult"), all);
  EXPECT_EQ(value(*list_, "findresultnum"), "3");
  ASSERT_EQ(datafiles().size(), 1u);
  // The file goes on to the next page by its path from the home.
  EXPECT_EQ(value(*list_, "hidedatafile"), "tmp/" + datafiles()[0]);
  EXPECT_EQ(kivtest::read_file(home_.str() + "/tmp/" + datafiles()[0]), all);
}

TEST_P(FreeSql, NothingFoundSetsOnlyTheKey) {
  ASSERT_EQ(gsqlexec(*list_, "report", "select name from states where name = 'none'"), 0);
  EXPECT_EQ(value(*list_, "report_key"), "name^$");
  for (const char* n : {"report", "report_data", "findresult", "hidedatafile", "findresultnum"})
    EXPECT_FALSE(has(n)) << n;
  EXPECT_TRUE(datafiles().empty());
}

TEST_P(FreeSql, Errors) {
  struct Case {
    const char* missing;  // connection object taken away
    const char* sql;
    int result;
    const char* message;
  } cases[] = {
      {"dbserver_hostname", "select 1", -1, "Missing dbhost name object\n"},
      {"network_timeout", "select 1", -1, "Missing timeout name object\n"},
      {"db_name", "select 1", -1, "Missing database name object\n"},
      {nullptr, "", 1, "SQL Error: Query is blank\n"},
  };
  for (const Case& c : cases) {
    list_ = fresh();
    clear_output();
    if (c.missing) modattrib(*list_->find(c.missing), attr::VALUE, "");
    EXPECT_EQ(gsqlexec(*list_, "report", c.sql), c.result) << c.message;
    EXPECT_NE(page().find(c.message), std::string::npos) << page();
  }
  list_ = fresh();
  clear_output();
  int rc = gsqlexec(*list_, "report", "select nosuch from states");
  EXPECT_LT(rc, 0);
  EXPECT_NE(page().find("SQL Error: 'The SQL command=&#39;select nosuch from states&#39;"), std::string::npos) << page();
  EXPECT_FALSE(has("report_key"));

  clear_output();
  EXPECT_EQ(kivtest::exit_status([&] { gsqlexec(*list_, "", "select 1"); }), 0);
  EXPECT_NE(page().find("dataset name is NULL"), std::string::npos);
}

TEST(DollarToSep, MenuRows) {
  EXPECT_EQ(dollar2sep("a^$b^$"), "^^^@a^@b^$");
  EXPECT_EQ(dollar2sep("a^$"), "^^^@a^$");
  EXPECT_EQ(dollar2sep("a^@1^$b^@2^$"), "^^^@a^@1^@b^@2^$");
}

namespace {

class Lookups : public FreeSql {
 protected:
  void SetUp() override {
    FreeSql::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    exec("create table users (sub_login varchar(40), sub_e_mail varchar(80), phone varchar(20))");
    exec("insert into users values ('o''brien', 'ob@x.test', '555')");
    exec("insert into users values ('ann', 'ann@x.test', '556')");
    exec("create table staff (sa_login varchar(40), sa_e_mail varchar(80), phone varchar(20), pager varchar(20))");
    exec("insert into staff values ('alice', 'alice@x.test', NULL, 'p-9')");
    adduniqobj(*list_, "db_users_table_name.VALUE", "users");
    adduniqobj(*list_, "db_staff_table_name.VALUE", "staff");
  }
};

}  // namespace

TEST_P(Lookups, UserRowByALoginHoldingAQuote) {
  adduniqobj(*list_, "submitted_by.VALUE", "o'brien", Origin::request);
  // The page's selection before the lookup: the lookup leaves it as it was
  // and removes the scratch file of its own row.
  adduniqobj(*list_, "findresultnum.VALUE", "2");
  adduniqobj(*list_, "hidedatafile.VALUE", "kept");
  EXPECT_EQ(getusermailfromdb(*list_), "ob@x.test");
  EXPECT_EQ(value(*list_, "sub_e_mail"), "ob@x.test");
  EXPECT_EQ(value(*list_, "phone"), "555");
  EXPECT_EQ(value(*list_, "findresultnum"), "2");
  EXPECT_EQ(value(*list_, "hidedatafile"), "kept");
  EXPECT_EQ(value(*list_, "findresult"), "");
  const fs::path tmp = fs::path(reqctx().nvhome) / "tmp";
  if (fs::exists(tmp)) {
    for (const auto& e : fs::directory_iterator(tmp))
      EXPECT_FALSE(e.path().filename().string().starts_with("tmp_datafile.")) << e.path();
  }
}

TEST_P(Lookups, ALoginCannotWidenTheStatement) {
  adduniqobj(*list_, "submitted_by.VALUE", "x') or ('1'='1", Origin::request);
  EXPECT_EQ(getusermailfromdb(*list_), std::nullopt);
  EXPECT_FALSE(has("sub_e_mail"));
}

TEST_P(Lookups, StaffRowKeptForTheRecipients) {
  adduniqobj(*list_, "assigned_to.VALUE", "alice");
  adduniqobj(*list_, "phone.VALUE", "from the form");
  EXPECT_EQ(getstaffmailfromdb(*list_), "alice@x.test");
  EXPECT_EQ(value(*list_, "sa_e_mail"), "alice@x.test");
  EXPECT_EQ(value(*list_, "pager"), "p-9");
  EXPECT_EQ(value(*list_, "phone"), "from the form");  // an empty column changes nothing
  EXPECT_EQ(mailstate().gmailkeys, "sa_login^@sa_e_mail^@phone^@pager^$");
  EXPECT_EQ(mailstate().gmaildata, "alice^@alice@x.test^@^^^@p-9^$");
}

TEST_P(Lookups, NothingToLookUp) {
  reqctx().kivdebug = 1;
  struct Case {
    const char* login_key;
    const char* table_key;
    const char* table;
    const char* trace;
    bool staff;
  } cases[] = {
      {nullptr, nullptr, nullptr, "getusermailfromdb: User is not defined", false},
      {nullptr, nullptr, nullptr, "getstaffmailfromdb: User is not defined", true},
      {"submitted_by.VALUE", "db_users_table_name.VALUE", "", "getusermailfromdb: Users table is not defined", false},
      {"assigned_to.VALUE", "db_staff_table_name.VALUE", "", "getstaffmailfromdb: Users table is not defined", true},
      {"submitted_by.VALUE", "db_users_table_name.VALUE", "users where 1=1 --", "Bad table name", false},
      {"submitted_by.VALUE", "db_users_table_name.VALUE", "nosuch",
       "user will not be notified becasue sql statement failed 'select * from nosuch where "
       "(sub_login=&#39;ann&#39;)'",
       false},
      {"assigned_to.VALUE", "db_staff_table_name.VALUE", "nosuch",
       "staff will not be notified becasue sql statement failed", true},
  };
  for (const Case& c : cases) {
    list_ = fresh();
    adduniqobj(*list_, "db_users_table_name.VALUE", "users");
    adduniqobj(*list_, "db_staff_table_name.VALUE", "staff");
    clear_output();
    if (c.login_key) adduniqobj(*list_, c.login_key, "ann");
    if (c.table_key) adduniqobj(*list_, c.table_key, c.table);
    auto got = c.staff ? getstaffmailfromdb(*list_) : getusermailfromdb(*list_);
    EXPECT_EQ(got, std::nullopt) << c.trace;
    EXPECT_NE(page().find(c.trace), std::string::npos) << page();
  }
}

INSTANTIATE_TEST_SUITE_P(Roads, FreeSql, ::testing::Values(Road::sqlite, Road::postgres), kivtest::road_name);
INSTANTIATE_TEST_SUITE_P(Roads, Lookups, ::testing::Values(Road::sqlite, Road::postgres), kivtest::road_name);
