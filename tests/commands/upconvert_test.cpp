// The console conversions through `up`, over a home of the three-table model
// (tests/fixtures/threetablehome) on SQLite and on PostgreSQL through ODBC:
// user and staff profiles into their configured tables, with the entries that
// are no profile passed over and a refused one failing the run; and the merge
// of resolutions into problems, run twice, with carets, with an update the
// database refuses, and with cases answered while it runs.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "commands/up.h"
#include "engine/upclock.h"
#include "engine/upconvert.h"
#include "support/testsupport.h"
#include "tests/data/dbroad.h"
#include "toolkit/base/kivfmt.h"

using namespace kiv;
using kivtest::Road;

namespace {

namespace fs = std::filesystem;

class ConsoleHome : public kivtest::DbRoadTest, public ::testing::WithParamInterface<Road> {
 protected:
  ConsoleHome() : DbRoadTest(GetParam()) {}

  void SetUp() override {
    DbRoadTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    const fs::path fixture = fs::path(KIV_FIXTURES) / "threetablehome";
    fs::copy(fixture / "client", home_.path() / "client", fs::copy_options::recursive);
    for (const std::string& s : kivtest::sql_file_statements((fixture / "db" / "tables.sql").string())) exec(s);
    std::string objs = kivtest::read_file(path("client/config/tk_obj"));
    const std::string from = "\tNAME=db_name\n\tVALUE=DSN\n";
    objs.replace(objs.find(from), from.size(), "\tNAME=db_name\n\tVALUE=" + dsn_ + "\n");
    home_.write("client/config/tk_obj", objs);
    fs::create_directories(home_.path() / "users");
    fs::create_directories(home_.path() / "staff");
    engineclock().now = 1733832000;  // 10 December 2024, noon UTC
  }

  std::string path(const std::string& relative) const { return home_.str() + "/" + relative; }

  // `up` from a console with these arguments; its exit status.
  int up(std::vector<std::string> args) {
    clear_output();
    unsetenv("SCRIPT_NAME");
    args.insert(args.begin(), "up");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    return up_main(static_cast<int>(args.size()), argv.data(), kUpStates);
  }

  void add_case(int id, const std::string& problem, const std::string& resolution) {
    exec(sformat("insert into cases (id_num, case_num, status, submitted_by, problem, resolution) values "
                 "(%d, 'C-%d', 'Open', 'ann', '%s', %s)",
                 id, id, problem, resolution.empty() ? std::string("null") : "'" + resolution + "'"));
  }
  std::string texts(int id) { return rows(sformat("select problem, resolution from cases where id_num=%d", id)); }

  std::string merge_head() const { return "Finding Records\n<PRE>\nNVHOME=" + home_.str() + "</PRE>\n"; }

