// Record locks on the SQLite road: a record read again and compared with the
// form's copy (only letters count), changed and deleted records, bad form
// records and ids refused before any SQL, database errors handed back, and
// the fetched record kept for the update.
#include <gtest/gtest.h>

#include "casetest.h"
#include "engine/upcommon_lock.h"
#include "support/testsupport.h"
#include "tests/data/dbroad.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/text/rowcol.h"

using namespace kiv;
using kivtest::exit_status;

namespace {

constexpr const char* kChanged =
    "<PRE>\nError: You are trying to update a record in the database that has <br>been modified since the time "
    "that you have selected the record. <br>To resolve this error, please try your update operation again from "
    "the beginning.\n</PRE>\n";

class RecordLock : public casetest::RecordTest {
 protected:
  RecordLock() : RecordTest(kivtest::Road::sqlite) {}

  void SetUp() override {
    RecordTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    exec("insert into cases (id_num, case_num, status, submitted_by, title, problem) values "
         "(1, '1001', 'Open', 'alice', 'Printer in room 12', 'It jams.\r\nEvery morning.')");
    exec("insert into cases (id_num, case_num, status, submitted_by) values (2, '1002', 'Open', 'bob')");
    set("dbserver_hostname", "localhost");
    set("network_timeout", "30");
    set("db_name", dsn_);
    set("db_table_name", "cases");
  }

  void set(const std::string& name, const std::string& text) { adduniqobj(list_, name + ".VALUE", text); }

  // Runs check_lock; `result_` and `lock_` hold what it gave (a check that
  // ends the process leaves `lock_` without a record).
  std::optional<int> check() {
    lock_ = LockCheck{99, std::nullopt};
    result_ = 99;
    return exit_status([&] {
      lock_ = check_lock(list_);
      result_ = lock_.result;
    });
  }

  objlist list_;
  LockCheck lock_;
  int result_ = 99;
};

}  // namespace

TEST_F(RecordLock, OnlyChangedLettersCount) {
  const std::string rec = shown(1);
  struct Case {
    const char* what;
    const char* column;
    const char* form_value;
  } cases[] = {
      {"line ends", "problem", "It jams.\nEvery morning."},
      {"blanks and punctuation", "problem", "It  jams Every morning"},
      {"digits", "title", "Printer in room 14"},
      {"as shown", "status", "Open"},
  };
  for (const Case& c : cases) {
    set("row2form_rec", with(rec, c.column, c.form_value));
    clear_output();
    EXPECT_EQ(check(), std::nullopt) << c.what << ": " << page();
    EXPECT_EQ(result_, 0) << c.what;
  }
  // The record read goes back for the update.
  ASSERT_TRUE(lock_.stored);
  EXPECT_EQ(lock_.stored->keys, *getrow(rec, 1));
  EXPECT_EQ(lock_.stored->data, *getrow(rec, 2));
}

TEST_F(RecordLock, ChangedAndDeletedRecordsStopTheRequest) {
  reqctx().kivdebug = 1;
  set("row2form_rec", shown(1));
  exec("update cases set status = 'Closed' where id_num = 1");
  EXPECT_EQ(check(), -1);
  EXPECT_NE(page().find(kChanged), std::string::npos) << page();
  for (const char* trace : {"check_lock:DBKEY Key='status'", "check_lock:Old Data='Open'",
                            "check_lock:Current Data='Closed'"})
    EXPECT_NE(page().find(trace), std::string::npos) << trace;

  set("row2form_rec", shown(2));
  exec("delete from cases where id_num = 2");
  clear_output();
  EXPECT_EQ(check(), -1);
  EXPECT_NE(page().find(kChanged), std::string::npos) << page();
  EXPECT_FALSE(lock_.stored);
}

TEST_F(RecordLock, AColumnTheFormLacksComparesAsEmpty) {
  // The form's record lacks the resolution column.
  set("row2form_rec", with(shown(2), "resolution", "", true));
  EXPECT_EQ(check(), std::nullopt) << page();  // empty in the database too
  exec("update cases set resolution = 'Fixed.' where id_num = 2");
  EXPECT_EQ(check(), -1);
  EXPECT_NE(page().find(kChanged), std::string::npos);
}

