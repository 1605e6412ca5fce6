// Field stamps, logs and form checks: the stamp line and when a field gets
// it, line ends, the running logs with and without an assignment running,
// the required-field and blank-form checks, and the folding of extra problem
// fields (rule objects left out).
#include <gtest/gtest.h>

#include <ctime>

#include "engine/upclock.h"
#include "engine/upflags.h"
#include "engine/upstamp.h"
#include "enginetest.h"

using namespace kiv;
using enginetest::Attr;
using enginetest::objects;
using enginetest::value;
using kivtest::ScopedEnv;

namespace {

// 1700000000 is 11/14/2023 10:13:20 PM in UTC.
constexpr std::time_t kMoment = 1700000000;
const std::string kStamp = "\n[-Open- 11/14/2023 10:13:20 PM - bob - up_add-]";

class Stamps : public kivtest::KivTest {
 protected:
  void SetUp() override {
    KivTest::SetUp();
    engineclock().now = kMoment;
    reqctx().action = "up_add";
  }
  kivtest::ScopedTz tz_{"UTC0"};
  ScopedEnv user_{"REMOTE_USER", "bob"};
};

}  // namespace

TEST_F(Stamps, WhichFieldsGetTheStampLine) {
  struct Case {
    const char* what;
    std::vector<Attr> config;
    std::string field;
    std::string before;  // the field's VALUE; none set when empty
    std::string after;   // the VALUE afterwards; empty: no value
  } cases[] = {
      {"problem_timestamp 1", {{"problem_timestamp.VALUE", "1"}}, "problem", "text", "text" + kStamp},
      {"problem_timestamp read as atoi reads", {{"problem_timestamp.VALUE", "1 day"}}, "problem", "text",
       "text" + kStamp},
      {"problem_timestamp yes", {{"problem_timestamp.VALUE", "yes"}}, "problem", "text", "text"},
      {"problem_timestamp 2", {{"problem_timestamp.VALUE", "2"}}, "problem", "text", "text"},
      {"no problem_timestamp", {}, "problem", "text", "text"},
      {"resolution_timestamp 1", {{"resolution_timestamp.VALUE", "1"}}, "resolution", "done", "done" + kStamp},
      {"problem_timestamp does not stamp resolution", {{"problem_timestamp.VALUE", "1"}}, "resolution", "done",
       "done"},
      {"any other field, always", {}, "note", "n", "n" + kStamp},
      {"an empty field gets the stamp alone", {}, "note", "", kStamp},
      {"an empty problem without a stamp stays empty", {}, "problem", "", ""},
      {"CR LF becomes LF without a stamp", {}, "problem", "a\r\nb\r\n\rc\r", "a\nb\n\rc\r"},
      {"CR LF becomes LF with a stamp", {}, "note", "a\r\nb", "a\nb" + kStamp},
  };
  for (const Case& c : cases) {
    std::vector<Attr> attrs = c.config;
    attrs.push_back({"status.VALUE", "Open", Origin::request});
    if (!c.before.empty()) attrs.push_back({c.field + ".VALUE", c.before, Origin::request});
    auto list = objects(attrs);
    EXPECT_EQ(timestamp(*list, c.field), 0) << c.what;
    EXPECT_EQ(value(*list, c.field), c.after) << c.what;
  }
}

