// Automatic assignment (rules and card files) and the workflow: who gets the
// case, what the page shows, the staff profile of a single assignee, the
// controls that switch them off; the card files' turn, their path check, and
// many processes taking turns at once.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>

#include "engine/tk_autoassign.h"
#include "engine/upclock.h"
#include "engine/upcommon.h"
#include "enginetest.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivsettings.h"

using namespace kiv;
using enginetest::Attr;
using enginetest::value;
namespace fs = std::filesystem;

namespace {

// Two assignment rules on the status Open: alice and bob.
const std::vector<Attr> kRules = {{"autoassign_status^$:1.VALUE", "Open^$"},
                                  {"autoassign_status^$:1.TITLE", "alice^@bob^$"},
                                  {"workflow_status^$:1.VALUE", "Open^$"},
                                  {"workflow_status^$:1.TITLE", "wendy^$"}};

class Assign : public enginetest::HomeTest {
 protected:
  void SetUp() override {
    HomeTest::SetUp();
    engineclock().now = 1700000000;
    fs::create_directories(path("client/config"));
    fs::create_directories(path("staff"));
  }
  std::unique_ptr<objlist> run(const std::vector<Attr>& attrs, int expected = 0) {
    auto list = enginetest::objects(attrs);
    EXPECT_EQ(tk_autoassign(*list), expected);
    return list;
  }
};

}  // namespace

TEST_F(Assign, RulesPickTheAssignee) {
  const std::vector<Attr> open = {{"autoassign_control.VALUE", "ON"}, {"status.VALUE", "Open"}};
  home_.write("staff/alice", "assigned_state^@sa_phone^$Assigned^@555^$");

  auto both = run(open + kRules);
  EXPECT_EQ(value(*both, "assigned_to"), "alice bob");
  EXPECT_EQ(value(*both, "showassignedlist"), "alice bob");
  EXPECT_EQ(value(*both, "sa_phone"), "");  // two logins: no profile
  EXPECT_EQ(value(*both, "status"), "Open");
  EXPECT_EQ(value(*both, "date_assigned"), getdate1(1700000000));
  EXPECT_EQ(value(*both, "time_assigned"), gettime3(1700000000));

  settings().threetablemodel = 1;
  auto one = run(open + kRules + std::vector<Attr>{{"assigned_to.VALUE", "nobody2"}});
  EXPECT_EQ(value(*one, "assigned_to"), "alice");
  EXPECT_EQ(value(*one, "sa_phone"), "555");
  EXPECT_EQ(value(*one, "status"), "Assigned");  // assigned_state from her profile
  EXPECT_TRUE(one->find("assigned_to")->marked(attr::VALUE));

  auto kept = run(open + kRules + std::vector<Attr>{{"assigned_to.VALUE", "carol"}});
  EXPECT_EQ(value(*kept, "assigned_to"), "carol");
  EXPECT_EQ(kept->find("showassignedlist"), nullptr);

  auto none = run({{"autoassign_control.VALUE", "ON"}, {"status.VALUE", "Closed"}});
  EXPECT_EQ(value(*none, "showassignedlist"), "No One");
  EXPECT_EQ(value(*none, "assigned_to"), "");
  EXPECT_EQ(value(*none, "date_assigned"), getdate1(1700000000));
}

TEST_F(Assign, Controls) {
  struct Case {
    const char* control;
    int result;
    const char* shown;
  } cases[] = {
      {"", -1, "Auto Assignment is not defined"},
      {"OFF", -1, "Auto Assignment is OFF"},
      {"on", -1, "Auto Assignment is OFF"},
  };
  for (const Case& c : cases) {
    auto list = run(std::vector<Attr>{{"autoassign_control.VALUE", c.control}, {"status.VALUE", "Open"}} + kRules,
                    c.result);
    EXPECT_EQ(value(*list, "showassignedlist"), c.shown) << c.control;
    EXPECT_EQ(value(*list, "assigned_to"), "") << c.control;
  }
}

TEST_F(Assign, CardFileForACategory) {
  home_.write("client/config/assign_Printers", "pat\n*quinn\n");
  home_.write("client/config/assign", "*zed\n");
  home_.write("staff/quinn", "assigned_state^$Queued^$");
  const std::vector<Attr> card = {{"autoassign_control.VALUE", "CARD"}, {"category.VALUE", "Printers"}};

  auto list = run(card + std::vector<Attr>{{"assigned_to.VALUE", "nobody"}});
  EXPECT_EQ(value(*list, "assigned_to"), "quinn");
  EXPECT_EQ(value(*list, "showassignedlist"), "quinn");
  EXPECT_EQ(value(*list, "status"), "Queued");
  EXPECT_EQ(list->find("date_assigned"), nullptr);  // no date for a card
  EXPECT_EQ(kivtest::read_file(path("client/config/assign_Printers")), "*pat\nquinn\n");

  auto kept = run(card + std::vector<Attr>{{"assigned_to.VALUE", "nobody2"}});
  EXPECT_EQ(value(*kept, "assigned_to"), "nobody2");
  EXPECT_EQ(kivtest::read_file(path("client/config/assign_Printers")), "*pat\nquinn\n");

  auto other = run({{"autoassign_control.VALUE", "CARD"}, {"category.VALUE", "Desks"}});
  EXPECT_EQ(value(*other, "assigned_to"), "zed");  // no file of its own: the plain one
}

