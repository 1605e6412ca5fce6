// The front program upcgi as a process, over a state file whose actions name
// small system programs: the stream the command gets (cat gives it back),
// a list larger than any pipe, a command that reads nothing, a page that
// reaches the web server while the command still writes it, the command's
// words, a program that is not there, the actions that are refused, the
// identity the command runs under, and a set-user-ID front that takes
// nothing from its environment. Every answer has one content-type line.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>

#include "linux/unixcgi.h"
#include "linuxtest.h"
#include "platform/process.h"
#include "support/services.h"
#include "support/testsupport.h"
#include "toolkit/base/kivcontext.h"

using namespace kiv;
using namespace linuxtest;

namespace {

constexpr const char* kHeader = "Content-type: text/html\n\n";

const char* const kActions =
    "echo=cat\n"
    "quiet=true\n"
    "words=printf [%s] a  b\n"
    "missing=no-such-program x\n"
    "nineteen=printf %s 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19\n"
    "twenty=printf %s 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19\n"
    "GROUP=true\n"
    "bc_printer_port.VALUE=cat\n";

std::vector<Rec> action_records() {
  return {{"echo", "cat", 1},
          {"quiet", "true", 1},
          {"words", "printf [%s] a b", 1},  // the state file folds runs of blanks
          {"missing", "no-such-program x", 1},
          {"nineteen", "printf %s 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19", 1},
          {"twenty", "printf %s 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19", 1},
          {"GROUP", "true", 1},
          {"bc_printer_port.VALUE", "cat", 1}};
}

class Upcgi : public kivtest::KivTest {
 protected:
  void SetUp() override {
    KivTest::SetUp();
    user = home.run_as_user();
    home.state_lines(kActions);
  }
  // The records of the state file's lines.
  std::vector<Rec> state_records() const {
    std::vector<Rec> want = fixture_state();
    want.insert(want.end(), user.begin(), user.end());
    for (const Rec& a : action_records()) want.push_back(a);
    return want;
  }
  Home home;
  std::vector<Rec> user;
};

// Starts upcgi with its standard output on `page`; its process id.
pid_t spawn_upcgi(std::vector<std::string> env, int page) {
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string prog = kUpcgi;
  char* argv[] = {prog.data(), nullptr};
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, page, 1);
  pid_t pid = -1;
  if (posix_spawn(&pid, prog.c_str(), &fa, nullptr, argv, envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

// Reads the page from `fd` until it holds `part` (or its end, or the time
// is up); false when it does not.
bool read_until(int fd, std::string& page, const std::string& part, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!has(page, part)) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    char buf[4096];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) return false;
    page.append(buf, static_cast<size_t>(n));
  }
  return true;
}

TEST_F(Upcgi, CatGivesTheStreamBack) {
  process::Result r = upcgi_get(home, "KIVACTION=echo&note.VALUE=%26%2338%3B%2360%3B&empty=");
  ASSERT_TRUE(r.ok()) << r.errors;
  std::vector<Rec> want = state_records();
  // The form's entries after the state file's; "&#38;#60;" decoded once.
  want.push_back({"KIVACTION", "echo", 0});
  want.push_back({"note.VALUE", "&#60;", 0});
  want.push_back({"empty", "", 0});
  EXPECT_EQ(r.output, kHeader + records(want));
}

TEST_F(Upcgi, ListLargerThanAPipeNeitherSideWaits) {
  const std::string big(1024 * 1024, 'x');
  for (const char* action : {"echo", "quiet"}) {
    process::Result r = upcgi_post(home, std::string("KIVACTION=") + action + "&attach1.VALUE=" + big);
    EXPECT_TRUE(r.ok()) << action << ": " << r.errors;
    EXPECT_EQ(r.signal, 0) << action;
    if (std::string(action) == "quiet") {
      EXPECT_EQ(r.output, kHeader);
    } else {
      std::vector<Rec> want = state_records();
      want.push_back({"KIVACTION", "echo", 0});
      want.push_back({"attach1.VALUE", big, 0});
      EXPECT_TRUE(r.output == kHeader + records(want)) << "got " << r.output.size() << " bytes";
    }
  }
}

