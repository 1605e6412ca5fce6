// The commands that open a stored case on a form and store it again, over
// the sample installation on SQLite and on PostgreSQL through ODBC: the
// record shown for a change or for viewing, the error page by the third or
// the fourth word, the closing date of an opened case, the user's own
// record whatever the login holds; the modify by its submitter against the
// plain modify chosen by the word count, the form's record that may not
// set configuration, the new note after the old text; and the answer with
// the staff member's defaults.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "commands/upmodify.h"
#include "commands/uprow2form.h"
#include "engine/upclock.h"
#include "engine/upflags.h"
#include "support/testsupport.h"
#include "toolkit/text/rowcol.h"
#include "uptest.h"

using namespace kiv;
namespace fs = std::filesystem;

namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

class ChangeCases : public uptest::FoundCases {
 protected:
  void SetUp() override {
    FoundCases::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    engineclock().now = 1709629200;  // Tuesday 5 March 2024, 09:00 UTC
    tz_ = std::make_unique<kivtest::ScopedTz>("UTC");
    page_template("case.html", "[FB{case_num.VALUE}FE|FB{status.VALUE}FE|FB{category.VALUE}FE|"
                               "FB{submitted_by.VALUE}FE|FB{date_closed.VALUE}FE|FB{assigned_to.VALUE}FE]\n");
    page_template("done.html", "done FB{case_num.VALUE}FE\n");
    page_template("notfound.html", "not found\n");
    configure("OBJECT{\n\tNAME=problem_log\n\tVALUE=ON\n};\n");
  }
  static std::string message(const std::string& text) { return "<PRE>\n" + text + "</PRE>\n"; }

  // The request of a form that shows record `id`: every column of the
  // record as its field and the record as row2form_rec, with changes.
  Fields shown_form(int id, const Fields& changes = {}) {
    const std::string rec = shown(id);
    const std::string keys = *getrow(rec, 1), data = *getrow(rec, 2);
    Fields f;
    for (int i = 1; i <= getcolcount(keys); ++i) f.emplace_back(*getcol(keys, i) + ".VALUE", *getcol(data, i));
    for (const auto& [k, v] : changes) {
      bool replaced = false;
      for (auto& [fk, fv] : f)
        if (fk == k) fv = v, replaced = true;
      if (!replaced) f.emplace_back(k, v);
    }
    f.emplace_back("row2form_rec.VALUE", rec);
    return f;
  }
  std::unique_ptr<kivtest::ScopedTz> tz_;
};

// The criteria that fetch the case numbered `n`.
std::string by_number(const std::string& n) { return "case_num^$==" + n + "^$"; }

}  // namespace

TEST_P(ChangeCases, ACaseOpensForAChangeOrForViewing) {
  add_case(1, "C1", "Open");
  exec("update cases set date_closed = '2024-01-02 00:00:00', category = 'Network' where id_num = 1");
  // For a change: menus keep their items; the closing date becomes today,
  // even where the case has one.
  EXPECT_EQ(run(up_row2form, {"up_row2form", "case.html"}, {{"row2form_rec.VALUE", by_number("C1")}}), 0)
      << page();
  EXPECT_EQ(page(), "[C1|Open^@Open^@Open^@Assigned^@In progress^@Pending^@Closed^$|Network^@Other^@Hardware^@Software^@Network^@Account^@"
                    "Other^$|ann|03/05/2024|]\n");
  // With a closing-date switch configured it stays the stored one.
  configure("OBJECT{\n\tNAME=date_closed_flag\n\tVALUE=1\n};\n");
  EXPECT_EQ(run(up_row2form, {"up_row2form", "case.html"}, {{"row2form_rec.VALUE", by_number("C1")}}), 0);
  EXPECT_NE(page().find("|ann|01/02/2024"), std::string::npos) << page();
  // For viewing: an empty field shows "*".
  EXPECT_EQ(run(up_row2form, {"up_row2form", "case.html", "-v"}, {{"row2form_rec.VALUE", by_number("C1")}}), 0);
  EXPECT_EQ(page().substr(0, 19), "[C1|Open|Network|an") << page();
  EXPECT_TRUE(page().ends_with("|*]\n")) << page();

  // Nothing found: the error page by the third or the fourth word, else
  // the messages and 1.
  struct Case {
    std::vector<std::string> words;
    int status;
    std::string page;
    int flag;
  } cases[] = {
      {{"up_row2form", "case.html", "-v"}, 1, message("No record to display\n") + message("No records found\n"), 0},
      {{"up_row2form", "case.html", "notfound.html"}, 0, "not found\n", 1},
      {{"up_row2form", "case.html", "-v", "notfound.html"}, 0, "not found\n", 1},
  };
  for (const Case& c : cases) {
    engineflags().errorpageflag = 0;
    EXPECT_EQ(run(up_row2form, c.words, {{"row2form_rec.VALUE", by_number("C9")}}), c.status);
    EXPECT_EQ(page(), c.page) << c.words.size();
    EXPECT_EQ(engineflags().errorpageflag, c.flag);
  }
  EXPECT_EQ(run(up_row2form, {"up_row2form", "case.html"}), 1);
  EXPECT_EQ(page(), message("OBJ_CAST_REC is empty\n"));
  EXPECT_EQ(run(up_row2form, {"up_row2form"}), 2);
  EXPECT_EQ(page(), message("Wrong usage: upfind templatefile\n"));
}