TEST_F(Stamps, PlacesOfTheStampLine) {
  struct Case {
    const char* what;
    std::optional<std::string> status, user, action;
    const char* dateformat;
    std::string line;
  } cases[] = {
      {"all known", "Open", "bob", "up_add", "mdy", kStamp},
      {"menu with nothing chosen", "^@Open^@Closed^$", "bob", "up_add", "mdy",
       "\n[-*- 11/14/2023 10:13:20 PM - bob - up_add-]"},
      {"menu the form did not set: its chosen item", "Open^@Open^@Pending^@Closed^$", "bob", "up_add", "mdy", kStamp},
      {"no status, login or action", std::nullopt, std::nullopt, std::nullopt, "mdy",
       "\n[- - 11/14/2023 10:13:20 PM - Unknown - Unknown-]"},
      {"login with a domain part", "Open", "bob/corp", "up_respond", "mdy",
       "\n[-Open- 11/14/2023 10:13:20 PM - bob - up_respond-]"},
      {"dmy date format", "Open", "bob", "up_add", "dmy", "\n[-Open- 14/11/2023 10:13:20 PM - bob - up_add-]"},
  };
  for (const Case& c : cases) {
    ScopedEnv user("REMOTE_USER", c.user);
    reqctx().action = c.action.value_or("");
    settings().dateformat = c.dateformat;
    auto list = objects({});
    if (c.status) adduniqobj(*list, "status.VALUE", *c.status);
    EXPECT_EQ(stampline(*list), c.line) << c.what;
  }
}

TEST_F(Stamps, StampedTextIsMarkedForEscaping) {
  auto list = objects({{"note.VALUE", "configured default"}, {"status.VALUE", "<b>Open</b>", Origin::request}});
  timestamp(*list, "note");
  kivobj* note = list->find("note");
  ASSERT_NE(note, nullptr);
  EXPECT_TRUE(note->marked(attr::VALUE));
  EXPECT_EQ(note->value(), "configured default\n[-<b>Open</b>- 11/14/2023 10:13:20 PM - bob - up_add-]");
}

TEST_F(Stamps, FieldStampStampsEveryListedField) {
  auto list = objects({{"field_stamp.VALUE", "note^@^^^@extra^$"},
                       {"note.VALUE", "n", Origin::request},
                       {"status.VALUE", "Open"}});
  EXPECT_EQ(fieldstamp(*list), 0);
  EXPECT_EQ(value(*list, "note"), "n" + kStamp);
  EXPECT_EQ(value(*list, "extra"), kStamp);  // created with the stamp alone
  // A value that is not a row names nothing.
  auto plain = objects({{"field_stamp.VALUE", "note"}, {"note.VALUE", "n"}});
  fieldstamp(*plain);
  EXPECT_EQ(value(*plain, "note"), "n");
}

TEST_F(Stamps, ProblemAndResolutionLogs) {
  struct Case {
    const char* what;
    std::string problem_log, resolution_log;
    int doingassign;
    std::string problem, resolution;
  } cases[] = {
      {"logs on", "ON", "ON", 0, "first\nsecond" + kStamp, "old fix\nnew fix"},
      {"logs on during an assignment: stamps only", "ON", "ON", kDoingAssign, "second" + kStamp, "new fix"},
      {"another assignment value does not stop the logs", "ON", "ON", 1, "first\nsecond" + kStamp,
       "old fix\nnew fix"},
      {"switches compare with case", "on", "On", 0, "second" + kStamp, "new fix"},
      {"logs off", "", "", 0, "second" + kStamp, "new fix"},
  };
  for (const Case& c : cases) {
    engineflags().doingassign = c.doingassign;
    auto list = objects({{"problem_log.VALUE", c.problem_log},
                         {"resolution_log.VALUE", c.resolution_log},
                         {"problem_timestamp.VALUE", "1"},
                         {"field_stamp.VALUE", "note^$"},
                         {"status.VALUE", "Open"},
                         {"problem.VALUE", "second", Origin::request},
                         {"resolution.VALUE", "new fix", Origin::request}});
    EXPECT_EQ(catproblem(*list, "first"), 0) << c.what;
    EXPECT_EQ(catresolution(*list, "old fix"), 0) << c.what;
    EXPECT_EQ(value(*list, "problem"), c.problem) << c.what;
    EXPECT_EQ(value(*list, "resolution"), c.resolution) << c.what;
    EXPECT_EQ(value(*list, "note"), kStamp) << c.what;  // catproblem's fieldstamp, once
  }
  // Only one side has text: that one; neither: the field stays empty.
  auto list = objects({{"problem_log.VALUE", "ON"}, {"resolution_log.VALUE", "ON"}});
  catproblem(*list, "only old");
  catresolution(*list, "");
  EXPECT_EQ(value(*list, "problem"), "only old");
  EXPECT_EQ(list->find("resolution"), nullptr);
}

