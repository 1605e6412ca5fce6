// The calendar command over the sample installation: the month grids of
// the shown month and the months around it (a leap February, a year's turn
// both ways, the century rule, the day-first date format), the cases of a
// month in the cells of their days with their colours on SQLite and on
// PostgreSQL (none of the month before, after or a year later), every
// refusal and configuration fault as a message before any page, and more
// shown columns than any fixed table held. A small page prints the objects
// the command leaves.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "commands/upadd.h"
#include "commands/upcal.h"
#include "engine/upclock.h"
#include "support/testsupport.h"
#include "toolkit/request/kivexfile.h"
#include "toolkit/text/rowcol.h"
#include "uptest.h"

using namespace kiv;
using kivtest::exit_status;

namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

const std::string kHeader = "date_open^@_cal_color^@case_num^@submitted_by^@category^$";

class CalendarHome : public uptest::CommandCaseHome {
 protected:
  explicit CalendarHome(kivtest::Road road) : CommandCaseHome(road) {}

  void SetUp() override {
    CommandCaseHome::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    engineclock().now = 1700000000;  // 11/14/2023 in UTC
    std::string page = "page\n";
    for (const char* o : {"_cal_cm", "_cal_scm", "_cal_cy", "_cal_pm", "_cal_nm", "_cal_py", "_cal_ny", "_cal_spm",
                          "_cal_snm", "_cal_today"})
      page += sformat("%s=[MB{%s.VALUE}ME]\n", o, o);
    for (int n = 1; n <= 12; ++n) page += sformat("_cal_m%d=[MB{_cal_m%d.VALUE}ME]\n", n, n);
    for (int c = 1; c <= 42; ++c) {
      for (const char* grid : {"_cal_md", "_cal_pmd", "_cal_nmd"})
        page += sformat("%s%d=[MB{%s%d.CONTROL}ME|MB{%s%d.TITLE}ME]\n", grid, c, grid, c, grid, c);
      page += sformat("cases%d=[MB{_cal_md%d.VALUE}ME]\n", c, c);
    }
    home_.write("client/kivhtml/tk/cal.txt", page);
  }

  // What the page shows for a name, "(no page)" without a page.
  std::string shown(const std::string& name) const {
    const std::string p = page();
    const size_t at = p.find("\n" + name + "=[");
    if (at == std::string::npos) return "(no page)";
    const size_t from = at + name.size() + 3;
    return p.substr(from, p.find("]\n", from) - from);
  }
  bool paged() const { return page().find("page\n") != std::string::npos; }
  bool shows(const std::string& text) const { return page().find(text) != std::string::npos; }

  int calendar(const std::string& date, const std::string& view = "Monthly") {
    return run({"up_cal", "cal.txt"}, {{"_cal_view.VALUE", view}, {"_cal_date.VALUE", date}});
  }
  int run(std::vector<std::string> words, const Fields& fields) {
    clear_output();
    exlist request = uptest::form(fields);
    int status = 99;
    std::optional<int> ended = exit_status([&] { status = up_cal(words, &request); });
    return ended ? *ended : status;
  }

  // A case stored by the plain add, with its number and date.
  void add_case(const std::string& num, const std::string& who, const std::string& status,
                const std::string& category, const std::string& date) {
    exlist request = uptest::form({{"case_num.VALUE", num}, {"submitted_by.VALUE", who}, {"problem.VALUE", "p"},
                               {"status.VALUE", status}, {"category.VALUE", category}, {"date_open.VALUE", date}});
    std::vector<std::string> words = {"up_add", "added.html", "-g"};
    clear_output();
    ASSERT_EQ(up_add(words, &request), 0) << page();
  }

  // tk_obj with one text replaced, or with objects appended.
  void edit_config(const std::string& from, const std::string& to) {
    std::string objs = kivtest::read_file(path("client/config/tk_obj"));
    const size_t at = objs.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    objs.replace(at, from.size(), to);
    home_.write("client/config/tk_obj", objs);
  }
  void append_config(const std::string& blocks) {
    home_.write("client/config/tk_obj", kivtest::read_file(path("client/config/tk_obj")) + blocks);
  }

  kivtest::ScopedTz utc_{"UTC"};
};

class Calendar : public CalendarHome {
 protected:
  Calendar() : CalendarHome(kivtest::Road::sqlite) {}
};

class CalendarRoads : public CalendarHome, public ::testing::WithParamInterface<kivtest::Road> {
 protected:
  CalendarRoads() : CalendarHome(GetParam()) {}
};

}  // namespace

