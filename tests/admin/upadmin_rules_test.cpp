// The rule editors through the frame, one table over the four kinds: create,
// list, get, modify and delete as tk_obj's exact bytes; rule numbers; the
// general message; an alarm rule's day range and time; every refusal writing
// nothing, names of other objects or kinds among them; picks holding row
// markers staying aligned (the matcher finds the case meant) and escaped in
// the page; no message object left behind by a modify.
#include "admintest.h"
#include "admin/upadmin_rules.h"
#include "engine/maillist.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/objects/kivobjfile.h"
#include "toolkit/text/rowcol.h"

using namespace kiv;
using namespace admintest;

namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

const std::string kCases =
    block({{"NAME", "id_num"}, {"DBKEY", "id_num"}, {"TITLE", "Record"}}) +
    block({{"NAME", "category"}, {"VALUE", "Other^@Hardware^@Network^@Other^$"}, {"DBKEY", "category"},
           {"TYPE", "MENU"}, {"TITLE", "Category"}}) +
    block({{"NAME", "priority"}, {"VALUE", "^^^@Low^@High^$"}, {"DBKEY", "priority"}, {"TYPE", "MENU"}}) +
    block({{"NAME", "status"}, {"DBKEY", "status"}, {"TITLE", "Status"}}) +
    block({{"NAME", "assigned_to"}, {"DBKEY", "assigned_to"}, {"TITLE", "Assigned to"}}) +
    object("autoassign_control", "ON") + object("workflow_control", "ON") +
    block({{"NAME", "tk_pre_add"}, {"VALUE", "OFF"}, {"TITLE", "/usr/local/bin/check"}}) +
    block({{"NAME", "mailmsg_subject"}, {"TITLE", "Case {case_num}"}}) +
    block({{"NAME", "mailmsg_body"}, {"TITLE", "General{n}body{n}"}});

// What the form shows after an operation.
constexpr const char* kRulePage =
    "to=FB{mailmsg_receiver.VALUE}FE|FB{autoassign_receiver.VALUE}FE|FB{workflow_receiver.VALUE}FE|"
    "FB{alarm_receiver.VALUE}FE s=FB{mailmsg_subject.VALUE}FE b=FB{mailmsg_body.VALUE}FE a=FB{assigned_to.VALUE}FE "
    "t=FB{alarm_hour.VALUE}FE:FB{alarm_min.VALUE}FE\nmenus=MB{all_menus.VALUE}ME\n";
constexpr const char* kListPage =
    "MB{mail_rule_list.VALUE}MEMB{autoassign_rule_list.VALUE}MEMB{workflow_rule_list.VALUE}MEMB{alarm_rule_list."
    "VALUE}ME\n";

// The words and form objects of one kind.
struct Kind {
  std::string name, fresh, create, modify, list, modget, delget, remove;
  std::string rule_form, receiver, prefix;
};
const Kind kKinds[] = {
    {"mail", "NewNotificationRule", "Create New Mail Rule", "Modify E-Mail Rule", "ListMailObject",
     "ModGetMailObject", "DelGetMailObject", "Delete E-Mail Rule", "admin_mail_name", "mailmsg_receiver",
     "maillist_"},
    {"autoassign", "NewAutoAssignRule", "Create New Auto-Assign Rule", "Modify Auto-Assign Rule",
     "ListAutoAssignObject", "ModGetAutoAssignObject", "DelGetAutoAssignObject", "Delete Auto-Assign Rule",
     "admin_autoassign_name", "autoassign_receiver", "autoassign_"},
    {"workflow", "NewWorkflowRule", "Create New Workflow Rule", "Modify Workflow Rule", "ListWorkflowObject",
     "ModGetWorkflowObject", "DelGetWorkflowObject", "Delete Workflow Rule", "admin_workflow_name",
     "workflow_receiver", "workflow_"},
    {"alarm", "NewAlarmRule", "Create Alarm Rule", "Modify Alarm Trigger", "ListAlarmObject", "ModGetAlarmObject",
     "DelGetAlarmObject", "Delete Alarm Rule", "admin_alarm_name", "alarm_receiver", "alarmlist_"},
};

std::string bars(std::string s) {
  caret2bar(s);
  return s;
}

const std::string kMenus =
    "<table><tr><td><b>Category</b></td><td><select name=\"mm_category\" multiple size=\"5\">"
    "<option>Hardware</option><option>Network</option><option>Other</option></select></td></tr><tr><td><b>*</b>"
    "</td><td><select name=\"mm_priority\" multiple size=\"5\"><option>Low</option><option>High</option></select>"
    "</td></tr></table>";

