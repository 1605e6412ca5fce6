// The add command over the sample installation on SQLite and on PostgreSQL
// through ODBC: its modes by word count, the submitter's profile and whose
// it may be, the batch add with menus, defaults and TODAY, a batch whose
// third row fails, rows longer than any old buffer, data files only from the
// scratch folder, and the console's add.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "commands/up.h"
#include "commands/upadd.h"
#include "support/testsupport.h"
#include "platform/state.h"
#include "toolkit/request/kivexfile.h"
#include "uptest.h"

using namespace kiv;
using kivtest::exit_status;

namespace {

// The command loads tk_obj itself: the sample's data source is the test's.
class UpAdd : public uptest::CommandCaseHome, public ::testing::WithParamInterface<kivtest::Road> {
 protected:
  UpAdd() : CommandCaseHome(GetParam()) {}

  // More configuration for the command: objects appended to tk_obj.
  void configure(const std::string& blocks) {
    home_.write("client/config/tk_obj", kivtest::read_file(path("client/config/tk_obj")) + blocks);
  }

  // up_add with these words over a request of these form fields; the
  // status it ends with, whether it returned or ended the process.
  int run(std::vector<std::string> words, std::vector<std::pair<std::string, std::string>> fields = {},
          std::optional<std::string> login = std::nullopt) {
    clear_output();
    reqctx().remote_user = std::move(login);
    exlist request;
    for (auto& [name, value] : fields) request.nodes.push_back(formexdatanode(name, value));
    int status = 99;
    std::optional<int> ended =
        exit_status([&] { status = up_add(words, &request); });
    return ended ? *ended : status;
  }
  bool shows(const std::string& text) const { return page().find(text) != std::string::npos; }
  std::string data_file(const std::string& name, const std::string& text) { return home_.write(name, text); }

  static std::vector<std::pair<std::string, std::string>> a_case(const std::string& who) {
    return {{"submitted_by.VALUE", who}, {"category.VALUE", "Network"}, {"problem.VALUE", "No mail."}};
  }
};

TEST_P(UpAdd, ModesByWordCount) {
  struct Case {
    const char* what;
    std::vector<std::string> words;
    int status;
    const char* number;  // the case number shown and stored; "" for none
  } cases[] = {
      {"two words: the standard add", {"up_add", "added.html"}, 0, "1000"},
      {"-g: the plain add", {"up_add", "added.html", "-g"}, 0, ""},
      {"four words: the standard add", {"up_add", "added.html", "a", "b"}, 0, "1001"},
  };
  int added = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(run(c.words, a_case("ann")), c.status) << page();
    ++added;
    EXPECT_TRUE(shows(std::string("<strong id=\"case_num\">") + c.number + "</strong>")) << page();
    EXPECT_EQ(rows(sformat("select case_num, category from cases where id_num=%d", added)),
              std::string(*c.number ? c.number : "^^") + "^@Network^$");
  }
  // Three words but "-g": a batch of the named file.
  const std::string file = data_file("rows.txt", "submitted_by^@problem^$carl^@Disk full.^$");
  EXPECT_EQ(run({"up_add", "added.html", file}), 0) << page();
  EXPECT_EQ(rows("select case_num, submitted_by from cases where id_num=4"), "1002^@carl^$");

  EXPECT_EQ(run({"up_add"}, a_case("ann")), 2);
  EXPECT_TRUE(shows("Wrong usage: upadd templatefile\n")) << page();

  // A refused add shows the engine's messages and its own, and no page.
  EXPECT_EQ(run({"up_add", "added.html"}, {{"submitted_by.VALUE", "ann"}}), 1);
  EXPECT_TRUE(shows("'Problem' can't be blank\n")) << page();
  EXPECT_TRUE(shows("Your problem was not reported.")) << page();  // "Submit Error:" as the sample words it
  EXPECT_FALSE(shows("<html")) << page();
  EXPECT_EQ(rows("select count(*) from cases"), "4^$");
}