  kivtest::ScopedEnv nvhome_{"NVHOME", std::nullopt};
  kivtest::ScopedTz utc_{"UTC"};
};

TEST_P(ConsoleHome, UserProfilesIntoTheConfiguredTable) {
  home_.write("users/ann", "submitted_by^@sub_e_mail^$Ann Example^@ann@example.org^$");
  home_.write("users/bob", "submitted_by^@sub_e_mail^$Bob^@^^^$");
  home_.write("users/three", "submitted_by^$a^$b^$");
  home_.write("users/folder/carl", "submitted_by^$Carl^$");
  home_.write("users/nobody", "sub_e_mail^$nobody@example.org^$");
  kivtest::ScopedEnv home("NVHOME", home_.str());
  EXPECT_EQ(up({"convert", "users"}), 1);
  // Entries in the order of their names; a folder and a file of three rows
  // pass without a word; a profile without submitted_by is refused and
  // fails the run, after the others are stored.
  EXPECT_EQ(page(),
            "converting profile for 'ann' \n"
            "converting profile for 'bob' \n"
            "converting profile for 'nobody' \n"
            "<PRE>\n'Your name' can't be blank\n</PRE>\n");
  // Bob's profile has no address: the form was cleared between profiles,
  // so Ann's does not stay with him.
  EXPECT_EQ(rows("select sub_login, submitted_by, sub_e_mail, date_subnew, date_submod from helpdesk_users "
                 "order by sub_login"),
            "Ann Example^@Ann Example^@ann@example.org^@12/10/2024^@12/10/2024^$"
            "Bob^@Bob^@^^^@12/10/2024^@12/10/2024^$");
  EXPECT_EQ(rows("select count(*) from cases"), "0^$");

  // Without db_users_table_name the rows go to the table named users.
  std::string objs = kivtest::read_file(path("client/config/tk_obj"));
  const std::string block = "OBJECT{\n\tNAME=db_users_table_name\n\tVALUE=helpdesk_users\n};\n";
  objs.erase(objs.find(block), block.size());
  home_.write("client/config/tk_obj", objs);
  exec("create table users (id_num integer, sub_login varchar(80), submitted_by varchar(80))");
  fs::remove(path("users/nobody"));
  EXPECT_EQ(up({"convert", "users"}), 0) << page();
  EXPECT_EQ(rows("select sub_login from users order by sub_login"), "Ann Example^$Bob^$");
}

TEST_P(ConsoleHome, StaffProfilesAreMarkedStaffAndActive) {
  home_.write("staff/carl", "assigned_to^@sa_e_mail^$carl^@carl@example.org^$");
  home_.write("staff/dora", "assigned_to^$dora^$");
  kivtest::ScopedEnv home("NVHOME", home_.str());
  EXPECT_EQ(up({"convert", "staff"}), 0) << page();
  EXPECT_EQ(page(), "converting profile for 'carl' \nconverting profile for 'dora' \n");
  EXPECT_EQ(rows("select sa_login, assigned_to, sa_e_mail, sa_permissions, sa_access, date_sanew, date_samod "
                 "from helpdesk_staff order by sa_login"),
            "carl^@carl^@carl@example.org^@staff^@active^@12/10/2024^@12/10/2024^$"
            "dora^@dora^@^^^@staff^@active^@12/10/2024^@12/10/2024^$");
}

TEST_P(ConsoleHome, MergeTwiceWithCarets) {
  add_case(1, "Printer jams.", "Roller replaced.");
  add_case(2, "No mail.", "");
  add_case(3, "a^b ^^ c", "x^y 50%");
  kivtest::ScopedEnv home("NVHOME", home_.str());
  EXPECT_EQ(up({"merge", "x"}), 0) << page();
  EXPECT_EQ(page(), merge_head() +
                        "Total Cases=3\n"
                        "Merging ticket id_num=1:ticket needs to be merged\n"
                        "Merging ticket id_num=2:ticket does not need to be merged\n"
                        "Merging ticket id_num=3:ticket needs to be merged\n");
  EXPECT_EQ(texts(1), "Printer jams.\n\n---Resolution---\nRoller replaced.^@^^^$");
  EXPECT_EQ(texts(2), "No mail.^@^^^$");
  EXPECT_EQ(texts(3), "a^b ^^ c\n\n---Resolution---\nx^y 50%^@^^^$");
  // The find's scratch file is not left behind.
  for (const std::string& name : kivtest::entries(path("tmp"))) EXPECT_FALSE(name.starts_with("tmp_datafile.")) << name;

  // A second run finds nothing more to merge.
  EXPECT_EQ(up({"merge", "x"}), 0) << page();
  EXPECT_EQ(page(), merge_head() +
                        "Total Cases=3\n"
                        "Merging ticket id_num=1:ticket does not need to be merged\n"
                        "Merging ticket id_num=2:ticket does not need to be merged\n"
                        "Merging ticket id_num=3:ticket does not need to be merged\n");
  EXPECT_EQ(texts(1), "Printer jams.\n\n---Resolution---\nRoller replaced.^@^^^$");
}

TEST_P(ConsoleHome, AFailedUpdateStopsTheMergeAndFailsTheRun) {
  add_case(1, "Short.", "Fixed.");
  add_case(4, std::string(390, 'p'), "This answer makes the problem too long for its column.");
  add_case(5, "Later.", "Also fixed.");
  kivtest::ScopedEnv home("NVHOME", home_.str());
  EXPECT_EQ(up({"merge", "x"}), 1);
  const std::string shown = page();
  EXPECT_TRUE(shown.starts_with(merge_head() + "Total Cases=3\nMerging ticket id_num=1:ticket needs to be merged\n"
                                               "Merging ticket id_num=4:ticket needs to be merged\n"))
      << shown;
  EXPECT_TRUE(shown.ends_with("<PRE>\nModify operation failed\n</PRE>\n")) << shown;
  EXPECT_EQ(shown.find("id_num=5"), std::string::npos);
  EXPECT_EQ(texts(1), "Short.\n\n---Resolution---\nFixed.^@^^^$");
  EXPECT_EQ(texts(4), std::string(390, 'p') + "^@This answer makes the problem too long for its column.^$");
  EXPECT_EQ(texts(5), "Later.^@Also fixed.^$");
}

// Cases answered between the merge's find and their turn: each is merged
// from what the database holds then, not from the found row.
TEST_P(ConsoleHome, CasesAnsweredDuringTheMergeKeepTheirAnswers) {
  add_case(1, "Printer jams.", "Roller cleaned.");
  add_case(2, "No mail.", "");
  add_case(3, "Slow disk.", "Defragmented.");
  merge_before_case() = [this](std::string_view id) {
    if (id == "1") exec("update cases set resolution='Roller replaced after all.' where id_num=1");
    if (id == "2") exec("update cases set resolution='Mailbox was full.' where id_num=2");
    if (id == "3") exec("update cases set resolution=null where id_num=3");
  };
  kivtest::ScopedEnv home("NVHOME", home_.str());
  EXPECT_EQ(up({"merge", "x"}), 0) << page();
  EXPECT_EQ(page(), merge_head() +
                        "Total Cases=3\n"
                        "Merging ticket id_num=1:ticket needs to be merged\n"
                        "Merging ticket id_num=2:ticket needs to be merged\n"
                        "Merging ticket id_num=3:ticket does not need to be merged\n");
  EXPECT_EQ(texts(1), "Printer jams.\n\n---Resolution---\nRoller replaced after all.^@^^^$");
  EXPECT_EQ(texts(2), "No mail.\n\n---Resolution---\nMailbox was full.^@^^^$");
  EXPECT_EQ(texts(3), "Slow disk.^@^^^$");
}

INSTANTIATE_TEST_SUITE_P(Roads, ConsoleHome, ::testing::Values(Road::sqlite, Road::postgres), kivtest::road_name);

}  // namespace