// The page reaches the web server as the command writes it: its first part
// arrives while the command still waits to write the rest, so the front
// holds nothing back (and a command that never ends fills nothing).
TEST_F(Upcgi, PageArrivesWhileTheCommandStillWritesIt) {
  const std::string script = home.write(
      "client/bin/twoparts",
      "#!/bin/sh\nprintf first\nwhile [ ! -e \"$NVHOME/tmp/go\" ]; do sleep 0.05; done\nprintf second\n");
  ::chmod(script.c_str(), 0755);
  home.state_lines("parts=" + script + "\n");
  int page[2];
  ASSERT_EQ(::pipe2(page, O_CLOEXEC), 0);
  std::vector<std::string> env = cgi_env(home);
  env.push_back("QUERY_STRING=KIVACTION=parts");
  const pid_t pid = spawn_upcgi(env, page[1]);
  ::close(page[1]);
  ASSERT_GT(pid, 0);
  std::string got;
  const bool early = read_until(page[0], got, "first", std::chrono::seconds(10));
  home.write("tmp/go", "");
  read_until(page[0], got, "second", std::chrono::seconds(20));
  ::close(page[0]);
  int st = 0;
  ASSERT_EQ(::waitpid(pid, &st, 0), pid);
  EXPECT_TRUE(early) << "the page came only after the command ended: " << got;
  EXPECT_EQ(got, std::string(kHeader) + "firstsecond");
  EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << "wait status " << st;
}

// A web server that has gone before the page: the command still does its
// work to the end, and the front ends by itself, not by SIGPIPE.
TEST_F(Upcgi, CommandFinishesWhenTheWebServerHasGone) {
  const std::string script = home.write("client/bin/bigpage",
                                        "#!/bin/sh\nhead -c 1000000 /dev/zero\ntouch \"$NVHOME/tmp/done\"\n");
  ::chmod(script.c_str(), 0755);
  home.state_lines("big=" + script + "\n");
  int page[2];
  ASSERT_EQ(::pipe(page), 0);
  ::close(page[0]);  // nobody reads the page
  std::vector<std::string> env = cgi_env(home);
  env.push_back("QUERY_STRING=KIVACTION=big");
  env.push_back("KIVDEBUG=1");  // the trace writes the page before the command starts
  const pid_t pid = spawn_upcgi(env, page[1]);
  ::close(page[1]);
  ASSERT_GT(pid, 0);
  int st = 0;
  ASSERT_EQ(::waitpid(pid, &st, 0), pid);
  EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << "wait status " << st;
  EXPECT_TRUE(fs::exists(home.path("tmp/done")));
}

TEST_F(Upcgi, UploadsTheCommandLeftAreRemovedAtTheEnd) {
  const std::string body =
      "--B\r\nContent-Disposition: form-data; name=\"KIVACTION\"\r\n\r\necho\r\n"
      "--B\r\nContent-Disposition: form-data; name=\"attach1.VALUE\"; filename=\"a.txt\"\r\n"
      "Content-Type: text/plain\r\n\r\nDATA\r\n--B--\r\n";
  process::Result r = upcgi_post(home, body, "multipart/form-data; boundary=B");
  ASSERT_TRUE(r.ok()) << r.errors;
  EXPECT_TRUE(has(r.output, "attach1.VALUE")) << r.output;
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(home.path("tmp")))
    if (e.path().filename() != ".keep") left.push_back(e.path().filename().string());
  EXPECT_TRUE(left.empty()) << left.front();
}

