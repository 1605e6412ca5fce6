// Helpers of the dispatcher and handler tests: a home made from
// tests/fixtures/uphome with the CGI environment cleared and restored, a
// request variable list as the start-up leaves it, a whole `up` run in
// this process, and the sample installation over a database of its own for
// commands that load tk_obj themselves.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "commands/up.h"
#include "engine/uphandler.h"
#include "toolkit/base/kivcontext.h"
#include "support/testsupport.h"
#include "tests/engine/casetest.h"
#include "toolkit/cgitest.h"
#include "toolkit/request/kivexfile.h"

namespace uptest {

namespace fs = std::filesystem;

class UpHome : public cgitest::HomeTest {
 protected:
  UpHome() : cgitest::HomeTest("uphome") {}
  bool shown(const std::string& text) const { return page().find(text) != std::string::npos; }

  // A GET request to `up` (or to the program of another default state file).
  int get(const std::string& query, std::string_view states = kiv::kUpStates,
          const std::string& method = "GET") {
    set("SCRIPT_NAME", "/cgi-bin/up.exe");
    set("SERVER_NAME", "helpdesk");
    set("REQUEST_METHOD", method);
    set("QUERY_STRING", query);
    const char* argv[] = {"up", nullptr};
    return kiv::up_main(1, argv, states);
  }
  // A multipart POST to `up` of these parts (name, value) and one upload.
  int post_upload(const std::vector<std::pair<std::string, std::string>>& fields, const std::string& file) {
    std::string body;
    for (const auto& [name, value] : fields)
      body += "--B\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
    body += "--B\r\nContent-Disposition: form-data; name=\"attach1.VALUE\"; filename=\"a.txt\"\r\n\r\n" + file +
            "\r\n--B--\r\n";
    set("SCRIPT_NAME", "/cgi-bin/up.exe");
    set("SERVER_NAME", "helpdesk");
    set("REQUEST_METHOD", "POST");
    set("CONTENT_TYPE", "multipart/form-data; boundary=B");
    set("CONTENT_LENGTH", std::to_string(body.size()));
    cgitest::Body b(body);
    const char* argv[] = {"up", nullptr};
    return kiv::up_main(1, argv, kiv::kUpStates);
  }
  // A console run: args[0] is argv[0]. A console run sets SCRIPT_NAME, so
  // each one starts without it, as a new process would.
  int console(std::vector<std::string> args) {
    unsetenv("SCRIPT_NAME");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    return kiv::up_main(static_cast<int>(args.size()), argv.data(), kiv::kUpStates);
  }
};

// The sample installation over a data source of its own (casetest's home),
// its tk_obj naming that data source in place of the sample's, so that a
// command that loads tk_obj itself (in this process or as `up`) reaches the
// test's database.
class CommandCaseHome : public casetest::CaseHome {
 protected:
  explicit CommandCaseHome(kivtest::Road road) : CaseHome(road) {}

  void SetUp() override {
    CaseHome::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    std::string objs = kivtest::read_file(path("client/config/tk_obj"));
    const std::string from = "\tNAME=db_name\n\tVALUE=helpdesk\n";
    const size_t at = objs.find(from);
    ASSERT_NE(at, std::string::npos);
    objs.replace(at, from.size(), "\tNAME=db_name\n\tVALUE=" + dsn_ + "\n");
    home_.write("client/config/tk_obj", objs);
  }
};

// A request variable list of form entries.
inline kiv::exlist form(std::vector<std::pair<std::string, std::string>> vars) {
  kiv::exlist request;
  for (auto& [name, value] : vars) request.nodes.push_back(kiv::formexdatanode(name, value));
  return request;
}

// The commands of found cases (find, selection, query macros, chart) over
// the sample installation on each database road: cases put straight into
// the table, templates of the test's own, objects appended to tk_obj, and a
// handler run over a request of form fields with or without a login.
class FoundCases : public CommandCaseHome, public ::testing::WithParamInterface<kivtest::Road> {
 protected:
  FoundCases() : CommandCaseHome(GetParam()) {}

  void add_case(int id, const std::string& case_num, const std::string& status, const std::string& who = "ann") {
    const std::string number = case_num.empty() ? "null" : "'" + case_num + "'";
    exec("insert into cases (id_num, case_num, status, submitted_by, problem) values (" + std::to_string(id) + ", " +
         number + ", '" + status + "', '" + who + "', 'Problem " + std::to_string(id) + "')");
  }
  // A page template under client/kivhtml/tk; its path.
  std::string page_template(const std::string& name, const std::string& text) {
    return home_.write("client/kivhtml/tk/" + name, text);
  }
  // More configuration: objects appended to tk_obj.
  void configure(const std::string& blocks) {
    home_.write("client/config/tk_obj", kivtest::read_file(path("client/config/tk_obj")) + blocks);
  }
  // The handler with these words over a request of these form fields, as
  // `login` (none: a request without one); the status it ends with.
  int run(kiv::handler_fn handler, std::vector<std::string> words,
          std::vector<std::pair<std::string, std::string>> fields = {},
          std::optional<std::string> login = std::nullopt) {
    clear_output();
    kiv::reqctx().remote_user = std::move(login);
    kiv::exlist request = uptest::form(std::move(fields));
    int status = 99;
    std::optional<int> ended = kivtest::exit_status(
        [&] { status = handler(words, &request); });
    return ended ? *ended : status;
  }
  bool shows(const std::string& text) const { return page().find(text) != std::string::npos; }
  // The names of the home's tmp folder, sorted.
  std::vector<std::string> tmp_files() const { return kivtest::entries(path("tmp")); }
};


}  // namespace uptest
