// Command start-up: the home folder and search path, the trace switch, the
// settings loadobj takes from tk_obj with their defaults, the environment it
// sets, and the date and time texts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "engine/upclock.h"
#include "engine/upcommon.h"
#include "platform/flavour.h"
#include "platform/state.h"
#include "support/services.h"
#include "support/testsupport.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivsettings.h"

using namespace kiv;
using kivtest::ScopedEnv;
using kivtest::TempDir;

namespace {

std::string object(const char* name, const char* value) {
  return std::string("OBJECT{\n\tNAME=") + name + "\n\tVALUE=" + value + "\n};\n";
}

class StartUp : public kivtest::KivTest {
 protected:
  // Writes tk_obj under the test's home and runs the start-up.
  objholder start(const std::string& tk_obj) {
    home_.write("client/config/tk_obj", tk_obj);
    objholder h = get_prog_param();
    loadobj(h);
    return h;
  }
  std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "<unset>";
  }

  TempDir home_;
  ScopedEnv nvhome_{"NVHOME", home_.str()};
  ScopedEnv path_{"PATH", "/usr/bin:/bin"};
  ScopedEnv debug_{"KIVDEBUG", std::nullopt};
  ScopedEnv trig_{"MENUTRIG", std::nullopt};
  ScopedEnv today_{"TODAY", std::nullopt}, time_{"TIME", std::nullopt}, time24_{"TIME24", std::nullopt};
};

}  // namespace

TEST_F(StartUp, DatabaseTypes) {
  struct Case {
    const char* configured;
    const char* text;
    int flag;
  } cases[] = {
      {nullptr, "MSACCESS", 0}, {"oracle", "oracle", 2}, {"MsSql", "MsSql", 1},
      {"SYBASE", "SYBASE", 3},  {"db2", "db2", 4},       {"PostgreSQL", "PostgreSQL", 0},
  };
  for (const Case& c : cases) {
    start(c.configured ? object("odbc_dbtype", c.configured) : "");
    EXPECT_EQ(settings().pcodbcdbtype, c.text);
    EXPECT_EQ(settings().mssqlflag, c.flag) << c.text;
  }
}

TEST_F(StartUp, SettingsFromTheCaseObjects) {
  objholder h = start(object("odbc_user", "helpdesk") + object("odbc_pass", "s3cret") +
                      object("open_state", "New") + object("closed_state", "Done") +
                      object("libdir", "/srv/lib") + object("attachdir", "/srv/attach") +
                      object("dateformat", "dmy") + object("smtp_option", "rfc821") +
                      object("mailtypeformat", "text/html") + object("db_users_table_name", "users"));
  ASSERT_TRUE(h);
  const Settings& s = settings();
  EXPECT_EQ(reqctx().nvhome, home_.str());
  EXPECT_EQ(s.pcodbcuser, "helpdesk");
  EXPECT_EQ(s.pcodbcpass, "s3cret");
  EXPECT_EQ(s.openstate, "New");
  EXPECT_EQ(s.closedstate, "Done");
  EXPECT_EQ(s.libdir, "/srv/lib");
  EXPECT_EQ(s.attachmentsdir, "/srv/attach");
  EXPECT_EQ(s.dateformat, "dmy");
  EXPECT_EQ(s.idateflag, 1);
  EXPECT_EQ(s.smtpoption, "rfc821");
  EXPECT_EQ(s.mailtypeformat, 1);
  EXPECT_EQ(s.threetablemodel, 1);
}

TEST_F(StartUp, ComparisonsAreExact) {
  start(object("dateformat", "DMY") + object("smtp_option", "RFC821") + object("mailtypeformat", "TEXT/HTML") +
        object("db_staff_table_name", "staff"));
  EXPECT_EQ(settings().dateformat, "mdy");
  EXPECT_EQ(settings().idateflag, 0);
  EXPECT_EQ(settings().smtpoption, "0");
  EXPECT_EQ(settings().mailtypeformat, 0);
  EXPECT_EQ(settings().threetablemodel, 1);
}

