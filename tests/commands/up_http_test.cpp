// `up` behind a real web server: lighttpd with mod_cgi on a loopback port
// over a home made from the fixture, with logins required. A login gives the
// start page with a new session key in its links and forms; the key opens a
// confirm-find page; a wrong key, an action the state file does not bind and
// a command word outside the table are refused with their statuses. The
// programs themselves: `kepa`'s own state file, and no PostgreSQL library.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/process.h"
#include "support/services.h"
#include "support/testsupport.h"
#include "support/httpserver.h"
#include "toolkit/security/security.h"

using namespace kiv;
namespace fs = std::filesystem;

namespace {

const std::string kUp = std::string(KIV_BINARY_DIR) + "/commands/up";
const std::string kKepa = std::string(KIV_BINARY_DIR) + "/commands/kepa";

using kivtest::lighttpd_missing;
using kivtest::Reply;

// The web server over a fresh home, answering at /up.exe.
class Server {
 public:
  Server() : home_(make_home()), http_(kUp, {{"NVHOME", home_.string()}}, "up.exe") {}
  bool running() const { return http_.running(); }
  std::string log() const { return http_.log(); }

  // A request; `status` gets up's exit status (-2 when none was recorded).
  Reply get(const std::string& query, int& status) { return http_.get(query, status); }
  Reply post(const std::string& body, int& status) {
    return http_.post("application/x-www-form-urlencoded", body, status);
  }
  // A multipart POST with one upload of `data` beside the `action`.
  Reply upload(const std::string& action, const std::string& data, int& status) {
    const std::string body = "--B\r\nContent-Disposition: form-data; name=\"KIVACTION\"\r\n\r\n" + action +
                             "\r\n--B\r\nContent-Disposition: form-data; name=\"attach1.VALUE\"; "
                             "filename=\"big.bin\"\r\n\r\n" + data + "\r\n--B--\r\n";
    return http_.post("multipart/form-data; boundary=B", body, status);
  }
  // The files in the home's scratch folder (but the fixture's .keep).
  size_t scratch_files() const {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(home_ / "tmp")) n += e.path().filename() != ".keep";
    return n;
  }

 private:
  // The fixture's home with logins required and one account.
  fs::path make_home() const {
    const fs::path home = dir_.path() / "home";
    fs::copy(fs::path(KIV_FIXTURES) / "uphome", home, fs::copy_options::recursive);
    for (const char* d : {"tmp", "login", "logout", "session"}) fs::create_directories(home / d);
    dir_.write("home/client/config/login_config", "up.exe_REG=self\nup.exe_AUTH=PASSR\n");
    // A login file as accounts are written: the login, then the hash.
    dir_.write("home/login/alice", "alice\n" + kiv::hash_password("s3cret pw").value() + "\n");
    std::ofstream(home / "client/config/admin_states", std::ios::app) << "vmain=up_startup start.html\n";
    return home;
  }

