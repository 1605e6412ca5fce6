// The reports over a selection: the elapsed times between a case's stamp
// lines (statuses with blanks, empty or "*", day-first dates, a thousand
// cases of a month each), the groups of the percentage report, and the
// trend table: its markup, axes of many values, values that differ in case
// or trailing blanks counted where they were merged, escaped values and
// titles, and the rows' alternation across tables.
#include <gtest/gtest.h>

#include <string>

#include "engine/upreport.h"
#include "enginetest.h"
#include "support/testsupport.h"
#include "toolkit/base/kivsettings.h"
#include "toolkit/text/rowcol.h"

using namespace kiv;
using enginetest::objects;

namespace {

// A stamp line as the engine writes it.
std::string stamp(const std::string& status, const std::string& date, const std::string& time) {
  return "\n[-" + status + "- " + date + " " + time + " - ann - modify-]";
}

// A selection of one column "problem" (and an id) with these problems.
std::string problems(const std::vector<std::string>& texts) {
  std::string data = "id_num^@problem^$";
  int id = 0;
  for (const std::string& t : texts) data += std::to_string(++id) + "^@" + (t.empty() ? "^^" : t) + "^$";
  return data;
}

// Row `n` (from 1, the names row included) of a report table, as its six
// report columns joined by "|".
std::string report_row(const std::string& table, int n) {
  const std::string row = getrow_or_empty(table, n);
  std::string s;
  for (int i = 1; i <= 6; ++i) s += (i > 1 ? "|" : "") + getcol(row, i).value_or("?");
  return s;
}

class Reports : public kivtest::KivTest {};

}  // namespace

TEST_F(Reports, ElapsedTimesOfTheStampLines) {
  const std::string text = "The printer jams." + stamp("Open", "03/05/2024", "10:00:00 AM") +
                           stamp("Open", "03/05/2024", "11:30:00 AM") + "\nmore words" +
                           stamp("Closed", "03/05/2024", "12:15:00 PM");
  const ElapseReport r = elapsereport(problems({text}), false);
  const std::string row = "0d:1h:30m:0s^@0d:0h:45m:0s^@0d:2h:15m:0s^@Tue Mar  5 10:00:00 2024^@"
                          "Tue Mar  5 11:30:00 2024^@Tue Mar  5 12:15:00 2024^@";
  EXPECT_EQ(r.table, "r_time^@a_time^@l_time^@rs_time^@rr_time^@rl_time^@id_num^@problem^$" + row + "1^@" +
                         text + "^$");
  EXPECT_EQ(r.av_r_time, "0d:1h:30m:0s");
  EXPECT_EQ(r.av_a_time, "0d:0h:45m:0s");
  EXPECT_EQ(r.av_l_time, "0d:2h:15m:0s");
  EXPECT_EQ(r.total_recs, "1");
}