TEST_F(StartUp, MissingCaseObjectsGiveTheDefaults) {
  settings().row_number = "id";
  settings().join_condition = "a.x=b.x";
  settings().distinct_condition = "x";
  settings().row_number_value = "7";
  settings().sql_control_sort = "date_open desc";
  objholder h = get_prog_param();
  loadobj(h);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(page(), "Cannot open object file '" + home_.str() + "/client/config/tk_obj'. errno=2\n");
  const Settings& s = settings();
  EXPECT_EQ(s.pcodbcdbtype, "MSACCESS");
  EXPECT_EQ(s.mssqlflag, 0);
  EXPECT_EQ(s.pcodbcuser, "");
  EXPECT_EQ(s.openstate, "Open");
  EXPECT_EQ(s.closedstate, "Closed");
  EXPECT_EQ(s.libdir, home_.str() + "/client/kivhtml/tk/lib");
  EXPECT_EQ(s.attachmentsdir, std::nullopt);
  EXPECT_EQ(s.dateformat, "mdy");
  EXPECT_EQ(s.smtpoption, "0");
  EXPECT_EQ(s.mailtypeformat, 0);
  EXPECT_EQ(s.threetablemodel, 0);
  EXPECT_EQ(s.row_number, std::nullopt);
  EXPECT_EQ(s.join_condition, std::nullopt);
  EXPECT_EQ(s.distinct_condition, std::nullopt);
  EXPECT_EQ(s.row_number_value, std::nullopt);
  EXPECT_EQ(s.sql_control_sort, std::nullopt);
  EXPECT_NE(env("TODAY"), "<unset>");
}

TEST_F(StartUp, SettingsAreTracedInTheirOrder) {
  ScopedEnv on("KIVDEBUG", "1");
  start(object("db_staff_table_name", "staff") + object("mailtypeformat", "text/plain") +
        object("smtp_option", "rfc821") + object("attachdir", "/srv/attach"));
  const std::string p = page();
  size_t attach = p.find("attachmetsdir='/srv/attach'");
  size_t smtp = p.find("SMTPOPTIMN=rfc821\n");
  size_t mail = p.find("mailtypeformat=0\n");
  size_t model = p.find("TRHEETABLEMODEL=1\n");
  ASSERT_NE(model, std::string::npos) << p;
  EXPECT_LT(attach, smtp);
  EXPECT_LT(smtp, mail);
  EXPECT_LT(mail, model);
}

TEST_F(StartUp, AnyKivdebugTurnsTheTraceOn) {
  get_prog_param();
  EXPECT_EQ(reqctx().kivdebug, 0);
  ScopedEnv on("KIVDEBUG", "0");
  get_prog_param();
  EXPECT_EQ(reqctx().kivdebug, 1);
}

TEST_F(StartUp, SearchPathPutsTheProgramFoldersFirst) {
  EXPECT_EQ(set_prog_path(), 0);
  const std::string h = home_.str();
  const std::string folders = h + "/client/bin:" + h + "/dbserver/bin:" + h + "/report/bin";
  EXPECT_EQ(env("PATH"), folders + ":/usr/bin:/bin");
  // A second command start-up builds on the inherited path, not on its own.
  get_prog_param();
  EXPECT_EQ(env("PATH"), folders + ":/usr/bin:/bin");
  reset_process_state();  // a new process, which inherits no PATH
  EXPECT_EQ(env("PATH"), "/usr/bin:/bin");
  ScopedEnv none("PATH", std::nullopt);
  set_prog_path();
  EXPECT_EQ(env("PATH"), folders);  // no empty entry
}

TEST_F(StartUp, HomeDefaultsByFlavour) {
  // Each case a new process: a home found once stays the process's home.
  ScopedEnv unset("NVHOME", std::nullopt);
  set_prog_path();
  EXPECT_EQ(reqctx().nvhome, "c:/tiklo");
  reset_process_state();
  set_platform(Platform::linux);
  set_prog_path();
  EXPECT_EQ(reqctx().nvhome, "/usr/local/norvale");
  reset_process_state();
  ScopedEnv empty("NVHOME", "");
  set_prog_path();
  EXPECT_EQ(reqctx().nvhome, "/usr/local/norvale");
}

TEST_F(StartUp, WindowsBuildWithoutHomeWorksUnderItsDefault) {
  // "c:/tiklo" is a relative path here: the test works in its own folder.
  TempDir cwd;
  cwd.write("c:/tiklo/client/config/tk_obj", object("dateformat", "dmy"));
  auto old = std::filesystem::current_path();
  std::filesystem::current_path(cwd.path());
  ScopedEnv unset("NVHOME", std::nullopt);
  // A day whose day and month differ, so the two forms tell apart.
  engineclock().now = 1709640000;  // 5 March 2024, 12:00 UTC
  std::string before, after;
  objholder h;
  {
    kivtest::ScopedTz utc("UTC");
    h = get_prog_param();
    before = getdate1();  // still month first
    loadobj(h);
    after = getdate1();
  }
  std::filesystem::current_path(old);
  ASSERT_TRUE(h);
  EXPECT_EQ(getvalfromlist(*h, "dateformat.VALUE"), "dmy");
  EXPECT_EQ(before, "03/05/2024");
  EXPECT_EQ(after, "05/03/2024");
  EXPECT_EQ(env("TODAY"), "05/03/2024");
}

