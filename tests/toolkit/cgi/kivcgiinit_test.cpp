// The CGI start-up over a fixture home: GET, POST and multipart requests,
// the field limit, the security table with its login, account, logout and
// session-key steps, identity and groups, the refusals, and the Linux
// flavour's differences.
#include <gtest/gtest.h>

#include <unistd.h>

#include "toolkit/cgitest.h"
#include "platform/flavour.h"
#include "toolkit/cgi/kivcgi.h"
#include "toolkit/security/security_steps.h"
#include "toolkit/text/kivcgimisc.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/request/kivexfile.h"
#include "toolkit/request/multipart.h"
#include "toolkit/security/security.h"

using namespace kiv;
using cgitest::Body;
using cgitest::exit_status;
using kivtest::read_file;

namespace {

const char* kStates =
    "FIELDMAXLEN=64\nATTACHMENTMAXLEN=100\nGROUP=usergroup\nvmain=up_main main.html\n"
    "up_find=up_find find.html\nchpass=up_main main.html\nnewuser=up_main main.html\n"
    "fchpass=up_main main.html\nlogout=up_main main.html\n";

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "(unset)";
}

class Startup : public cgitest::HomeTest {
 protected:
  void SetUp() override {
    HomeTest::SetUp();
    set("SCRIPT_NAME", "/cgi-bin/up.exe");
    set("SERVER_NAME", "helpdesk");
  }
  std::string states() const { return path("client/config/admin_states"); }
  void state_lines(const std::string& extra) { write("client/config/admin_states", kStates + extra); }
  // Security on, and a state file that binds the account actions.
  void secure(const std::string& reg = "self", const std::string& auth = "PASSR") {
    state_lines("");
    write("client/config/login_config",
          "up.exe_REG=" + reg + "\nup.exe_AUTH=" + auth + "\nup.exe_AUTHFILE=authusers\n");
  }
  // A GET with this query string; the result, or the exit status.
  std::optional<int> get(const std::string& query) {
    set("REQUEST_METHOD", "GET");
    set("QUERY_STRING", query);
    return run();
  }
  std::optional<int> post(const std::string& body, const std::string& type) {
    set("REQUEST_METHOD", "POST");
    set("CONTENT_TYPE", type);
    set("CONTENT_LENGTH", std::to_string(body.size()));
    Body b(body);
    return run();
  }
  std::optional<int> run() {
    result_ = nullptr;
    reqctx().session_login.clear();
    return exit_status([&] { result_ = unixcgiinit(states()); });
  }
  std::optional<std::string> var(const std::string& name) const {
    return getnodeval(result_, name);
  }
  bool shown(const std::string& text) const { return page().find(text) != std::string::npos; }
  std::string login_and_key(const std::string& login, const std::string& password) {
    post("KIVACTION=vmain&login.VALUE=" + login + "&password.VALUE=" + password,
         "application/x-www-form-urlencoded");
    return env("skey");
  }

  exlist* result_ = nullptr;
};

std::string upload(const std::string& name, const std::string& filename, const std::string& data) {
  return "--B\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" + filename +
         "\"\r\n\r\n" + data + "\r\n";
}

std::string field(const std::string& name, const std::string& value) {
  return "--B\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
}

}  // namespace

