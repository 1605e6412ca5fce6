// The confirmation of a selection, the query macros, the stored-query page
// and the chart page over the sample installation on SQLite and on
// PostgreSQL through ODBC: the exact selection and its owner file, another
// login's selection refused, the macro loop's rules (gaps, macros, syntax,
// SQL a request cannot write, a table-shaped macro that leaves the
// selection as it was), the error page of a failed query, and the chart's
// records for a page.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "commands/upconfirmprint.h"
#include "commands/upfind.h"
#include "commands/upgsql.h"
#include "engine/upflags.h"
#include "support/testsupport.h"
#include "uptest.h"

using namespace kiv;
namespace fs = std::filesystem;

namespace {

class Queries : public uptest::FoundCases {
 protected:
  void SetUp() override {
    FoundCases::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    fs::remove(path("client/kivhtml/tk/finderror.html"));
    add_case(1, "C1", "Open");
    add_case(2, "C2", "Closed");
    add_case(3, "C3", "Open");
    add_case(4, "C4", "open");
    page_template("list.html", "TB{TNB{findresult}TNE<CB{case_num}CE>}TE\n");
    page_template("confirm.html",
                  "[FB{findresultnum.VALUE}FE]TB{TNB{findresult}TNE<CB{case_num}CE>}TE[FB{hidedatafile.VALUE}FE]"
                  "[FB{open_cases_key.VALUE}FE][FB{open_cases.VALUE}FE][FB{third_key.VALUE}FE]\n");
  }
  // The scratch file of a find of every case, as `login`.
  std::string found(const std::optional<std::string>& login) {
    EXPECT_EQ(run(up_find, {"up_find", "list.html"}, {}, login), 0) << page();
    for (const std::string& f : tmp_files())
      if (f.starts_with("tmp_datafile.") && !f.ends_with(".owner")) return path("tmp/" + f);
    ADD_FAILURE() << "no scratch file";
    return {};
  }
  static std::string message(const std::string& text) { return "<PRE>\n" + text + "</PRE>\n"; }
};

}  // namespace

TEST_P(Queries, TheSelectionGoesIntoAScratchFileOfTheLogins) {
  const std::string list = found("ann");
  const std::vector<std::string> before = tmp_files();
  EXPECT_EQ(run(up_confirmprint, {"up_confirmprint", "confirm.html"},
                {{"hidedatafile.VALUE", list}, {"selrow_3.VALUE", "on"}, {"select_range.VALUE", "1"}}, "ann"),
            0)
      << page();
  std::string made;
  for (const std::string& f : tmp_files())
    if (std::find(before.begin(), before.end(), f) == before.end() && !f.ends_with(".owner")) made = path("tmp/" + f);
  ASSERT_FALSE(made.empty());
  // The page hands the selection on by its path from the home.
  EXPECT_EQ(page(), "[2]<C3><C1>[tmp/" + fs::path(made).filename().string() + "][][][]\n");
  const std::string header = *getrow(kivtest::read_file(list), 1);
  EXPECT_EQ(kivtest::read_file(made), header + *getrow(kivtest::read_file(list), 4) + *getrow(kivtest::read_file(list), 2));
  EXPECT_EQ(kivtest::read_file(made + ".owner"), "ann\n");
  EXPECT_EQ(tmp_files().size(), before.size() + 2);

  // Another login's selection reads as a file that cannot be read.
  EXPECT_EQ(run(up_confirmprint, {"up_confirmprint", "confirm.html"},
                {{"hidedatafile.VALUE", list}, {"select_all.VALUE", "1"}}, "bob"),
            1);
  EXPECT_EQ(page(), message("No data for object 'hidedatafile' from file " + list + "\n") +
                        message("Please, check your record selection and try again."));

  // The names row alone: the message, status 0, and no scratch file.
  const std::vector<std::string> now = tmp_files();
  EXPECT_EQ(run(up_confirmprint, {"up_confirmprint", "confirm.html"}, {{"hidedatafile.VALUE", list}}, "ann"), 0);
  EXPECT_EQ(page(), message("No record has been selected.\nPlease make a selection."));
  EXPECT_EQ(tmp_files(), now);

  EXPECT_EQ(run(up_confirmprint, {"up_confirmprint"}), 2);
  EXPECT_EQ(page(), message("Wrong usage: up_confirmprint templatefile\n"));
}

