// The commands over a selection of found cases, on SQLite and on
// PostgreSQL through ODBC: the assignment and its release, the delete from
// the web (every row's key checked before the first delete, one attachment)
// and from a console (answers on standard input, cases whose texts hold
// blanks and carets), and the print command's three reports.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "commands/upassign.h"
#include "commands/updelete.h"
#include "commands/upprint.h"
#include "engine/upclock.h"
#include "engine/upfile.h"
#include "data/mailrecords.h"
#include "support/testsupport.h"
#include "tests/data/smtppeer.h"
#include "toolkit/base/kivcontext.h"
#include "uptest.h"

using namespace kiv;
namespace fs = std::filesystem;

namespace {

// Standard input holding `text` for its lifetime (a pipe on descriptor 0).
class StdinText {
 public:
  explicit StdinText(const std::string& text) {
    int p[2];
    EXPECT_EQ(::pipe(p), 0);
    EXPECT_EQ(::write(p[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(p[1]);
    saved_ = ::dup(0);
    ::dup2(p[0], 0);
    ::close(p[0]);
  }
  ~StdinText() {
    ::dup2(saved_, 0);
    ::close(saved_);
  }
  StdinText(const StdinText&) = delete;
  StdinText& operator=(const StdinText&) = delete;

 private:
  int saved_ = -1;
};

class Selection : public uptest::FoundCases {
 protected:
  void SetUp() override {
    FoundCases::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    engineclock().now = 1709629200;  // Tuesday 5 March 2024, 09:00 UTC
    tz_.emplace("UTC");
    page_template("done.html", "done\n");
    configure("OBJECT{\n\tNAME=problem_log\n\tVALUE=ON\n};\nOBJECT{\n\tNAME=assigned_state\n\tVALUE=Assigned\n};\n"
              "OBJECT{\n\tNAME=open_state\n\tVALUE=Open\n};\n");
  }
  static std::string message(const std::string& text) { return "<PRE>\n" + text + "</PRE>\n"; }

  // A scratch data file of `text` that `owner` made (none: a request
  // without a login); its path, as hidedatafile.VALUE names it.
  std::string selection_file(const std::string& text, std::optional<std::string> owner) {
    reqctx().remote_user = std::move(owner);
    const written_file f = write_tmpdatafile(text);
    EXPECT_TRUE(f.written);
    EXPECT_TRUE(write_ownerfile(f.path));
    return f.path;
  }
  // The stored rows of these cases, names row first, as a find files them.
  std::string found(const std::string& where) { return shown_rows("select * from cases where " + where); }
  std::string shown_rows(const std::string& sql) {
    const std::string data = rows(sql + " order by id_num");
    return driver_results().odbckey.value_or("") + data;
  }
  std::optional<kivtest::ScopedTz> tz_;
};

}  // namespace

TEST_P(Selection, AssignAndReleaseEveryCaseOfASelection) {
  add_case(1, "C1", "Open");
  add_case(2, "C2", "Open", "bob");
  add_case(3, "C3", "Open");
  const std::string file = selection_file(found("id_num in (1, 2)"), "sam");
  EXPECT_EQ(run(up_assign, {"up_assign", "done.html"}, {{"assigned_to.VALUE", "sam"}, {"hidedatafile.VALUE", file}},
                "sam"),
            0)
      << page();
  EXPECT_EQ(page(), "done\n");
  EXPECT_EQ(rows("select id_num, assigned_to, status, submitted_by from cases order by id_num"),
            "1^@sam^@Assigned^@ann^$2^@sam^@Assigned^@bob^$3^@^^^@Open^@ann^$");
  // The problem log is not appended while assigning: the text once, and
  // the assignment's stamp.
  EXPECT_EQ(rows("select problem from cases where id_num = 1"),
            "Problem 1\n[-Assigned- 03/05/2024 09:00:00 AM - sam - Unknown-]^$");

  // Release: no assignee, the open status.
  const std::string one = selection_file(found("id_num = 2"), "sam");
  EXPECT_EQ(run(up_assign, {"up_assign", "done.html", "-d"}, {{"assigned_to.VALUE", ""}, {"hidedatafile.VALUE", one}},
                "sam"),
            0)
      << page();
  EXPECT_EQ(rows("select id_num, assigned_to, status from cases where id_num < 3 order by id_num"),
            "1^@sam^@Assigned^$2^@^^^@Open^$");
}

// With mail on, each case of the selection sends its own notice. In the
// three-table model the addresses come from the users and staff tables: a
// case whose submitter has no users row mails only the staff member, never
// the submitter of the case before; and the lookups leave the selection the
// page hands on as it was.
TEST_P(Selection, AssignMailsEachCaseItsOwnNotice) {
  exec("create table users (sub_login varchar(40), sub_e_mail varchar(80))");
  exec("insert into users values ('ann', 'ann@db.test')");
  exec("create table staff (sa_login varchar(40), sa_e_mail varchar(80))");
  exec("insert into staff values ('sam', 'sam@db.test')");
  add_case(1, "C1", "Open", "ann");
  add_case(2, "C2", "Open", "zed");  // no users row
  // Mail on, with the sample's subject "Case {case_num}: {status}".
  const std::string off = "\tNAME=mail_notification\n\tVALUE=OFF\n";
  std::string objs = kivtest::read_file(path("client/config/tk_obj"));
  ASSERT_NE(objs.find(off), std::string::npos);
  objs.replace(objs.find(off), off.size(), "\tNAME=mail_notification\n\tVALUE=ON\n");
  home_.write("client/config/tk_obj", objs);
  configure(
      "OBJECT{\n\tNAME=mail_smtp_host\n\tVALUE=127.0.0.1\n};\n"
      "OBJECT{\n\tNAME=mail_sender_login\n\tVALUE=help@desk.test\n};\n"
      "OBJECT{\n\tNAME=db_users_table_name\n\tVALUE=users\n};\n"
      "OBJECT{\n\tNAME=db_staff_table_name\n\tVALUE=staff\n};\n"
      // The staff member of an assigned case is told too.
      "OBJECT{\n\tNAME=maillist_status^$:1\n\tVALUE=Assigned^$\n\tTITLE=STAFF^$\n};\n");
  page_template("assigned.html", "file=FB{hidedatafile.VALUE}FE rows=FB{findresultnum.VALUE}FE\n");
  kivtest::SmtpPeer peer;
  mailstate().smtp_port = peer.port();
  peer.start();
  // The selection's rows carry no address columns (the three-table model
  // keeps the addresses out of the cases): only the lookups fill them.
  const std::string file = selection_file(
      shown_rows("select id_num, case_num, status, submitted_by, problem from cases where id_num in (1, 2)"), "sam");
  const std::vector<std::string> before = tmp_files();
  EXPECT_EQ(run(up_assign, {"up_assign", "assigned.html"},
                {{"assigned_to.VALUE", "sam"}, {"hidedatafile.VALUE", file}, {"findresultnum.VALUE", "2"}}, "sam"),
            0)
      << page();
  EXPECT_TRUE(page().ends_with("file=" + file + " rows=2\n")) << page();
  EXPECT_EQ(tmp_files(), before) << "a lookup left its scratch file";
  EXPECT_EQ(rows("select id_num, assigned_to, status from cases order by id_num"),
            "1^@sam^@Assigned^$2^@sam^@Assigned^$");

  const std::vector<std::string> mails = peer.sessions();
  ASSERT_EQ(mails.size(), 2u) << peer.transcript();
  auto recipients = [](const std::string& mail) {
    std::string r;
    for (size_t at = mail.find("RCPT TO:"); at != std::string::npos; at = mail.find("RCPT TO:", at + 1))
      r += mail.substr(at, mail.find("\r\n", at) - at) + ";";
    return r;
  };
  EXPECT_EQ(recipients(mails[0]), "RCPT TO:  ann@db.test;RCPT TO:  sam@db.test;") << mails[0];
  EXPECT_NE(mails[0].find("Subject: Case C1: Assigned\r\n"), std::string::npos) << mails[0];
  EXPECT_EQ(recipients(mails[1]), "RCPT TO:  sam@db.test;") << mails[1];
  EXPECT_NE(mails[1].find("Subject: Case C2: Assigned\r\n"), std::string::npos) << mails[1];
}

TEST_P(Selection, AssignNeedsASelectionOfTheRequestsOwn) {
  add_case(1, "C1", "Open");
  const std::string header = *getrow(found("id_num = 1"), 1);
  const std::string no = "No records to Assign. Illogical condition. Please try again";
  const std::string unread = "No records read from temp file. Illogical condition. Please try again";
  struct Case {
    const char* what;
    std::string file;
    std::string page;
  } cases[] = {
      {"no file", "", message(no)},
      {"the header alone", selection_file(header, "sam"), message(no)},
      {"another login's", selection_file(found("id_num = 1"), "ann"), message(unread)},
      {"no scratch file", path("client/config/tk_obj"), message(unread)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run(up_assign, {"up_assign", "done.html"}, {{"assigned_to.VALUE", "sam"}, {"hidedatafile.VALUE", c.file}},
                  "sam"),
              -1)
        << c.what;
    EXPECT_TRUE(page().ends_with(c.page)) << c.what << ": " << page();
  }
  EXPECT_EQ(rows("select assigned_to from cases"), "^^^$");
}

// Every row's id_num must be a whole number: an empty one would delete
// every case, "5--" every case from 5 up, "1,9" two. One bad row deletes
// nothing at all.
TEST_P(Selection, WebDeleteByWholeRecordNumbersOnly) {
  kivtest::ScopedEnv web("SERVER_NAME", "helpdesk");
  for (int i = 1; i <= 9; ++i) add_case(i, "C" + std::to_string(i), "Open");
  struct Case {
    std::string ids;  // the id_num column of the selection's rows
    int status;
    std::string left;  // the cases left
  } cases[] = {
      {"7", 0, "1,2,3,4,5,6,8,9"},       {"", -1, "1,2,3,4,5,6,8,9"},   {"5--", -1, "1,2,3,4,5,6,8,9"},
      {"1,9", -1, "1,2,3,4,5,6,8,9"},    {"x", -1, "1,2,3,4,5,6,8,9"},  {"3|5--", -1, "1,2,3,4,5,6,8,9"},
      {"3|5", 0, "1,2,4,6,8,9"},
  };
  for (const Case& c : cases) {
    std::string text = "id_num^@case_num^$";
    std::string ids = c.ids;
    for (size_t at; (at = ids.find('|')) != std::string::npos; ids.replace(at, 1, "^$")) {}
    for (size_t start = 0;;) {
      const size_t end = ids.find("^$", start);
      const std::string id = ids.substr(start, end - start);
      text += (id.empty() ? "^^" : id) + "^@x^$";
      if (end == std::string::npos) break;
      start = end + 2;
    }
    const std::string file = selection_file(text, "admin");
    EXPECT_EQ(run(up_delete, {"up_delete", "done.html"}, {{"hidedatafile.VALUE", file}}, "admin"), c.status)
        << c.ids << ": " << page();
    std::string left = rows("select id_num from cases order by id_num");
    for (size_t at; (at = left.find("^$")) != std::string::npos;) left.replace(at, 2, ",");
    EXPECT_EQ(left, c.left + ",") << c.ids;
    if (c.status != 0) {
      EXPECT_NE(page().find("nothing was deleted"), std::string::npos) << page();
    }
  }
  EXPECT_EQ(run(up_delete, {"up_delete", "done.html"}, {}, "admin"), -1);
  EXPECT_EQ(page(), message("No records to delete. Illogical condition. Please try again"));
}

TEST_P(Selection, WebDeleteOfOneAttachment) {
  kivtest::ScopedEnv web("SERVER_NAME", "helpdesk");
  add_case(1, "C1", "Open");
  const std::string root = path("attach");
  configure("OBJECT{\n\tNAME=attach_control\n\tVALUE=ON\n};\nOBJECT{\n\tNAME=attachdir\n\tVALUE=" + root + "\n};\n");
  for (const char* kind : {"attach", "attachdesc", "attachsize", "attachuser"}) {
    home_.write(std::string("attach/C1/") + kind + "1_a.txt", "x");
    home_.write(std::string("attach/C1/") + kind + "2_b.txt", "x");
  }
  EXPECT_EQ(run(up_delete, {"up_delete", "done.html"},
                {{"delete_attachment_num.VALUE", "C1/attach2_b.txt"}, {"case_num.VALUE", "C1"}}, "admin"),
            0)
      << page();
  EXPECT_EQ(page(), "done\n");
  EXPECT_EQ(kivtest::entries(root + "/C1"),
            (std::vector<std::string>{"attach1_a.txt", "attachdesc1_a.txt", "attachsize1_a.txt", "attachuser1_a.txt"}));
  EXPECT_EQ(rows("select count(*) from cases"), "1^$");
}

TEST_P(Selection, ConsoleDelete) {
  kivtest::ScopedEnv console("SERVER_NAME", std::nullopt);
  add_case(1, "C1", "Open");
  add_case(2, "C2", "Open", "bob");
  add_case(3, "C3", "Closed", "bob");
  add_case(4, "C4", "Closed", "bob");
  // A problem with two blanks together and a caret: still deleted.
  exec("update cases set problem = 'two  blanks ^ and a caret' where id_num = 1");

  // One match goes without a question.
  EXPECT_EQ(run(up_delete, {"up_delete", "C1"}), 0) << page() << errors();
  EXPECT_EQ(errors(), "Deletion is successful for record=1\n");
  EXPECT_EQ(rows("select id_num from cases order by id_num"), "2^$3^$4^$");
  // Several: the answer decides.
  {
    StdinText in("n\n");
    EXPECT_EQ(run(up_delete, {"up_delete", "submitted_by", "bob"}), 0);
    EXPECT_EQ(page(), "Found 3 case(s). Do you want to continue to delete (y/n):Nothing deleted\n");
    EXPECT_EQ(rows("select count(*) from cases"), "3^$");
  }
  {
    StdinText in("y\n");
    EXPECT_EQ(run(up_delete, {"up_delete", "submitted_by", "bob", "status", "Closed"}), 0);
    EXPECT_EQ(page(), "Found 2 case(s). Do you want to continue to delete (y/n):");
    EXPECT_EQ(errors(), "Deletion is successful for record=1\nDeletion is successful for record=2\n");
    EXPECT_EQ(rows("select id_num from cases"), "2^$");
  }
  // The words.
  EXPECT_EQ(run(up_delete, {"up_delete", "status", "Open", "submitted_by"}), -1);
  EXPECT_EQ(errors(), "Bad dbkey value pair\n");
  EXPECT_EQ(run(up_delete, {"up_delete"}), 2);
  EXPECT_EQ(errors(), "Wrong Usage\nUsage1: up_delete case number\nUsage2: up_delete dbkey1 value1 dbkey2 value2 ......\n");
  EXPECT_EQ(run(up_delete, {"up_delete", "C9"}), 0);
  EXPECT_EQ(errors(), "Find of case 'C9' failed\n");
  EXPECT_EQ(rows("select id_num from cases"), "2^$");
}

TEST_P(Selection, ConsoleDeleteThatFailsEndsWithOne) {
  kivtest::ScopedEnv console("SERVER_NAME", std::nullopt);
  add_case(1, "C1", "Open");
  // The find reads the case; the database refuses its delete.
  if (GetParam().kind == kivtest::Road::sqlite) {
    exec("create trigger keep before delete on cases begin select raise(abort, 'kept'); end");
  } else {
    exec("create function keep_cases() returns trigger as $$ begin raise exception 'kept'; end $$ language plpgsql");
    exec("create trigger keep before delete on cases for each row execute function keep_cases()");
  }
  EXPECT_EQ(run(up_delete, {"up_delete", "C1"}), 1) << page() << errors();
  EXPECT_TRUE(page().ends_with("Delete Error \n")) << page();
  EXPECT_EQ(errors().find("Deletion is successful"), std::string::npos);
  EXPECT_EQ(rows("select count(*) from cases"), "1^$");
}

TEST_P(Selection, PrintTheThreeReports) {
  add_case(1, "C1", "Open");
  add_case(2, "C2", "Closed", "bob");
  exec("update cases set priority = 'High', problem = 'P\n[-Open- 03/05/2024 10:00:00 AM - ann - add-]\n"
       "[-In progress- 03/05/2024 11:30:00 AM - sam - modify-]\n[-Closed- 03/05/2024 12:15:00 PM - sam - respond-]' "
       "where id_num = 1");
  exec("update cases set priority = 'High' where id_num = 2");
  // The sample's report menu and fields; the report pages are the test's.
  page_template("report_elapse.html",
                "FB{av_r_time.VALUE}FE|FB{av_a_time.VALUE}FE|FB{av_l_time.VALUE}FE|FB{elapse_total_recs.VALUE}FE\n");
  page_template("report_percent.html", "FB{report_total.VALUE}FE|FB{tblresult_status.VALUE}FE\n");
  page_template("report_trend.html", "[MB{status_priority_table.VALUE}ME]\n");
  const std::string file = selection_file(found("id_num in (1, 2)"), "sam");
  auto print = [&](const std::string& report, std::vector<std::pair<std::string, std::string>> more = {}) {
    more.emplace_back("reports_menu.VALUE", report);
    more.emplace_back("hidedatafile.VALUE", file);
    return run(up_print, {"up_print", "x.html"}, more, "sam");
  };
  EXPECT_EQ(print("Elapsed times"), 0) << page();
  EXPECT_EQ(page(), "0d:1h:30m:0s|0d:0h:45m:0s|0d:2h:15m:0s|1\n");
  EXPECT_EQ(print("Percentages"), 0) << page();
  EXPECT_EQ(page(), "2|fieldvalue^@num^@percent^$Closed^@1^@50.00^$Open^@1^@50.00^$\n");
  EXPECT_EQ(print("Trend", {{"status_priority_table.VALUE", "<script>x</script>"}}), 0) << page();
  EXPECT_TRUE(page().starts_with("[<table border=\"1\">")) << page();
  EXPECT_EQ(page().find("<script>"), std::string::npos);
  // A selection that is not the request's own gives empty reports, never
  // the request's table.
  const std::string theirs = selection_file(found("id_num in (1, 2)"), "ann");
  EXPECT_EQ(run(up_print, {"up_print"},
                {{"reports_menu.VALUE", "Trend"}, {"hidedatafile.VALUE", theirs},
                 {"status_priority_table.VALUE", "<script>x</script>"}},
                "sam"),
            0);
  EXPECT_EQ(page(), "[]\n");
  // No report chosen: the message, no page, 1.
  EXPECT_EQ(print("Nothing"), 1);
  EXPECT_EQ(page(), message("Inconsistent report object 'reports'\n"));
}

INSTANTIATE_TEST_SUITE_P(Roads, Selection, ::testing::Values(kivtest::Road::sqlite, kivtest::Road::postgres),
                         kivtest::road_name);