TEST_F(Startup, GetLeavesTheListAndTheEnvironment) {
  set("REMOTE_USER", "DOM\\bob");
  EXPECT_EQ(get("KIVACTION=up_find&MENUTRIG=m1&text=a%0D%0Ab&mm_pick=1&mm_pick=2&pick2=&lt=%26%2360;"),
            std::nullopt);
  ASSERT_NE(result_, nullptr);
  EXPECT_EQ(result_, readexdata());
  EXPECT_EQ(page().substr(0, 25), "Content-type: text/html\n\n");
  EXPECT_EQ(env("KIVTRACE_FILE"), home() + "/debug.txt");
  EXPECT_EQ(env("KIVACTION"), "up_find");
  EXPECT_EQ(env("MENUTRIG"), "m1");
  const std::string date = env("DATE");  // asctime: "Wed Jun 30 21:49:08 1993\n"
  ASSERT_EQ(date.size(), 25u) << date;
  EXPECT_EQ(date[3], ' ');
  EXPECT_EQ(date[13], ':');
  EXPECT_EQ(date[16], ':');
  EXPECT_EQ(date.back(), '\n');
  EXPECT_EQ(env("REMOTE_USER"), "bob");
  std::vector<std::string> names;
  for (const exdata& n : result_->nodes) names.push_back(n.name);
  EXPECT_EQ(names, (std::vector<std::string>{"FIELDMAXLEN", "ATTACHMENTMAXLEN", "GROUP", "vmain",
                                             "vtasks", "up_find", "KIVACTION", "MENUTRIG", "text",
                                             "pick", "pick2", "lt", "usergroup.VALUE"}));
  EXPECT_EQ(var("text"), "a\nb");
  EXPECT_EQ(var("pick"), "1,2");
  EXPECT_EQ(var("lt"), "<");
  EXPECT_EQ(var("usergroup.VALUE"), "admins,staff");
  EXPECT_EQ(reqctx().logindir, home() + "/login");
  EXPECT_EQ(reqctx().attachmentmaxlen, 100);
  EXPECT_EQ(reqctx().tkesecflag, 0);
}

TEST_F(Startup, PostAndMultipart) {
  EXPECT_EQ(post("kivaction=up_find&note=x+y", "application/x-www-form-urlencoded"), std::nullopt);
  EXPECT_EQ(env("KIVACTION"), "up_find");
  EXPECT_EQ(var("note"), "x y");
  clear_output();
  EXPECT_EQ(post(field("KIVACTION", "up_find") + upload("attach1.VALUE", "C:\\a b.txt", "DATA") +
                     field("attach1desc", std::string(100, 'd')) + "--B--\r\n",
                 "multipart/form-data; boundary=B"),
            std::nullopt)
      << page();
  const std::string saved = path("tmp/attach1." + std::to_string(getpid()));
  EXPECT_EQ(var("attach1filename.VALUE"), "a_b.txt");
  EXPECT_EQ(var("attach1.VALUE"), saved);
  // Fields named attach... are held to ATTACHMENTMAXLEN (100), not to FIELDMAXLEN (64).
  EXPECT_EQ(var("attach1desc").value_or("").size(), 100u);
  EXPECT_EQ(read_file(saved), "DATA");
  EXPECT_TRUE(is_saved_upload(saved));
}

TEST_F(Startup, FieldLimit) {
  EXPECT_EQ(get("KIVACTION=up_find&f=" + std::string(64, 'x')), std::nullopt);
  EXPECT_EQ(get("KIVACTION=up_find&big=" + std::string(65, 'x')), 0);
  for (const char* line : {"Data size per field exceeded\n", "Please reduce the amount of data and try again.\n",
                           "Variable Name=big  Data Size=65", "Maximum field size is 64 bytes"})
    EXPECT_TRUE(shown(line)) << line;
  // An attachment typed into the form is held to the limit of an uploaded
  // file, with the same messages.
  clear_output();
  EXPECT_EQ(get("KIVACTION=up_find&attach1.VALUE=" + std::string(101, 'x')), 0);
  for (const char* line : {"Data size per field exceeded\n", "Variable Name=attach1.VALUE  Data Size=101",
                           "Maximum field size is 100 bytes"})
    EXPECT_TRUE(shown(line)) << line;
  state_lines("FIELDMAXLEN=0\n");
  clear_output();
  EXPECT_EQ(get("KIVACTION=up_find"), 0);
  EXPECT_TRUE(shown("FIELDMAXLEN value can't be negative or zero. FIELDMAXLEN= 0 bytes"));
  state_lines("FIELDMAXLEN=-1\n");
  clear_output();
  EXPECT_EQ(get("KIVACTION=up_find&big=" + std::string(5000, 'x')), std::nullopt);
  EXPECT_TRUE(shown("FIELDMAXLEN= -1 bytes"));
}

TEST_F(Startup, RefusedRequestsLeaveNoUploads) {
  const std::string saved = path("tmp/f." + std::to_string(getpid()));
  EXPECT_EQ(post(upload("f", "a", "1") + field("x", std::string(65, 'x')) + field("KIVACTION", "up_find") +
                     "--B--\r\n",
                 "multipart/form-data; boundary=B"),
            0);
  EXPECT_FALSE(cgitest::fs::exists(saved));
  EXPECT_EQ(post(upload("f", "a", "1") + "--B--\r\n", "multipart/form-data; boundary=B"), 1);
  EXPECT_TRUE(shown("Illogical condition NO KIVACTION is defined"));
  EXPECT_FALSE(cgitest::fs::exists(saved));
  EXPECT_TRUE(reqctx().uploads.empty());
}