TEST_F(Assign, CardTurns) {
  struct Case {
    const char* file;
    std::optional<std::string> login;
    const char* after;
  } cases[] = {
      {"alice\n*bob\ncarol\n", "bob", "alice\nbob\n*carol\n"},
      {"alice\nbob\n*carol\n", "carol", "*alice\nbob\ncarol\n"},
      {"alice bob\tcarol", "alice", "*alice\nbob\ncarol\n"},  // no mark: the first, marked
      {"*alice\n*bob\ncarol\n", "bob", "alice\nbob\n*carol\n"},  // the last mark counts
      {"*\nalice\n", "alice", "*alice\n"},
      {"", std::nullopt, ""},  // no login: nothing handed out, file as it was
      {" \n\n", std::nullopt, " \n\n"},
  };
  const std::string file = path("client/config/assign");
  for (const Case& c : cases) {
    home_.write("client/config/assign", c.file);
    EXPECT_EQ(card_assign(""), c.login) << c.file;
    EXPECT_EQ(kivtest::read_file(file), c.after) << c.file;
  }
  EXPECT_EQ(page(), "");
  EXPECT_TRUE(fs::exists(file + ".lock"));
}

// An assign file of any length: 150 logins are handed out in turn, the last
// one followed by the first again, and the file keeps every one of them.
TEST_F(Assign, CardFileOfManyLogins) {
  auto file = [](int marked) {
    std::string text;
    for (int i = 0; i < 150; ++i) text += (i == marked ? "*login" : "login") + std::to_string(i) + "\n";
    return text;
  };
  home_.write("client/config/assign", file(0));
  for (int i = 0; i <= 150; ++i) ASSERT_EQ(card_assign(""), "login" + std::to_string(i % 150)) << i;
  EXPECT_EQ(kivtest::read_file(path("client/config/assign")), file(1));
}

TEST_F(Assign, CardFilePaths) {
  home_.write("client/config/assign", "*plain\n");
  home_.write("client/config/assign_sub/evil", "*evil\n");
  home_.write("client/assign_x", "*outside\n");
  for (const char* category : {"sub/evil", "../assign_x", "..", "a\nb", "sub\\evil"}) {
    home_.write("client/config/assign", "*plain\n");
    EXPECT_EQ(card_assign(category), "plain") << category;
  }
  EXPECT_EQ(kivtest::read_file(path("client/config/assign_sub/evil")), "*evil\n");
  EXPECT_EQ(kivtest::read_file(path("client/assign_x")), "*outside\n");
  // A category without a file makes no lock file either.
  EXPECT_FALSE(fs::exists(path("client/config/assign_Nothing.lock")));
  EXPECT_EQ(card_assign("Nothing"), "plain");
  EXPECT_FALSE(fs::exists(path("client/config/assign_Nothing.lock")));

  fs::remove(path("client/config/assign"));
  EXPECT_EQ(card_assign("Nothing"), std::nullopt);
  EXPECT_NE(page().find("Cannot open assin file <" + path("client/config/assign") + "> \n"),
            std::string::npos)
      << page();
}

// Many requests at once: every turn goes to exactly one of them, each login
// as often as the others, and the file stays whole.
TEST_F(Assign, CardTurnsUnderConcurrency) {
  constexpr int kProcesses = 8, kTurns = 25;
  const char* logins[] = {"ann", "ben", "cid", "dee", "eve"};
  home_.write("client/config/assign", "*ann\nben\ncid\ndee\neve\n");
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(fds[0]);
      std::string got;
      for (int t = 0; t < kTurns; ++t) got += card_assign("").value_or("NONE") + "\n";
      ssize_t n = ::write(fds[1], got.data(), got.size());  // under PIPE_BUF: one piece
      ::_exit(n == static_cast<ssize_t>(got.size()) ? 0 : 1);
    }
    children.push_back(pid);
  }
  ::close(fds[1]);
  std::string all;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buf, sizeof buf)) > 0) all.append(buf, static_cast<size_t>(n));
  ::close(fds[0]);
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::map<std::string, int> count;
  size_t start = 0;
  for (size_t nl = all.find('\n'); nl != std::string::npos; start = nl + 1, nl = all.find('\n', start))
    ++count[all.substr(start, nl - start)];
  EXPECT_EQ(count.size(), 5u);
  for (const char* l : logins) EXPECT_EQ(count[l], kProcesses * kTurns / 5) << l;
  EXPECT_EQ(kivtest::read_file(path("client/config/assign")), "*ann\nben\ncid\ndee\neve\n");
}

TEST_F(Assign, Workflow) {
  struct Case {
    const char* control;
    const char* status;
    int result;
    const char* assigned;
  } cases[] = {
      {"", "Open", -1, "carol"},
      {"OFF", "Open", -1, "carol"},
      {"ON", "Closed", 0, "carol"},  // no rule matches: nothing changes
      {"ON", "Open", 0, "wendy"},    // a matching rule replaces the assignee
  };
  home_.write("staff/wendy", "sa_phone^@assigned_state^$777^@Queued^$");
  for (const Case& c : cases) {
    auto list = enginetest::objects(std::vector<Attr>{{"workflow_control.VALUE", c.control},
                                                      {"status.VALUE", c.status},
                                                      {"assigned_to.VALUE", "carol"}} +
                                    kRules);
    EXPECT_EQ(tk_workflow(*list), c.result) << c.control << c.status;
    EXPECT_EQ(value(*list, "assigned_to"), c.assigned) << c.control << c.status;
    EXPECT_EQ(value(*list, "status"), c.status);  // the workflow never sets the status
    EXPECT_EQ(list->find("date_assigned"), nullptr);
    if (std::string(c.assigned) == "wendy") {
      EXPECT_EQ(value(*list, "showassignedlist"), "wendy");
      EXPECT_EQ(value(*list, "sa_phone"), "777");
    }
  }
}
