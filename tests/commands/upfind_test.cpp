// The find command over the sample installation on SQLite and on PostgreSQL
// through ODBC: the found page with its scratch file bound to the request,
// the error page of a search that finds nothing (a configured template only
// when it is a plain name under the templates), and the export of found
// cases one file each: case numbers as file names, files that cannot be
// written, exact files, page lines and status, and the page's descriptor
// never moved.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "commands/upfind.h"
#include "engine/upflags.h"
#include "support/testsupport.h"
#include "toolkit/base/kivcgitrace.h"
#include "uptest.h"

using namespace kiv;
namespace fs = std::filesystem;

namespace {

class UpFind : public uptest::FoundCases {
 protected:
  void SetUp() override {
    FoundCases::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    page_template("list.html", "[FB{findresultnum.VALUE}FE]TB{TNB{findresult}TNE<CB{case_num}CE CB{status}CE>}TE\n");
    // The sample's pages that frame an error or an export: each test
    // brings its own.
    for (const char* page : {"finderror.html", "exporthead.html", "exportfoot.html"})
      fs::remove(path(std::string("client/kivhtml/tk/") + page));
  }
  static std::string message(const std::string& text) { return "<PRE>\n" + text + "</PRE>\n"; }
};

// The error page's own text, and the find's messages that it replaces.
constexpr const char* kNoDisplay = "No record to display\n";
constexpr const char* kNotFound = "No records found\n";

}  // namespace

TEST_P(UpFind, TheFoundPageAndItsScratchFile) {
  add_case(1, "C1", "Open");
  add_case(2, "C2", "Closed");
  add_case(3, "C3", "Open");
  EXPECT_EQ(run(up_find, {"up_find", "list.html"}, {{"status.VALUE", "Open"}}, "ann"), 0) << page();
  EXPECT_EQ(page(), "[2]<C1 Open><C3 Open>\n");
  // The found rows wait for the next page in a scratch file of the login's.
  std::vector<std::string> files;
  for (const std::string& f : tmp_files())
    if (!f.starts_with(".")) files.push_back(f);  // the sweeps' markers
  ASSERT_EQ(files.size(), 2u) << testing::PrintToString(files);
  EXPECT_TRUE(files[0].starts_with("tmp_datafile.")) << files[0];
  EXPECT_EQ(files[1], files[0] + ".owner");
  EXPECT_EQ(kivtest::read_file(path("tmp/" + files[1])), "ann\n");
  const std::string rows = kivtest::read_file(path("tmp/" + files[0]));
  EXPECT_TRUE(rows.starts_with("id_num^@case_num^@status^@")) << rows;
  EXPECT_EQ(getrowcount(rows), 3);

  EXPECT_EQ(run(up_find, {"up_find"}), 2);
  EXPECT_EQ(page(), message("Wrong usage: upfind templatefile\n"));
}