TEST_F(Startup, RefusalsBeforeTheForm) {
  set("REQUEST_METHOD", "PUT");
  EXPECT_EQ(run(), std::nullopt);
  EXPECT_EQ(result_, nullptr);
  EXPECT_TRUE(shown("Method is not supported 'PUT'.\n"));
  set("REQUEST_METHOD", "HEAD");
  clear_output();
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(errors(), "No CONTENT_LENGTH\n");
  EXPECT_EQ(exit_status([] { EXPECT_EQ(unixcgiinit(""), nullptr); }), std::nullopt);
  EXPECT_TRUE(shown("No States File\n"));
  clear_output();
  EXPECT_EQ(exit_status([&] { unixcgiinit(path("client/config/missing")); }), 1);
  // A page never shows where the home lies: it stands as NVHOME.
  EXPECT_TRUE(shown("The program is looking for the software in 'NVHOME' but it can't find it."));
  EXPECT_TRUE(shown("Cannot open file:NVHOME/client/config/missing errno=2\n"));
  EXPECT_FALSE(shown(home())) << page();
  clear_output();
  std::string notdir = states() + "/x";
  EXPECT_EQ(exit_status([&] { EXPECT_EQ(unixcgiinit(notdir), nullptr); }), std::nullopt);
  EXPECT_TRUE(shown("Cannot open file:NVHOME" + notdir.substr(home().size()) + " errno=20\n"));
  set("NVHOME", "");
  reqctx().nvhome.clear();
  EXPECT_EQ(exit_status([&] { unixcgiinit(states()); }), 1);
  EXPECT_TRUE(shown("NVHOME is undefined\n"));
}

TEST_F(Startup, TheFormCannotConfigureTheRequest) {
  set("REMOTE_USER", "nobody");
  EXPECT_EQ(get("KIVACTION=up_find&logindir=/etc&GROUP=other&nv_remote_user=admin&"
                "usergroup.VALUE=admins&mm_usergroup.VALUE=x&up_find=/bin/sh"),
            std::nullopt);
  EXPECT_EQ(reqctx().logindir, home() + "/login");
  EXPECT_EQ(getstateval(result_, "up_find"), "up_find find.html");
  EXPECT_EQ(getstateval(result_, "GROUP"), "usergroup");
  EXPECT_EQ(var("nv_remote_user"), std::nullopt);
  EXPECT_EQ(var("usergroup.VALUE"), std::nullopt);
  EXPECT_EQ(env("REMOTE_USER"), "nobody");
  EXPECT_EQ(errors(), "User 'nobody' does not exist in groups\n");
  state_lines("logindir=" + home() + "/other\nlogindir.VALUE=" + home() + "/logins\n");
  EXPECT_EQ(get("KIVACTION=up_find"), std::nullopt);
  EXPECT_EQ(reqctx().logindir, home() + "/logins");
}

