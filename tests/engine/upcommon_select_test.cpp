// Row selection from a found result's scratch data file: ticks, typed
// ranges and the whole file over one table of 10 rows, the refusals with
// their exact messages, rows that come once however often they are picked,
// numbers that cannot wrap round, files that are not the request's; and
// the report file of a chosen title.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "engine/upcommon_select.h"
#include "enginetest.h"
#include "toolkit/base/kivfmt.h"

using namespace kiv;
using enginetest::Attr;
using enginetest::objects;

namespace {

class Selection : public enginetest::HomeTest {
 protected:
  void SetUp() override {
    HomeTest::SetUp();
    std::string text = "case_num^@status^$";
    for (int i = 1; i <= 10; ++i) text += sformat("C%d^@Open^$", i);
    table_ = text;
    file_ = home_.write("tmp/tmp_datafile.1.1", text);
  }
  // The names row and the data rows of these numbers, in this order.
  static std::string rows(std::initializer_list<int> numbers) {
    std::string text = "case_num^@status^$";
    for (int n : numbers) text += sformat("C%d^@Open^$", n);
    return text;
  }
  // filter_data over the file and these objects; the page it showed.
  std::optional<std::string> select(const std::vector<Attr>& attrs, const std::string& file = {}) {
    clear_output();
    auto list = objects(std::vector<Attr>{{"hidedatafile.VALUE", file.empty() ? file_ : file}} + attrs);
    return filter_data(*list);
  }
  static std::string message(const std::string& text) { return "<PRE>\n" + text + "</PRE>\n"; }

  std::string table_, file_;
};

}  // namespace