TEST_F(Stamps, FieldLogKeepsTheOldValues) {
  auto list = objects({{"field_log.VALUE", "notes^@^^^@other^@fresh^@gone^$"},
                       {"notes.VALUE", "new", Origin::request},
                       {"fresh.VALUE", "typed", Origin::request}});
  EXPECT_EQ(fieldlog(*list, "notes^@other^@fresh^@gone^$", "old^@^^^@^^^@kept^$"), 0);
  EXPECT_EQ(value(*list, "notes"), "old\nnew");
  EXPECT_EQ(list->find("other"), nullptr);
  EXPECT_EQ(value(*list, "fresh"), "typed");
  EXPECT_EQ(value(*list, "gone"), "kept");
  EXPECT_TRUE(list->find("notes")->marked(attr::VALUE));
}

TEST_F(Stamps, RequiredFields) {
  struct Case {
    const char* what;
    std::vector<Attr> attrs;
    int result;
    std::string page;
  } cases[] = {
      {"enforce_fields: the first empty one is named by its TITLE",
       {{"enforce_fields.VALUE", "a^@b^@c^$"}, {"a.VALUE", "x"}, {"b.TITLE", "B's <title>"}, {"c.TITLE", "C"}},
       -1, "<PRE>\n'B&#39;s &#60;title&#62;' can't be blank\n</PRE>\n"},
      {"enforce_fields all given, DBKEY not needed",
       {{"enforce_fields.VALUE", "a^@b^$"}, {"a.VALUE", "x"}, {"b.VALUE", "y"}},
       0, ""},
      {"enforce_fields wins over ENFORCE attributes",
       {{"enforce_fields.VALUE", "a^$"}, {"a.VALUE", "x"}, {"d.DBKEY", "d"}, {"d.ENFORCE", "1"}},
       0, ""},
      {"enforce_fields that is not a row requires nothing",
       {{"enforce_fields.VALUE", "a"}, {"d.DBKEY", "d"}, {"d.ENFORCE", "1"}},
       0, ""},
      {"ENFORCE with a DBKEY and no VALUE",
       {{"d.DBKEY", "d"}, {"d.ENFORCE", "1"}, {"d.TITLE", "Dept"}, {"e.DBKEY", "e"}, {"e.ENFORCE", "yes"}},
       -1, "<PRE>\n'Dept' can't be blank\n</PRE>\n"},
      {"ENFORCE without a DBKEY is not looked at",
       {{"d.ENFORCE", "1"}, {"e.DBKEY", "e"}, {"e.ENFORCE", "1"}, {"e.VALUE", "v"}},
       0, ""},
      // Blank is what the record would carry as no value.
      {"a value of separators only is blank",
       {{"enforce_fields.VALUE", "a^@b^$"}, {"a.VALUE", "^$"}, {"a.TITLE", "A"}, {"b.VALUE", "y"}},
       -1, "<PRE>\n'A' can't be blank\n</PRE>\n"},
      {"a row end anywhere is blank", {{"enforce_fields.VALUE", "a^$"}, {"a.VALUE", "x^$y"}, {"a.TITLE", "A"}},
       -1, "<PRE>\n'A' can't be blank\n</PRE>\n"},
      {"a menu's item list with nothing chosen is blank",
       {{"d.DBKEY", "d"}, {"d.ENFORCE", "1"}, {"d.TITLE", "Dept"}, {"d.VALUE", "IT^@HR^$"}},
       -1, "<PRE>\n'Dept' can't be blank\n</PRE>\n"},
      {"a lone caret is a value", {{"enforce_fields.VALUE", "a^$"}, {"a.VALUE", "^"}}, 0, ""},
  };
  for (const Case& c : cases) {
    clear_output();
    auto list = objects(c.attrs);
    EXPECT_EQ(enforce(*list), c.result) << c.what;
    EXPECT_EQ(page(), c.page) << c.what;
  }
}