TEST_F(Reports, EachCasesTimesWhateverItsStatus) {
  const std::string one = stamp("Open", "03/05/2024", "10:00:00 AM");
  const std::string later = stamp("Open", "03/06/2024", "01:00:00 PM");
  struct Case {
    const char* what;
    std::string problem;
    bool dayfirst;
    const char* row;  // the six report columns
  } cases[] = {
      {"one stamp", "x" + one, false, "0d:0h:0m:0s|0d:0h:0m:0s|0d:0h:0m:0s|Tue Mar  5 10:00:00 2024|0|0"},
      {"no stamp", "no stamp at all", false, "0d:0h:0m:0s|0d:0h:0m:0s|0d:0h:0m:0s|0|0|0"},
      {"a status with a blank", stamp("In progress", "03/05/2024", "10:00:00 AM") + later, false,
       "1d:3h:0m:0s|0d:0h:0m:0s|1d:3h:0m:0s|Tue Mar  5 10:00:00 2024|Wed Mar  6 13:00:00 2024|Wed Mar  6 13:00:00 2024"},
      {"an empty status", stamp(" ", "03/05/2024", "10:00:00 AM") + stamp(" ", "03/05/2024", "10:00:30 AM"), false,
       "0d:0h:0m:30s|0d:0h:0m:0s|0d:0h:0m:30s|Tue Mar  5 10:00:00 2024|Tue Mar  5 10:00:30 2024|Tue Mar  5 10:00:30 2024"},
      {"a menu with nothing chosen", stamp("*", "12/31/2023", "11:59:59 PM") + stamp("*", "01/01/2024", "12:00:01 AM"),
       false, "0d:0h:0m:2s|0d:0h:0m:0s|0d:0h:0m:2s|Sun Dec 31 23:59:59 2023|Mon Jan  1 00:00:01 2024|Mon Jan  1 00:00:01 2024"},
      {"day first", stamp("Open", "05/03/2024", "10:00:00 AM") + stamp("Open", "06/03/2024", "10:00:00 AM"), true,
       "1d:0h:0m:0s|0d:0h:0m:0s|1d:0h:0m:0s|Tue Mar  5 10:00:00 2024|Wed Mar  6 10:00:00 2024|Wed Mar  6 10:00:00 2024"},
      {"a second stamp before the first", later + one, false,
       "0d:0h:0m:0s|0d:0h:0m:0s|0d:0h:0m:0s|Wed Mar  6 13:00:00 2024|0|0"},
      {"a last stamp before the second", one + later + one, false,
       "0d:0h:0m:0s|0d:0h:0m:0s|0d:0h:0m:0s|Tue Mar  5 10:00:00 2024|Wed Mar  6 13:00:00 2024|0"},
      {"lines that are no stamp", "[a note]\n[-Open- 13/45/2024 10:00:00 AM - x - y-]\n  " +
                                      stamp("Open", "03/05/99", "10:00:00 AM").substr(1) + "  " + later,
       false, "9133d:3h:0m:0s|0d:0h:0m:0s|9133d:3h:0m:0s|Fri Mar  5 10:00:00 1999|Wed Mar  6 13:00:00 2024|Wed Mar  6 13:00:00 2024"},
      {"a line without a dash", "[Open 03/05/2024 10:00:00 AM]\n[Open 03/05/2024 10:00:10 AM]", false,
       "0d:0h:0m:10s|0d:0h:0m:0s|0d:0h:0m:10s|Tue Mar  5 10:00:00 2024|Tue Mar  5 10:00:10 2024|Tue Mar  5 10:00:10 2024"},
  };
  for (const Case& c : cases) {
    const ElapseReport r = elapsereport(problems({c.problem}), c.dayfirst);
    EXPECT_EQ(report_row(r.table, 2), c.row) << c.what;
    const bool counted = std::string(c.row).starts_with("0d:0h:0m:0s|0d:0h:0m:0s|0d:0h:0m:0s") ? false : true;
    EXPECT_EQ(r.total_recs, counted ? "1" : "0") << c.what;
  }
  // A case without a problem is left out; without a case to average, the
  // averages are "0".
  const ElapseReport none = elapsereport(problems({"", "x" + one}), false);
  EXPECT_EQ(getrowcount(none.table), 2);
  EXPECT_EQ(none.av_r_time + none.av_a_time + none.av_l_time + none.total_recs, "0000");
  EXPECT_EQ(elapsereport("", false).table, "");
  EXPECT_EQ(elapsereport("", false).av_r_time, "");
}

// A thousand cases open for thirty days each: the sums pass 32 bits.
TEST_F(Reports, AThousandCasesOfAMonthAverageToAMonth) {
  std::vector<std::string> texts(1000, "x" + stamp("Open", "01/01/2024", "09:00:00 AM") +
                                           stamp("Open", "01/02/2024", "09:00:00 AM") +
                                           stamp("Closed", "01/31/2024", "09:00:00 AM"));
  const ElapseReport r = elapsereport(problems(texts), false);
  EXPECT_EQ(r.total_recs, "1000");
  EXPECT_EQ(r.av_r_time, "1d:0h:0m:0s");
  EXPECT_EQ(r.av_a_time, "29d:0h:0m:0s");
  EXPECT_EQ(r.av_l_time, "30d:0h:0m:0s");
  EXPECT_EQ(getrowcount(r.table), 1001);
}

