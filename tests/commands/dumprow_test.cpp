// The export tool dumprow as a program over the sample installation with
// five cases, on SQLite (and its main run on PostgreSQL through ODBC): the
// usage, the output folder checked before the find, the template argument's
// forms and the filter pairs; exact files, lines and status of a case
// export with a row without a case number, case numbers that are no file
// names, an existing file, a planted link and a file that cannot be
// written; attachments that stay with their case; and no scratch file left.
// The TODAY filters run in this process under a fixed engine clock.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/upclock.h"
#include "platform/process.h"
#include "support/testsupport.h"
#include "toolkit/base/kivsettings.h"
#include "tools/export/dumprow.h"
#include "uptest.h"

using namespace kiv;
using kivtest::Road;

namespace {

namespace fs = std::filesystem;

const std::string kDumprow = std::string(KIV_BINARY_DIR) + "/tools/dumprow";

// An export template of the test's own: the case's number in the title,
// its row, and its attachments' listing.
constexpr const char* kTemplate =
    "<html>\n<title>Case FB{case_num.VALUE}FE</title>\n"
    "TB{TNB{findresult}TNE<p>CB{case_num}CE CB{status}CE</p>}TE\n"
    "[TB{TNB{attachmentresult}TNE<li>CB{attachvalue}CE</li>}TE]\n</html>\n";

class DumprowHome : public uptest::CommandCaseHome {
 protected:
  explicit DumprowHome(Road road) : CommandCaseHome(road) {}

  void SetUp() override {
    CommandCaseHome::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    out_dir_ = path("out");
    fs::create_directories(out_dir_);
    home_.write("client/kivhtml/tk/cases.html", kTemplate);
  }

  // A case as a form stores it; an empty case number is none.
  void add_case(int id, const std::string& casenum, const std::string& status, const std::string& opened) {
    const std::string number = casenum.empty() ? "null" : "'" + casenum + "'";
    exec(sformat("insert into cases (id_num, case_num, status, submitted_by, problem, date_open) values "
                 "(%d, %s, '%s', 'ann', 'Problem %d', '%s')",
                 id, number, status, id, opened));
  }
  // The five cases of the tests: four open (one without a case number, two
  // whose numbers hold "/"), one closed.
  void five_cases() {
    add_case(1, "C1", "Open", "2024-12-01");
    add_case(2, "", "Open", "2024-12-05");
    add_case(3, "12/10/2024-7", "Open", "2024-12-10");
    add_case(4, "../x", "Open", "2024-12-12");
    add_case(5, "C5", "Closed", "2024-12-14");
  }
  void configure(const std::string& blocks) {
    home_.write("client/config/tk_obj", kivtest::read_file(path("client/config/tk_obj")) + blocks);
  }

  // dumprow as a program with these arguments, over the home.
  process::Result run(std::vector<std::string> args, bool with_home = true) {
    process::Options o;
    o.capture_output = true;
    o.capture_errors = true;
    o.env = {"PATH=/usr/bin:/bin"};
    if (with_home) o.env.push_back("NVHOME=" + home_.str());
    for (const char* v : {"ODBCSYSINI", "ODBCINI", "ASAN_OPTIONS", "UBSAN_OPTIONS", "PGHOST", "PGPORT", "PGUSER"})
      if (const char* x = std::getenv(v)) o.env.push_back(std::string(v) + "=" + x);
    args.insert(args.begin(), kDumprow);
    process::Result r = process::run(args, o);
    EXPECT_TRUE(r.started && !r.timed_out && r.signal == 0) << process::describe(r, o);
    return r;
  }

  // The files the home's tmp folder holds, but the sweeps' markers.
  std::vector<std::string> scratch_files() const {
    std::vector<std::string> names;
    for (const std::string& name : kivtest::entries(path("tmp")))
      if (!name.starts_with(".")) names.push_back(name);
    return names;
  }
  std::vector<std::string> exported() const { return kivtest::entries(out_dir_); }