class Rules : public AdminTest {
 protected:
  void SetUp() override {
    AdminTest::SetUp();
    write("client/config/tk_obj", kCases);
    write("client/kivhtml/admin/rule.html", kRulePage);
    write("client/kivhtml/admin/list.html", kListPage);
  }

  Ended act(const std::string& word, const Fields& fields, const std::string& templ = "rule.html") {
    exlist request = form_of(fields);
    return run(word, &request, templ);
  }

  std::map<std::string, std::string> content() const {
    auto t = tree();
    std::erase_if(t, [](const auto& kv) { return kv.first.ends_with(".lock"); });
    return t;
  }

  // The form of a new rule of the kind: two picks of category, one of
  // priority, two recipients, and what the kind needs besides.
  static Fields create_form(const Kind& k) {
    Fields f = {{"mm_category", "Hardware"}, {"mm_category", "Network"}, {"mm_priority", "High"},
                {k.receiver + ".VALUE", "ann,bob"}};
    if (k.name == "mail") {
      f.emplace_back("mailmsg_subject.VALUE", "Own subject");
      f.emplace_back("mailmsg_body.VALUE", "Own\r\nbody");
    }
    if (k.name == "alarm") f.emplace_back("alarm_hour.VALUE", "47");
    return f;
  }

  // The blocks create_form's rule is saved as, with the number and the
  // recipients row.
  static std::string created(const Kind& k, int n, const std::string& to = "ann^@bob^$") {
    const std::string criteria = k.name == "alarm" ? "date_open^@category^@priority^$" : "category^@priority^$";
    const std::string name = k.prefix + criteria + ":" + std::to_string(n);
    const std::string value = (k.name == "alarm" ? "0--2^$" : "") + std::string("Hardware^@Network^$High^$");
    if (k.name == "mail") {
      const std::string message = "message_" + criteria + ":" + std::to_string(n);
      return block({{"NAME", name}, {"VALUE", value}, {"CONTROL", message}, {"TITLE", to}}) +
             block({{"NAME", message}, {"CONTROL", "Own subject"}, {"TITLE", "Own{n}\\\nbody"}});
    }
    if (k.name == "alarm") return block({{"NAME", name}, {"VALUE", value}, {"CONTROL", "G47:00"}, {"TITLE", to}});
    return block({{"NAME", name}, {"VALUE", value}, {"TITLE", to}});
  }
};

}  // namespace

TEST_F(Rules, CreateListGetModifyAndDeleteEachKind) {
  for (const Kind& k : kKinds) {
    SCOPED_TRACE(k.name);
    write("client/config/tk_obj", kCases);
    // The new-rule form offers every menu field's choices.
    clear_output();
    ASSERT_EQ(act(k.fresh, {}), returned(0));
    const std::string general = k.name == "mail" ? "s=Case {case_num} b=General&#10;body&#10;" : "s= b=";
    EXPECT_EQ(page(), "to=||| " + general + " a= t=:\nmenus=" + kMenus + "\n");

    clear_output();
    ASSERT_EQ(act(k.create, create_form(k)), returned(0)) << page();
    EXPECT_EQ(read("client/config/tk_obj"), kCases + created(k, 1));

    // The list: the criteria in words, the name with "|", the recipients.
    const std::string criteria = k.name == "alarm" ? "date_open|@category|@priority|$" : "category|@priority|$";
    const std::string header = k.name == "mail" ? "admin_mail_rule^@admin_mail_name^@admin_mail_address^$"
                                                : "admin_" + k.name + "_rule^@admin_" + k.name + "_name^@admin_" +
                                                      k.name + "^$";
    const std::string words = k.name == "alarm" ? "Time >:47:00\ndate_open:0--2\ncategory:Hardware,Network\n"
                                                  "priority:High\n"
                                                : "Category:Hardware,Network\npriority:High\n";
    clear_output();
    ASSERT_EQ(act(k.list, {}, "list.html"), returned(0));
    EXPECT_EQ(page(), header + words + "^@" + k.prefix + criteria + ":1^@ann,bob^$\n");

    // Get, for the modify and the delete confirmation: the rule's picks
    // first and selected.
    const std::string menus =
        "<table><tr><td><b>Category</b></td><td><select name=\"mm_category\" multiple size=\"5\"><option selected>"
        "Hardware</option><option selected>Network</option><option>Other</option></select>"
        "</td></tr><tr><td><b>*</b></td><td><select name=\"mm_priority\" multiple size=\"5\"><option selected>High"
        "</option><option>Low</option></select></td></tr></table>";
    const std::string to = k.name == "mail"         ? "ann,bob|||"
                           : k.name == "autoassign" ? "|ann,bob||"
                           : k.name == "workflow"   ? "||ann,bob|"
                                                    : "|||ann,bob";
    const std::string shown = k.name == "mail" ? "s=Own subject b=Own&#10;body" : "s= b=";
    for (const std::string& word : {k.modget, k.delget}) {
      clear_output();
      ASSERT_EQ(act(word, {{k.rule_form + ".VALUE", k.prefix + criteria + ":1"}}), returned(0)) << word;
      EXPECT_EQ(page(), "to=" + to + " " + shown + " a= t=" + (k.name == "alarm" ? "47:00" : ":") + "\nmenus=" +
                            menus + "\n");
    }

    // Modify: the old rule (and its message object) go, the new one is built
    // from the form with the next free number.
    Fields changed = create_form(k);
    changed.emplace_back(k.rule_form + ".VALUE", k.prefix + criteria + ":1");
    changed[3].second = "carol";
    clear_output();
    ASSERT_EQ(act(k.modify, changed), returned(0)) << page();
    EXPECT_EQ(read("client/config/tk_obj"), kCases + created(k, 1, "carol^$"));

    // Delete writes tk_obj without the rule and its message object.
    const size_t saved = backups().size();
    clear_output();
    ASSERT_EQ(act(k.remove, {{k.rule_form + ".VALUE", k.prefix + criteria + ":1"}}), returned(0)) << page();
    EXPECT_EQ(read("client/config/tk_obj"), kCases);
    EXPECT_EQ(backups().size(), saved + 1);
  }
}