TEST_F(Reports, PercentGroupsSortedValuesInAnyCase) {
  auto list = objects({{"status.DBKEY", "status"},
                       {"status.TYPE", "MENU"},
                       {"priority.DBKEY", "priority"},
                       {"priority.TYPE", "MENU"},
                       {"category.DBKEY", "category"},
                       {"date_open.DBKEY", "date_open"},
                       {"submitted_by.DBKEY", "submitted_by"},
                       {"gone.DBKEY", "gone"},
                       {"gone.TYPE", "MENU"}});
  const std::string data =
      "status^@priority^@category^@date_open^@submitted_by^$"
      "Open^@open^@a^@03/05/2024 10:00:00^@ann^$"
      "closed^@OPEN^@b^@03/05/2024 16:30:00^@ann ^$"
      "open^@^^^@c^@03/04/2024^@^^^$"
      "Open^@open^@d^@not a date^@bob^$";
  EXPECT_EQ(PercentReport(*list, data), 0);
  EXPECT_EQ(enginetest::value(*list, "report_total"), "4");
  // Byte order puts "Open" before "closed" before "open": three groups.
  EXPECT_EQ(enginetest::value(*list, "tblresult_status"),
            "fieldvalue^@num^@percent^$Open^@2^@50.00^$closed^@1^@25.00^$open^@1^@25.00^$");
  // "OPEN" and "open" are neighbours: one group, shown as the first.
  EXPECT_EQ(enginetest::value(*list, "tblresult_priority"),
            "fieldvalue^@num^@percent^$Blank^@1^@25.00^$OPEN^@3^@75.00^$");
  // A day at different times is one group; what reads as no date is Blank
  // and sorts first.
  EXPECT_EQ(enginetest::value(*list, "tblresult_date_open"),
            "fieldvalue^@num^@percent^$Blank^@1^@25.00^$Monday 03/04/2024^@1^@25.00^$"
            "Tuesday 03/05/2024^@2^@50.00^$");
  EXPECT_EQ(enginetest::value(*list, "tblresult_submitted_by"),
            "fieldvalue^@num^@percent^$Blank^@1^@25.00^$ann^@2^@50.00^$bob^@1^@25.00^$");
  // Neither a field that is no menu nor one that is no column of the data.
  EXPECT_EQ(enginetest::value(*list, "tblresult_category"), "");
  EXPECT_EQ(list->find("tblresult_gone"), nullptr);
  // A report value reaches a page escaped.
  EXPECT_TRUE(list->find("tblresult_status")->marked(attr::VALUE));

  // The fields named; the "dmy" format reads the day first.
  settings().dateformat = "dmy";
  adduniqobj(*list, "percent_report_fields.VALUE", "date_open^@status^$");
  adduniqobj(*list, "tblresult_priority.VALUE", "");
  EXPECT_EQ(PercentReport(*list, "date_open^@status^$05/03/24^@x^$"), 0);
  EXPECT_EQ(enginetest::value(*list, "tblresult_date_open"), "fieldvalue^@num^@percent^$Tuesday 05/03/2024^@1^@100.00^$");
  EXPECT_EQ(enginetest::value(*list, "tblresult_priority"), "");
  EXPECT_EQ(PercentReport(*list, ""), -1);
  EXPECT_EQ(page(), "");
}

// Values that read as three numbers but name no day of the calendar (a
// thirteenth month, a 30 February) are shown as Blank and sort with the
// other Blank values, so that Blank is one group.
TEST_F(Reports, PercentValuesThatAreNoDayJoinTheBlankGroup) {
  auto list = objects({{"percent_report_fields.VALUE", "date_open^$"}});
  const std::string data = "date_open^$^^^$03/05/2024^$13/01/2024^$02/30/2024^$x^$";
  EXPECT_EQ(PercentReport(*list, data), 0);
  EXPECT_EQ(enginetest::value(*list, "tblresult_date_open"),
            "fieldvalue^@num^@percent^$Blank^@4^@80.00^$Tuesday 03/05/2024^@1^@20.00^$");
}

TEST_F(Reports, TrendTableOfTwoFields) {
  auto list = objects({{"status.TITLE", "Status"}, {"trend_report_fields.VALUE", "status^@priority^$"}});
  const std::string data = "status^@priority^$Open^@High^$Closed^@High^$Open^@^^^$";
  EXPECT_EQ(trendreport(*list, data), 0);
  EXPECT_EQ(enginetest::value(*list, "report_total"), "3");
  const std::string w = "<b><font color=\"white\" size=\"2\" face=\"Verdana, Arial, Helvetica\">";
  const std::string ww = "<b><font color=\"white\" size=\"2\"  face=\"Verdana, Arial, Helvetica\">";
  const std::string bw = "<b><font color=\"black\" size=\"2\"  face=\"Verdana, Arial, Helvetica\">";
  const std::string fw = "<font color=\"black\" size=\"2\"  face=\"Verdana, Arial, Helvetica\">";
  const std::string f = "<font color=\"black\" size=\"2\" face=\"Verdana, Arial, Helvetica\">";
  const std::string tw = "<font color=\"white\" size=\"2\" face=\"Verdana, Arial, Helvetica\">";
  const std::string head = "<td align=\"center\" bgcolor=\"black\">";
  const std::string expected =
      "<table border=\"1\"><tr><td bgcolor=\"black\">" + w + "Status / priority</b></font></td>" +  //
      head + ww + "Closed</b></font></td>" + head + ww + "Open</b></font></td>" + head + ww +
      "Total</b></font></td></tr>"
      // Blank, then High: the plain row first, then the grey one.
      "<tr><td>" + bw + "Blank</b></font></td><td align=\"center\">&nbsp;</td><td align=\"center\">" + fw +
      "1</font></td><td align=\"center\">" + f + "1</font></td></tr>"
      "<tr><td  bgcolor=\"c0c0c0\">" + bw + "High</b></font></td><td align=\"center\" bgcolor=\"c0c0c0\">" + fw +
      "1</font></td><td align=\"center\" bgcolor=\"c0c0c0\">" + fw +
      "1</font></td><td align=\"center\" bgcolor=\"c0c0c0\">" + f + "2</font></td></tr>"
      "<tr><td  bgcolor=\"black\">" + w + "Total</b></font></td>" + head + tw + "1</font></td>" + head + tw +
      "2</font></td>" + head + tw + "3</font></td></tr></table>\n\n";
  EXPECT_EQ(enginetest::value(*list, "status_priority_table"), expected);
  EXPECT_FALSE(list->find("status_priority_table")->marked(attr::VALUE));
}

