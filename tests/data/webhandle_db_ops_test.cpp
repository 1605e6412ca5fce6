// The database handles: their argument checks and messages, and the cases
// of webhandle_db_roads.h on the two ODBC roads, SQLite and PostgreSQL.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include "data/webhandle_db_ops.h"
#include "tests/data/webhandle_db_roads.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/text/rowcol.h"

using namespace kiv;

namespace {

class HandleArgs : public kivtest::KivTest {};

// Each case fails before any statement runs.
struct ArgCase {
  const char* what;
  dberr (*run)();
  int code;
  const char* msg;
  const char* hint;
};

const ArgCase kArgCases[] = {
    {"add without database", [] { return db_add("", 0, "", "t", "1^$", "a^$"); }, -1, "NO database name",
     "add database name"},
    {"add without table", [] { return db_add("", 0, "d", "", "1^$", "a^$"); }, -1, "NO table name", "add table name"},
    {"add without keys", [] { return db_add("", 0, "d", "t", "1^$", ""); }, -1, "NO key_str", "add key_str"},
    {"add without data", [] { return db_add("", 0, "d", "t", "", "a^$"); }, -2, "NO value", "add value"},
    {"add into a bad table", [] { return db_add("", 0, "d", "t,t;x", "1^$", "a^$"); }, -3, "Can't generate query",
     "Fix the problem"},
    {"find without keys",
     [] {
       std::optional<std::string> d, k;
       int n;
       return db_find("", 0, "d", "t", "1^$", "", std::nullopt, d, k, n);
     },
     -1, "NO key_str", "add key_str"},
    {"find without criteria",
     [] {
       std::optional<std::string> d, k;
       int n;
       return db_find("", 0, "d", "t", "", "a^$", std::nullopt, d, k, n);
     },
     -2, "NO criteria", "add criteria"},
    {"modify without database", [] { return db_modify("", 0, "", "t", {"1^$", "a^$"}, {"1^$", "a^$"}); }, -1,
     "NO database name", "add database name"},
    {"modify without new data", [] { return db_modify("", 0, "d", "t", {"1^$", "a^$"}, {"", "a^$"}); }, -2,
     "NO new record data", "add new record data"},
    {"modify without new keys", [] { return db_modify("", 0, "d", "t", {"1^$", "a^$"}, {"1^$", ""}); }, -3,
     "NO new record key", "add new record key"},
    {"modify without old keys", [] { return db_modify("", 0, "d", "t", {"1^$", ""}, {"1^$", "a^$"}); }, -4,
     "NO allrecords key", "add allrecords key"},
    {"modify without old data", [] { return db_modify("", 0, "d", "t", {"", "a^$"}, {"1^$", "a^$"}); }, -5,
     "NO allrecords data", "add allrecords data"},
    {"delete without table", [] { return db_delete("", 0, "d", "", "1^$", {1, 0}, "a^$"); }, -1, "NO table name",
     "add table name"},
    {"delete without data", [] { return db_delete("", 0, "d", "t", "", {1, 0}, "a^$"); }, -2, "NO allrecords",
     "add allrecords"},
    {"delete without rows", [] { return db_delete("", 0, "d", "t", "1^$", {0}, "a^$"); }, -2, "NO d_array",
     "add d_array"},
    {"delete with no row list", [] { return db_delete("", 0, "d", "t", "1^$", {}, "a^$"); }, -2, "NO d_array",
     "add d_array"},
};

}  // namespace

TEST_F(HandleArgs, EachOperationChecksItsArgumentsInOrder) {
  for (const ArgCase& c : kArgCases) {
    dberr e = c.run();
    EXPECT_EQ(e.code, c.code) << c.what;
    EXPECT_EQ(e.msg, c.msg) << c.what;
    EXPECT_EQ(e.hint, c.hint) << c.what;
  }
  EXPECT_EQ(dberrCreate().code, 0);
  EXPECT_FALSE(dberrCreate().msg.has_value());
}

// The id is drawn under a lock in the home; an add that cannot take it
// fails before any statement runs.
TEST_F(HandleArgs, AddWithoutItsLockFails) {
  kivtest::TempDir home;
  reqctx().nvhome = home.str();
  dberr e = db_add("", 0, "d", "t", "1^$", "a^$");
  EXPECT_EQ(e.code, -3);
  EXPECT_EQ(e.msg, "Can't lock file <" + home.str() + "/tmp/idnum.lock> errno=2\n");
  EXPECT_EQ(idnum_lockfile(), home.str() + "/tmp/idnum.lock");
}

TEST_F(HandleArgs, EntryPointsShowTheFailure) {
  addhandle a;
  a.database = "d";
  a.table = "t";
  EXPECT_EQ(handle_add(a), 1);
  EXPECT_EQ(page(), "<PRE>\nhandle_add:Insert Error:\nNO key_str -1</PRE>\n");

  clear_output();
  packet crit{"", "a^$"};
  findhandle f;
  f.rec = &crit;
  f.database = "d";
  f.table = "t";
  findreply r = handle_find(f);
  EXPECT_EQ(r.errflag, 1);
  EXPECT_FALSE(r.data.has_value());
  EXPECT_EQ(page(), "<PRE>\nFind Error:\nNO criteria -2</PRE>\n");

  clear_output();
  packet all{"1^$", "id_num^$"}, empty_keys{"x^$", ""};
  modifyhandle m;
  m.database = "d";
  m.table = "t";
  m.all = &all;
  m.new_ = &empty_keys;
  EXPECT_EQ(handle_modify(m), 1);
  EXPECT_EQ(page(), "<PRE>\nUpdate Error:\nNO new record key -3</PRE>\n");

  // Data without a row end makes no row list.
  clear_output();
  packet unended{"7", "id_num^$"};
  deletehandle d;
  d.database = "d";
  d.table = "t";
  d.rec = &unended;
  EXPECT_EQ(handle_delete(d), 1);
  EXPECT_EQ(page(), "<PRE>\nDelete Error:\nNO d_array -2\n</PRE>\n");
  packet none{"", "id_num^$"};
  d.rec = &none;
  clear_output();
  EXPECT_EQ(handle_delete(d), 1);
  EXPECT_EQ(page(), "<PRE>\nDelete Error:\nNO allrecords -2\n</PRE>\n");
}

namespace kivtest {
INSTANTIATE_TEST_SUITE_P(Roads, Handles, ::testing::Values(Road::sqlite, Road::postgres), road_name);
}  // namespace kivtest