  std::string out_dir_;
};

class Dumprow : public DumprowHome {
 protected:
  Dumprow() : DumprowHome(Road::sqlite) {}
};

class DumprowRoads : public DumprowHome, public ::testing::WithParamInterface<Road> {
 protected:
  DumprowRoads() : DumprowHome(GetParam()) {}
};

// The file kTemplate makes of a case with its attachment listing.
std::string page_of(const std::string& casenum, const std::string& status, const std::string& listing = "") {
  return "<html>\n<p>" + casenum + " " + status + "</p>\n<title>Case " + casenum + "</title>\n\n[" + listing +
         "]\n</html>\n";
}

TEST_F(Dumprow, UsageAndTheOutputFolder) {
  const std::string usage =
      "Usage: dumprow export_templatefile[:table[:join_condition_object_name]] output_dir [optional filter]\n\n"
      "export_templatefile: kivhtml file in NVHOME/client/kivhtml/tk.\n"
      "table: database table name.\n"
      "join_condition_object_name: the object name that controls the sql contol object.\n"
      "output_dir: The directory where the data will be exported to.\n"
      "optional filter: rules to limit the export functionality. The format is: key1 value1 key2 value2 ....\n";
  // No argument, and the template without a folder: both words are needed.
  for (const std::vector<std::string>& args : {std::vector<std::string>{}, std::vector<std::string>{"cases.html"}}) {
    const process::Result r = run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.output, kDumprow + ": Version 5.8\n\n" + usage);
    EXPECT_EQ(r.errors, "");
  }
  five_cases();
  // An output folder that is missing, or a file: the system's message for
  // it and 1, before any find.
  home_.write("plain", "a file\n");
  const struct {
    std::string folder, message;
  } folders[] = {{path("missing"), ": No such file or directory\n"}, {path("plain"), ": Not a directory\n"}};
  for (const auto& f : folders) {
    const process::Result r = run({"cases.html", f.folder, "status", "Open"});
    EXPECT_EQ(r.status, 1) << f.folder;
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(r.errors, f.folder + f.message);
  }
  EXPECT_FALSE(fs::exists(path("missing")));
  // No home.
  const process::Result r = run({"cases.html", out_dir_}, false);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.errors, "NVHOME is undefined in the Registry\n<br>Location:\\HKEY_LOCAL_MACHINE\\SOFTWARE\\KIV\\VORNA\\Current\n");
  EXPECT_EQ(exported(), std::vector<std::string>{});
}

