// The dispatcher: its command word table, the splitting of command lines,
// the console modes, and the CGI road from an action to a handler with its
// refusals and the choice of the state file. The program itself: it links no
// database library, and loads the ODBC driver manager for a statement only.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "admin/upadmin.h"
#include "commands/up.h"
#include "commands/upassign.h"
#include "commands/upcal.h"
#include "commands/upconfirmprint.h"
#include "commands/updelete.h"
#include "commands/updf.h"
#include "commands/upfind.h"
#include "commands/upgsql.h"
#include "commands/upmodify.h"
#include "commands/upprint.h"
#include "commands/uprow2form.h"
#include "commands/upsms.h"
#include "commands/upstartup.h"
#include "commands/uptree.h"
#include "platform/process.h"
#include "toolkit/base/kivcontext.h"
#include "uptest.h"

using namespace kiv;
using kivtest::read_file;

namespace {

class Dispatcher : public uptest::UpHome {};

}  // namespace

TEST(CommandTable, WordsInOrderComparedWithCase) {
  std::vector<std::string_view> words;
  for (const command_entry& e : command_table()) words.push_back(e.word);
  EXPECT_EQ(words, (std::vector<std::string_view>{
                       "up_startup", "up_add", "up_assign", "up_chart", "up_confirmfind", "up_confirmprint",
                       "up_df", "up_find", "up_getdf", "up_modify", "up_print", "up_respond", "up_row2form",
                       "up_sedf", "up_delete", "up_tree", "up_gsql", "up_cal", "up_sms", "tksearch",
                       "code__label", "code_label", "code__intake", "code_intake", "up_admin"}));
  EXPECT_EQ(find_handler("up_startup"), &up_startup);
  EXPECT_EQ(find_handler("up_confirmfind"), &up_confirmfind);
  EXPECT_EQ(find_handler("up_find"), &up_find);
  EXPECT_EQ(find_handler("up_confirmprint"), &up_confirmprint);
  EXPECT_EQ(find_handler("up_gsql"), &up_gsql);
  EXPECT_EQ(find_handler("up_chart"), &up_chart);
  EXPECT_NE(find_handler("tksearch"), nullptr);
  EXPECT_EQ(find_handler("up_admin"), &up_admin);
  EXPECT_EQ(find_handler("up_sms"), &up_sms);
  EXPECT_EQ(find_handler("up_df"), &up_df);
  EXPECT_EQ(find_handler("up_getdf"), &up_getdf);
  EXPECT_EQ(find_handler("up_sedf"), &up_sedf);
  EXPECT_EQ(find_handler("up_cal"), &up_cal);
  EXPECT_EQ(find_handler("up_assign"), &up_assign);
  EXPECT_EQ(find_handler("up_delete"), &up_delete);
  EXPECT_EQ(find_handler("up_modify"), &up_modify);
  EXPECT_EQ(find_handler("up_print"), &up_print);
  EXPECT_EQ(find_handler("up_respond"), &up_respond);
  EXPECT_EQ(find_handler("up_row2form"), &up_row2form);
  EXPECT_EQ(find_handler("up_tree"), &up_tree);
  // Other case, a prefix, the two plain form pages and the empty word are
  // not command words.
  for (const char* word : {"UP_STARTUP", "Up_startup", "up_startup ", "up_start", "up_cs", "up_cf", ""})
    EXPECT_EQ(find_handler(word), nullptr) << word;
}