  kivtest::TempDir dir_;
  fs::path home_;
  kivtest::HttpServer http_;
};

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(UpOverHttp, LoginStartPageConfirmFindAndRefusals) {
  KIV_NEED_SERVICE(lighttpd_missing());
  Server server;
  ASSERT_TRUE(server.running());
  int status = -2;

  // The login: the start page, with a new key in every link and form.
  Reply start = server.post("KIVACTION=vmain&login.VALUE=alice&password.VALUE=s3cret+pw&assigned_to.VALUE=bob",
                            status);
  ASSERT_EQ(start.code, 200) << server.log();
  EXPECT_EQ(status, 0) << start.body;
  EXPECT_TRUE(has(start.body, "<h1>Help desk</h1>")) << start.body;
  EXPECT_TRUE(has(start.body, "Assigned to [bob]"));
  const std::string link = "KIVACTION=confirm&amp;skey=";
  const size_t at = start.body.find(link);
  ASSERT_NE(at, std::string::npos) << start.body;
  const std::string key = start.body.substr(at + link.size(), start.body.find('&', at + link.size()) - at - link.size());
  EXPECT_TRUE(has(start.body, link + key + "&subject.VALUE=x\""));
  EXPECT_TRUE(skey_shape(key)) << key;
  EXPECT_TRUE(has(start.body, "<input type=\"hidden\" name=\"skey\" value=\"" + key + "\">"));

  // The key opens a confirm-find page; with three words the menu keeps its
  // items behind the chosen value.
  Reply confirm =
      server.get("KIVACTION=confirmcast&skey=" + key + "&subject.VALUE=printer&status.VALUE=Closed", status);
  EXPECT_EQ(confirm.code, 200);
  EXPECT_EQ(status, 0) << confirm.body;
  EXPECT_TRUE(has(confirm.body, "Subject [printer] New []")) << confirm.body;
  EXPECT_TRUE(has(confirm.body, "<select name=\"status.VALUE\">Closed\n<OPTION>Open\n<OPTION>Pending\n</select>"));
  EXPECT_TRUE(has(confirm.body, "KIVACTION=start&amp;skey=" + key + "&from=confirm\"")) << confirm.body;
  EXPECT_TRUE(has(confirm.body, "<input type=\"hidden\" name=\"skey\" value=\"" + key + "\">"));

  struct Refusal {
    std::string query;
    int status;
    std::string shown;
  } refusals[] = {
      {"KIVACTION=confirm&skey=41207938501234567890", 1, "This operation encountered an error."},
      {"KIVACTION=evil&evil=up_startup+start.html&skey=" + key, 255, "No command for action 'evil'"},
      {"KIVACTION=unknown&skey=" + key, 255, "Unknown command 'up_nothing'"},
  };
  for (const Refusal& r : refusals) {
    Reply reply = server.get(r.query, status);
    EXPECT_EQ(status, r.status) << r.query << "\n" << reply.body;
    EXPECT_TRUE(has(reply.body, r.shown)) << r.query << "\n" << reply.body;
    EXPECT_FALSE(has(reply.body, "Help desk")) << r.query;
  }
}

TEST(UpOverHttp, UploadsOfRefusedAndAnsweredRequestsAreNotKept) {
  // With logins on, an action word holding "login" skips the key check: any
  // request may upload, and nothing of it may stay behind.
  KIV_NEED_SERVICE(lighttpd_missing());
  Server server;
  ASSERT_TRUE(server.running());
  int status = -2;
  const std::string data(64 * 1024, 'x');
  for (const char* action : {"xlogin", "vmain"}) {
    Reply r = server.upload(action, data, status);
    EXPECT_EQ(r.code, 200) << server.log();
    EXPECT_NE(status, -2) << action;
    EXPECT_EQ(server.scratch_files(), 0u) << action << "\n" << r.body;
  }
}

TEST(UpProgram, KepaReadsItsOwnStateFile) {
  kivtest::TempDir dir;
  fs::copy(fs::path(KIV_FIXTURES) / "uphome", dir.path(), fs::copy_options::recursive);
  process::Options o;
  o.capture_output = true;
  o.env = {"NVHOME=" + dir.str(), "SCRIPT_NAME=/cgi-bin/kepa.exe", "REQUEST_METHOD=GET",
           "QUERY_STRING=KIVACTION=start", "SERVER_NAME=helpdesk"};
  for (const char* v : {"ASAN_OPTIONS", "UBSAN_OPTIONS"})
    if (const char* x = std::getenv(v)) o.env.push_back(std::string(v) + "=" + x);
  process::Result kepa = process::run({kKepa}, o);
  EXPECT_TRUE(kepa.ok()) << process::describe(kepa, o);
  EXPECT_EQ(kepa.output, "Content-type: text/html\n\n<p>kepa start page</p>\n");
  process::Result up = process::run({kUp}, o);
  EXPECT_TRUE(up.ok());
  EXPECT_TRUE(has(up.output, "<h1>Help desk</h1>")) << up.output;
}

TEST(UpProgram, DoesNotLinkPostgresqlNorLibcrypt) {
  process::Options o;
  o.capture_output = true;
  o.env = {"PATH=/usr/bin:/bin"};
  process::Result r = process::run({"ldd", kUp}, o);
  ASSERT_TRUE(r.ok()) << process::describe(r, o);
  EXPECT_TRUE(has(r.output, "libc.so")) << r.output;  // a dynamic program, read whole
  EXPECT_FALSE(has(r.output, "libpq")) << r.output;
  // Nor libcrypt: the password functions load it when a login needs it.
  EXPECT_FALSE(has(r.output, "libcrypt")) << r.output;
}
