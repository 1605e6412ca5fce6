// The shared handler steps through the simple handlers: usage checks and
// their statuses, the page status, the request onto the objects (all of it,
// or existing objects only), the sort menu of the confirmation page.
#include <gtest/gtest.h>

#include "commands/upskeleton.h"
#include "commands/upstartup.h"
#include "toolkit/cgitest.h"
#include "uptest.h"

using namespace kiv;
using cgitest::exit_status;
using uptest::form;

namespace {

class Handlers : public uptest::UpHome {
 protected:
  // The status the handler's request ends with: returned, or the end of the
  // process it calls.
  int run(handler_fn h, std::vector<std::string> words, exlist* request) {
    clear_output();
    int result = 0;
    std::optional<int> ended = exit_status([&] { result = h(words, request); });
    return ended.value_or(result);
  }
};

}  // namespace

TEST_F(Handlers, UsageAndPageStatuses) {
  struct Case {
    handler_fn handler;
    std::string word, usage;
    int missing_page;  // the status when the template cannot be read
  } cases[] = {
      {up_confirmfind, "up_confirmfind", "Wrong usage: up_confirm templatefile\n", 1},
      {up_cs, "up_cs", "Wrong usage: up_cs  templatefile\n", 1},
      {up_cf, "up_cf", "Wrong usage: up_cf templatefile\n", 1},
      {up_startup, "up_startup", "", 0},
  };
  exlist request = form({});
  for (const Case& c : cases) {
    if (!c.usage.empty()) {
      EXPECT_EQ(run(c.handler, {c.word}, &request), 2) << c.word;
      EXPECT_TRUE(shown(c.usage)) << c.word << page();
      EXPECT_FALSE(shown("Cannot open html template file")) << c.word;
    }
    EXPECT_EQ(run(c.handler, {c.word, "missing.html"}, &request), c.missing_page) << c.word;
    EXPECT_TRUE(shown("Cannot open html template file '" + path("client/kivhtml/tk/missing.html") + "'"))
        << c.word;
    EXPECT_EQ(run(c.handler, {c.word, "confirm.html"}, &request), 0) << c.word;
    EXPECT_TRUE(shown("<h1>Confirm</h1>")) << c.word;
  }
  // The start page makes no usage check: without a template word it still
  // ends with 0.
  EXPECT_EQ(run(up_startup, {"up_startup"}, &request), 0);
  EXPECT_TRUE(shown("Cannot open html template file"));
}

TEST_F(Handlers, StartPageShowsTheRequest) {
  exlist request = form({{"assigned_to.VALUE", "bob <b>"}, {"KIVACTION", "start"}});
  EXPECT_EQ(run(up_startup, {"up_startup", "start.html"}, &request), 0);
  EXPECT_TRUE(shown("Assigned to [bob &#60;b&#62;]")) << page();
  EXPECT_EQ(page_path("start.html"), path("client/kivhtml/tk/start.html"));
}

TEST_F(Handlers, ConfirmFindWithTwoOrThreeWords) {
  auto confirm_form = [] {
    return form({{"subject.VALUE", "printer"}, {"newfield.VALUE", "n1"}, {"status.VALUE", "Closed"},
                 {"tk_pre_add.VALUE", "ON"}});
  };
  exlist request = confirm_form();
  // Two words: every variable, new objects created; a menu takes the value
  // as it is.
  EXPECT_EQ(run(up_confirmfind, {"up_confirmfind", "confirm.html"}, &request), 0);
  EXPECT_TRUE(shown("Subject [printer] New [n1] Hook [OFF]")) << page();
  EXPECT_TRUE(shown("<select name=\"status.VALUE\"></select>")) << page();
  EXPECT_TRUE(shown("<select name=\"sort\">Subject\n<OPTION>Status\n<OPTION>Assigned to\n</select>")) << page();
  // Three words: existing objects only, and the menu keeps its items behind
  // the chosen value.
  request = confirm_form();
  EXPECT_EQ(run(up_confirmfind, {"up_confirmfind", "confirm.html", "cast"}, &request), 0);
  EXPECT_TRUE(shown("Subject [printer] New [] Hook [OFF]")) << page();
  EXPECT_TRUE(shown("<select name=\"status.VALUE\">Closed\n<OPTION>Open\n<OPTION>Pending\n</select>")) << page();
}

TEST_F(Handlers, WithoutCaseObjects) {
  std::filesystem::remove(path("client/config/tk_obj"));
  exlist request = form({{"subject.VALUE", "x"}});
  EXPECT_EQ(run(up_confirmfind, {"up_confirmfind", "confirm.html"}, &request), 0);
  EXPECT_TRUE(shown("<h1>Confirm</h1>"));
}