TEST(CommandTable, SplitAtBlanksOnly) {
  using W = std::vector<std::string>;
  struct Case {
    std::string line;
    W words;
  } cases[] = {
      {"up_find find.html", {"up_find", "find.html"}},
      {"up_find  find.html", {"up_find", "find.html"}},
      {"  up_find   find.html  x ", {"up_find", "find.html", "x"}},
      {"up_find\tfind.html", {"up_find\tfind.html"}},
      {"", {}},
      {"   ", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(split_command(c.line), c.words) << "[" << c.line << "]";
  std::string many;
  for (int i = 0; i < 90; ++i) many += "w" + std::to_string(i) + " ";
  W words = split_command(many);
  ASSERT_EQ(words.size(), kMaxCommandWords);
  EXPECT_EQ(words.back(), "w82");
}

TEST_F(Dispatcher, ConsoleModes) {
  EXPECT_EQ(console({"/opt/kiv/up"}), 0);
  EXPECT_EQ(page(), "/opt/kiv/up:Version: 5.8.0\n");
  EXPECT_STREQ(std::getenv("SCRIPT_NAME"), "up.exe");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out, err;
  } cases[] = {
      // The conversions run; in this home there is nothing they can work
      // on, and they say so and fail.
      {{"up", "convert", "users"}, 1, "<PRE>\nCan't open dir='" + home() + "/users/*.*' errno=2. \n</PRE>\n", ""},
      {{"up", "convert", "staff"}, 1, "<PRE>\nCan't open dir='" + home() + "/staff/*.*' errno=2. \n</PRE>\n", ""},
      {{"up", "convert", "Users"}, 0, "Wrong convert syntax\n", ""},
      {{"up", "merge", "x"}, 1,
       "Finding Records\n<PRE>\nNVHOME=" + home() +
           "</PRE>\n<PRE>\nMissing dbhost name object\n</PRE>\n<PRE>\nError finding records\n</PRE>\n",
       ""},
      {{"up", "other", "x"}, 0, "Nothing to do\n", ""},
      // Any other count is the add of one record without a request; these
      // case objects name no database.
      {{"up", "one"}, 1, "<PRE>\nMissing dbhost name object\n</PRE>\n<PRE>\nSubmit Error: \n</PRE>\n", ""},
      {{"up", "a", "b", "c"}, 1, "<PRE>\nMissing dbhost name object\n</PRE>\n<PRE>\nSubmit Error: \n</PRE>\n", ""},
  };
  for (const Case& c : cases) {
    clear_output();
    EXPECT_EQ(console(c.args), c.status) << c.args[1];
    EXPECT_EQ(page(), c.out) << c.args[1];
    EXPECT_EQ(errors(), c.err) << c.args[1];
  }
  // The script name: after the last "/", else after the last backslash; a
  // name with a point keeps it.
  for (auto [argv0, script] : {std::pair{"C:\\kiv\\kepa", "kepa.exe"}, {"up.cgi", "up.cgi"}, {"./x/up.exe", "up.exe"}}) {
    console({argv0});
    EXPECT_STREQ(std::getenv("SCRIPT_NAME"), script) << argv0;
  }
}

TEST_F(Dispatcher, ConsoleWithoutHomeEnds) {
  env_.push_back(std::make_unique<kivtest::ScopedEnv>("NVHOME", std::nullopt));
  EXPECT_EQ(console({"up"}), 1);
  EXPECT_EQ(page(), "");
  EXPECT_TRUE(errors().find("NVHOME is undefined in the Registry") != std::string::npos);
}

TEST_F(Dispatcher, RequestsAndRefusals) {
  struct Case {
    std::string query;
    int status;
    std::string shown;
  } cases[] = {
      {"KIVACTION=start&assigned_to.VALUE=bob", 0, "Assigned to [bob]"},
      {"kivaction=confirmcast&subject.VALUE=printer", 0, "Subject [printer]"},
      {"KIVACTION=nopage", 0, "Cannot open html template file"},
      {"KIVACTION=nothere", -1, "No command for action 'nothere'\n"},
      // A form field named like the action binds nothing.
      {"KIVACTION=evil&evil=up_startup+start.html", -1, "No command for action 'evil'\n"},
      {"KIVACTION=%3Cb%3E", -1, "No command for action '&#60;b&#62;'\n"},
      // Command words are compared with case.
      {"KIVACTION=shout", -1, "Unknown command 'UP_STARTUP' for action 'shout'\n"},
      {"KIVACTION=unknown", -1, "Unknown command 'up_nothing' for action 'unknown'\n"},
      {"KIVACTION=search", -1, "Can't open command " },
      // A setting of the state file is no action.
      {"KIVACTION=FIELDMAXLEN", -1, "No command for action 'FIELDMAXLEN'\n"},
  };
  for (const Case& c : cases) {
    clear_output();
    EXPECT_EQ(get(c.query), c.status) << c.query;
    EXPECT_EQ(page().rfind("Content-type: text/html\n\n", 0), 0u) << c.query;
    EXPECT_TRUE(shown(c.shown)) << c.query << "\n" << page();
  }
  // The handler's page: the session key in links and forms.
  clear_output();
  ASSERT_EQ(get("KIVACTION=start"), 0);
  EXPECT_TRUE(shown("<h1>Help desk</h1>"));
  EXPECT_TRUE(shown("KIVACTION=confirm&amp;skey=NOKEY&subject.VALUE=x"));
  EXPECT_TRUE(shown("<input type=\"hidden\" name=\"skey\" value=\"NOKEY\"> \n</form>"));
}

// Every setting of the state file is no action, even when its value reads
// like a command line: each is bound here to the start page's command, and
// none of them prints it.
TEST_F(Dispatcher, SettingWordsAreNoActions) {
  const char* settings[] = {"USER", "GROUP", "KIVDEBUG", "logindir", "logindir.VALUE", "CUSTOM_SECURITY",
                            "ATTACHMENTMAXLEN"};
  std::string lines = read_file(path("client/config/admin_states"));
  for (const char* word : settings) lines += std::string(word) + "=up_startup start.html\n";
  write("client/config/admin_states", lines);
  for (const char* word : settings) {
    clear_output();
    EXPECT_EQ(get(std::string("KIVACTION=") + word), -1) << word;
    EXPECT_TRUE(shown(std::string("No command for action '") + word + "'\n")) << word << "\n" << page();
    EXPECT_FALSE(shown("<h1>Help desk</h1>")) << word;
  }
  clear_output();
  ASSERT_EQ(get("KIVACTION=start"), 0);  // the same state file still serves its actions
  EXPECT_TRUE(shown("<h1>Help desk</h1>"));
}

TEST_F(Dispatcher, AdministrationActionsReachUpAdmin) {
  // The web server checked the administrator's login.
  kivtest::ScopedEnv auth("AUTH_TYPE", "Basic"), user("REMOTE_USER", "admin");
  reset_admin();
  // The chart settings page shows ce_obj alone.
  ASSERT_EQ(get("KIVACTION=ChartsSettings"), 0);
  EXPECT_TRUE(shown("Chart settings: [Cases by status] []")) << page();
  // A word the action table does not hold prints the ordinary page over
  // tk_obj, ce_obj and admin_obj, and writes nothing.
  const std::string before = kivtest::read_file(path("client/config/tk_obj"));
  reset_admin();
  clear_output();
  ASSERT_EQ(get("KIVACTION=admin"), 0);
  EXPECT_TRUE(shown("Administration over Help desk")) << page();
  EXPECT_EQ(kivtest::read_file(path("client/config/tk_obj")), before);
  // An action word with a blank, bound by the state file, and the request's
  // form values landing in admin_obj behind tk_obj.
  write("client/config/admin_states", kivtest::read_file(path("client/config/admin_states")) +
                                          "Show Settings=up_admin admin.html\n");
  reset_admin();
  clear_output();
  ASSERT_EQ(get("KIVACTION=Show+Settings&admin_title.VALUE=Typed&page_title.VALUE=Typed"), 0);
  EXPECT_TRUE(shown("Typed over Help desk")) << page();
  // The help desk's own state file binds no administration action.
  reset_admin();
  clear_output();
  EXPECT_EQ(get("KIVACTION=ChartsSettings", kKepaStates), -1);
  EXPECT_TRUE(shown("No command for action 'ChartsSettings'\n"));
}

TEST_F(Dispatcher, UploadsGoWhenTheRequestEndsWhateverTheRoad) {
  write("client/config/admin_states",
        kivtest::read_file(path("client/config/admin_states")) + "usage=up_confirmfind\n");
  const std::string saved = path("tmp/attach1." + std::to_string(getpid()));
  struct Case {
    const char* road;
    std::string action;
    int status;
  } cases[] = {
      {"a normal end", "start", 0},
      {"a handler that ends the process", "usage", 2},
      {"a refused action", "nothere", -1},
      {"a refusal of the start-up", "", 1},
  };
  for (const Case& c : cases) {
    clear_output();
    std::vector<std::pair<std::string, std::string>> fields;
    if (!c.action.empty()) fields.emplace_back("KIVACTION", c.action);
    EXPECT_EQ(post_upload(fields, "DATA"), c.status) << c.road << "\n" << page();
    EXPECT_FALSE(std::filesystem::exists(saved)) << c.road;
    EXPECT_TRUE(reqctx().uploads.empty()) << c.road;
  }
}

TEST_F(Dispatcher, NoListMeansNoAction) {
  // The start-up gives no list for a method it does not take.
  EXPECT_EQ(get("KIVACTION=start", kUpStates, "PUT"), -1);
  EXPECT_TRUE(shown("No KIVACTION variable\n"));
  EXPECT_FALSE(shown("Help desk"));
}

TEST_F(Dispatcher, TraceOnlyFromTheStateFile) {
  EXPECT_EQ(get("KIVACTION=start&KIVDEBUG=1"), 0);
  EXPECT_EQ(reqctx().kivdebug, 0);
  EXPECT_FALSE(std::filesystem::exists(path("debug.txt")));
  write("client/config/admin_states", "KIVDEBUG=1\nstart=up_startup start.html\n");
  clear_output();
  EXPECT_EQ(get("KIVACTION=start"), 0);
  EXPECT_EQ(reqctx().kivdebug, 1);
  EXPECT_TRUE(shown("kivaction=start"));
  EXPECT_TRUE(shown("Command=up_startup start.html"));
}

TEST_F(Dispatcher, StateFileChoice) {
  // kepa's own default file.
  EXPECT_EQ(get("KIVACTION=start", kKepaStates), 0);
  EXPECT_TRUE(shown("kepa start page"));
  // A name the registry gives under the program's key wins over the default.
  write("client/config/other_states", "start=up_startup other.html\n");
  write("client/kivhtml/tk/other.html", "other start page\n");
  set("KIV_REGISTRY_FILE", write("registry", "SOFTWARE\\KIV\\up\\PROG_STATES=other_states\n"));
  clear_output();
  EXPECT_EQ(get("KIVACTION=start"), 0);
  EXPECT_TRUE(shown("other start page"));
  // A name left from before is forgotten when the registry has none.
  set("KIV_REGISTRY_FILE", write("registry", "\n"));
  reqctx().prog_states = "other_states";
  clear_output();
  EXPECT_EQ(get("KIVACTION=start"), 0);
  EXPECT_TRUE(shown("Help desk"));
  EXPECT_EQ(statefile_path("/h", "admin_states"), "/h/client/config/admin_states");
}

// Text a request sends is escaped wherever a page shows it, also through MB,
// which prints the markup that configuration holds as it is: on the help
// desk's pages and on the administration's, which copies every form value.
TEST_F(Dispatcher, RequestTextIsEscapedOnPages) {
  ASSERT_EQ(get("KIVACTION=start&page_title.VALUE=<script>alert(1)</script>"), 0);
  EXPECT_TRUE(shown("<h1>&#60;script&#62;alert(1)&#60;/script&#62;</h1>")) << page();
  EXPECT_FALSE(shown("<script>")) << page();

  kivtest::ScopedEnv auth("AUTH_TYPE", "Basic"), user("REMOTE_USER", "admin");
  reset_admin();
  clear_output();
  ASSERT_EQ(get("KIVACTION=admin&admin_title.VALUE=%3Cb%3Ex%3C/b%3E"), 0);
  EXPECT_TRUE(shown("&#60;b&#62;x&#60;/b&#62; over Help desk")) << page();
}

namespace {

const std::string kUpProgram = std::string(KIV_BINARY_DIR) + "/commands/up";

// The sample installation over an SQLite data source of its own, for `up`
// run as the web server runs it. Its state file binds the start page and the
// add, so that one request runs no statement and the other runs several.
class UpProcess : public uptest::CommandCaseHome {
 protected:
  UpProcess() : CommandCaseHome(kivtest::Road::sqlite) {}

  void SetUp() override {
    CommandCaseHome::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    home_.write("client/config/admin_states", "start=up_startup start.html\nadd=up_add added.html\n");
  }

  // One GET of `up` in a process of its own; the loader names in standard
  // error every library it loads (LD_DEBUG=files).
  process::Result request(const std::string& query) {
    process::Options o;
    o.capture_output = true;
    o.capture_errors = true;
    o.env = {"NVHOME=" + home_.str(), "PATH=/usr/bin:/bin", "SCRIPT_NAME=/cgi-bin/up.exe",
             "SERVER_NAME=helpdesk", "REQUEST_METHOD=GET", "QUERY_STRING=" + query, "LD_DEBUG=files"};
    for (const char* v : {"ODBCSYSINI", "ODBCINI", "ASAN_OPTIONS", "UBSAN_OPTIONS"})
      if (const char* x = std::getenv(v)) o.env.push_back(std::string(v) + "=" + x);
    process::Result r = process::run({kUpProgram}, o);
    EXPECT_TRUE(r.ok()) << process::describe(r, o) << "\n" << r.output;
    return r;
  }
};

bool loads(const process::Result& r, const std::string& library) {
  return r.errors.find("file=" + library + " ") != std::string::npos;
}

}  // namespace

TEST_F(UpProcess, LinksNoDriverManagerAndLoadsItForAStatementOnly) {
  process::Options o;
  o.capture_output = true;
  o.env = {"PATH=/usr/bin:/bin"};
  process::Result ldd = process::run({"ldd", kUpProgram}, o);
  ASSERT_TRUE(ldd.ok()) << process::describe(ldd, o);
  EXPECT_NE(ldd.output.find("libc.so"), std::string::npos) << ldd.output;  // read whole
  for (const char* library : {"libodbc", "libltdl"})
    EXPECT_EQ(ldd.output.find(library), std::string::npos) << library << "\n" << ldd.output;

  // The start page runs no statement: nothing of ODBC is loaded.
  process::Result start = request("KIVACTION=start");
  EXPECT_NE(start.output.find("KIVACTION=addform"), std::string::npos) << start.output;
  EXPECT_FALSE(loads(start, "libodbc.so.2")) << start.errors;
  EXPECT_FALSE(loads(start, "libodbcinst.so.2"));

  // An add loads the driver manager and stores the case through it.
  process::Result add =
      request("KIVACTION=add&submitted_by.VALUE=ann&category.VALUE=Network&problem.VALUE=No+mail.");
  EXPECT_TRUE(loads(add, "libodbc.so.2")) << add.errors;
  EXPECT_TRUE(loads(add, "libodbcinst.so.2"));
  EXPECT_NE(add.output.find("<strong id=\"case_num\">1000</strong>"), std::string::npos) << add.output;
  EXPECT_EQ(rows("select case_num, submitted_by, category from cases"), "1000^@ann^@Network^$");
}