TEST_F(Upcgi, CommandWordsAndRefusals) {
  // Under root the commands run as the state file's user; the refusal of
  // the action USER is then the one of a name that is bound.
  struct Case {
    std::string query;
    int status;
    std::string output;  // after the header
    std::string errors;  // part of standard error
  } cases[] = {
      {"KIVACTION=words", 0, "[a][b]", ""},
      {"KIVACTION=nineteen", 0, "345678910111213141516171819", ""},
      {"KIVACTION=missing", 0, "", "Can't execute no-such-program errno=2\n"},
      {"KIVACTION=twenty", 1, "", "more than 19 words"},
      {"KIVACTION=nothing", 255, "No command for action 'nothing'\n", ""},
      {"KIVACTION=formonly&formonly=cat", 255, "No command for action 'formonly'\n", ""},
      {"KIVACTION=GROUP", 255, "No command for action 'GROUP'\n", ""},
      {"KIVACTION=USER", 255, "No command for action 'USER'\n", ""},
      {"KIVACTION=bc_printer_port.VALUE", 255, "No command for action 'bc_printer_port.VALUE'\n", ""},
      {"KIVACTION=words&words=cat", 0, "[a][b]", ""},
  };
  for (const Case& c : cases) {
    process::Result r = upcgi_get(home, c.query);
    EXPECT_EQ(r.status, c.status) << c.query << "\n" << r.errors;
    EXPECT_EQ(r.output, kHeader + c.output) << c.query;
    EXPECT_TRUE(has(r.errors, c.errors)) << c.query << "\n" << r.errors;
    EXPECT_EQ(count(r.output, "Content-type"), 1) << c.query;
  }
}

// While logins are on no page of the front may be kept by the browser or a
// cache, so that Back after a sign-out shows none: its one header says so,
// before the command's page.
TEST_F(Upcgi, PagesAreNotKeptWhileLoginsAreOn) {
  home.write("client/config/login_config", "upcgi_REG=self\nupcgi_AUTH=NONE\n");
  process::Result r = upcgi_get(home, "KIVACTION=words");
  EXPECT_EQ(r.output, "Content-type: text/html\nCache-Control: no-store\n\n[a][b]") << r.errors;
}

TEST_F(Upcgi, TraceShowsTheCommandAndItsInputsBeforeItsPage) {
  process::Result r = upcgi_get(home, "KIVACTION=words", {"KIVDEBUG=1", "KIVTRACE_FILE=" + home.path("debug.txt")});
  ASSERT_TRUE(r.ok()) << r.errors;
  std::vector<std::string> lines = {
      "EXECUTING cmd='printf [%s] a b  ' error=",
      "setup_pipe OLD cmd='printf [%s] a b  '\n",
      "EXECUTING AFTER SETUP error=",
      "Start Printing ALL INPUTS",
      "variable name=KIVACTION variable value=words\n",
      "Finish Printing ALL INPUTS",
  };
  if (user.empty()) lines.insert(lines.begin(), "USER is not specified in the state file\n");
  size_t at = 0;
  for (const std::string& line : lines) {
    const size_t found = r.output.find(line, at);
    ASSERT_NE(found, std::string::npos) << line << "\n" << r.output;
    at = found;
  }
  EXPECT_TRUE(r.output.ends_with("</PRE>\n[a][b]")) << r.output;
  EXPECT_TRUE(has(kivtest::read_file(home.path("debug.txt")), "Start Printing ALL INPUTS"));
}

TEST_F(Upcgi, UserIdOfTheStateFile) {
  home.state_lines("uid=id -u\ngroups=id -G\n");
  if (::geteuid() == 0) {
    process::Result uid = upcgi_get(home, "KIVACTION=uid");
    EXPECT_EQ(uid.output, std::string(kHeader) + "65534\n") << uid.errors;
    process::Result groups = upcgi_get(home, "KIVACTION=groups");
    ASSERT_TRUE(groups.ok()) << groups.errors;
    const std::string ids = " " + groups.output.substr(std::string(kHeader).size());
    EXPECT_FALSE(has(ids, " 0 ") || has(ids, " 0\n")) << ids;

    // Without USER a front started as root runs nothing at all.
    Home bare;
    bare.state_lines("uid=id -u\n");
    process::Result r = upcgi_get(bare, "KIVACTION=uid");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, std::string(kHeader) + "USER is not specified in the state file\ncan't set user");
  } else {
    // Without USER the command keeps the front's identity.
    process::Result uid = upcgi_get(home, "KIVACTION=uid");
    EXPECT_EQ(uid.output, std::string(kHeader) + std::to_string(::getuid()) + "\n");
  }
  // A USER that is no number names no one, never root.
  home.state_lines("USER=nobody\n");
  process::Result r = upcgi_get(home, "KIVACTION=uid");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, std::string(kHeader) + "Failed to setuid to id='0'. errno=22\ncan't set user");
}