TEST_F(Startup, SecurityTable) {
  secure("self", "none");
  struct Case {
    const char* action;
    bool bound;  // by the state file
    const char* trace;
  } cases[] = {
      {"xvmainx", true, "DEBUG: KIVACTION1='xvmainx'"},
      {"CHPASS", true, "DEBUG1: KIVACTION1='CHPASS'"},
      {"newuser_form", true, "DEBUG2: KIVACTION1='newuser_form'"},
      {"Newuser", true, "DEBUG4: KIVACTION1='Newuser'"},
      {"fchpass2", true, "DEBUG2: KIVACTION1='fchpass2'"},
      {"LogOut", true, "DEBUG3: KIVACTION1=logout"},
      {"expired_login", true, "DEBUG3: KIVACTION1='expired_login'"},
      {"VChangePassword", true, "DEBUG3: KIVACTION1='VChangePassword'"},
      {"VTASKS_today", true, "DEBUG5: KIVACTION1='VTASKS_today'"},
      {"vnewaccount", true, "DEBUG3: KIVACTION1='vnewaccount'"},
      {"up_find", true, "DEBUG4: KIVACTION1='up_find'"},
      // The account steps run only for an action the state file binds; the
      // dispatcher refuses the others afterwards.
      {"vmain2", false, "DEBUG3: KIVACTION1='vmain2'"},
      {"chPass", false, "DEBUG3: KIVACTION1='chPass'"},
      {"newuser1", false, "DEBUG3: KIVACTION1='newuser1'"},
      {"fchpass1", false, "DEBUG3: KIVACTION1='fchpass1'"},
      {"Logout", false, "DEBUG3: KIVACTION1='Logout'"},
  };
  std::string lines = "KIVDEBUG=1\n";
  for (const Case& c : cases)
    if (c.bound && std::string(c.action) != "up_find") lines += std::string(c.action) + "=up_main main.html\n";
  state_lines(lines);
  for (const Case& c : cases) {
    clear_output();
    get(std::string("KIVACTION=") + c.action);
    EXPECT_TRUE(shown(c.trace)) << c.action << "\n" << page();
  }
}

TEST_F(Startup, LoginSessionAndLogout) {
  secure();
  ASSERT_EQ(createloginfile("ann", "right1"), 0);
  reqctx().nvhome.clear();
  // A wrong password, and no login name at all.
  EXPECT_EQ(post("KIVACTION=vmain&login.VALUE=ann&password.VALUE=wrong", "application/x-www-form-urlencoded"), 1);
  EXPECT_TRUE(shown("Invalid login or password.\n"));
  EXPECT_TRUE(shown("Security check failed\n"));
  EXPECT_EQ(get("KIVACTION=vmain"), 0);
  EXPECT_TRUE(shown("Security violation\n"));
  EXPECT_TRUE(shown("No login.VALUE variable exists!\n"));
  // The login: a new key bound to ann.
  EXPECT_EQ(post("KIVACTION=vmain&login=ann&password.VALUE=right1&nv_remote_user=mallory",
                 "application/x-www-form-urlencoded"),
            std::nullopt);
  const std::string key = env("skey");
  EXPECT_TRUE(skey_shape(key));
  EXPECT_EQ(env("login"), "ann");
  EXPECT_EQ(var("nv_remote_user"), "ann");
  EXPECT_EQ(env("REMOTE_USER"), "ann");
  EXPECT_EQ(read_file(path("session/" + key)), "ann\n");
  // A later request: the key's login, whatever the form says.
  set("REMOTE_USER", "");
  EXPECT_EQ(get("KIVACTION=up_find&skey=" + key + "&nv_remote_user=mallory"), std::nullopt);
  EXPECT_EQ(var("nv_remote_user"), "ann");
  EXPECT_EQ(env("REMOTE_USER"), "ann");
  EXPECT_EQ(reqctx().skey, key);
  // Forged and missing keys.
  for (std::string bad : {std::string(kFixedSkey), std::string("NOKEY"), key.substr(0, 19) + "x"}) {
    clear_output();
    EXPECT_EQ(get("KIVACTION=up_find&skey=" + bad), 1) << bad;
    EXPECT_TRUE(shown("This operation encountered an error.\nThis could be due to incomplete loading of the "
                      "previous page.\nPlease click on the browser back button and allow the page to "
                      "completely load.\n"));
  }
  // Logout: the key is dead from then on.
  EXPECT_EQ(get("KIVACTION=logout&skey=" + key), std::nullopt);
  EXPECT_TRUE(exists("logout/" + key));
  clear_output();
  EXPECT_EQ(get("KIVACTION=up_find&skey=" + key), 1);
  EXPECT_TRUE(shown("Your account has been logged out of the system.\n"));
  EXPECT_NE(login_and_key("ann", "right1"), key);
}