// The macro loop, on the confirmation page: slots from 1 without a gap, a
// slot naming a configured macro, the syntax messages, a slot a request may
// only point at a macro, and a table-shaped macro after which the
// selection is still the one the next page gets.
TEST_P(Queries, TheQueryMacros) {
  configure(
      "OBJECT{\n\tNAME=query_open\n\tVALUE=open_cases=select case_num from cases where status = 'Open' order by "
      "case_num\n};\n"
      "OBJECT{\n\tNAME=query_third\n\tVALUE=third=select case_num from cases where id_num = 3\n};\n");
  const std::string list = found(std::nullopt);
  const std::string selection = "[1]<C2>";
  const std::string open = "[case_num^$][case_num^$C1^$C3^$]";
  struct Case {
    const char* what;
    std::string slots;  // configured sqlquery objects
    std::vector<std::pair<std::string, std::string>> request;
    std::string shown;     // the datasets on the page
    std::string messages;  // before the page
  } cases[] = {
      {"a macro, then a gap", "OBJECT{\n\tNAME=sqlquery1\n\tVALUE=query_open\n};\nOBJECT{\n\tNAME=sqlquery3\n\tVALUE=query_third\n};\n",
       {}, open + "[]", ""},
      {"a slot of its own text", "OBJECT{\n\tNAME=sqlquery1\n\tVALUE=third=select case_num from cases where id_num = 3\n};\n",
       {}, "[][][case_num^$]", ""},
      {"a macro without a value, then one",
       "OBJECT{\n\tNAME=sqlquery1\n\tVALUE=query_none\n};\nOBJECT{\n\tNAME=sqlquery2\n\tVALUE=query_open\n};\n", {},
       open + "[]", message("Wrong syntax for macro sqlquery1\n")},
      {"a text without =",
       "OBJECT{\n\tNAME=sqlquery1\n\tVALUE=select 1\n};\nOBJECT{\n\tNAME=sqlquery2\n\tVALUE=query_third\n};\n", {},
       "[][][case_num^$]", message("Wrong syntax for sqlquery1\n")},
      {"a request pointing a slot at a macro", "", {{"sqlquery1.VALUE", "query_open"}}, open + "[]", ""},
      {"a request writing SQL into a slot", "",
       {{"sqlquery1.VALUE", "x=delete from cases"}, {"query_open.VALUE", "x=delete from cases"}}, "[][][]", ""},
  };
  const std::string objects = kivtest::read_file(path("client/config/tk_obj"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    home_.write("client/config/tk_obj", objects + c.slots);
    std::vector<std::pair<std::string, std::string>> fields = {{"hidedatafile.VALUE", list}, {"selrow_2.VALUE", "on"}};
    fields.insert(fields.end(), c.request.begin(), c.request.end());
    EXPECT_EQ(run(up_confirmprint, {"up_confirmprint", "confirm.html"}, fields), 0);
    const size_t file = page().find("[tmp/tmp_datafile.");
    ASSERT_NE(file, std::string::npos) << page();
    EXPECT_EQ(page().substr(0, file), c.messages + selection) << page();
    const std::string shown = page().substr(page().find(']', file) + 1);
    EXPECT_EQ(shown, c.shown + "\n");
    // The selection's file, not a query's, goes on to the next page.
    const std::string next = page().substr(file + 1, page().find(']', file) - file - 1);
    EXPECT_EQ(kivtest::read_file(path(next)), *getrow(kivtest::read_file(list), 1) + *getrow(kivtest::read_file(list), 3));
  }
  EXPECT_EQ(rows("select count(*) from cases"), "4^$");
}

TEST_P(Queries, TheStoredQueryPage) {
  page_template("stats.html", "stats[FB{counts.VALUE}FE]\n");
  const std::string bad = "OBJECT{\n\tNAME=query_bad\n\tVALUE=counts=select nosuchcolumn from cases\n};\n";
  const std::string good =
      "OBJECT{\n\tNAME=query_counts\n\tVALUE=counts=select status, count(*) as n from cases where status = 'Open' "
      "group by status\n};\n";
  configure(bad + good);
  const std::string counts = "stats[status^@n^$Open^@2^$]\n";
  // A failing query, then one that succeeds: the page.
  EXPECT_EQ(run(up_gsql, {"up_gsql", "stats.html"}, {{"sqlquery1.VALUE", "query_bad"}, {"sqlquery2.VALUE", "query_counts"}}),
            0);
  EXPECT_TRUE(page().ends_with(counts)) << page();
  EXPECT_TRUE(page().starts_with("<PRE>\nSQL Error: ")) << page();
  // A failing last query: the message, or the error page, and 1 either way.
  EXPECT_EQ(run(up_gsql, {"up_gsql", "stats.html"}, {{"sqlquery1.VALUE", "query_counts"}, {"sqlquery2.VALUE", "query_bad"}}),
            1);
  EXPECT_TRUE(page().ends_with(message("No records found\n"))) << page();
  EXPECT_EQ(engineflags().errorpageflag, 0);
  page_template("finderror.html", "finderror\n");
  EXPECT_EQ(run(up_gsql, {"up_gsql", "stats.html"}, {{"sqlquery1.VALUE", "query_bad"}}), 1);
  EXPECT_TRUE(page().ends_with("</PRE>\nfinderror\n")) << page();
  EXPECT_EQ(engineflags().errorpageflag, 1);
  page_template("sorry.html", "sorry\n");
  EXPECT_EQ(run(up_gsql, {"up_gsql", "stats.html", "sorry.html"}, {{"sqlquery1.VALUE", "query_bad"}}), 1);
  EXPECT_TRUE(page().ends_with("</PRE>\nsorry\n")) << page();
  // No macro at all: the page.
  EXPECT_EQ(run(up_gsql, {"up_gsql", "stats.html"}), 0);
  EXPECT_EQ(page(), "stats[]\n");
  EXPECT_EQ(run(up_gsql, {"up_gsql"}), 2);
  EXPECT_EQ(page(), message("Wrong usage: upgsql templatefile\n"));
}

TEST_P(Queries, TheChartPage) {
  page_template("chart.html", "[FB{findresultnum.VALUE}FE]TB{TNB{chartresult}TNE<CB{title}CE=CB{value}CE>}TE\n");
  EXPECT_EQ(run(up_chart, {"up_chart", "chart.html"}, {{"sort_titles1_menu.VALUE", "Status"}}), 0) << page();
  // Open and open count as one; the Windows programs chart Z before A.
  EXPECT_EQ(page(), "[4]<Open=3><Closed=1>\n");
  EXPECT_EQ(run(up_chart, {"up_chart", "chart.html"},
                {{"sort_titles1_menu.VALUE", "Status"}, {"status.VALUE", "Pending"}}),
            1);
  EXPECT_EQ(page(), message("No record to display\n") + message("No records found\n"));
  EXPECT_EQ(run(up_chart, {"up_chart"}), 2);
  EXPECT_EQ(page(), message("Wrong usage: upfind templatefile\n"));
}

INSTANTIATE_TEST_SUITE_P(Roads, Queries, ::testing::Values(kivtest::Road::sqlite, kivtest::Road::postgres),
                         kivtest::road_name);
