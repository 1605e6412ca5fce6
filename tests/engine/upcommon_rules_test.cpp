// Field rules before a write: the closing date, automatic matches, the
// signature chosen on a form (and the title lookup it uses).
#include <gtest/gtest.h>

#include "engine/title2var.h"
#include "engine/upcommon.h"
#include "engine/upcommon_rules.h"
#include "enginetest.h"
#include "support/testsupport.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivsettings.h"

using namespace kiv;

namespace {

class CaseRules : public enginetest::HomeTest {
 protected:
  void set(const std::string& name, const std::string& text, Origin origin = Origin::config) {
    adduniqobj(list_, name.find('.') == std::string::npos ? name + ".VALUE" : name, text, origin);
  }
  std::string value(const std::string& name) const {
    return getvalfromlist(list_, name + ".VALUE").value_or("<none>");
  }
  bool traced(const std::string& line) const { return page().find(line) != std::string::npos; }

  objlist list_;
};

}  // namespace

TEST_F(CaseRules, ClosingDate) {
  struct Case {
    const char* status;
    const char* flag;
    const char* closedstate;
    bool dated;
  } cases[] = {
      {"Closed", nullptr, "Closed", true},
      {"Closed - no reply from user", nullptr, "Closed", true},
      {"closed", nullptr, "Closed", false},
      {"Open", nullptr, "Closed", false},
      {"", nullptr, "Closed", false},
      {"Closed", "1", "Closed", false},
      {"Done today", nullptr, "Done", true},
  };
  for (const Case& c : cases) {
    objlist list;
    adduniqobj(list, "status.VALUE", c.status);
    if (c.flag) adduniqobj(list, "date_closed_flag.VALUE", c.flag);
    settings().closedstate = c.closedstate;
    EXPECT_EQ(addclosedate(list), 0);
    EXPECT_EQ(getvalfromlist(list, "date_closed.VALUE"), c.dated ? std::optional(getdate1()) : std::nullopt)
        << c.status;
  }
}

TEST_F(CaseRules, AutomaticMatches) {
  reqctx().kivdebug = 1;
  set("submitted_by", "alice", Origin::request);
  set("building", "North");
  set("room", " 12", Origin::record);
  set("phone", "");
  set("contact", "before");
  set("auto_match", "match_add");
  set("match_add", "contact=submitted_by,location=building|room,,noequals,phone_copy=phone,tel=,desk=|room,"
                   "=room");
  EXPECT_EQ(auto_match(list_), 0);
  EXPECT_EQ(value("contact"), "alice");
  EXPECT_TRUE(list_.find("contact")->marked(attr::VALUE));
  EXPECT_EQ(value("location"), "North 12");
  EXPECT_EQ(list_.find("location")->origin(attr::VALUE), Origin::record);
  EXPECT_EQ(value("desk"), " 12");
  EXPECT_EQ(value("phone_copy"), "<none>");  // an empty source leaves the target alone
  EXPECT_EQ(value("tel"), "<none>");
  EXPECT_EQ(list_.find(""), nullptr);
  for (const char* t : {"auto_match:name=match_add", "auto_match:pair=contact=submitted_by", "Single Type",
                        "Pipe Type", "auot_match: n1='location' val='North 12' ", "auot_match: val is blank",
                        "auot_match: n2 is blank", "auto_match:pair=noequals"})
    EXPECT_TRUE(traced(t)) << t;

  clear_output();
  set("match_add", "");
  EXPECT_EQ(auto_match(list_), 0);
  EXPECT_TRUE(traced("auto_match: match string is null"));
  set("auto_match", "");
  EXPECT_EQ(auto_match(list_), 0);
  EXPECT_TRUE(traced("auto_match: no name found"));
}

TEST_F(CaseRules, SignatureChosenByTitle) {
  home_.write("signature/support.sig", "-- \nThe support desk");
  home_.write("signature/night.sig", "Night shift");
  home_.write("x", "outside the signature folder");
  set("signature_control_problem", "support.sig^@night.sig^@../x^@missing.sig^$");
  set("signature_control_problem.TITLE", "Support^@Night^@Escape^@Missing^$");
  struct Case {
    const char* chosen;
    const char* problem;
    const char* result;
    const char* trace;
  } cases[] = {
      {"Support", "Printer jams.", "Printer jams.\n-- \nThe support desk", nullptr},
      {"Night", "", "Night shift", nullptr},
      {"Nobody", "Printer jams.", "Printer jams.", "Inconsistent signature object \n"},
      {"Escape", "Printer jams.", "Printer jams.", "Inconsistent signature object \n"},
      {"Missing", "Printer jams.", "Printer jams.", nullptr},
      {"", "Printer jams.", "Printer jams.", "No signature variable"},
  };
  reqctx().kivdebug = 1;
  for (const Case& c : cases) {
    set("signature_problem", c.chosen, Origin::request);
    set("problem", c.problem, Origin::request);
    clear_output();
    EXPECT_EQ(signature(list_), 0);
    EXPECT_EQ(objtext(list_, "problem.VALUE"), c.result) << c.chosen;
    if (c.trace) {
      EXPECT_TRUE(traced(c.trace)) << c.chosen << ": " << page();
    }
  }
  set("signature_problem", "Support");
  set("signature_control_problem.TITLE", "");
  clear_output();
  signature(list_);
  EXPECT_TRUE(traced("No signature TITLE"));
  set("signature_control_problem", "");
  clear_output();
  signature(list_);
  EXPECT_TRUE(traced("No signature value"));
  EXPECT_EQ(value("problem"), "Printer jams.");
}

TEST(Title2var, ValueAtTheTitlesPosition) {
  struct Case {
    const char* name;
    const char* titles;
    const char* values;
    std::optional<std::string> result;
  } cases[] = {
      {"B", "A^@B^@C^$", "a^@b^@c^$", "b"},
      {"C", "A^@B^@C", "a^@b^@c", "c"},  // rows without their "^$"
      {"A", "A^@B^$", "^^^@b^$", ""},
      {"C", "A^@B^@C^$", "a^@b^$", std::nullopt},
      {"AB", "A^@B^$", "a^@b^$", std::nullopt},
      {"A", "", "a^$", std::nullopt},
      {"", "A^$", "a^$", std::nullopt},
      {"B", "B^@B^$", "first^@second^$", "first"},
  };
  for (const Case& c : cases) EXPECT_EQ(title2var(c.name, c.titles, c.values), c.result) << c.name << " in " << c.titles;
}