// The grids by the year record: each month's first day in the cell after
// its weekday (Sunday first), the names with their blanks, the months around.
TEST_F(Calendar, MonthGridsAndTheirNeighbours) {
  struct Case {
    const char* what;
    bool dmy;
    const char* date;
    std::vector<std::pair<std::string, std::string>> expected;
  } cases[] = {
      {"a leap February: 1 February 2000 is a Tuesday", false, "2/15/2000",
       {{"_cal_cm", "February 2000"}, {"_cal_scm", "2/1/2000"}, {"_cal_cy", "2000"}, {"_cal_pm", "January 2000"},
        {"_cal_nm", " March 2000"}, {"_cal_py", "1999"}, {"_cal_ny", "2001"}, {"_cal_spm", "1/1/2000"},
        {"_cal_snm", "3/1/2000"}, {"_cal_m3", "3/1/2000"}, {"_cal_m12", "12/1/2000"}, {"_cal_today", "11/14/2023"},
        {"_cal_md2", "|"}, {"_cal_md3", "1|2/1/2000"}, {"_cal_md31", "29|2/29/2000"}, {"_cal_md32", "|"},
        {"_cal_pmd7", "1|1/1/2000"}, {"_cal_pmd37", "31|1/31/2000"}, {"_cal_nmd4", "1|3/1/2000"},
        {"_cal_nmd34", "31|3/31/2000"}}},
      {"day first: January 2000, December 1999 before it", true, "15/1/2000",
       {{"_cal_cm", "January 2000"}, {"_cal_scm", "1/1/2000"}, {"_cal_pm", "December 1999"}, {"_cal_py", "1999"},
        {"_cal_spm", "1/12/1999"}, {"_cal_snm", "1/2/2000"}, {"_cal_m2", "1/2/2000"}, {"_cal_today", "14/11/2023"},
        {"_cal_md7", "1|1/1/2000"}, {"_cal_md37", "31|31/1/2000"}, {"_cal_pmd4", "1|1/12/1999"},
        {"_cal_nmd3", "1|1/2/2000"}}},
      {"December 2000, January 2001 after it", false, "12/25/2000",
       {{"_cal_cm", "December 2000"}, {"_cal_nm", "January 2001"}, {"_cal_snm", "1/1/2001"}, {"_cal_ny", "2001"},
        {"_cal_md6", "1|12/1/2000"}, {"_cal_nmd2", "1|1/1/2001"}}},
      {"May's name has two blanks", false, "5/9/2000", {{"_cal_cm", "  May 2000"}, {"_cal_md2", "1|5/1/2000"}}},
      {"1900 is no leap year", false, "2/10/1900", {{"_cal_md5", "1|2/1/1900"}, {"_cal_md32", "28|2/28/1900"},
                                                    {"_cal_md33", "|"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.dmy) append_config("OBJECT{\n\tNAME=dateformat\n\tVALUE=dmy\n};\n");
    EXPECT_EQ(calendar(c.date), 0) << page();
    for (const auto& [name, value] : c.expected) EXPECT_EQ(shown(name), value) << name;
    // Without cases every cell holds the empty table.
    EXPECT_EQ(shown("cases10"), "x^$");
    if (c.dmy) edit_config("OBJECT{\n\tNAME=dateformat\n\tVALUE=dmy\n};\n", "");
  }
}

// The month's cases in the cells of their days, in find order, each with its
// colour, the last day's until its last second; nothing of the month before,
// after, or a year later. The dates
// are written and searched as each database orders them.
TEST_P(CalendarRoads, CasesOfTheMonthInTheirCells) {
  edit_config("Closed^@seagreen^$", "Closed^@seagreen^$Held^@^^^$");
  add_case("K-1", "ann", "Open", "Network", "2/03/2000 10:00");
  add_case("K-2", "bob", "Pending", "Hardware", "2/3/2000");
  add_case("K-3", "carl", "New", "", "2/1/2000");
  add_case("K-4", "dan", "Closed", "Account", "2/29/2000");
  add_case("K-5", "eve", "Open", "Network", "1/31/2000");
  add_case("K-6", "fay", "Open", "Network", "3/1/2000");
  add_case("K-7", "gus", "Open", "Network", "2/15/2001");
  add_case("K-8", "hal", "Held", "Network", "2/29/2000");
  add_case("K-9", "ian", "Open", "Network", "2/29/2000 15:00");
  reqctx().kivdebug = 0;
  ASSERT_EQ(calendar("2/15/2000"), 0) << page();
  EXPECT_EQ(shown("cases3"), kHeader + "02/01/2000^@black^@K-3^@carl^@^^^$");
  EXPECT_EQ(shown("cases5"), kHeader + "02/03/2000 10:00:00^@firebrick^@K-1^@ann^@Network^$"
                                       "02/03/2000^@darkorange^@K-2^@bob^@Hardware^$");
  EXPECT_EQ(shown("cases31"), kHeader + "02/29/2000^@seagreen^@K-4^@dan^@Account^$"
                                        "02/29/2000^@black^@K-8^@hal^@Network^$"
                                        "02/29/2000 15:00:00^@firebrick^@K-9^@ian^@Network^$");
  int filled = 0;
  for (int c = 1; c <= 42; ++c) filled += shown(sformat("cases%d", c)) != "x^$";
  EXPECT_EQ(filled, 3);
  // No next page reads the find's scratch data file: none is left.
  for (const std::string& name : kivtest::entries(path("tmp"))) EXPECT_FALSE(name.starts_with("tmp_datafile.")) << name;

  // The month before has its last day's case, the month after its first.
  ASSERT_EQ(calendar("1/1/2000"), 0);
  EXPECT_EQ(shown("cases37"), kHeader + "01/31/2000^@firebrick^@K-5^@eve^@Network^$");
  ASSERT_EQ(calendar("3/9/2000"), 0);
  EXPECT_EQ(shown("cases4"), kHeader + "03/01/2000^@firebrick^@K-6^@fay^@Network^$");

  // A month without cases: empty cells, and the trace says why.
  reqctx().kivdebug = 1;
  ASSERT_EQ(calendar("7/1/2000"), 0);
  EXPECT_TRUE(shows("find failed or no record found")) << page();
  EXPECT_FALSE(shows("No record to display"));
  EXPECT_EQ(shown("cases7"), "x^$");
}

INSTANTIATE_TEST_SUITE_P(Roads, CalendarRoads, ::testing::Values(kivtest::Road::sqlite, kivtest::Road::postgres),
                         kivtest::road_name);

// Every refusal and every fault of the calendar's configuration ends the
// request with status 0 after its message, before any page; request text in
// a message is escaped.
TEST_F(Calendar, RefusalsAndConfigurationFaultsEndBeforeThePage) {
  add_case("K-1", "ann", "Open", "Network", "2/3/2000");
  const std::string control = "\tVALUE=case_num^@submitted_by^@category^$\n\tCONTROL=status\n\tTITLE=date_open\n";
  struct Case {
    const char* what;
    std::string view, date;
    std::string config;  // what the _cal_control block holds instead; "" as sampled
    bool dmy;
    const char* message;
  } cases[] = {
      {"no view", "", "2/15/2000", "", false, "Not supported view"},
      {"another view", "<b>Yearly</b>", "2/15/2000", "", false, "Not supported view=&#60;b&#62;Yearly&#60;/b&#62;"},
      {"no date", "Monthly", "", "", false, "_cal_date is not present"},
      {"one slash", "Monthly", "2/15", "", false, "_cal_date is corrupted"},
      {"dashes", "Daily", "2-15-2000", "", false, "_cal_date is corrupted"},
      {"day 32", "Monthly", "2/32/2000", "", false, "Bad day number=32"},
      {"day 0", "Monthly", "2/x/2000", "", false, "Bad day number=x"},
      {"month first", "Monthly", "13/1/2000", "", false, "1Bad month number=13"},
      {"month second", "Monthly", "1/13/2000", "", true, "2Bad month number=13"},
      {"markup as the month", "Monthly", "<i>/1/2000", "", false, "1Bad month number=&#60;i&#62;"},
      {"year before 1900", "Monthly", "2/1/1899", "", false, "Bad year number=1899"},
      {"year after 3000", "Weekley", "2/1/3001", "", false, "Bad year number=3001"},
      {"no date column", "Monthly", "2/15/2000", "\tVALUE=case_num^$\n\tCONTROL=status\n", false,
       "_cal_control.TITLE is EMPTY"},
      {"a date column the cases lack", "Monthly", "2/15/2000", "\tVALUE=case_num^$\n\tCONTROL=status\n\tTITLE=nosuch\n",
       false, "key='nosuch'"},
      {"no colour column", "Monthly", "2/15/2000", "\tVALUE=case_num^$\n\tTITLE=date_open\n", false,
       "_cal_control.CONTROL is EMPTY"},
      {"a colour column the cases lack", "Monthly", "2/15/2000",
       "\tVALUE=case_num^$\n\tCONTROL=nosuch\n\tTITLE=date_open\n", false, "Bad key for color dataset key=\n"},
      {"no shown columns", "Monthly", "2/15/2000", "\tCONTROL=status\n\tTITLE=date_open\n", false,
       "no _cal_control.VALUE object. Exiting"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (!c.config.empty()) edit_config(control, c.config);
    if (c.dmy) append_config("OBJECT{\n\tNAME=dateformat\n\tVALUE=dmy\n};\n");
    EXPECT_EQ(calendar(c.date, c.view), 0);
    EXPECT_TRUE(shows(c.message)) << page();
    EXPECT_FALSE(paged()) << page();
    if (!c.config.empty()) edit_config(c.config, control);
    if (c.dmy) edit_config("OBJECT{\n\tNAME=dateformat\n\tVALUE=dmy\n};\n", "");
  }
  // The date column's fault names the result's columns.
  edit_config(control, "\tVALUE=case_num^$\n\tCONTROL=status\n\tTITLE=nosuch\n");
  calendar("2/15/2000");
  EXPECT_TRUE(shows("Bad key for dataset keys='id_num^@case_num^@status^@")) << page();
  // The colour and shown columns are looked for only among found cases: a
  // month without cases is shown.
  edit_config("\tVALUE=case_num^$\n\tCONTROL=status\n\tTITLE=nosuch\n", "\tTITLE=date_open\n");
  EXPECT_EQ(calendar("3/15/2000"), 0);
  EXPECT_TRUE(paged()) << page();
  edit_config("\tTITLE=date_open\n", control);

  // The week and day views make no calendar; their page is shown.
  for (const char* view : {"Weekley", "Daily"}) {
    EXPECT_EQ(calendar("2/15/2000", view), 0);
    EXPECT_TRUE(paged());
    EXPECT_EQ(shown("_cal_cm"), "");
    EXPECT_EQ(shown("cases5"), "");
  }
  EXPECT_EQ(run({"up_cal"}, {}), 2);
  EXPECT_EQ(page(), "<PRE>\nWrong usage: upadd templatefile\n</PRE>\n");
  EXPECT_EQ(run({"up_cal", "cal.txt", "ignored"}, {{"_cal_view.VALUE", "Monthly"}, {"_cal_date.VALUE", "2/1/2000"}}),
            0);
  EXPECT_EQ(shown("_cal_cm"), "February 2000");
}

// Every shown column is kept, however many; a column the cases lack is
// empty, and a case's text is escaped on the page.
TEST_F(Calendar, EveryShownColumnIsKept) {
  std::string columns = "case_num";
  for (int i = 1; i <= 60; ++i) columns += sformat("^@extra%d", i);
  columns += "^@submitted_by^$";
  edit_config("\tVALUE=case_num^@submitted_by^@category^$\n", "\tVALUE=" + columns + "\n");
  add_case("K-1", "<i>ann</i>", "Open", "Network", "2/3/2000");
  ASSERT_EQ(calendar("2/15/2000"), 0) << page();
  const std::string cell = shown("cases5");
  const std::string rows = [&] {
    std::string t = cell;
    for (size_t at = t.find("&#60;"); at != std::string::npos; at = t.find("&#60;")) t.replace(at, 5, "<");
    for (size_t at = t.find("&#62;"); at != std::string::npos; at = t.find("&#62;")) t.replace(at, 5, ">");
    return t;
  }();
  ASSERT_EQ(getrowcount(rows), 2) << cell;
  const std::string record = *getrow(rows, 2);
  EXPECT_EQ(getcolcount(*getrow(rows, 1)), 64);
  EXPECT_EQ(getcolcount(record), 64);
  EXPECT_EQ(getcol(record, 3), "K-1");
  EXPECT_EQ(getcol(record, 63), "");
  EXPECT_EQ(getcol(record, 64), "<i>ann</i>");
  EXPECT_NE(cell.find("&#60;i&#62;ann&#60;/i&#62;"), std::string::npos) << cell;
}

// The fixed search values of _cal_static_filter narrow the month's cases.
TEST_F(Calendar, FixedSearchValuesNarrowTheMonth) {
  append_config("OBJECT{\n\tNAME=_cal_static_filter\n\tVALUE=category^$Network^$\n};\n");
  add_case("K-1", "ann", "Open", "Network", "2/3/2000");
  add_case("K-2", "bob", "Open", "Hardware", "2/3/2000");
  ASSERT_EQ(calendar("2/15/2000"), 0) << page();
  EXPECT_EQ(shown("cases5"), kHeader + "02/03/2000^@firebrick^@K-1^@ann^@Network^$");
}

// Under the day-first date format the month's range is written and read day
// first, and its last day's case with a time of day is found.
TEST_F(Calendar, DayFirstMonthTakesItsLastDay) {
  append_config("OBJECT{\n\tNAME=dateformat\n\tVALUE=dmy\n};\n");
  add_case("K-1", "ann", "Open", "Network", "31/1/2000 15:00");
  add_case("K-2", "bob", "Open", "Network", "1/2/2000");
  ASSERT_EQ(calendar("15/1/2000"), 0) << page();
  EXPECT_EQ(shown("cases37"), kHeader + "31/01/2000 15:00:00^@firebrick^@K-1^@ann^@Network^$");
  int filled = 0;
  for (int c = 1; c <= 42; ++c) filled += shown(sformat("cases%d", c)) != "x^$";
  EXPECT_EQ(filled, 1);
}