// "findmyrec_submitted_by" fetches the record of the user's own login, and
// no other, whatever commas, dashes or carets the login holds.
TEST_P(ChangeCases, TheUsersOwnRecordWhateverTheLoginHolds) {
  const char* logins[] = {"ann", "a", "b", "a,b", "x", "xyz", "x--", "y", "^y", "annie"};
  int id = 0;
  for (const char* who : logins) {
    ++id;
    add_case(id, "C" + std::to_string(id), "Open", who);
  }
  page_template("mine.html", "[FB{findresultnum.VALUE}FE|FB{submitted_by.VALUE}FE]\n");
  for (const char* who : {"ann", "a,b", "x--", "^y"}) {
    EXPECT_EQ(run(up_row2form, {"up_row2form", "mine.html", "notfound.html"},
                  {{"row2form_rec.VALUE", "findmyrec_submitted_by"}}, std::string(who)),
              0)
        << who;
    EXPECT_EQ(page(), std::string("[1|") + who + "]\n") << who;
  }
  // Without a login, no record is anybody's.
  EXPECT_EQ(run(up_row2form, {"up_row2form", "mine.html", "notfound.html"},
                {{"row2form_rec.VALUE", "findmyrec_submitted_by"}}),
            0);
  EXPECT_EQ(page(), "not found\n");
}

// The staff member's defaults fill only the fields still empty, and a
// profile's column that names configuration sets nothing.
TEST_P(ChangeCases, TheStaffDefaultsFillTheEmptyFields) {
  add_case(1, "C1", "Open");
  home_.write("staff/sam", "assigned_to^@status^@db_table_name^$sam^@Closed^@nosuch^$");
  EXPECT_EQ(run(up_row2form, {"up_row2form", "case.html"}, {{"row2form_rec.VALUE", by_number("C1")}}, "sam"), 0);
  EXPECT_EQ(page(), "[C1|Open^@Open^@Open^@Assigned^@In progress^@Pending^@Closed^$|^@Other^@Hardware^@Software^@Network^@Account^@Other^$|"
                    "ann|03/05/2024|sam]\n");
  EXPECT_EQ(rows("select count(*) from cases"), "1^$");
}

TEST_P(ChangeCases, AModifyByItsSubmitterOrAPlainModify) {
  add_case(1, "C1", "Open");
  const std::string stored = rows("select problem from cases where id_num = 1");
  // The submitter adds a note: it follows the stored text, with a stamp.
  EXPECT_EQ(run(up_modify, {"up_modify", "done.html"},
                shown_form(1, {{"problem.VALUE", "A new note."}, {"priority.VALUE", "High"}}), "ann"),
            0)
      << page();
  EXPECT_EQ(page(), "done C1\n");
  const std::string problem = rows("select problem from cases where id_num = 1");
  EXPECT_TRUE(problem.starts_with("Problem 1\nA new note.\n[-Open- 03/05/2024 09:00:00 AM - ann - ")) << problem;
  EXPECT_EQ(rows("select priority from cases"), "High^$");
  EXPECT_NE(stored, problem);

  // Another user may not, unless it is the plain modify of three words.
  struct Case {
    std::vector<std::string> words;
    int status;
    bool stored;
  } cases[] = {
      {{"up_modify", "done.html"}, 1, false},
      {{"up_modify", "done.html", "plain", "more"}, 1, false},
      {{"up_modify", "done.html", "plain"}, 0, true},
  };
  for (const Case& c : cases) {
    const int status = run(up_modify, c.words, shown_form(1, {{"category.VALUE", "Account"}}), "bob");
    EXPECT_EQ(status, c.status) << c.words.size();
    EXPECT_EQ(rows("select category from cases") == "Account^$", c.stored) << c.words.size();
    if (!c.stored) {
      EXPECT_NE(page().find("Can't change this case."), std::string::npos) << page();
      EXPECT_TRUE(page().ends_with(message("Modify failed"))) << page();
    }
  }
}