TEST_F(Startup, LogoutNamesOnlyMarkersOfRealKeys) {
  secure();
  const std::string before = read_file(states());
  for (const char* bad : {"../client/config/admin_states", "NOKEY", "472019385561027384"}) {
    EXPECT_EQ(get(std::string("KIVACTION=logout&skey=") + bad), std::nullopt) << bad;
    EXPECT_EQ(reqctx().skey, bad == std::string("472019385561027384") ? bad : "NOKEY");
  }
  EXPECT_EQ(read_file(states()), before);
  EXPECT_TRUE(cgitest::fs::is_empty(path("logout")));
  // A marker that cannot be made ends the request.
  ASSERT_EQ(createloginfile("ann", "right1"), 0);
  const std::string key = login_and_key("ann", "right1");
  cgitest::fs::remove_all(path("logout"));
  EXPECT_EQ(get("KIVACTION=logout&skey=" + key), -1);
  EXPECT_EQ(errors(), "Cannot open logout file " + path("logout/" + key) + "\n");
}

// A key expires once it was not used for the idle time (8 hours, or
// session_idle_minutes of login_config), counted from its last use, on the
// sessions' clock; an expired key is refused as a logged-out one is.
TEST_F(Startup, KeysExpireWhenLeftUnused) {
  secure();
  ASSERT_EQ(createloginfile("ann", "right1"), 0);
  const std::time_t t0 = 1700000000;
  struct Case {
    std::string config;            // added to login_config
    std::vector<long> uses;        // seconds after the login of each request, in order
    std::vector<int> results;      // what each gives: 0 passes, 1 refused
  } cases[] = {
      {"", {8 * 3600 - 1, 16 * 3600 - 2, 24 * 3600}, {0, 0, 1}},
      {"session_idle_minutes=30\n", {29 * 60, 29 * 60 + 30 * 60 + 1}, {0, 1}},
      // Nothing but a positive number of minutes sets it.
      {"SESSION_IDLE_MINUTES = 0\n", {7 * 3600, 15 * 3600 + 1}, {0, 1}},
      {"session_idle_minutes=ten\n", {8 * 3600 + 1}, {1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.config);
    write("client/config/login_config", "up.exe_REG=self\nup.exe_AUTH=PASSR\n" + c.config);
    sessionclock().now = t0;
    const std::string key = login_and_key("ann", "right1");
    ASSERT_TRUE(skey_shape(key));
    for (size_t i = 0; i < c.uses.size(); ++i) {
      sessionclock().now = t0 + c.uses[i];
      clear_output();
      const std::optional<int> r = get("KIVACTION=up_find&skey=" + key);
      EXPECT_EQ(r.value_or(0), c.results[i]) << "use " << i;
      if (c.results[i] != 0) {
        EXPECT_TRUE(shown("Your account has been logged out of the system.\n")) << page();
      }
    }
  }
}

// A password change and a sign-out end every other key of the login (on
// another machine, or one that was stolen): only the key the change gives
// stays valid; other logins' keys are untouched.
TEST_F(Startup, PasswordChangeAndSignOutEndTheLoginsOtherKeys) {
  secure();
  ASSERT_EQ(createloginfile("ann", "right1"), 0);
  ASSERT_EQ(createloginfile("bob", "right2"), 0);
  const std::string form = "application/x-www-form-urlencoded";
  auto passes = [&](const std::string& key) {
    clear_output();
    return get("KIVACTION=up_find&skey=" + key) == std::nullopt;
  };
  const std::string office = login_and_key("ann", "right1"), home = login_and_key("ann", "right1");
  const std::string bobs = login_and_key("bob", "right2");
  ASSERT_TRUE(passes(office) && passes(home) && passes(bobs));
  ASSERT_EQ(post("KIVACTION=chpass&login.VALUE=ann&password=new2pw&confirmpass.VALUE=new2pw&"
                 "oldpassword.VALUE=right1&skey=" + home, form),
            std::nullopt);
  const std::string changed = env("skey");
  EXPECT_FALSE(passes(office));
  EXPECT_TRUE(shown("Your account has been logged out of the system.\n"));
  EXPECT_FALSE(passes(home));
  EXPECT_TRUE(passes(changed));
  EXPECT_TRUE(passes(bobs));
  // Ann signs in on a second machine, then out on the first: both end.
  const std::string second = login_and_key("ann", "new2pw");
  EXPECT_EQ(get("KIVACTION=logout&skey=" + changed), std::nullopt);
  EXPECT_FALSE(passes(changed));
  EXPECT_FALSE(passes(second));
  EXPECT_TRUE(passes(bobs));
  // A new sign-in is not touched by the old ends.
  EXPECT_TRUE(passes(login_and_key("ann", "new2pw")));
}

TEST_F(Startup, PasswordChangeAndNewAccounts) {
  secure();
  ASSERT_EQ(createloginfile("ann", "right1"), 0);
  const std::string form = "application/x-www-form-urlencoded";
  EXPECT_EQ(post("KIVACTION=chpass&login.VALUE=ann&password=new2pw&confirmpass.VALUE=new2pw&"
                 "oldpassword.VALUE=wrong", form),
            0);
  EXPECT_TRUE(shown("Can't change account\n"));
  EXPECT_EQ(post("KIVACTION=chpass&login.VALUE=ann&password=new2pw&confirmpass.VALUE=new2pw&"
                 "oldpassword.VALUE=right1", form),
            std::nullopt);
  EXPECT_EQ(var("nv_remote_user"), "ann");
  EXPECT_EQ(session_login(env("skey")), "ann");
  EXPECT_EQ(comparepassword({"ann", "new2pw"}), 0);
  EXPECT_EQ(post("KIVACTION=newuser&login=bob&password=pw1&confirmpass.VALUE=pw1", form), std::nullopt);
  EXPECT_EQ(session_login(env("skey")), "bob");
  EXPECT_EQ(post("KIVACTION=newuser&login=bob&password=pw2&confirmpass.VALUE=pw2", form), 0);
  EXPECT_TRUE(shown("Can't create new account\n"));
  // A forced new account may not take over an account without its password.
  EXPECT_EQ(post("KIVACTION=fchpass&login=ann&password=mine1&confirmpass.VALUE=mine1", form), 0);
  EXPECT_TRUE(shown("Can't fchpass new account\n"));
  EXPECT_EQ(comparepassword({"ann", "new2pw"}), 0);
  EXPECT_EQ(post("KIVACTION=fchpass&login=ann&password=mine1&confirmpass.VALUE=mine1&"
                 "oldpassword.VALUE=new2pw", form),
            std::nullopt);
  EXPECT_EQ(comparepassword({"ann", "mine1"}), 0);
}

TEST_F(Startup, NoAccountsOutsideTheRegistrationAndTheBoundActions) {
  const std::string form = "application/x-www-form-urlencoded";
  const std::string mallory = "login.VALUE=mallory&password.VALUE=pw1pw1&confirmpass.VALUE=pw1pw1";
  write("client/config/authusers", "ann\n");
  // System registration: a login the authorisation file does not name gets
  // no account and no session.
  secure("SYSTEM", "PASSR");
  EXPECT_EQ(post("KIVACTION=newuser&" + mallory, form), 0);
  EXPECT_TRUE(shown("Your login 'mallory' is not registerd in the system.\n"));
  EXPECT_TRUE(shown("Can't create new account\n"));
  EXPECT_FALSE(exists("login/mallory"));
  EXPECT_TRUE(cgitest::fs::is_empty(path("session")));
  // Self-registration, but actions the state file does not bind: no
  // account step runs (the dispatcher refuses the action afterwards).
  secure("self", "none");
  for (const char* action : {"newuser1", "fchpass1", "vmainx", "chPass"}) {
    ASSERT_EQ(post(std::string("KIVACTION=") + action + "&" + mallory + "&oldpassword.VALUE=x", form),
              std::nullopt) << action;
    EXPECT_EQ(var("nv_remote_user"), std::nullopt) << action;
  }
  EXPECT_FALSE(exists("login/mallory"));
  EXPECT_TRUE(cgitest::fs::is_empty(path("session")));
  // A logout that the state file does not bind leaves the key alive.
  ASSERT_EQ(createloginfile("ann", "right1"), 0);
  const std::string key = login_and_key("ann", "right1");
  EXPECT_EQ(get("KIVACTION=Logout&skey=" + key), std::nullopt);
  EXPECT_FALSE(exists("logout/" + key));
  // Under system registration the forced new account is held to the
  // registration too: an unlisted login gets nothing, a listed one its
  // account.
  secure("SYSTEM", "PASSR");
  write("client/config/authusers", "ann\nBea\n");
  clear_output();
  EXPECT_EQ(post("KIVACTION=fchpass&" + mallory, form), 0);
  EXPECT_TRUE(shown("Your login 'mallory' is not registerd in the system.\n"));
  EXPECT_TRUE(shown("Can't fchpass new account\n"));
  EXPECT_FALSE(exists("login/mallory"));
  EXPECT_EQ(post("KIVACTION=fchpass&login.VALUE=bea&password.VALUE=pw1pw1&confirmpass.VALUE=pw1pw1", form),
            std::nullopt);
  EXPECT_EQ(session_login(env("skey")), "bea");
  EXPECT_EQ(comparepassword({"bea", "pw1pw1"}), 0);
}

TEST_F(Startup, CustomSecurityIsChosenByTheStateFile) {
  secure();
  state_lines("CUSTOM_SECURITY=1\n");
  ASSERT_EQ(createloginfile("ann", "right1"), 0);
  EXPECT_EQ(post("KIVACTION=vmain&login=ann&password=bad", "application/x-www-form-urlencoded"), 1);
  EXPECT_EQ(read_file(path("login/ann.attempts")), "1\n");
  // Custom security registers itself: login_config's system registration
  // is the plain security's.
  write("client/config/authusers", "ann\n");
  write("client/config/login_config", "up.exe_REG=SYSTEM\nup.exe_AUTH=PASSR\nup.exe_AUTHFILE=authusers\n");
  EXPECT_EQ(post("KIVACTION=newuser&login=dave&password=dave12&confirmpass.VALUE=dave12",
                 "application/x-www-form-urlencoded"),
            std::nullopt);
  EXPECT_EQ(session_login(env("skey")), "dave");
}

TEST_F(Startup, ANewKeyWithoutItsSessionRecordEndsTheRequest) {
  // The key of a login is useless without its record: the request ends, in
  // both flavours, and keeps none of its uploads.
  secure();
  ASSERT_EQ(createloginfile("ann", "right1"), 0);
  cgitest::fs::remove_all(path("session"));
  write("session", "not a folder");
  const std::string body = field("KIVACTION", "vmain") + field("login", "ann") + field("password", "right1") +
                           upload("attach1.VALUE", "a.txt", "DATA") + "--B--\r\n";
  for (Platform p : {Platform::windows, Platform::linux}) {
    set_platform(p);
    set("PROG_STATES", states());
    clear_output();
    EXPECT_EQ(post(body, "multipart/form-data; boundary=B"), 1);
    EXPECT_TRUE(shown("Cannot open file '")) << page();
    EXPECT_TRUE(reqctx().uploads.empty());
    EXPECT_FALSE(exists("tmp/attach1." + std::to_string(getpid())));
  }
}

TEST_F(Startup, TraceNeverShowsPasswords) {
  secure();
  state_lines("KIVDEBUG=1\n");
  ASSERT_EQ(createloginfile("ann", "sesame9"), 0);
  get("KIVACTION=vmain&login=ann&password=sesame9");
  EXPECT_TRUE(shown("DEBUG: login='ann' passwd='*****'"));
  EXPECT_TRUE(shown("V-NAME='password' \tV-VALUE='*****'"));
  EXPECT_EQ(page().find("sesame9"), std::string::npos);
  EXPECT_EQ(read_file(path("debug.txt")).find("sesame9"), std::string::npos);
}

TEST_F(Startup, GroupsAndHelpers) {
  const std::string groups = path("client/config/usergroups");
  EXPECT_EQ(getusergrp(groups, "bob"), "admins,staff");
  EXPECT_EQ(getusergrp(groups, "carl"), "staff");
  EXPECT_EQ(getusergrp(groups, "Bob"), std::nullopt);
  std::string many;
  for (int i = 0; i < 600; ++i) many += "user" + std::to_string(i) + ",";
  write("big", "g1:" + many + "zed\r\ng2:zed\r\n");
  EXPECT_EQ(getusergrp(path("big"), "zed"), "g1,g2");
  EXPECT_EQ(getusergrp(path("none"), "zed"), std::nullopt);
  EXPECT_EQ(errors(), "Cannot open group file " + path("none") + "\n");
  EXPECT_EQ(filtertwolines("a\r\nb\rc\r"), "a\nb\rc\r");
  EXPECT_EQ(filtertwolines(""), "");
  EXPECT_EQ(statloginfile(groups), 0);
  EXPECT_NE(statloginfile(path("none")), 0);
  set("REMOTE_USER", "DOM\\ann/x");
  fixremoteuser();
  EXPECT_EQ(getuserlogin(), "ann");  // published with the request's variables
  EXPECT_EQ(env("REMOTE_USER"), "DOM\\ann/x");
}

// ---- the Linux flavour ----

TEST_F(Startup, LinuxFlavour) {
  set_platform(Platform::linux);
  set("PROG_STATES", states());
  set("KIVDEBUG", "0");
  set("REQUEST_METHOD", "GET");
  set("QUERY_STRING", "KIVACTION=up_find");
  EXPECT_EQ(exit_status([&] { result_ = unixcgiinit("ignored"); }), std::nullopt);
  ASSERT_NE(result_, nullptr);
  EXPECT_EQ(page().find("Content-type"), std::string::npos);
  EXPECT_EQ(env("KIVTRACE_FILE"), "(unset)");
  EXPECT_TRUE(shown("USER is not specified in the state file\n"));  // traced: KIVDEBUG is set
  set("REQUEST_METHOD", "DELETE");
  EXPECT_EQ(run(), 0);
  EXPECT_TRUE(shown("Method is not supported 'DELETE'.\n"));
  set("PROG_STATES", states() + "/x");
  EXPECT_EQ(run(), 1);
}

TEST_F(Startup, LinuxAccountStepAlwaysSetsTheIdentity) {
  set_platform(Platform::linux);
  set("PROG_STATES", states());
  secure();
  state_lines("nv_remote_user=fromstate\n");
  post("KIVACTION=newuser&login=bob&password=pw1&confirmpass.VALUE=pw1", "application/x-www-form-urlencoded");
  EXPECT_EQ(var("nv_remote_user"), "bob");
  set_platform(Platform::windows);
  post("KIVACTION=newuser&login=carl&password=pw1&confirmpass.VALUE=pw1", "application/x-www-form-urlencoded");
  EXPECT_EQ(var("nv_remote_user"), "fromstate");
  EXPECT_EQ(session_login(env("skey")), "carl");
}

TEST_F(Startup, LinuxSetuserSwitchesToTheStateFilesUser) {
  set_platform(Platform::linux);
  state_lines("USER=65534\n");
  set("PROG_STATES", states());
  set("REQUEST_METHOD", "GET");
  set("QUERY_STRING", "KIVACTION=up_find&USER=0");
  if (getuid() == 0) {
    // A multipart request whose upload the user's command must be able to
    // read; the exit status says which check failed.
    const std::string body = field("KIVACTION", "up_find") + field("USER", "0") +
                             upload("attach1.VALUE", "a.txt", "DATA") + "--B--\r\n";
    EXPECT_EXIT(
        {
          cgitest::fs::permissions(home(), cgitest::fs::perms::others_exec,
                                   cgitest::fs::perm_options::add);
          set("REQUEST_METHOD", "POST");
          set("CONTENT_TYPE", "multipart/form-data; boundary=B");
          set("CONTENT_LENGTH", std::to_string(body.size()));
          Body b(body);
          unixcgiinit("");
          // Nothing of root's is left: user, group and supplementary groups.
          gid_t groups[64];
          int n = getgroups(64, groups);
          bool root_group = getgid() == 0;
          for (int i = 0; i < n; ++i) root_group = root_group || groups[i] == 0;
          bool readable = read_file(path("tmp/attach1." + std::to_string(getpid()))) == "DATA";
          _exit(getuid() != 65534 ? 3 : root_group ? 4 : !readable ? 5 : 0);
        },
        ::testing::ExitedWithCode(0), "");
  } else {
    EXPECT_EQ(run(), 1);
    EXPECT_TRUE(shown("Failed to setuid to id='65534'. errno=1\n"));
    EXPECT_TRUE(shown("can't set user"));
  }
  // A USER that is no decimal id is refused, never read as id 0.
  for (const char* bad : {"nobody", "12x", "4294967295"}) {
    state_lines(std::string("USER=") + bad + "\n");
    clear_output();
    EXPECT_EQ(run(), 1) << bad;
    EXPECT_TRUE(shown("Failed to setuid to id='")) << bad;
    EXPECT_TRUE(shown("'. errno=22\n")) << bad;
    EXPECT_TRUE(shown("can't set user")) << bad;
  }
}