// A search that finds nothing shows the configured error page when it is a
// plain template name whose file exists, else finderror.html, else the
// message; with an error page the find's own message is left out.
TEST_P(UpFind, TheErrorPageOfASearchThatFindsNothing) {
  add_case(1, "C1", "Open");
  page_template("mine.html", "mine\n");
  home_.write("client/kivhtml/outside.html", "outside\n");
  struct Case {
    const char* what;
    const char* error_template;  // "" for none
    bool finderror_html;
    std::string page;
  } cases[] = {
      {"a configured page", "mine.html", true, "mine\n"},
      {"a configured page that is not there", "gone.html", true, "finderror\n"},
      {"a configured page above the templates", "../outside.html", true, "finderror\n"},
      {"a configured absolute path", "/etc/passwd", true, "finderror\n"},
      {"none configured", "", true, "finderror\n"},
      {"no page at all", "gone.html", false, message(kNoDisplay) + message(kNotFound)},
  };
  const std::string objects = kivtest::read_file(path("client/config/tk_obj"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    home_.write("client/config/tk_obj",
                objects + (*c.error_template ? std::string("OBJECT{\n\tNAME=error_template\n\tVALUE=") +
                                                   c.error_template + "\n};\n"
                                             : std::string()));
    if (c.finderror_html)
      page_template("finderror.html", "finderror\n");
    else
      fs::remove(path("client/kivhtml/tk/finderror.html"));
    EXPECT_EQ(run(up_find, {"up_find", "list.html"}, {{"status.VALUE", "Pending"}}), 1);
    EXPECT_EQ(page(), c.page);
    EXPECT_EQ(engineflags().finderror, c.finderror_html ? 1 : 0);
  }
  // A request cannot name the error page.
  EXPECT_EQ(run(up_find, {"up_find", "list.html"}, {{"status.VALUE", "Pending"}, {"error_template.VALUE", "mine.html"}}),
            1);
  EXPECT_EQ(page(), message(kNoDisplay) + message(kNotFound));
}

TEST_P(UpFind, TheExportWritesOneFilePerCase) {
  add_case(1, "C1", "Open");
  add_case(2, "", "Open");
  add_case(3, "2024/7", "Open");
  add_case(4, "C4", "Closed");
  page_template("export.html", "<html>\n<title>Case FB{case_num.VALUE}FE</title>\n"
                               "TB{TNB{findresult}TNE<p>CB{case_num}CE CB{status}CE</p>}TE\n</html>\n");
  const std::string out = path("export");
  fs::create_directories(out);
  home_.write("export/C1.html", "an older export of C1, longer than the new one will be\n");
  struct stat before {};
  ASSERT_EQ(::fstat(1, &before), 0);
  const std::vector<std::string> words = {"up_find", "export.html", out, "status", "Open"};

  EXPECT_EQ(run(up_find, words), 0) << page();
  EXPECT_EQ(page(), message("Total Cases=3\n") + message("Count=1 Case num=C1\n") +
                        message("Count=3 Case num=2024/7\n"));
  EXPECT_EQ(kivtest::entries(out), (std::vector<std::string>{"2024-7.html", "C1.html"}));
  EXPECT_EQ(kivtest::read_file(out + "/C1.html"), "<html>\n<p>C1 Open</p>\n<title>Case C1</title>\n\n</html>\n");
  EXPECT_EQ(kivtest::read_file(out + "/2024-7.html"),
            "<html>\n<p>2024/7 Open</p>\n<title>Case 2024/7</title>\n\n</html>\n");
  // No export copy is left behind.
  for (const std::string& f : tmp_files()) EXPECT_FALSE(f.starts_with("export.")) << f;

  // A file that cannot be opened is reported with its path and leaves no
  // file; the export goes on, and ends with 1.
  fs::remove(out + "/C1.html");
  fs::create_directory(out + "/C1.html");
  fs::remove(out + "/2024-7.html");
  EXPECT_EQ(run(up_find, words), 1);
  EXPECT_EQ(page(), message("Total Cases=3\n") + message("Count=1 Case num=C1\n") +
                        message(out + "/C1.html: Is a directory\n") + message("Count=3 Case num=2024/7\n"));
  EXPECT_TRUE(fs::is_directory(out + "/C1.html"));
  EXPECT_TRUE(fs::exists(out + "/2024-7.html"));

  // A key without a value: every case the cleared form finds; a case
  // number that makes no file name is refused.
  exec("update cases set case_num = '..' where id_num = 4");
  fs::remove(out + "/C1.html");
  EXPECT_EQ(run(up_find, {"up_find", "export.html", out, "status"}), 1);
  EXPECT_EQ(page(), message("Total Cases=4\n") + message("Count=1 Case num=C1\n") +
                        message("Count=3 Case num=2024/7\n") + message("Count=4 Case num=..\n") +
                        message("Bad case number '..': no export file\n"));
  EXPECT_EQ(kivtest::entries(out), (std::vector<std::string>{"2024-7.html", "C1.html"}));

  // A copy of the template that cannot be made (one for the whole run) is
  // reported once and leaves no file.
  fs::remove_all(out);
  fs::create_directories(out);
  EXPECT_EQ(run(up_find, {"up_find", "gone.html", out, "status", "Open"}), 1);
  const std::string copy = path("tmp/export.") + std::to_string(::getpid());
  const std::string cannot = "Can't make the export form '" + copy + "' of '" + path("client/kivhtml/tk/gone.html") +
                             "' errno=2\n";
  EXPECT_EQ(page(), message("Total Cases=3\n") + message(cannot));
  EXPECT_EQ(kivtest::entries(out), std::vector<std::string>{});

  // In a page of the web, the installation's head and foot of the export
  // frame its lines, so that they read as a report and not as a refusal;
  // a find that fails is still a refusal.
  page_template("errhead.html", "refused:\n");
  page_template("exporthead.html", "report [FB{db_table_name.VALUE}FE]:\n");
  page_template("exportfoot.html", "end of report\n");
  content_type_written();
  EXPECT_EQ(run(up_find, words), 0) << page();
  EXPECT_EQ(page(), "report [cases]:\n" + message("Total Cases=3\n") + message("Count=1 Case num=C1\n") +
                        message("Count=3 Case num=2024/7\n") + "end of report\n");
  end_error_page();
  content_type_written();
  EXPECT_EQ(run(up_find, {"up_find", "export.html", out, "status", "Pending"}), 1);
  EXPECT_EQ(page(), "refused:\n" + message(kNoDisplay) + message(kNotFound));
  end_error_page();

  // Nothing found.
  fs::remove(path("client/kivhtml/tk/errhead.html"));
  EXPECT_EQ(run(up_find, {"up_find", "export.html", out, "status", "Pending"}), 1);
  EXPECT_EQ(page(), message(kNoDisplay) + message(kNotFound));

  // Two case numbers that make one file name: the first case's file is
  // kept, the second is told with both numbers and the path, and 1.
  add_case(5, "2024-7", "Open");
  EXPECT_EQ(run(up_find, words), 1);
  EXPECT_NE(page().find(message("Count=4 Case num=2024-7\n") + message("Case number '2024-7' not written: '" + out +
                                                                       "/2024-7.html' already holds case number "
                                                                       "'2024/7'\n")),
            std::string::npos)
      << page();
  EXPECT_EQ(kivtest::read_file(out + "/2024-7.html"),
            "<html>\n<p>2024/7 Open</p>\n<title>Case 2024/7</title>\n\n</html>\n");

  // The page's descriptor is the one it was.
  struct stat after {};
  ASSERT_EQ(::fstat(1, &after), 0);
  EXPECT_EQ(before.st_dev, after.st_dev);
  EXPECT_EQ(before.st_ino, after.st_ino);
}

INSTANTIATE_TEST_SUITE_P(Roads, UpFind, ::testing::Values(kivtest::Road::sqlite, kivtest::Road::postgres),
                         kivtest::road_name);
