// `up` behind a real web server: lighttpd with mod_cgi on a loopback port
// over a home made from the fixture, with logins required. A login gives the
// start page with a new session key in its links and forms; the key opens a
// confirm-find page; a wrong key, an action the state file does not bind and
// a command word outside the table are refused with their statuses. The
// programs themselves: `kepa`'s own state file, and no PostgreSQL library.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/process.h"
#include "support/services.h"
#include "support/testsupport.h"
#include "toolkit/security.h"

using namespace kiv;
namespace fs = std::filesystem;

namespace {

const std::string kUp = std::string(KIV_BINARY_DIR) + "/commands/up";
const std::string kKepa = std::string(KIV_BINARY_DIR) + "/commands/kepa";

std::string lighttpd_path() {
  for (const char* p : {"/usr/sbin/lighttpd", "/usr/bin/lighttpd", "/usr/local/sbin/lighttpd"})
    if (::access(p, X_OK) == 0) return p;
  return "";
}

std::string lighttpd_missing() {
  if (lighttpd_path().empty()) return "lighttpd is not installed (Debian package lighttpd)";
  return "";
}

int free_port() {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

struct Reply {
  int code = 0;
  std::string body;
};

// One HTTP/1.0 exchange; code 0 when the server cannot be reached.
Reply http(int port, const std::string& request) {
  Reply r;
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval tv{30, 0};
  ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(s);
    return r;
  }
  ::send(s, request.data(), request.size(), MSG_NOSIGNAL);
  std::string all;
  char buf[8192];
  ssize_t n;
  while ((n = ::recv(s, buf, sizeof buf, 0)) > 0) all.append(buf, static_cast<size_t>(n));
  ::close(s);
  if (all.rfind("HTTP/1.", 0) == 0 && all.size() > 12) r.code = std::atoi(all.c_str() + 9);
  size_t body = all.find("\r\n\r\n");
  if (body != std::string::npos) r.body = all.substr(body + 4);
  return r;
}

// The web server over a fresh home. The CGI script is a small wrapper that
// runs `up` and records its exit status, which HTTP does not carry.
class Server {
 public:
  Server() {
    home_ = dir_.path() / "home";
    fs::copy(fs::path(KIV_FIXTURES) / "uphome", home_, fs::copy_options::recursive);
    for (const char* d : {"tmp", "login", "logout", "session"}) fs::create_directories(home_ / d);
    dir_.write("home/client/config/login_config", "up.exe_REG=self\nup.exe_AUTH=PASSR\n");
    // A login file as accounts are written: the login, then the hash.
    dir_.write("home/login/alice", "alice\n" + kiv::hash_password("s3cret pw").value() + "\n");
    std::ofstream(home_ / "client/config/admin_states", std::ios::app) << "vmain=up_startup start.html\n";
    const std::string script = dir_.write(
        "cgi/up.exe", "#!/bin/sh\n\"" + kUp + "\"\necho $? >\"" + status_file() + "\"\n");
    ::chmod(script.c_str(), 0755);
    port_ = free_port();
    std::string env = "\"NVHOME\" => \"" + home_.string() + "\"";
    for (const char* v : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
      if (const char* x = std::getenv(v)) env += std::string(", \"") + v + "\" => \"" + x + "\"";
    const std::string conf = dir_.write(
        "lighttpd.conf", "server.document-root = \"" + (dir_.path() / "cgi").string() +
                             "\"\nserver.bind = \"127.0.0.1\"\nserver.port = " + std::to_string(port_) +
                             "\nserver.modules = (\"mod_cgi\", \"mod_setenv\")\nserver.errorlog = \"" +
                             (dir_.path() / "error.log").string() +
                             "\"\ncgi.assign = (\"\" => \"\")\nsetenv.add-environment = (" + env + ")\n");
    std::vector<std::string> args{lighttpd_path(), "-D", "-f", conf};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
    for (int i = 0; i < 200 && pid_ > 0; ++i) {
      int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<uint16_t>(port_));
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      bool up = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
      ::close(s);
      if (up) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
  }
  ~Server() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  bool running() const { return pid_ > 0; }
  std::string log() const { return kivtest::read_file((dir_.path() / "error.log").string()); }

  // A request; `status` gets up's exit status (-2 when none was recorded).
  Reply get(const std::string& query, int& status) {
    fs::remove(status_file());
    Reply r = http(port_, "GET /up.exe?" + query + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    status = read_status();
    return r;
  }
  Reply post(const std::string& body, int& status) {
    fs::remove(status_file());
    Reply r = http(port_, "POST /up.exe HTTP/1.0\r\nHost: 127.0.0.1\r\nContent-Type: "
                          "application/x-www-form-urlencoded\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\n\r\n" + body);
    status = read_status();
    return r;
  }
  // A multipart POST with one upload of `data` beside the `action`.
  Reply upload(const std::string& action, const std::string& data, int& status) {
    fs::remove(status_file());
    const std::string body = "--B\r\nContent-Disposition: form-data; name=\"KIVACTION\"\r\n\r\n" + action +
                             "\r\n--B\r\nContent-Disposition: form-data; name=\"attach1.VALUE\"; "
                             "filename=\"big.bin\"\r\n\r\n" + data + "\r\n--B--\r\n";
    Reply r = http(port_, "POST /up.exe HTTP/1.0\r\nHost: 127.0.0.1\r\nContent-Type: multipart/form-data; "
                          "boundary=B\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    status = read_status();
    return r;
  }
  // The files in the home's scratch folder (but the fixture's .keep).
  size_t scratch_files() const {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(home_ / "tmp")) n += e.path().filename() != ".keep";
    return n;
  }

 private:
  std::string status_file() const { return (dir_.path() / "status").string(); }
  int read_status() const {
    std::string s = kivtest::read_file(status_file());
    return s.empty() ? -2 : std::atoi(s.c_str());
  }

  kivtest::TempDir dir_;
  fs::path home_;
  int port_ = 0;
  pid_t pid_ = -1;
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
      {"KIVACTION=unbuilt&skey=" + key, 255, "Unknown command 'up_find'"},
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