// The submitter's profile after an add: written for the submitter when the
// request has no login or is the submitter; never over another user's.
TEST_P(UpAdd, TheProfileWrittenIsTheRequestsOwn) {
  configure("OBJECT{\n\tNAME=user_fields\n\tVALUE=submitted_by^@category^$\n};\n");
  const std::string ann = path("users/ann");
  struct Case {
    const char* what;
    std::optional<std::string> login;
    std::vector<std::string> words;
    bool written;
  } cases[] = {
      {"no login", std::nullopt, {"up_add", "added.html"}, true},
      {"the submitter's login, plain add", "ann", {"up_add", "added.html", "-g"}, true},
      {"another user's login", "mallory", {"up_add", "added.html"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(ann);
    EXPECT_EQ(run(c.words, a_case("ann"), c.login), 0) << page();
    EXPECT_EQ(std::filesystem::exists(ann), c.written);
    if (c.written) {
      EXPECT_EQ(kivtest::read_file(ann), "submitted_by^@category^$ann^@Network^$");
    }
  }
}

// Every row of a batch is a case of its own: its values as a form would set
// them (a menu takes its choice), the defaults where a column is empty, TODAY
// as today's date, never a protected object, and no length limit.
TEST_P(UpAdd, BatchWithMenusDefaultsAndToday) {
  configure(
      "OBJECT{\n\tNAME=date_open\n\tDBKEY=date_open\n\tTITLE=Opened\n};\n"
      "OBJECT{\n\tNAME=bc_submit_default_keys\n\tTITLE=status^@date_open^@category^@priority^$\n"
      "\tVALUE=Pending^@TODAY^@Account^@Urgent^$\n};\n");
  const std::string longproblem(3000, 'x');
  const std::string file = data_file(
      "tmp/tmp_datafile.1.1",
      "submitted_by^@category^@priority^@problem^@db_table_name^$"
      "ann^@Hardware^@^^^@Screen dark.^@nosuchtable^$"
      "bob^@^^^@Low^@" + longproblem + "^@^^^$");
  EXPECT_EQ(run({"up_add", "added.html", "ignored.txt"}, {{"hidedatafile.VALUE", file}}), 0) << page();
  EXPECT_EQ(rows("select case_num, submitted_by, category, priority, status from cases order by id_num"),
            "1000^@ann^@Hardware^@Urgent^@Pending^$1001^@bob^@Account^@Low^@Pending^$");
  const std::string problems = rows("select problem from cases order by id_num");
  EXPECT_NE(problems.find(longproblem + "\n[-"), std::string::npos) << "the long row was cut";
  // Today's date, in the form the database gives dates back.
  const std::string dates = rows("select date_open from cases");
  EXPECT_EQ(getrowcount(dates), 2);
  EXPECT_EQ(getcol_or_empty(*getrow(dates, 1), 1).find(reqctx().today.substr(0, 5)), 0u) << dates;
  // No profile is made by a batch.
  EXPECT_TRUE(std::filesystem::is_empty(path("users")));
}

TEST_P(UpAdd, BatchStopsAtTheFirstRowThatFails) {
  const std::string file = data_file("rows.txt",
                                     "submitted_by^@problem^$ann^@one^$bob^@two^$^^^@three^$dan^@four^$");
  EXPECT_EQ(run({"up_add", "added.html", file}), 1);
  EXPECT_TRUE(shows("'Your name' can't be blank\n")) << page();
  EXPECT_TRUE(shows("Your problem was not reported.")) << page();
  EXPECT_EQ(rows("select submitted_by from cases order by id_num"), "ann^$bob^$");

  // A row that does not match the header is no case either.
  const std::string bad = data_file("bad.txt", "submitted_by^@problem^$ann^@one^@extra^$");
  EXPECT_EQ(run({"up_add", "added.html", bad}), 1);
  EXPECT_TRUE(shows("Error: Mismatch count  between data and \tkeys\n")) << page();
  EXPECT_EQ(rows("select count(*) from cases"), "2^$");
}

// The data file comes from the scratch folder when the request names one,
// else from the command line; an unreadable or empty one adds nothing.
TEST_P(UpAdd, BatchDataFiles) {
  const std::string rows_text = "submitted_by^@problem^$ann^@one^$";
  const std::string named = data_file("rows.txt", rows_text);
  const std::string scratch = data_file("tmp/tmp_datafile.7.7", "submitted_by^@problem^$bob^@two^$");
  const std::string outside = data_file("users/tmp_datafile.7.7", rows_text);
  const std::string upadd1 = "upadd1:No records read from temp file. Illogical condition. Please try again";
  const std::string upadd2 = "upadd2:No records read from temp file. Illogical condition. Please try again";
  struct Case {
    const char* what;
    std::string hidedatafile, word;
    int status;
    std::string shown;
  } cases[] = {
      {"a scratch file outside tmp", outside, named, -1, upadd1},
      {"a path that climbs out of tmp", path("tmp/../users/tmp_datafile.7.7"), named, -1, upadd1},
      {"a file of another kind in tmp", data_file("tmp/rows.txt", rows_text), named, -1, upadd1},
      {"a scratch file that is not there", path("tmp/tmp_datafile.8.8"), named, -1, upadd1},
      {"no file of the third word", "", path("none.txt"), -1, upadd2},
      {"only a header", "", data_file("head.txt", "submitted_by^@problem^$"), -1,
       "No records to add. Illogical condition. Please try again"},
      {"the scratch file over the third word", scratch, named, 0, "<strong id=\"case_num\">1000</strong>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::pair<std::string, std::string>> fields;
    if (!c.hidedatafile.empty()) fields.emplace_back("hidedatafile.VALUE", c.hidedatafile);
    EXPECT_EQ(run({"up_add", "added.html", c.word}, fields), c.status);
    EXPECT_TRUE(shows(c.shown)) << page();
  }
  EXPECT_EQ(rows("select submitted_by from cases"), "bob^$");
}

// The console's add: one argument, or three and more, add one record from
// the case objects alone, with the page on standard output.
TEST_P(UpAdd, ConsoleAdd) {
  // The fields' values stand in the case objects themselves.
  std::string objs = kivtest::read_file(path("client/config/tk_obj"));
  for (auto [field, text] : {std::pair{"submitted_by", "console"}, {"problem", "From the console."}}) {
    const std::string at = std::string("\tNAME=") + field + "\n";
    objs.insert(objs.find(at) + at.size(), std::string("\tVALUE=") + text + "\n");
  }
  home_.write("client/config/tk_obj", objs);
  reset_process_state();  // a new process, which inherits NVHOME
  kivtest::ScopedEnv script("SCRIPT_NAME", std::nullopt);
  kivtest::ScopedEnv nvhome("NVHOME", home_.str());
  clear_output();
  const char* argv[] = {"up", "added.html", nullptr};
  EXPECT_EQ(up_main(2, argv, kUpStates), 0) << page() << errors();
  EXPECT_TRUE(shows("<strong id=\"case_num\">1000</strong>")) << page();
  EXPECT_EQ(rows("select case_num, submitted_by from cases"), "1000^@console^$");

  clear_output();
  const char* four[] = {"up", "added.html", "x", "y", nullptr};
  EXPECT_EQ(up_main(4, four, kUpStates), 0) << page() << errors();
  EXPECT_EQ(rows("select case_num from cases order by id_num"), "1000^$1001^$");
}

INSTANTIATE_TEST_SUITE_P(Roads, UpAdd, ::testing::Values(kivtest::Road::sqlite, kivtest::Road::postgres),
                         kivtest::road_name);

}  // namespace
