// The database handles on the Linux programs' road, the PostgreSQL driver on
// libpq: add, find, modify and delete into the sample schema, PostgreSQL's
// duplicate-key message, and many processes adding at once.
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

#include "data/dbdriver.h"
#include "data/sql_pars.h"
#include "data/webhandle_db.h"
#include "data/webhandle_db_ops.h"
#include "linux/pgsql.h"
#include "platform/flavour.h"
#include "support/services.h"
#include "support/testsupport.h"
#include "tests/data/dbroad.h"
#include "toolkit/kivcontext.h"
#include "toolkit/kivsettings.h"
#include "toolkit/rowcol.h"

using namespace kiv;
namespace fs = std::filesystem;

namespace {

class PqHandles : public kivtest::KivTest {
 protected:
  void SetUp() override {
    KivTest::SetUp();
    KIV_NEED_SERVICE(kivtest::postgres_missing());
    fs::create_directories(home_.path() / "tmp");
    reqctx().nvhome = home_.str();
    settings().mssqlflag = 1;
    set_platform(Platform::linux);
    pgsql::use_pgsql_driver();
    db_ = kivtest::unique_name("kivhandle");
    ASSERT_EQ(kivodbcexec(nullptr, 0, "postgres", "create database " + db_), 0) << driver_results().odbcerror;
    created_ = true;
    for (const std::string& s : kivtest::schema_statements()) exec(s);
  }

  void TearDown() override {
    if (created_) kivodbcexec(nullptr, 0, "postgres", "drop database if exists " + db_ + " with (force)");
    KivTest::TearDown();
  }

  void exec(const std::string& sql) { ASSERT_EQ(kivodbcexec(nullptr, 0, db_, sql), 0) << driver_results().odbcerror; }
  std::string rows(const std::string& sql) {
    if (kivodbcexec(nullptr, 0, db_, sql) != 0) return "FAILED: " + driver_results().odbcerror;
    return driver_results().odbcdata.value_or("");
  }

  int add(const std::string& data, const std::string& table = "cases") {
    packet p{data, "case_num^@title^@problem^@date_open^$"};
    addhandle h;
    h.rec = &p;
    h.database = db_;
    h.table = table;
    return handle_add(h);
  }

  kivtest::TempDir home_;
  std::string db_;
  bool created_ = false;
};

}  // namespace

TEST_F(PqHandles, AddFindModifyDelete) {
  ASSERT_EQ(add("C-1^@Printer jam^@It's stuck^@3/5/2001^$"), 0) << page();
  ASSERT_EQ(add("C-2^@Network down^@^^^@3/9/2001^$"), 0) << page();
  EXPECT_EQ(rows("select id_num, case_num, date_open from cases order by id_num"),
            "1^@C-1^@3/05/2001^$2^@C-2^@3/09/2001^$");

  packet crit{"^^^@Printer^@^^^$", "id_num^@title^@date_open^$"};
  findhandle f;
  f.rec = &crit;
  f.database = db_;
  f.table = "cases";
  f.order = "case_num";
  findreply r = handle_find(f);
  ASSERT_EQ(r.errflag, 0) << page();
  ASSERT_TRUE(r.data.has_value());
  EXPECT_EQ(getrowcount(*r.data), 1);
  EXPECT_EQ(getvaluebykey(*r.data, *r.keys, "problem"), "It's stuck");

  // The form sends the date back as the find showed it.
  std::string shown = getvaluebykey(*r.data, *r.keys, "date_open").value_or("");
  packet old{*r.data, *r.keys}, changed{"Paper jam^@^^^@" + shown + "^$", "title^@problem^@date_open^$"};
  modifyhandle m;
  m.database = db_;
  m.table = "cases";
  m.all = &old;
  m.new_ = &changed;
  ASSERT_EQ(handle_modify(m), 0) << page();
  EXPECT_EQ(rows("select title, problem, date_open from cases where id_num = 1"), "Paper jam^@^^^@" + shown + "^$");

  packet gone{"2^$", "id_num^$"};
  deletehandle d;
  d.database = db_;
  d.table = "cases";
  d.rec = &gone;
  ASSERT_EQ(handle_delete(d), 0) << page();
  EXPECT_EQ(rows("select id_num from cases"), "1^$");
}

TEST_F(PqHandles, DuplicateKeyIsExplained) {
  exec("create table uniq (id_num integer, case_num varchar(40) unique, title text, problem text, date_open date)");
  ASSERT_EQ(add("C-1^@t^@p^@^^^$", "uniq"), 0) << page();
  clear_output();
  EXPECT_EQ(add("C-1^@t^@p^@^^^$", "uniq"), 1);
  EXPECT_TRUE(page().starts_with("<PRE>\nThe entry you have attempted to create already exists.</PRE>\n")) << page();
  EXPECT_NE(page().find("handle_add:Insert Error:\nERROR:  duplicate key value violates unique constraint"),
            std::string::npos)
      << page();
  EXPECT_TRUE(page().ends_with(" -1</PRE>\n")) << page();
}

TEST_F(PqHandles, ConcurrentAddsDrawDistinctIds) {
  constexpr int kProcesses = 12;
  std::vector<pid_t> children;
  for (int i = 1; i <= kProcesses; ++i) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) ::_exit(add("C-" + std::to_string(i) + "^@t^@p^@^^^$"));
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  std::string expected;
  for (int i = 1; i <= kProcesses; ++i) expected += std::to_string(i) + "^$";
  EXPECT_EQ(rows("select id_num from cases order by id_num"), expected);
}