TEST_F(Selection, TicksRangesAndTheWholeFile) {
  std::string many;
  for (int i = 0; i < 149; ++i) many += "1,";
  many += "10";
  struct Case {
    const char* what;
    std::vector<Attr> attrs;
    std::optional<std::string> result;
    std::string page;
  } cases[] = {
      {"a list and a range", {{"select_range.VALUE", "2-4,7"}}, rows({2, 3, 4, 7}), ""},
      {"a double dash", {{"select_range.VALUE", "3--5"}}, rows({3, 4, 5}), ""},
      {"a range without its end", {{"select_range.VALUE", "5-"}}, rows({5}), ""},
      {"a trailing comma", {{"select_range.VALUE", "9,"}}, rows({9}), ""},
      {"items beyond the hundredth", {{"select_range.VALUE", many}}, rows({1, 10}), ""},
      {"ticks before the range, each row once",
       {{"selrow_6.VALUE", "on"}, {"selrow_2.VALUE", "on"}, {"select_range.VALUE", "1-2,6"}},
       rows({6, 2, 1}),
       ""},
      {"a tick without a value", {{"selrow_4.TITLE", "x"}}, rows({4}), ""},
      {"one row under two names", {{"selrow_3.VALUE", "on"}, {"selrow_03.VALUE", "on"}}, rows({3}), ""},
      {"nothing picked", {}, rows({}), ""},
      {"all rows, whatever else", {{"select_all.VALUE", "1"}, {"selrow_0.VALUE", "on"}, {"select_range.VALUE", "0-99"}},
       std::string(), ""},
      {"zero", {{"select_range.VALUE", "0-2"}}, std::nullopt,
       message("range '(0)-(2)' can not be negative or zero")},
      {"beyond the last row", {{"select_range.VALUE", "8-11"}}, std::nullopt,
       message("range '8-11' exceed max row='10'") + message("range must be less or equal to max records")},
      {"backwards", {{"select_range.VALUE", "4-2"}}, std::nullopt,
       message("range '(4)-(2)' start row number is larger than end row number ")},
      {"no number", {{"select_range.VALUE", "abc"}}, std::nullopt,
       message("range '(0)-(0)' can not be negative or zero")},
      {"a number that would wrap round", {{"select_range.VALUE", "4294967297"}}, std::nullopt,
       message("range '2147483647-2147483647' exceed max row='10'") +
           message("range must be less or equal to max records")},
      {"a tick of row 0", {{"selrow_0.VALUE", "on"}}, std::nullopt,
       message("BAD SELECT ROW NAME. Must have int after '_'\n")},
      {"a tick of no number", {{"selrow_x.VALUE", "on"}}, std::nullopt,
       message("BAD SELECT ROW NAME. Must have int after '_'\n")},
      {"a tick of a negative row", {{"selrow_-1.VALUE", "on"}}, std::nullopt,
       message("BAD SELECT ROW NAME. Must have int after '_'\n")},
      {"a tick past the last row", {{"selrow_11.VALUE", "on"}}, std::nullopt,
       message("BAD SELECT ROW NAME. Must have int after '_'\n")},
      {"a tick of nothing", {{"selrow_.VALUE", "on"}}, std::nullopt,
       message("BAD SELECT ROW NAME. Must have int after '_'\n")},
      {"a tick without its _", {{"selrow7.VALUE", "on"}}, std::nullopt,
       message("BAD SELECT ROW NAME. Must have '_'\n")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::optional<std::string> expected =
        c.result && c.result->empty() ? std::optional<std::string>(table_) : c.result;
    EXPECT_EQ(select(c.attrs), expected);
    EXPECT_EQ(page(), c.page);
  }
}

// Rows an earlier item marked stay marked when a later one is refused.
TEST_F(Selection, ARefusedItemKeepsTheRowsBeforeIt) {
  auto list = objects({});
  EXPECT_EQ(range2obj(*list, "2,3-1,5", 10), -1);
  EXPECT_EQ(getvalfromlist(*list, "selrow_2.VALUE"), "checked");
  EXPECT_FALSE(getvalfromlist(*list, "selrow_5.VALUE"));
  EXPECT_EQ(range2obj(*list, "", 10), 1);
  EXPECT_EQ(range2obj(*list, "1", 0), 1);
  EXPECT_EQ(page(), message("range '(3)-(1)' start row number is larger than end row number "));
}

// With tracing on, the selection says what it read, how many rows it
// counted and each item of a typed range; an empty range says so.
TEST_F(Selection, TheTraces) {
  reqctx().kivdebug = 1;
  EXPECT_EQ(select({{"select_range.VALUE", "2,4-5"}}), rows({2, 4, 5}));
  for (const std::string& trace : {"data_filter='" + table_ + "'", std::string(" data_filter MAXROWCOUNT=10"),
                                  std::string("TOCK=2"), std::string("TOCK=4-5")})
    EXPECT_NE(page().find(trace), std::string::npos) << trace << "\n" << page();
  clear_output();
  auto list = objects({});
  EXPECT_EQ(range2obj(*list, "", 10), 1);
  EXPECT_NE(page().find("Bad Range NULL"), std::string::npos) << page();
}

TEST_F(Selection, FilesThatGiveNoRows) {
  const std::string none = "No data for object 'hidedatafile' from file ";
  const std::string other = home_.write("tmp/tmp_datafile.2.2", table_);
  home_.write("tmp/tmp_datafile.2.2.owner", "bob\n");
  const std::string headless = home_.write("tmp/tmp_datafile.3.3", "^$C1^@Open^$");
  const std::string header = home_.write("tmp/tmp_datafile.4.4", "case_num^@status^$");
  const std::string outside = home_.write("users/tmp_datafile.5.5", table_);
  struct Case {
    const char* what;
    std::string file;
    std::vector<Attr> attrs;
    std::optional<std::string> result;
    std::string page;
  } cases[] = {
      {"another login's file", other, {{"select_all.VALUE", "1"}}, std::nullopt, message(none + other + "\n")},
      {"a file outside tmp", outside, {{"select_all.VALUE", "1"}}, std::nullopt, message(none + outside + "\n")},
      {"a file that is not there", path("tmp/tmp_datafile.9.9"), {}, std::nullopt,
       message("up_readfile: can't stat '" + path("tmp/tmp_datafile.9.9") + "' errno=2\n") +
           message(none + path("tmp/tmp_datafile.9.9") + "\n")},
      {"an empty names row", headless, {{"selrow_1.VALUE", "on"}}, std::nullopt, message("BAD SELECT DATA\n")},
      {"the names row alone", header, {}, "case_num^@status^$", ""},
      {"the names row alone and a range", header, {{"select_range.VALUE", "1"}}, std::nullopt, ""},
  };
  reqctx().remote_user = "ann";
  home_.write("tmp/tmp_datafile.3.3.owner", "ann\n");
  home_.write("tmp/tmp_datafile.4.4.owner", "ann\n");
  home_.write("tmp/tmp_datafile.9.9.owner", "ann\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(select(c.attrs, c.file), c.result);
    EXPECT_EQ(page(), c.page);
  }
  clear_output();
  auto list = objects({{"select_all.VALUE", "1"}});
  EXPECT_FALSE(filter_data(*list));
  EXPECT_EQ(page(), message("No data for object 'hidedatafile'\n"));
}

TEST_F(Selection, TheReportFileOfAChosenTitle) {
  const std::vector<Attr> reports = {{"reports.TITLE", "Summary^@Detail^@Blank^$"},
                                     {"reports.VALUE", "sum.html^@detail.html^@^^^$"}};
  const std::string inconsistent = message("Inconsistent report object 'reports'\n");
  struct Case {
    const char* what;
    std::vector<Attr> attrs;
    std::optional<std::string> file;
    std::string page;
  } cases[] = {
      {"a title", std::vector<Attr>{{"reports_menu.VALUE", "Detail"}} + reports, "detail.html", ""},
      {"no choice", reports, std::nullopt, message("Missing print object 'reports_menu'\n")},
      {"no titles", {{"reports_menu.VALUE", "Detail"}, {"reports.VALUE", "a^$"}}, std::nullopt,
       message("Missing report titles for 'reports' object \n")},
      {"no values", {{"reports_menu.VALUE", "Detail"}, {"reports.TITLE", "Detail^$"}}, std::nullopt,
       message("Missing report values for 'reports' object \n")},
      {"an unknown title", std::vector<Attr>{{"reports_menu.VALUE", "Trend"}} + reports, std::nullopt, inconsistent},
      {"an empty value", std::vector<Attr>{{"reports_menu.VALUE", "Blank"}} + reports, std::nullopt, inconsistent},
      {"a missing column",
       {{"reports_menu.VALUE", "Detail"}, {"reports.TITLE", "Summary^@Detail^$"}, {"reports.VALUE", "sum.html^$"}},
       std::nullopt,
       inconsistent},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    clear_output();
    auto list = objects(c.attrs);
    EXPECT_EQ(getprintfilename(*list), c.file);
    EXPECT_EQ(page(), c.page);
  }
}