// ---- the set-user-ID front ----

class SecureDecision : public kivtest::KivTest {};

TEST_F(SecureDecision, TakesNothingThatSteersItFromItsEnvironment) {
  kivtest::ScopedEnv states("PROG_STATES", "/tmp/evil/prog_states");
  kivtest::ScopedEnv home("NVHOME", "/tmp/evil");
  kivtest::ScopedEnv debug("KIVDEBUG", "1");
  kivtest::ScopedEnv trace("KIVTRACE_FILE", "/tmp/evil/trace");
  kivtest::ScopedEnv path("PATH", "/tmp/evil/bin:/usr/bin:/bin");

  const kivexec::FrontConfig plain = kivexec::front_config(false);
  EXPECT_FALSE(plain.secure);
  EXPECT_EQ(plain.statefile, "");

  const kivexec::FrontConfig c = kivexec::front_config(true);
  EXPECT_TRUE(c.secure);
  EXPECT_EQ(c.statefile, kivexec::fixed_statefile());
  EXPECT_EQ(c.statefile + "|" + c.home, "/usr/local/norvale/client/config/prog_states|/usr/local/norvale");
  // The caller's choices are gone, and nothing is put in their place to be
  // read back: the state file and the search path are the front's own
  // parameters.
  kivexec::apply_front_config(c);
  for (const char* name : {"PROG_STATES", "NVHOME", "KIVDEBUG", "KIVTRACE_FILE", "PATH"})
    EXPECT_EQ(std::getenv(name), nullptr) << name;
  EXPECT_EQ(reqctx().nvhome, "/usr/local/norvale");
  EXPECT_EQ(reqctx().fixed_statefile, c.statefile);
}