TEST_P(ChangeCases, TheFormsRecordSetsFieldsOnly) {
  add_case(1, "C1", "Open");
  const std::string ran = path("hook-ran");
  configure("OBJECT{\n\tNAME=tk_pre_modify\n\tVALUE=OFF\n\tTITLE=" + script("hook", "touch " + ran + "\n") +
            "\n};\n");
  // The shown record carries columns named like configuration: a table, a
  // hook switch, a path. None of them changes what runs.
  const std::string rec = shown(1);
  std::string keys = *getrow(rec, 1), data = *getrow(rec, 2);
  keys.insert(keys.size() - 2, "^@db_table_name^@tk_pre_modify^@attachdir");
  data.insert(data.size() - 2, "^@nosuch^@ON^@/tmp");
  Fields f = shown_form(1, {{"problem.VALUE", "Note."}});
  f.back().second = keys + data;
  EXPECT_EQ(run(up_modify, {"up_modify", "done.html"}, f, "ann"), 0) << page();
  EXPECT_EQ(page(), "done C1\n");
  EXPECT_FALSE(fs::exists(ran));
  EXPECT_NE(rows("select problem from cases").find("Note."), std::string::npos);
}

TEST_P(ChangeCases, TheFormsRecordAndItsValues) {
  add_case(1, "C1", "Open");
  struct Case {
    const char* what;
    Fields fields;
    int status;
    std::string page;
  } cases[] = {
      {"no record", {{"problem.VALUE", "x"}}, -1, message("Missing OBJ_CAST_REC \n")},
      {"three rows", {{"row2form_rec.VALUE", "a^$b^$c^$"}}, -1, message("pre_modify: Bad record format \n")},
      {"a separator in a value", shown_form(1, {{"problem.VALUE", "a^@b"}}), 1,
       message("Invalid characters in 'Problem'\n") + message("Modify failed")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run(up_modify, {"up_modify", "done.html"}, c.fields, "ann"), c.status) << c.what;
    EXPECT_EQ(page(), c.page) << c.what;
  }
  EXPECT_EQ(rows("select problem from cases"), "Problem 1^$");
  EXPECT_EQ(run(up_modify, {"up_modify"}), 2);
  EXPECT_EQ(page(), message("Wrong usage: upmodify templatefile\n"));
}

// An answer takes the non-empty values of the assigned staff member's
// profile over the form's.
TEST_P(ChangeCases, AnAnswerWithTheStaffDefaults) {
  add_case(1, "C1", "Open");
  exec("update cases set category = 'Network' where id_num = 1");
  home_.write("staff/sam", "category^@priority^@resolution^$^^^@Urgent^@\n^^^$");
  EXPECT_EQ(run(up_respond, {"up_respond", "done.html"},
                shown_form(1, {{"assigned_to.VALUE", "sam"},
                               {"resolution.VALUE", "Replaced the cable."},
                               {"status.VALUE", "Closed"},
                               {"problem.VALUE", ""}}),
                "sam"),
            0)
      << page();
  EXPECT_EQ(rows("select category, priority, status, assigned_to from cases"), "Network^@Urgent^@Closed^@sam^$");
  EXPECT_TRUE(rows("select resolution from cases").starts_with("Replaced the cable."));
  EXPECT_EQ(rows("select problem from cases").substr(0, 24), "Problem 1\n[-Closed- 03/0");
  // Without a login nothing is answered.
  EXPECT_EQ(run(up_respond, {"up_respond", "done.html"}, shown_form(1, {{"status.VALUE", "Open"}})), 1);
  EXPECT_NE(page().find("Pre_Modify: The system can't determine who are you"), std::string::npos);
  EXPECT_TRUE(page().ends_with(message("Modify failed")));
  EXPECT_EQ(rows("select status from cases"), "Closed^$");
}

INSTANTIATE_TEST_SUITE_P(Roads, ChangeCases, ::testing::Values(kivtest::Road::sqlite, kivtest::Road::postgres),
                         kivtest::road_name);