// With rules numbered 2 and 7, the next is 8; modifying 7 gives 3 (the
// highest left is 2), modifying 2 gives 8.
TEST_F(Rules, RuleNumbers) {
  for (const Kind& k : kKinds) {
    SCOPED_TRACE(k.name);
    std::string two = k.prefix + "x^$:2", seven = k.prefix + "y^$:7";
    write("client/config/tk_obj", kCases + block({{"NAME", two}, {"VALUE", "a^$"}, {"TITLE", "z^$"}}) +
                                      block({{"NAME", seven}, {"VALUE", "b^$"}, {"TITLE", "z^$"}}));
    Fields form = create_form(k);
    clear_output();
    ASSERT_EQ(act(k.create, form), returned(0));
    EXPECT_NE(read("client/config/tk_obj").find(":8\n"), std::string::npos);
    struct Step {
      std::string old;
      int number;
    } steps[] = {{seven, 3}, {two, 8}};
    for (const Step& s : steps) {
      write("client/config/tk_obj", kCases + block({{"NAME", two}, {"VALUE", "a^$"}, {"TITLE", "z^$"}}) +
                                        block({{"NAME", seven}, {"VALUE", "b^$"}, {"TITLE", "z^$"}}));
      Fields f = form;
      f.emplace_back(k.rule_form + ".VALUE", bars(s.old));
      clear_output();
      ASSERT_EQ(act(k.modify, f), returned(0)) << page();
      const std::string saved = read("client/config/tk_obj");
      EXPECT_EQ(saved.find("NAME=" + s.old + "\n"), std::string::npos);
      EXPECT_TRUE(saved.ends_with(created(k, s.number))) << saved;
    }
  }
  EXPECT_EQ(getrulenumber("maillist_a^$:12x"), 12);
  EXPECT_EQ(getrulenumber("maillist_a:b^$:3"), 3);
  EXPECT_EQ(getrulenumber("maillist_a^$"), 0);
  EXPECT_EQ(getrulenumber("maillist_a^$:"), 0);
}