// The command's environment. A secure front passes an allow-list: the
// start-up's own values, the fixed values and the web server's CGI
// variables, and none of what a caller could steer a program with.
TEST_F(SecureDecision, SecureFrontPassesOnlyTheCgiVariablesAndItsOwn) {
  const char* const foreign[] = {"ODBCINI",      "ODBCSYSINI", "KIV_MAPI_LIBRARY", "KIV_REGISTRY_FILE",
                                 "PGPASSFILE",   "PERL5LIB",   "PYTHONPATH",       "NODE_OPTIONS",
                                 "OPENSSL_CONF", "GCONV_PATH", "RES_OPTIONS",      "LD_PRELOAD",
                                 "HTTP_PROXY",   "login",      "TEMPLATE_PATH"};
  std::vector<std::unique_ptr<kivtest::ScopedEnv>> set;
  for (const char* name : foreign) set.push_back(std::make_unique<kivtest::ScopedEnv>(name, "/tmp/evil"));
  kivtest::ScopedEnv action("KIVACTION", "from the caller");
  kivtest::ScopedEnv agent("HTTP_USER_AGENT", "Browser/1.0");
  kivtest::ScopedEnv query("QUERY_STRING", "KIVACTION=label");
  kivtest::ScopedEnv server("SERVER_NAME", "helpdesk");
  kivtest::ScopedEnv user("REMOTE_USER", "webuser");
  reqctx().action = "label";
  reqctx().date = "Mon Jan  1 00:00:00 2024\n";

  const kivexec::FrontConfig c = kivexec::front_config(true);
  const std::vector<std::string> env = kivexec::command_environment(c);
  const std::vector<std::string> want = {
      "KIVACTION=label",
      "DATE=Mon Jan  1 00:00:00 2024\n",
      "NVHOME=/usr/local/norvale",
      "PROG_STATES=/usr/local/norvale/client/config/prog_states",
      "PATH=/usr/local/bin:/usr/bin:/bin",
  };
  ASSERT_GE(env.size(), want.size());
  EXPECT_EQ(std::vector<std::string>(env.begin(), env.begin() + static_cast<long>(want.size())), want);
  std::set<std::string> rest(env.begin() + static_cast<long>(want.size()), env.end());
  for (const char* e : {"HTTP_USER_AGENT=Browser/1.0", "QUERY_STRING=KIVACTION=label", "SERVER_NAME=helpdesk",
                        "REMOTE_USER=webuser"})
    EXPECT_EQ(rest.erase(e), 1u) << e;
  // Whatever else the test's own environment holds of the CGI's names.
  for (const std::string& e : rest) {
    const std::string name = e.substr(0, e.find('='));
    EXPECT_TRUE(name.starts_with("HTTP_") || name == "CONTENT_LENGTH" || name == "CONTENT_TYPE" ||
                name == "REQUEST_METHOD" || name == "SCRIPT_NAME")
        << e;
  }
  for (const std::string& e : env)
    for (const char* name : foreign) EXPECT_FALSE(e.starts_with(std::string(name) + "=")) << e;

  // The ordinary front keeps what it was given, without the loader's and
  // the interpreters' start-up variables.
  const std::vector<std::string> plain = kivexec::command_environment(kivexec::front_config(false));
  EXPECT_EQ(plain[0], "KIVACTION=label");
  for (const char* kept : {"ODBCINI=/tmp/evil", "PGPASSFILE=/tmp/evil", "HTTP_USER_AGENT=Browser/1.0"})
    EXPECT_NE(std::find(plain.begin(), plain.end(), kept), plain.end()) << kept;
  for (const std::string& e : plain) {
    EXPECT_FALSE(e.starts_with("PYTHONPATH=")) << e;
    EXPECT_FALSE(e.starts_with("LD_PRELOAD=")) << e;
    EXPECT_FALSE(e.starts_with("HTTP_PROXY=")) << e;
  }
}

TEST(SecureFront, StateFileAndItsFoldersMustBeRootsAlone) {
  EXPECT_EQ(kivexec::untrusted_reason("/etc/passwd"), "");
  kivtest::TempDir dir;
  const std::string file = dir.write("client/config/prog_states", "x=y\n");
  const std::string reason = kivexec::untrusted_reason(file);
  EXPECT_NE(reason, "");
  if (::geteuid() == 0) {
    // Root's files, under a folder anyone may write (the temporary area).
    EXPECT_TRUE(has(reason, "can be written by others than root")) << reason;
  } else {
    EXPECT_TRUE(has(reason, "does not belong to root")) << reason;
  }
}

// Runs `argv` as user and group 65534 with exactly `env`; its output and
// exit status. Only root can.
struct AsNobody {
  int status = -1;
  std::string out;
};
AsNobody run_as_nobody(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                       const std::string& outfile) {
  AsNobody r;
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int fd = ::open(outfile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0 || ::dup2(fd, 1) < 0 || ::dup2(fd, 2) < 0) ::_exit(120);
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(121);
    std::vector<char*> a, e;
    for (const std::string& s : argv) a.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    for (const std::string& s : env) e.push_back(const_cast<char*>(s.c_str()));
    e.push_back(nullptr);
    ::execve(a[0], a.data(), e.data());
    ::_exit(122);
  }
  int st = 0;
  ::waitpid(pid, &st, 0);
  if (WIFEXITED(st)) r.status = WEXITSTATUS(st);
  r.out = kivtest::read_file(outfile);
  return r;
}

// A set-user-ID copy of a program in a folder of the build (not the
// temporary area, which may be mounted nosuid), removed afterwards.
class SuidCopy {
 public:
  SuidCopy(const std::string& from, const std::string& name, fs::perms mode = fs::perms(04755)) {
    dir_ = kBuild + "/tests/suid." + std::to_string(::getpid());
    fs::create_directories(dir_);
    fs::permissions(dir_, fs::perms(0755));
    path_ = dir_ + "/" + name;
    fs::copy_file(from, path_, fs::copy_options::overwrite_existing);
    ::chown(path_.c_str(), 0, 0);
    ::chmod(path_.c_str(), static_cast<mode_t>(mode));
  }
  ~SuidCopy() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  const std::string& path() const { return path_; }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_, path_;
};