TEST_F(RecordLock, BadFormsAndIdsEndBeforeAnySql) {
  const std::string keys = "id_num^@status^$";
  struct Case {
    const char* what;
    std::string rec;
    std::string message;
  } cases[] = {
      {"blank", "", "<PRE>\ncheck_lock: row2form_rec is blank</PRE>\n"},
      {"three rows", keys + "1^@Open^$1^@Open^$", "<PRE>\ncheck_lock: Bad record format rowcount=3 \n</PRE>\n"},
      {"one row", keys, "<PRE>\ncheck_lock: Bad record format rowcount=1 \n</PRE>\n"},
      {"no id", keys + "^^^@Open^$", "<PRE>\nid_num MUST has value\n</PRE>\n"},
      {"no id column", "status^$Open^$", "<PRE>\nid_num MUST has value\n</PRE>\n"},
      {"an id that is SQL", keys + "1 or 1=1^@Open^$",
       "<PRE>\nBad number '1 or 1=1' for column id_num\n</PRE>\n"},
      {"a signed id", keys + "-1^@Open^$", "<PRE>\nBad number '-1' for column id_num\n</PRE>\n"},
      {"a fraction", keys + "1.5^@Open^$", "<PRE>\nBad number '1.5' for column id_num\n</PRE>\n"},
  };
  for (const Case& c : cases) {
    set("row2form_rec", c.rec);
    driver_results().odbcerror = "untouched";
    clear_output();
    EXPECT_EQ(check(), -1) << c.what;
    EXPECT_EQ(page(), c.message) << c.what;
    EXPECT_EQ(driver_results().odbcerror, "untouched") << c.what << ": a statement ran";
  }
  // Blanks around a number are fine.
  set("row2form_rec", with(shown(1), "id_num", " 1 "));
  EXPECT_EQ(check(), std::nullopt) << page();
}

TEST_F(RecordLock, MissingConnectionObjects) {
  set("row2form_rec", shown(1));
  struct Case {
    const char* object;
    const char* message;
  } cases[] = {
      {"dbserver_hostname", "Missing dbhost name object\n"},
      {"network_timeout", "Missing timeout name object\n"},
      {"db_name", "Missing database name object\n"},
      {"db_table_name", "Missing table name object\n"},
  };
  for (const Case& c : cases) {
    std::string old = objtext(list_, std::string(c.object) + ".VALUE");
    set(c.object, "");
    clear_output();
    EXPECT_EQ(check(), -1) << c.object;
    EXPECT_EQ(page(), std::string("<PRE>\n") + c.message + "</PRE>\n");
    set(c.object, old);
  }
}

TEST_F(RecordLock, DatabaseErrorsGoBackToTheCaller) {
  set("row2form_rec", shown(1));
  set("db_table_name", "nosuchtable");
  EXPECT_EQ(check(), std::nullopt);
  EXPECT_NE(result_, 0);
  EXPECT_TRUE(page().starts_with("<PRE>\nSQL Error: '")) << page();
  EXPECT_NE(page().find("nosuchtable"), std::string::npos) << page();
  EXPECT_FALSE(lock_.stored);

  // A table text that is not a table list never reaches the database.
  set("db_table_name", "cases where 1=1; drop table cases");
  driver_results().odbcerror = "untouched";
  clear_output();
  EXPECT_EQ(check(), std::nullopt);
  EXPECT_EQ(result_, -1);
  EXPECT_EQ(page(), "<PRE>\nBad table name 'cases where 1=1; drop table cases'\n</PRE>\n");
  EXPECT_EQ(driver_results().odbcerror, "untouched");
  EXPECT_EQ(rows("select count(*) from cases"), "2^$");
}

TEST(SpaceStrcmp, ComparesLettersOnly) {
  struct Case {
    const char* a;
    const char* b;
    int sign;
  } cases[] = {
      {"Open", "Open", 0},         {"a b\r\nc", "abc", 0},   {"Room 12", "Room 14", 0},
      {"", "12 -- !", 0},          {"Open", "Closed", 1},    {"Closed", "Open", -1},
      {"open", "Open", 1},         {"x", "", 1},
  };
  for (const Case& c : cases) {
    int r = spacestrcmp(c.a, c.b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " / " << c.b;
  }
}
