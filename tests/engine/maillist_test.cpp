// Rule objects: matching a rule's criteria against the case, the recipients
// a rule adds in each mode (USER, STAFF, STAFF-<column>, whole-entry
// duplicates), the base list of a mail, custom-message rules past any fixed
// count, and lists past any fixed size.
#include <gtest/gtest.h>

#include "data/mailrecords.h"
#include "engine/maillist.h"
#include "enginetest.h"

using namespace kiv;
using enginetest::Attr;

namespace {

// A rule object: NAME, VALUE (rows of accepted values), TITLE (recipients)
// and, for custom messages, CONTROL.
std::vector<Attr> rule(const std::string& name, const std::string& value, const std::string& title,
                       const std::string& control = "") {
  return {{name + ".VALUE", value}, {name + ".TITLE", title}, {name + ".CONTROL", control}};
}

class Rules : public kivtest::KivTest {};

const std::string kRule = "maillist_category^@status^$:1";

}  // namespace

TEST_F(Rules, MatchingTheCriteria) {
  struct Case {
    const char* what;
    std::vector<Attr> record;
    std::string rule;
    std::string value;
    int match;
  } cases[] = {
      {"both hold", {{"category.VALUE", "Software"}, {"status.VALUE", "Open"}}, kRule, "Hardware^@Software^$Open^$", 1},
      {"one fails", {{"category.VALUE", "Software"}, {"status.VALUE", "Closed"}}, kRule, "Hardware^@Software^$Open^$", 0},
      {"an empty value never matches an empty column", {{"category.VALUE", "Software"}, {"status.VALUE", ""}},
       kRule, "Software^$Open^@^^^$", 0},
      {"a field missing", {{"category.VALUE", "Software"}}, kRule, "Software^$Open^$", 0},
      {"exact, with case", {{"category.VALUE", "software"}, {"status.VALUE", "Open"}}, kRule, "Software^$Open^$", 0},
      {"no part of a value", {{"category.VALUE", "Soft"}, {"status.VALUE", "Open"}}, kRule, "Software^$Open^$", 0},
      {"fewer value rows than criteria", {{"category.VALUE", "Software"}, {"status.VALUE", "Open"}}, kRule,
       "Software^$", 0},
      {"criteria without a row end", {{"status.VALUE", "Open"}}, "maillist_status:2", "Open^$", 1},
      {"field names holding _", {{"sub_status.VALUE", "x"}}, "maillist_sub_status^$:3", "x^$", 1},
      {"no colon", {{"status.VALUE", "Open"}}, "maillist_status^$", "Open^$", 0},
      {"no underscore", {{"status.VALUE", "Open"}}, "mailliststatus:1", "Open^$", 0},
      {"an empty criterion", {{"status.VALUE", "Open"}}, "maillist_^@status^$:1", "x^$Open^$", 0},
  };
  for (const Case& c : cases) {
    auto list = enginetest::objects(c.record + rule(c.rule, c.value, "ann@x.test^$"));
    EXPECT_EQ(process_mail_object(*list, c.rule), c.match) << c.what;
  }
  auto list = enginetest::objects({{"status.VALUE", "Open"}});
  EXPECT_EQ(process_mail_object(*list, "maillist_status^$:9"), 0);  // no such rule

  EXPECT_EQ(getmailtrigcount(kRule), 2);
  EXPECT_EQ(getmailtrig(kRule, 2), "status");
  EXPECT_EQ(getmailtrigcount("maillist_status"), 0);
  EXPECT_EQ(compareval("a^@b^$", "b"), 1);
  EXPECT_EQ(compareval("a^@b^$", ""), 0);
  EXPECT_EQ(needmail(*list, "status", "Closed^@Open^$"), 1);
}