// Why a set-user-ID copy cannot be tested here, or an empty text.
std::string suid_missing() {
  if (::geteuid() != 0) return "needs root to make a set-user-ID copy owned by root";
  // A nosuid mount or no_new_privs would run the copy as its caller.
  SuidCopy id("/usr/bin/id", "id");
  const AsNobody probe = run_as_nobody({id.path()}, {"PATH=/usr/bin:/bin"}, id.dir() + "/out");
  if (!has(probe.out, "euid=0")) return "the set-user-ID bit is not honoured here: " + probe.out;
  return "";
}

// The environment of a caller who names a state file, a home, a trace file
// and a search path of its own.
std::vector<std::string> hostile_env(const Home& home, const std::string& query) {
  std::vector<std::string> env{"PROG_STATES=" + home.states(), "NVHOME=" + home.path(), "KIVDEBUG=1",
                               "KIVTRACE_FILE=" + home.path("trace"), "PATH=" + home.path("bin") + ":/usr/bin:/bin",
                               "REQUEST_METHOD=GET", "QUERY_STRING=" + query, "SERVER_NAME=x",
                               "ODBCINI=" + home.path("odbc.ini"), "PYTHONPATH=" + home.path("bin")};
  add_sanitizer_env(env);
  return env;
}

std::vector<std::string> tree(const std::string& folder) {
  std::vector<std::string> v;
  for (const auto& e : fs::recursive_directory_iterator(folder)) v.push_back(e.path().string());
  std::sort(v.begin(), v.end());
  return v;
}

TEST(SecureFront, SetUserIdCopyReadsNoneOfItsCallersChoices) {
  KIV_NEED_SERVICE(suid_missing());
  KIV_NEED_SERVICE(fs::exists(std::string(kivexec::fixed_statefile()))
                       ? "this machine has an installation at " + std::string(kivexec::fixed_statefile())
                       : std::string());

  Home home;
  fs::permissions(home.path(), fs::perms(0777));
  home.state_lines("echo=cat\nUSER=65534\n");
  fs::create_directories(home.path("bin"));
  const std::string fake = home.write("bin/codelabel", "#!/bin/sh\ntouch " + home.path("ran") + "\n");
  ::chmod(fake.c_str(), 0755);
  const std::vector<std::string> before = tree(home.path());

  SuidCopy front(kUpcgi, "upcgi");
  const AsNobody r = run_as_nobody({front.path()}, hostile_env(home, "KIVACTION=label"), front.dir() + "/out");
  EXPECT_EQ(r.status, 1) << r.out;
  // The fixed state file lies in the fixed home, which a page names NVHOME.
  EXPECT_TRUE(has(r.out, "Cannot open file:NVHOME/client/config/prog_states errno=2")) << r.out;
  EXPECT_FALSE(has(r.out, "<PRE>\nUSER")) << "traced although KIVDEBUG came from the caller: " << r.out;
  EXPECT_EQ(tree(home.path()), before) << "the front touched a file of the caller's home";
}

