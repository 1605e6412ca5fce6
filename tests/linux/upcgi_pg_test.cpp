// A command behind upcgi that reaches PostgreSQL: a test-only command program
// reads the stream, installs the PostgreSQL driver and finds a case of the
// throwaway cluster by a number from the form. Under root it runs as the
// owner of $PGHOST's folder (the socket folder is private to it), so the
// row comes back only when PGHOST, PGPORT and PGUSER reach the command
// through the front and the switch to USER took place.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "data/dbdriver.h"
#include "data/webhandle_db.h"
#include "linux/pgsql.h"
#include "linuxtest.h"
#include "platform/flavour.h"
#include "support/services.h"
#include "tests/data/odbcconfig.h"
#include "toolkit/base/kivcontext.h"

using namespace kiv;
using namespace linuxtest;

namespace {

class UpcgiPostgres : public kivtest::KivTest {
 protected:
  void SetUp() override {
    KivTest::SetUp();
    KIV_NEED_SERVICE(kivtest::postgres_missing());
    set_platform(Platform::linux);
    reqctx().nvhome = home.path();
    pgsql::use_pgsql_driver();
    db_ = kivtest::unique_name("kivupcgi");
    ASSERT_EQ(kivodbcexec(nullptr, 0, "postgres", "create database " + db_), 0) << driver_results().odbcerror;
    created_ = true;
    exec("create table cases (case_num varchar(20), title varchar(80))");
    exec("insert into cases values ('1001', 'Printer on fire')");
  }
  void TearDown() override {
    if (created_) kivodbcexec(nullptr, 0, "postgres", "drop database if exists " + db_ + " with (force)");
    KivTest::TearDown();
  }
  void exec(const std::string& sql) { ASSERT_EQ(kivodbcexec(nullptr, 0, db_, sql), 0) << driver_results().odbcerror; }

  Home home;
  std::string db_;
  bool created_ = false;
};

TEST_F(UpcgiPostgres, CommandFindsACaseWithTheFrontsDatabaseSettings) {
  home.state_lines("find=kivtest_pgfind " + db_ + "\n");
  if (::geteuid() == 0) {
    struct stat st;
    ASSERT_EQ(::stat(std::getenv("PGHOST"), &st), 0);
    ASSERT_NE(st.st_uid, 0u) << "the cluster runs as root";
    home.run_as_user(st.st_uid, st.st_gid);
  }
  std::vector<std::string> pg;
  for (const char* v : {"PGHOST", "PGPORT", "PGUSER"})
    if (const char* x = std::getenv(v)) pg.push_back(std::string(v) + "=" + x);
  const std::string path = "PATH=" + kBuild + "/tests:/usr/bin:/bin";
  std::vector<std::string> extra = pg;
  extra.push_back(path);  // the test program's folder

  process::Result found = upcgi_get(home, "KIVACTION=find&case_num.VALUE=1001", extra);
  EXPECT_EQ(found.output, "Content-type: text/html\n\nfound: Printer on fire^$\n") << found.errors;
  EXPECT_EQ(found.status, 0);

  // The form's value is a value, never SQL.
  process::Result none = upcgi_get(home, "KIVACTION=find&case_num.VALUE=x%27+or+%27a%27%3D%27a", extra);
  EXPECT_EQ(none.output, "Content-type: text/html\n\nfound: \n") << none.errors;

  // Without the database settings the command cannot reach the cluster.
  process::Result lost = upcgi_get(home, "KIVACTION=find&case_num.VALUE=1001", {path});
  EXPECT_TRUE(has(lost.output, "failed: ")) << lost.output;
}

}  // namespace