// A rule whose body is the general one sends the general message: no
// CONTROL, no message object, whatever subject was sent; with no general
// body every mail rule gets its own message, its subject kept on one line.
// A rule on assigned_to alone.
TEST_F(Rules, TheGeneralMessageAndARuleOnTheAssigneeAlone) {
  ASSERT_EQ(act("Create New Mail Rule", {{"assigned_to.VALUE", "bob, the staff"},
                                         {"mailmsg_receiver.VALUE", "STAFF"},
                                         {"mailmsg_subject.VALUE", "Another subject"},
                                         {"mailmsg_body.VALUE", "General\r\nbody\r\n"}}),
            returned(0));
  EXPECT_EQ(read("client/config/tk_obj"),
            kCases + block({{"NAME", "maillist_assigned_to^$:1"}, {"VALUE", "bob, the staff^$"},
                            {"TITLE", "STAFF^$"}}));
  clear_output();
  ASSERT_EQ(act("ModGetMailObject", {{"admin_mail_name.VALUE", "maillist_assigned_to|$:1"}}), returned(0));
  EXPECT_EQ(page(), "to=STAFF||| s=Case {case_num} b=General&#10;body&#10; a=bob, the staff t=:\nmenus=" + kMenus +
                        "\n");

  const std::string without = kCases.substr(0, kCases.find("OBJECT{\n\tNAME=mailmsg_subject"));
  write("client/config/tk_obj", without);
  clear_output();
  ASSERT_EQ(act("Create New Mail Rule", {{"mm_priority", "Low"},
                                         {"mailmsg_receiver.VALUE", "ann"},
                                         {"mailmsg_subject.VALUE", "S\r\n\r\nnext"},
                                         {"mailmsg_body.VALUE", "General\nbody\n"}}),
            returned(0));
  EXPECT_EQ(read("client/config/tk_obj"),
            without +
                block({{"NAME", "maillist_priority^$:1"}, {"VALUE", "Low^$"}, {"CONTROL", "message_priority^$:1"},
                       {"TITLE", "ann^$"}}) +
                block({{"NAME", "message_priority^$:1"}, {"CONTROL", "S next"},
                       {"TITLE", "General{n}\\\nbody{n}"}}));
}

TEST_F(Rules, AlarmDayRangeAndTime) {
  struct Case {
    std::string hour, minute, range, control;
  } cases[] = {{"47", "", "0--2", "G47:00"}, {"24", "", "0--2", "G24:00"}, {"10", "30", "0--1", "G10:30"},
               {"23", "5", "0--1", "G23:5"},   {"x", "", "0--1", "Gx:00"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hour);
    write("client/config/tk_obj", kCases);
    clear_output();
    ASSERT_EQ(act("Create Alarm Rule", {{"mm_priority", "High"}, {"alarm_receiver.VALUE", "ann"},
                                        {"alarm_hour.VALUE", c.hour}, {"alarm_min.VALUE", c.minute}}),
              returned(0));
    EXPECT_EQ(read("client/config/tk_obj"),
              kCases + block({{"NAME", "alarmlist_date_open^@priority^$:1"}, {"VALUE", c.range + "^$High^$"},
                              {"CONTROL", c.control}, {"TITLE", "ann^$"}}));
  }
  std::string hour = "4", minute = "0";
  splitalarmtime("X1:2", hour, minute);
  EXPECT_EQ(hour + ":" + minute, "4:0");
  splitalarmtime("G12", hour, minute);
  EXPECT_EQ(hour + ":" + minute, "4:0");
  splitalarmtime("G12:30", hour, minute);
  EXPECT_EQ(hour + ":" + minute, "12:30");
}