// A request's value that holds a row/column separator is refused by the
// field's title; other attributes, the state file's and the start-up's
// values, and lone carets are left alone.
TEST_F(Stamps, SeparatorsInRequestValues) {
  auto list = objects({{"submitted_by.TITLE", "Your <name>"}, {"problem.TITLE", "Problem"}});
  struct Case {
    const char* what;
    std::string name, value;
    ExSource source;
    std::string refused;  // the title named; "" for none
  } cases[] = {
      {"^$ in a field", "submitted_by.VALUE", "^$", ExSource::form, "Your &#60;name&#62;"},
      {"^@ inside a text", "problem.VALUE", "a^@b", ExSource::form, "Problem"},
      {"^^ inside a text", "problem", "x^^y", ExSource::form, "Problem"},
      {"an object without a title", "nosuch.VALUE", "a^$", ExSource::form, "nosuch"},
      {"^^ at the end", "problem.VALUE", "^a ^ b^^", ExSource::form, "Problem"},
      {"a lone caret and others", "problem.VALUE", "2^3 ^ a^b", ExSource::form, ""},
      {"another attribute", "problem.TITLE", "a^@b", ExSource::form, ""},
      {"the state file's value", "problem.VALUE", "a^@b", ExSource::statefile, ""},
      {"the start-up's value", "problem.VALUE", "a^@b", ExSource::startup, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    clear_output();
    exlist request;
    request.nodes.push_back(formexdatanode("KIVACTION", "add"));
    request.nodes.push_back(formexdatanode(c.name, c.value, c.source));
    EXPECT_EQ(check_separators(&request, *list), c.refused.empty() ? 0 : -1);
    EXPECT_EQ(page(), c.refused.empty() ? "" : "<PRE>\nInvalid characters in '" + c.refused + "'\n</PRE>\n");
  }
  EXPECT_EQ(check_separators(nullptr, *list), 0);
}

TEST_F(Stamps, BlankForm) {
  auto filled = objects({{"a.DBKEY", "a"}, {"b.VALUE", "x"}, {"c.DBKEY", "c"}, {"c.VALUE", "y"}});
  EXPECT_EQ(blankform(*filled), 0);
  EXPECT_EQ(page(), "");
  auto blank = objects({{"a.DBKEY", "a"}, {"b.VALUE", "x"}});
  EXPECT_EQ(blankform(*blank), -1);
  EXPECT_EQ(page(), "<PRE>\nblankform: Blank form</PRE>\n");
}

TEST_F(Stamps, SlackvarFoldsQuestionsButNotRules) {
  auto list = objects({
      {"problem.VALUE", "It broke.", Origin::request},
      {"problem:1.TITLE", "Which printer?"},
      {"problem:1.VALUE", "2nd floor", Origin::request},
      {"autoassign_problem:1.VALUE", "printer^$"},
      {"autoassign_problem:1.TITLE", "ann^$"},
      {"message_problem:2.TITLE", "mail text"},
      {"maillist_problem^@status^$:1.VALUE", "x^$"},
      {"workflow_problem:1.VALUE", "w"},
      {"alarmlist_problem:1.VALUE", "a"},
      {"problem:2.VALUE", "no title", Origin::request},
      {"problem:3.TITLE", "Unanswered"},
      {"sub:problem.CONTROL", "neither"},
      {"problemnote.VALUE", "no colon"},
  });
  EXPECT_EQ(slackvar(*list), 0);
  EXPECT_EQ(value(*list, "problem"),
            "Which printer?:2nd floor\nNo Title:no title\nUnanswered:\nNo Title:\nIt broke.");
  EXPECT_TRUE(list->find("problem")->marked(attr::VALUE));
  // Without extra fields the problem stays as it is.
  auto plain = objects({{"problem.VALUE", "p"}});
  slackvar(*plain);
  EXPECT_EQ(value(*plain, "problem"), "p");
}