TEST_F(Rules, RecipientsInMailMode) {
  MailState& ms = mailstate();
  ms.mailuser = "sub@x.test";
  ms.mailstaff = "staff@x.test";
  ms.gmailkeys = "sa_login^@pager^@phone^$";
  ms.gmaildata = "alice^@pager@x.test^@^^^$";
  struct Case {
    const char* what;
    std::string start;
    std::string title;
    std::string list;
  } cases[] = {
      {"USER once", "", "USER^@bob@x.test^@USER^$", "sub@x.test,bob@x.test,"},
      {"STAFF and a staff column", "", "STAFF^@STAFF-pager^$", "staff@x.test,pager@x.test,"},
      {"a staff column without a value", "", "STAFF-phone^@STAFF-nosuch^@c@x.test^$", "c@x.test,"},
      {"whole entries only", "joanne@x.test,", "ann@x.test^@joanne@x.test^$", "joanne@x.test,ann@x.test,"},
      {"blanks around an entry", "sub@x.test, others@x.test,", "others@x.test^@USER^$",
       "sub@x.test, others@x.test,"},
  };
  for (const Case& c : cases) {
    std::string list = c.start;
    EXPECT_EQ(addtomaillist(list, c.title, kMailMode), 0);
    EXPECT_EQ(list, c.list) << c.what;
  }
  std::string list;
  EXPECT_EQ(addtomaillist(list, "", kMailMode), -1);
  ms.mailuser.clear();
  EXPECT_EQ(addtomaillist(list, "USER^@STAFF-phone^$", kMailMode), 0);
  EXPECT_EQ(list, "");

  // In the other modes every word is a login, separated by blanks.
  list = "alice ";
  addtomaillist(list, "al^@USER^@alice^$", kAssignMode);
  EXPECT_EQ(list, "alice al USER ");
}

TEST_F(Rules, MainListAndCustomMessages) {
  auto record = std::vector<Attr>{{"category.VALUE", "Software"},
                                  {"status.VALUE", "Open"},
                                  {"sub_e_mail.VALUE", "sub@x.test"},
                                  {"autoassign_control.VALUE", "ON"}};
  auto rules = rule("maillist_category^$:1", "Software^$", "USER^@bob@x.test^$") +
               rule(kRule + "2", "Software^$Open^$", "carol@x.test^@USER^$", "message_category^@status^$:2") +
               rule("maillist_status^$:3", "Closed^$", "nobody@x.test^$") +
               rule("maillist_status^$:4", "Open^$", "dave@x.test^@bob@x.test^$");
  MailState& ms = mailstate();
  ms.mailothers = "others@x.test";
  ms.mailuser = "sub@x.test";
  auto list = enginetest::objects(record + rules);
  const MailLists lists = getmaillist(*list, kMailMode);
  EXPECT_EQ(lists.main, "sub@x.test,others@x.test,bob@x.test,dave@x.test");
  ASSERT_EQ(lists.bymsg.size(), 1u);
  EXPECT_EQ(lists.bymsg[0].list, "carol@x.test,sub@x.test");
  EXPECT_EQ(lists.bymsg[0].message, "message_category^@status^$:2");

  // Per operation: the submitter only through the rules naming USER.
  ms.mailuser.clear();
  auto per_op = enginetest::objects(record + std::vector<Attr>{{"mail_user_per_op.VALUE", "ON"}} + rules);
  EXPECT_EQ(getmaillist(*per_op, kMailMode).main, "others@x.test,sub@x.test,bob@x.test,dave@x.test");
  auto no_user_rule =
      enginetest::objects(record + std::vector<Attr>{{"mail_user_per_op.VALUE", "ON"}} +
                          rule("maillist_status^$:4", "Open^$", "dave@x.test^$"));
  ms.mailothers.clear();
  EXPECT_EQ(getmaillist(*no_user_rule, kMailMode).main, "dave@x.test");

  // The assignment kind reads only its own rules.
  auto assign = enginetest::objects(record + rule("autoassign_status^$:1", "Open^$", "alice^@bob^$") +
                                    rule("autoassign_status^$:2", "Open^$", "bob^@carol^$"));
  EXPECT_EQ(getmaillist(*assign, kAssignMode).main, "alice bob carol");
}

TEST_F(Rules, NoFixedLimits) {
  std::vector<Attr> attrs{{"status.VALUE", "Open"}};
  std::string many;
  for (int i = 0; i < 3000; ++i) many += "someone" + std::to_string(i) + "@example.test^@";
  many.replace(many.size() - 2, 2, "^$");
  attrs = attrs + rule("maillist_status^$:1", "Open^$", many);
  for (int i = 0; i < 150; ++i)
    attrs = attrs + rule("maillist_status^$:" + std::to_string(i + 2), "Open^$",
                         "m" + std::to_string(i) + "@x.test^$", "message_status^$:" + std::to_string(i + 2));
  auto list = enginetest::objects(attrs);
  const MailLists lists = getmaillist(*list, kMailMode);
  EXPECT_GT(lists.main.size(), 60000u);
  EXPECT_TRUE(lists.main.ends_with("someone2999@example.test"));
  ASSERT_EQ(lists.bymsg.size(), 150u);
  EXPECT_EQ(lists.bymsg[149].list, "m149@x.test");
  EXPECT_EQ(lists.bymsg[149].message, "message_status^$:151");
}