// Every found case with a number into its own file, the export going on
// past the ones that cannot be written: exact files, lines and status.
TEST_P(DumprowRoads, EachFoundCaseIntoAFileOfItsOwn) {
  five_cases();
  // C1 has an attachment; the case after it must not show it.
  std::string objs = kivtest::read_file(path("client/config/tk_obj"));
  const std::string off = "\tNAME=attach_control\n\tVALUE=OFF\n";
  ASSERT_NE(objs.find(off), std::string::npos);
  objs.replace(objs.find(off), off.size(), "\tNAME=attach_control\n\tVALUE=ON\n");
  home_.write("client/config/tk_obj", objs + "OBJECT{\n\tNAME=attachdir\n\tVALUE=" + path("attach") + "\n};\n");
  home_.write("attach/C1/attach1_notes.txt", "notes\n");
  // An older export of C1, with a mode of its own; a link planted at the
  // other case's name.
  home_.write("out/C1.html", "an older export of C1, longer than the new one will be\n");
  ::chmod((out_dir_ + "/C1.html").c_str(), 0640);
  const std::string target = home_.write("elsewhere.txt", "not to be written\n");
  fs::create_symlink(target, out_dir_ + "/12-10-2024-7.html");

  const process::Result r = run({"cases.html", out_dir_, "status", "Open"});
  EXPECT_EQ(r.status, 1) << r.output << r.errors;  // "../x" makes no file name
  EXPECT_EQ(r.output, "");
  EXPECT_EQ(r.errors,
            "Total Cases=4\n"
            "Count=1 Case num=C1\n"
            "Count=3 Case num=12/10/2024-7\n"
            "Count=4 Case num=../x\n"
            "Bad case number '../x': no export file\n");
  EXPECT_EQ(exported(), (std::vector<std::string>{"12-10-2024-7.html", "C1.html"}));
  EXPECT_EQ(kivtest::read_file(out_dir_ + "/C1.html"),
            page_of("C1", "Open", "<li>C1/attach1_notes.txt</li>"));
  struct stat st {};
  ASSERT_EQ(::stat((out_dir_ + "/C1.html").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  // The link was replaced, not followed.
  EXPECT_FALSE(fs::is_symlink(out_dir_ + "/12-10-2024-7.html"));
  EXPECT_EQ(kivtest::read_file(out_dir_ + "/12-10-2024-7.html"), page_of("12/10/2024-7", "Open"));
  EXPECT_EQ(kivtest::read_file(target), "not to be written\n");
  // Neither the export copy nor the find's scratch file stays.
  EXPECT_EQ(scratch_files(), std::vector<std::string>{});

  // A file that cannot be written (a folder stands at its name) is told
  // with its path and left as it is; the others are written.
  fs::remove(out_dir_ + "/C1.html");
  fs::create_directory(out_dir_ + "/C1.html");
  const process::Result again = run({"cases.html", out_dir_, "status", "Open"});
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(again.errors,
            "Total Cases=4\n"
            "Count=1 Case num=C1\n" +
                out_dir_ + "/C1.html: Is a directory\n"
                           "Count=3 Case num=12/10/2024-7\n"
                           "Count=4 Case num=../x\n"
                           "Bad case number '../x': no export file\n");
  EXPECT_TRUE(fs::is_directory(out_dir_ + "/C1.html"));
  EXPECT_EQ(exported(), (std::vector<std::string>{"12-10-2024-7.html", "C1.html"}));
  EXPECT_EQ(scratch_files(), std::vector<std::string>{});

  // Every file written: 0.
  fs::remove(out_dir_ + "/C1.html");
  const process::Result closed = run({"cases.html", out_dir_, "status", "Closed"});
  EXPECT_EQ(closed.status, 0) << closed.errors;
  EXPECT_EQ(closed.errors, "Total Cases=1\nCount=1 Case num=C5\n");
  EXPECT_EQ(kivtest::read_file(out_dir_ + "/C5.html"), page_of("C5", "Closed"));

  // Nothing found: the find's message, "No records found", 1.
  const process::Result none = run({"cases.html", out_dir_, "status", "Pending"});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.output, "<PRE>\nNo record to display\n</PRE>\n<PRE>\nNo records found\n</PRE>\n");
  EXPECT_EQ(none.errors, "");
  EXPECT_EQ(scratch_files(), std::vector<std::string>{});
}

// Two case numbers that make one file name in one run: the first case's
// file stays, the second is not written but told with both numbers and the
// path, the export goes on, and the run ends with 1.
TEST_F(Dumprow, TwoCaseNumbersOfOneFileName) {
  add_case(1, "2024/7", "Open", "2024-12-01");
  add_case(2, "2024-7", "Open", "2024-12-02");
  add_case(3, "C3", "Open", "2024-12-03");
  add_case(4, "2024-7", "Open", "2024-12-04");
  const process::Result r = run({"cases.html", out_dir_, "status", "Open"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "");
  const std::string taken = "Case number '2024-7' not written: '" + out_dir_ +
                            "/2024-7.html' already holds case number '2024/7'\n";
  EXPECT_EQ(r.errors, "Total Cases=4\n"
                      "Count=1 Case num=2024/7\n"
                      "Count=2 Case num=2024-7\n" +
                          taken + "Count=3 Case num=C3\nCount=4 Case num=2024-7\n" + taken);
  EXPECT_EQ(exported(), (std::vector<std::string>{"2024-7.html", "C3.html"}));
  EXPECT_EQ(kivtest::read_file(out_dir_ + "/2024-7.html"), page_of("2024/7", "Open"));
  EXPECT_EQ(kivtest::read_file(out_dir_ + "/C3.html"), page_of("C3", "Open"));
  EXPECT_EQ(scratch_files(), std::vector<std::string>{});

  // A second run writes the same files again: only within a run are they
  // held apart.
  const process::Result again = run({"cases.html", out_dir_, "status", "Open"});
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(kivtest::read_file(out_dir_ + "/2024-7.html"), page_of("2024/7", "Open"));
}

INSTANTIATE_TEST_SUITE_P(Roads, DumprowRoads, ::testing::Values(Road::sqlite, Road::postgres), kivtest::road_name);

// The template word's forms and the filter pairs.
TEST_F(Dumprow, TheTemplateArgumentAndTheFilterPairs) {
  five_cases();
  exec("create table other (id_num integer, case_num varchar(40), status varchar(40))");
  exec("insert into other (id_num, case_num, status) values (1, 'O1', 'Open')");
  configure("OBJECT{\n\tNAME=closedonly\n\tVALUE=status = 'Closed'\n\tCONTROL=cases\n};\n");
  const struct {
    std::vector<std::string> args;
    std::string errors;
    int status;
  } cases[] = {
      // A table: the find reads it.
      {{"cases.html:other", out_dir_, "status", "Open"}, "Total Cases=1\nCount=1 Case num=O1\n", 0},
      // An empty table part leaves the configured table; a stored query
      // sets the condition and the table (back from "other").
      {{"cases.html::closedonly", out_dir_}, "Total Cases=1\nCount=1 Case num=C5\n", 0},
      {{"cases.html:other:closedonly", out_dir_}, "Total Cases=1\nCount=1 Case num=C5\n", 0},
      // An empty query part: no stored query.
      {{"cases.html:other:", out_dir_}, "Total Cases=1\nCount=1 Case num=O1\n", 0},
      // An odd count of filter words: the last name is ignored.
      {{"cases.html", out_dir_, "status", "Closed", "category"}, "Total Cases=1\nCount=1 Case num=C5\n", 0},
  };
  for (const auto& c : cases) {
    fs::remove_all(out_dir_);
    fs::create_directories(out_dir_);
    const process::Result r = run(c.args);
    EXPECT_EQ(r.status, c.status) << c.args[0] << r.output;
    EXPECT_EQ(r.errors, c.errors) << c.args[0];
  }
  // The other table's case was written from the table named.
  fs::remove_all(out_dir_);
  fs::create_directories(out_dir_);
  EXPECT_EQ(run({"cases.html:other", out_dir_}).status, 0);
  EXPECT_EQ(kivtest::read_file(out_dir_ + "/O1.html"), page_of("O1", "Open"));
  EXPECT_EQ(scratch_files(), std::vector<std::string>{});
}

// The sample's own export template: the case's page, its texts escaped.
TEST_F(Dumprow, TheSampleExportTemplate) {
  exec("insert into cases (id_num, case_num, status, submitted_by, problem) values "
       "(1, 'S1', 'Open', 'ann', 'Printer <b>jams</b> & stops')");
  const process::Result r = run({"export.html", out_dir_});
  EXPECT_EQ(r.status, 0) << r.output << r.errors;
  const std::string page = kivtest::read_file(out_dir_ + "/S1.html");
  EXPECT_NE(page.find("<title>Case S1</title>"), std::string::npos) << page;
  EXPECT_NE(page.find("<h1>Case S1</h1>"), std::string::npos) << page;
  EXPECT_NE(page.find("Printer &#60;b&#62;jams&#60;/b&#62; &#38; stops"), std::string::npos) << page;
  EXPECT_EQ(page.find("<b>jams"), std::string::npos) << page;
}

// The TODAY filter values under a fixed clock: the value each gives and
// what it tells on standard error, byte for byte.
TEST_F(Dumprow, TodayFilterValues) {
  kivtest::ScopedTz tz("UTC");
  engineclock().now = 1733832000;  // 12/10/2024 12:00 UTC
  const struct {
    std::string dateformat, value, becomes, told;
  } cases[] = {
      {"mdy", "TODAY", "12/10/2024", "TODAY"},
      {"mdy", "today", "12/10/2024", "TODAY"},
      {"dmy", "ToDaY", "10/12/2024", "TODAY"},
      // Ranges are month first whatever the date format.
      {"mdy", "TODAY-7", "12/03/2024--12/10/2024", "OTDAY-casenum=12/03/2024--12/10/2024"},
      {"dmy", "TODAY-7", "12/03/2024--12/10/2024", "OTDAY-casenum=12/03/2024--12/10/2024"},
      {"mdy", "TODAY+3", "12/10/2024--12/13/2024", "OTDAY+casenum=12/10/2024--12/13/2024"},
      {"mdy", "from TODAY-30 on", "11/10/2024--12/10/2024", "OTDAY-casenum=11/10/2024--12/10/2024"},
      {"mdy", "TODAY+400", "12/10/2024--01/14/2026", "OTDAY+casenum=12/10/2024--01/14/2026"},
      // No number after the marker: as typed.
      {"mdy", "TODAY-", "TODAY-", "OTDAY-"},
      {"mdy", "TODAY+x", "TODAY+x", "OTDAY+"},
      // A huge N is held at the largest int; the date is still made.
      {"mdy", "TODAY+99999999999", "12/10/2024--06/20/5881635", "OTDAY+casenum=12/10/2024--06/20/5881635"},
      // Only a whole TODAY in any case; the markers as written.
      {"mdy", "today-7", "today-7", ""},
      {"mdy", "TODAYS", "TODAYS", ""},
      {"mdy", "12/10/2024-7", "12/10/2024-7", ""},
  };
  for (const auto& c : cases) {
    settings().dateformat = c.dateformat;
    StringSink told;
    EXPECT_EQ(dumprow_filter_value(c.value, told), c.becomes) << c.value;
    EXPECT_EQ(told.text(), c.told) << c.value;
  }
}

// A whole run with a date range under a fixed clock, in this process: the
// cases opened in the last seven days, and standard error byte for byte.
TEST_F(Dumprow, ARangeOfTheLastDaysFindsTheirCases) {
  five_cases();
  // A new process's context, whose home is the inherited NVHOME.
  reset_reqctx();
  kivtest::ScopedEnv home("NVHOME", home_.str());
  kivtest::ScopedEnv script("SCRIPT_NAME", std::nullopt);
  kivtest::ScopedTz tz("UTC");
  engineclock().now = 1733832000;  // 12/10/2024 12:00 UTC
  int status = 99;
  const std::optional<int> ended = kivtest::exit_status(
      [&] { status = dumprow({"dumprow", "cases.html", out_dir_, "date_open", "TODAY-7"}); });
  EXPECT_EQ(ended, std::nullopt);
  EXPECT_EQ(status, 0) << page() << errors();
  EXPECT_EQ(errors(),
            "OTDAY-casenum=12/03/2024--12/10/2024"
            "Total Cases=2\nCount=2 Case num=12/10/2024-7\n");
  EXPECT_EQ(page(), "");
}

}  // namespace

namespace {

// The percentage report of the found cases through the sample's template,
// in this process under a fixed clock (the file is named by the day): one
// file, its tables, no scratch file; a file that cannot be written.
TEST_F(Dumprow, APercentageReportOfTheFoundCases) {
  five_cases();
  exec("update cases set priority = 'High' where id_num in (1, 3)");
  reset_reqctx();
  kivtest::ScopedEnv home("NVHOME", home_.str());
  kivtest::ScopedEnv script("SCRIPT_NAME", std::nullopt);
  kivtest::ScopedTz tz("UTC");
  engineclock().now = 1733832000;  // 12/10/2024 12:00 UTC
  const std::vector<std::string> words = {"dumprow", "client/kivhtml/tk/percent_report.html", out_dir_, "status",
                                          "Open"};
  int status = 99;
  EXPECT_EQ(kivtest::exit_status([&] { status = dumprow(words); }), std::nullopt);
  EXPECT_EQ(status, 0) << page() << errors();
  EXPECT_EQ(page(), "");
  EXPECT_EQ(errors(), "");
  EXPECT_EQ(exported(), std::vector<std::string>{"percent_report_export_12-10-2024.html"});
  const std::string report = kivtest::read_file(out_dir_ + "/percent_report_export_12-10-2024.html");
  EXPECT_NE(report.find("<p id=\"total\">Cases counted: 4</p>"), std::string::npos) << report;
  EXPECT_NE(report.find("<tr><td>Open</td><td class=\"num\">4</td><td class=\"num\">100.00 %</td></tr>"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("<tr><td>Blank</td><td class=\"num\">2</td><td class=\"num\">50.00 %</td></tr>\n"
                        "<tr><td>High</td><td class=\"num\">2</td><td class=\"num\">50.00 %</td></tr>"),
            std::string::npos)
      << report;
  EXPECT_EQ(report.find("TB{"), std::string::npos);
  EXPECT_EQ(scratch_files(), std::vector<std::string>{});

  // A file that cannot be written: told with its path, 1, nothing else
  // written.
  fs::remove(out_dir_ + "/percent_report_export_12-10-2024.html");
  fs::create_directory(out_dir_ + "/percent_report_export_12-10-2024.html");
  clear_output();
  status = 99;
  EXPECT_EQ(kivtest::exit_status([&] { status = dumprow(words); }), std::nullopt);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(errors(), out_dir_ + "/percent_report_export_12-10-2024.html: Is a directory\n");
  EXPECT_EQ(exported(), std::vector<std::string>{"percent_report_export_12-10-2024.html"});
  EXPECT_EQ(scratch_files(), std::vector<std::string>{});
}

// As a program: "Percent" in the name also chooses the report; a template
// that is missing writes no file.
TEST_F(Dumprow, APercentageReportAsAProgram) {
  five_cases();
  fs::copy_file(path("client/kivhtml/tk/percent_report.html"), path("Percent.html"));
  const process::Result r = run({"Percent.html", out_dir_, "status", "Closed"});
  EXPECT_EQ(r.status, 0) << r.output << r.errors;
  EXPECT_EQ(r.errors, "");
  const std::vector<std::string> files = exported();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(files[0].starts_with("percent_report_export_") && files[0].ends_with(".html")) << files[0];
  EXPECT_NE(kivtest::read_file(out_dir_ + "/" + files[0]).find("<td>Closed</td><td class=\"num\">1</td>"),
            std::string::npos);

  fs::remove_all(out_dir_);
  fs::create_directories(out_dir_);
  const process::Result missing = run({"percent_none.html", out_dir_});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.output.find("Cannot open html template file"), std::string::npos) << missing.output;
  EXPECT_EQ(exported(), std::vector<std::string>{});
  EXPECT_EQ(scratch_files(), std::vector<std::string>{});
}

}  // namespace