namespace {

// The cells of a trend table between two texts, counted.
size_t count_of(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The figure of the grand total: the last number of the table.
std::string grand_total(const std::string& table) {
  const size_t end = table.rfind("</font></td></tr></table>");
  const size_t start = table.rfind('>', end - 1) + 1;
  return table.substr(start, end - start);
}

}  // namespace

TEST_F(Reports, TrendAxesHoldEveryValueAndCountEveryRow) {
  // 300 values on one axis, and values that differ only in case or blanks.
  std::string data = "case_num^@status^$";
  for (int i = 0; i < 300; ++i) data += "C" + std::to_string(1000 + i) + "^@" + (i % 3 == 0 ? "open" : i % 3 == 1 ? "Open " : "OPEN") + "^$";
  auto list = objects({{"trend_report_fields.VALUE", "case_num^@status^$status^@case_num^$"}});
  EXPECT_EQ(trendreport(*list, data), 0);
  const std::string by_case = enginetest::value(*list, "case_num_status_table");
  // 300 columns and the total, headed and totalled; one row of status (all
  // merged into "OPEN").
  EXPECT_EQ(count_of(by_case, "<td align=\"center\" bgcolor=\"black\">"), 2 * 301u);
  EXPECT_NE(by_case.find("C1299</b>"), std::string::npos);
  EXPECT_EQ(count_of(by_case, "<tr>"), 3u);
  EXPECT_NE(by_case.find(">OPEN</b>"), std::string::npos);
  EXPECT_EQ(grand_total(by_case), "300");
  EXPECT_EQ(enginetest::value(*list, "report_total"), "300");
  const std::string by_status = enginetest::value(*list, "status_case_num_table");
  EXPECT_EQ(count_of(by_status, "<tr>"), 302u);
  EXPECT_NE(by_status.find("300</font></td></tr></table>"), std::string::npos);
  EXPECT_EQ(grand_total(by_status), "300");
}

TEST_F(Reports, TrendValuesAndTitlesAreEscapedAndRowsAlternateAcrossTables) {
  auto list = objects({{"status.TITLE", "<i>St</i>"},
                       {"trend_report_fields.VALUE", "status^@priority^$^^^@priority^$priority^@status^$"}});
  const std::string data = "status^@priority^$<b>x</b>\"'&^@High^$Open^@High^$";
  EXPECT_EQ(trendreport(*list, data), 0);
  const std::string first = enginetest::value(*list, "status_priority_table");
  EXPECT_NE(first.find("&#60;i&#62;St&#60;/i&#62; / priority"), std::string::npos) << first;
  EXPECT_NE(first.find("&#60;b&#62;x&#60;/b&#62;&#34;&#39;&#38;</b>"), std::string::npos) << first;
  EXPECT_EQ(first.find("<b>x</b>"), std::string::npos);
  EXPECT_EQ(first.find("<i>"), std::string::npos);
  // The row naming one field is passed over, its table set empty.
  EXPECT_EQ(enginetest::value(*list, "_priority_table"), "");
  // One row in the first table (plain); the second table goes on grey.
  EXPECT_EQ(count_of(first, "<tr><td>"), 1u);
  EXPECT_EQ(count_of(first, "<tr><td  bgcolor=\"c0c0c0\">"), 0u);
  const std::string second = enginetest::value(*list, "priority_status_table");
  EXPECT_EQ(second.find("<tr><td  bgcolor=\"c0c0c0\">"), second.find("</tr>") + 5) << second;
  EXPECT_EQ(count_of(second, "<tr><td>"), 1u);

  EXPECT_EQ(trendreport(*list, ""), -1);
  EXPECT_EQ(enginetest::value(*list, "status_priority_table"), "");
  EXPECT_EQ(page(), "");
  adduniqobj(*list, "trend_report_fields.VALUE", "");
  EXPECT_EQ(trendreport(*list, data), 0);
  EXPECT_EQ(page(), "<PRE>\nbad xy_report_fields\n</PRE>\n");
}