// Every refusal ends with status 0 and its message before anything is
// written. A rule name counts only for rules of the editor's own kind.
TEST_F(Rules, RefusalsWriteNothing) {
  write("client/config/tk_obj",
        kCases + block({{"NAME", "maillist_priority^$:1"}, {"VALUE", "Low^$"}}) +
            block({{"NAME", "autoassign_priority^$:2"}, {"VALUE", "Low^$"}, {"TITLE", "ann^$"}}));
  std::vector<std::tuple<std::string, Fields, std::string>> cases;
  for (const Kind& k : kKinds) {
    Fields good = create_form(k);
    auto without = [&](const std::string& key) {
      Fields f;
      for (const auto& kv : good)
        if (kv.first != key && kv.first != "mm_" + key) f.push_back(kv);
      return f;
    };
    const std::string unknown = k.name == "mail"    ? "Mail rule '%s' does not exist\n"
                                : k.name == "alarm" ? "Alarm rule '%s' does not exist\n"
                                                    : "AutoAssign rule '%s' does not exist\n";
    const std::string no_staff = k.name == "mail"    ? "No Notfication address has beeen set\n"
                                 : k.name == "alarm" ? "No email notify Staff  has beeen set\n"
                                                     : "No Autoassign Staff  has beeen set\n";
    Fields none = without("category");
    std::erase_if(none, [](const auto& kv) { return kv.first.starts_with("mm_"); });
    cases.push_back({k.create, none, "No criteria has been selected. please Try again.\n"});
    cases.push_back({k.create, without(k.receiver + ".VALUE"), no_staff});
    // Modify of a rule that does not exist, of no rule, of objects that are
    // no rules of this kind.
    for (std::string name : {std::string(""), k.prefix + "x|$:9", std::string("tk_pre_add"),
                             std::string("autoassign_control"), std::string("workflow_control"),
                             std::string(k.name == "mail" ? "autoassign_priority^$:2" : "maillist_priority^$:1")}) {
      Fields f = good;
      f.emplace_back(k.rule_form + ".VALUE", name);
      std::string shown = name;
      bar2caret(shown);
      cases.push_back({k.modify, f, sformat(unknown, shown)});
      cases.push_back({k.remove, {{k.rule_form + ".VALUE", name}},
                       name.empty() ? "Error: object name can't be blank\n"
                                    : sformat("Error: object '%s' does not exists\n", shown)});
      cases.push_back({k.modget, {{k.rule_form + ".VALUE", name}},
                       name.empty()           ? "Error: Mail object name can't be blank\n"
                       : k.name == "mail"     ? "Error: mail object is not found in the system\n"
                                              : "Error: Autoassign object is not found in the system\n"});
    }
  }
  cases.push_back({"Create New Mail Rule", {{"mm_priority", "Low"}, {"mailmsg_receiver.VALUE", "a"},
                                            {"mailmsg_body.VALUE", "b"}},
                   "No mail subject line \n"});
  cases.push_back({"Create New Mail Rule", {{"mm_priority", "Low"}, {"mailmsg_receiver.VALUE", "a"},
                                            {"mailmsg_subject.VALUE", "s"}},
                   "No mail body line \n"});
  cases.push_back({"Create Alarm Rule", {{"mm_priority", "Low"}, {"alarm_receiver.VALUE", "a"}},
                   "No hour has beeen set\n"});
  cases.push_back({"ModGetMailObject", {{"admin_mail_name.VALUE", "maillist_priority|$:1"}},
                   "getmailobject:No Notfication address has beeen set\n"});
  for (const char* kind : {"autoassign", "workflow", "alarm"}) {
    std::string k = kind, prefix = k == "alarm" ? "alarmlist_" : k + "_", word = k == "autoassign" ? "AutoAssign"
                                                                                  : k == "workflow" ? "Workflow"
                                                                                                    : "Alarm";
    write("client/config/tk_obj", read("client/config/tk_obj") +
                                      block({{"NAME", prefix + "status^$:5"}, {"VALUE", "Open^$"}}));
    cases.push_back({"ModGet" + word + "Object", {{"admin_" + k + "_name.VALUE", prefix + "status|$:5"}},
                     "get" + k + "object:No Notfication address has beeen set\n"});
  }
  auto before = content();
  for (const auto& [word, fields, message] : cases) {
    SCOPED_TRACE(word + ": " + message);
    clear_output();
    EXPECT_EQ(act(word, fields), exited(0));
    EXPECT_EQ(page(), "<PRE>\n" + message + "</PRE>\n");
    EXPECT_EQ(content(), before);
  }
}