TEST_F(StartUp, EnvironmentForTemplatesAndScripts) {
  std::time_t t0 = std::time(nullptr);
  start("");
  std::time_t t1 = std::time(nullptr);
  EXPECT_TRUE(env("TODAY") == getdate1(t0) || env("TODAY") == getdate1(t1));
  EXPECT_TRUE(env("TIME") == gettime3(t0) || env("TIME") == gettime3(t1));
  EXPECT_TRUE(env("TIME24") == gettime4(t0) || env("TIME24") == gettime4(t1));
}

TEST_F(StartUp, MenusArePickedAndScriptsBuilt) {
  reqctx().menutrig = "lab";  // as the CGI start-up leaves the request's MENUTRIG
  objholder h = start(
      "OBJECT{\n\tNAME=prio\n\tTYPE=MENU\n\tVALUE=office^$Low^@High^$lab^$Urgent^@Later^$\n};\n"
      "OBJECT{\n\tNAME=dynamic-menu_part\n\tVALUE=Hardware^@Disk^@Screen^$\n};\n");
  EXPECT_EQ(getvalfromlist(*h, "prio.VALUE"), "Urgent^@Later^$");
  std::string script = objtext(*h, "dynamic-menu_part.TITLE");
  EXPECT_NE(script.find("function part_updatemenu(item)"), std::string::npos);
}

// ---- dates and times -------------------------------------------------------

class DatesAndTimes : public kivtest::KivTest {};

TEST_F(DatesAndTimes, Texts) {
  struct Case {
    std::time_t t;
    const char *mdy, *dmy, *t2, *t3, *t4;
  } cases[] = {
      {1709647629, "03/05/2024", "05/03/2024", "02:07:09 PM", "02:07 PM", "14:07"},
      {1735603500, "12/31/2024", "31/12/2024", "12:05:00 AM", "12:05 AM", "00:05"},
      {1720094459, "07/04/2024", "04/07/2024", "12:00:59 PM", "12:00 PM", "12:00"},
      {915321598, "01/02/1999", "02/01/1999", "11:59:58 PM", "11:59 PM", "23:59"},
  };
  {
    kivtest::ScopedTz utc("UTC");
    for (const Case& c : cases) {
      settings().dateformat = "mdy";
      EXPECT_EQ(getdate1(c.t), c.mdy);
      settings().dateformat = "dmy";
      EXPECT_EQ(getdate1(c.t), c.dmy);
      EXPECT_EQ(gettime2(c.t), c.t2);
      EXPECT_EQ(gettime3(c.t), c.t3);
      EXPECT_EQ(gettime4(c.t), c.t4);
    }
  }
}

// Stamp lines and TIME are read back by other programs, so their words stay
// the C locale's whatever locale the process runs in. A German locale, built
// for the test, has no AM/PM words of its own.
TEST_F(DatesAndTimes, WordsStayEnglishUnderAnotherLocale) {
  KIV_NEED_SERVICE(access("/usr/share/i18n/locales/de_DE", R_OK) == 0
                       ? ""
                       : "the locale sources are missing (Debian package locales): no other locale to run under");
  TempDir dir;
  std::string build = "localedef -i de_DE -f UTF-8 " + dir.str() + "/de_DE.UTF-8 >/dev/null 2>&1";
  ASSERT_EQ(std::system(build.c_str()), 0) << build;
  char local_words[64];
  std::string d, t2, t3, t4;
  {
    ScopedEnv locpath("LOCPATH", dir.str());
    kivtest::ScopedTz utc("UTC");
    const std::string before = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    const std::time_t t = 1709647629;  // 5 March 2024, 14:07:09
    std::tm tm{};
    gmtime_r(&t, &tm);
    std::strftime(local_words, sizeof local_words, "%p", &tm);
    settings().dateformat = "mdy";
    d = getdate1(t), t2 = gettime2(t), t3 = gettime3(t), t4 = gettime4(t);
    std::setlocale(LC_ALL, before.c_str());
  }
  EXPECT_STREQ(local_words, "");  // the locale really differs
  EXPECT_EQ(d, "03/05/2024");
  EXPECT_EQ(t2, "02:07:09 PM");
  EXPECT_EQ(t3, "02:07 PM");
  EXPECT_EQ(t4, "14:07");
}