// A front built with its fixed state file in a home that the test makes,
// root's alone up to the root folder wherever the checkout lies, runs
// set-user-ID over a state file of root's: the command runs as USER with the
// stream, while the caller's variables count for nothing; a missing or root
// USER and a state file others may write are refused.
TEST(SecureFront, SetUserIdFrontOverRootsStateFile) {
  KIV_NEED_SERVICE(suid_missing());
  const fs::path states = KIV_SECURE_STATES;
  const fs::path secure_home = states.parent_path().parent_path().parent_path();
  fs::remove_all(secure_home);
  fs::create_directories(states.parent_path());
  for (fs::path p = states.parent_path(); p != secure_home.parent_path(); p = p.parent_path()) {
    ::chown(p.c_str(), 0, 0);
    fs::permissions(p, fs::perms(0755));
  }
  // The folders above the home are the machine's: they must be root's alone.
  for (fs::path p = secure_home.parent_path();; p = p.parent_path()) {
    struct stat st {};
    ASSERT_EQ(::lstat(p.c_str(), &st), 0) << p;
    ASSERT_TRUE(st.st_uid == 0 && !(st.st_mode & (S_IWGRP | S_IWOTH))) << p << " is not root's alone";
    if (p == p.root_path()) break;
  }
  Home caller;
  fs::permissions(caller.path(), fs::perms(0777));
  caller.state_lines("echo=cat\nUSER=0\n");
  const std::vector<std::string> before = tree(caller.path());
  SuidCopy front(KIV_SECURE_FRONT, "upcgi");

  struct Case {
    std::string lines;
    fs::perms mode;
    std::string query;
    int status;
    std::string output;  // after the header; a part of it when `part`
    bool part;
  } cases[] = {
      {"uid=id -u\nUSER=65534\n", fs::perms(0644), "KIVACTION=uid", 0, "65534\n", false},
      {"echo=cat\nUSER=65534\n", fs::perms(0644), "KIVACTION=echo",
       0, records({{"echo", "cat", 1}, {"USER", "65534", 1}, {"KIVACTION", "echo", 0}}), false},
      {"uid=id -u\nUSER=0\n", fs::perms(0644), "KIVACTION=uid", 1, "Failed to setuid to id='0'. errno=1\ncan't set user", false},
      {"uid=id -u\n", fs::perms(0644), "KIVACTION=uid", 1, "USER is not specified in the state file\ncan't set user", false},
      {"uid=id -u\nUSER=65534\n", fs::perms(0664), "KIVACTION=uid", 1, "can be written by others than root", true},
  };
  for (const Case& c : cases) {
    { std::ofstream(states) << c.lines; }
    fs::permissions(states, c.mode);
    const AsNobody r = run_as_nobody({front.path()}, hostile_env(caller, c.query), front.dir() + "/out");
    EXPECT_EQ(r.status, c.status) << c.lines << r.out;
    if (c.part)
      EXPECT_TRUE(has(r.out, c.output)) << c.lines << r.out;
    else
      EXPECT_EQ(r.out, kHeader + c.output) << c.lines;
  }
  // The command's environment is the allow-list's alone.
  { std::ofstream(states) << "env=env\nUSER=65534\n"; }
  fs::permissions(states, fs::perms(0644));
  const AsNobody e = run_as_nobody({front.path()}, hostile_env(caller, "KIVACTION=env"), front.dir() + "/out");
  EXPECT_EQ(e.status, 0) << e.out;
  for (const char* line : {"\nKIVACTION=env\n", "\nPATH=/usr/local/bin:/usr/bin:/bin\n",
                           "\nQUERY_STRING=KIVACTION=env\n", "\nSERVER_NAME=x\n"})
    EXPECT_TRUE(has(e.out, line)) << line << e.out;
  for (const char* name : {"ODBCINI=", "PYTHONPATH=", "KIVTRACE_FILE=", "KIVDEBUG="})
    EXPECT_FALSE(has(e.out, name)) << name << e.out;

  // A set-group-ID front (of root's group) gives its group up as well.
  { std::ofstream(states) << "groups=id -G\nUSER=65534\n"; }
  fs::permissions(states, fs::perms(0644));
  SuidCopy sgid(KIV_SECURE_FRONT, "upcgi-sgid", fs::perms(02755));
  const AsNobody g = run_as_nobody({sgid.path()}, hostile_env(caller, "KIVACTION=groups"), sgid.dir() + "/out");
  EXPECT_EQ(g.out, std::string(kHeader) + "65534\n");
  EXPECT_EQ(tree(caller.path()), before) << "the front touched a file of the caller's home";
  fs::remove_all(secure_home);
}

}  // namespace