// Picks, recipients and choices holding the row markers stay in their
// column, so the matcher tests each field against its own values; every
// text of the choices' HTML is escaped.
TEST_F(Rules, HostilePicksStayAlignedAndEscaped) {
  write("client/config/tk_obj",
        kCases.substr(0, kCases.find("OBJECT{\n\tNAME=status")) +
            block({{"NAME", "team"}, {"VALUE", "^^^@<b>Ops</b>^@A&B^$"}, {"DBKEY", "team"}, {"TYPE", "MENU"},
                   {"TITLE", "<i>Team</i>"}}));
  ASSERT_EQ(act("Create New Auto-Assign Rule", {{"mm_category", "Hard^$Low^$ware"},
                                                {"mm_priority", "High"},
                                                {"autoassign_receiver.VALUE", "bob^@eve"}}),
            returned(0));
  const std::string rule = "autoassign_category^@priority^$:1";
  std::unique_ptr<objlist> saved = loadkivobj(path("client/config/tk_obj"));
  ASSERT_TRUE(saved);
  const kivobj* o = saved->find(rule);
  ASSERT_NE(o, nullptr) << read("client/config/tk_obj");
  EXPECT_EQ(o->value(), "Hard$Low$ware^$High^$");
  EXPECT_EQ(o->attr(attr::TITLE), "bob@eve^$");
  // The case the rule was made for matches; one whose priority is the text
  // that would have become the second row does not.
  auto matches = [&](const std::string& category, const std::string& priority) {
    objlist c;
    for (const kivobj& x : *saved)
      if (x.name() != kHeadName) addobj(c, std::make_unique<kivobj>(x));
    adduniqobj(c, "category.VALUE", category);
    adduniqobj(c, "priority.VALUE", priority);
    return process_mail_object(c, rule);
  };
  EXPECT_EQ(matches("Hard$Low$ware", "High"), 1);
  EXPECT_EQ(matches("Hard", "Low"), 0);
  EXPECT_EQ(matches("Hard$Low$ware", "Low"), 0);

  clear_output();
  ASSERT_EQ(act("ModGetAutoAssignObject", {{"admin_autoassign_name.VALUE", bars(rule)}}), returned(0));
  EXPECT_NE(page().find("<option selected>Hard$Low$ware</option>"), std::string::npos) << page();
  EXPECT_NE(page().find("<b>&#60;i&#62;Team&#60;/i&#62;</b></td><td><select name=\"mm_team\" multiple size=\"5\">"
                        "<option>&#60;b&#62;Ops&#60;/b&#62;</option><option>A&#38;B</option></select>"),
            std::string::npos)
      << page();
  EXPECT_EQ(page().find("<b>Ops"), std::string::npos);

  // A pick the menu no longer offers still shows, picked, before the menu's
  // items; a pick with markup is escaped.
  clear_output();
  ASSERT_EQ(act("Create New Workflow Rule", {{"mm_team", "<script>"}, {"workflow_receiver.VALUE", "ann"}}),
            returned(0));
  clear_output();
  ASSERT_EQ(act("ModGetWorkflowObject", {{"admin_workflow_name.VALUE", "workflow_team|$:1"}}), returned(0));
  EXPECT_NE(page().find("<select name=\"mm_team\" multiple size=\"5\"><option selected>&#60;script&#62;</option>"
                        "<option>&#60;b&#62;Ops&#60;/b&#62;</option><option>A&#38;B</option></select>"),
            std::string::npos)
      << page();
  EXPECT_EQ(page().find("<script>"), std::string::npos);
}

// The list of a kind shows its own rules only, never its switch, and a rule
// without recipients with an empty column.
TEST_F(Rules, ListsShowTheirOwnRulesOnly) {
  write("client/config/tk_obj",
        kCases + block({{"NAME", "autoassign_priority^$:1"}, {"VALUE", "Low^$"}, {"TITLE", "ann^@bob^$"}}) +
            block({{"NAME", "workflow_priority^$:1"}, {"VALUE", "High^$"}}));
  ASSERT_EQ(act("ListAutoAssignObject", {}, "list.html"), returned(0));
  EXPECT_EQ(page(), "admin_autoassign_rule^@admin_autoassign_name^@admin_autoassign^$priority:Low\n^@"
                    "autoassign_priority|$:1^@ann,bob^$\n");
  clear_output();
  ASSERT_EQ(act("ListWorkflowObject", {}, "list.html"), returned(0));
  EXPECT_EQ(page(), "admin_workflow_rule^@admin_workflow_name^@admin_workflow^$priority:High\n^@"
                    "workflow_priority|$:1^@^$\n");
}

// A menu's selected item (its first column) is offered once: where it stands
// among the items, or first when it is none of them.
TEST_F(Rules, MenusOfferEachItemOnce) {
  struct Case {
    std::string choices, options;
  } cases[] = {
      {"Other^@Hardware^@Other^$", "<option>Hardware</option><option>Other</option>"},
      {"^^^@a^@b^$", "<option>a</option><option>b</option>"},
      {"Gone^@a^@b^$", "<option>Gone</option><option>a</option><option>b</option>"},
      {"a^$", "<option>a</option>"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(makemultinode("f", c.choices), "<select name=\"mm_f\" multiple size=\"5\">" + c.options + "</select>")
        << c.choices;
  EXPECT_EQ(makemultinode("f", ""), std::nullopt);
  EXPECT_EQ(makemultimailnode("f", "Other^@Hardware^@Other^$", "maillist_g^@f^$:1", "x^$Other^@Gone^$"),
            "<select name=\"mm_f\" multiple size=\"5\"><option selected>Other</option><option selected>Gone</option>"
            "<option>Hardware</option></select>");
}
