// The Linux road behind a real web server: lighttpd starts upcgi, which
// starts codelabel and codeintake as the state file binds them. A label
// request prints on a pseudo-terminal standing in for the printer; an intake
// request reads the codes written to the reader's pseudo-terminal while the
// request waits. Under root the commands run as USER=65534, with the home
// made traversable and tmp and the pseudo-terminals handed to that user.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "support/httpserver.h"
#include "linuxtest.h"
#include "support/services.h"
#include "tests/tools/toolrun.h"

using namespace linuxtest;
using kivtest::HttpServer;
using kivtest::lighttpd_missing;
using kivtest::Reply;
namespace fs = std::filesystem;

namespace {

TEST(UpcgiOverHttp, LabelAndIntakeOnTheStationsTerminals) {
  KIV_NEED_SERVICE(lighttpd_missing());
  Home home;
  kivtest::Pty printer, reader;
  home.state_lines("bc_printer_port.VALUE=" + printer.name() + "\nbc_reader_port.VALUE=" + reader.name() + "\n");
  if (!home.run_as_user().empty()) {
    ASSERT_EQ(::fchown(printer.slave(), 65534, 65534), 0);
    ASSERT_EQ(::fchown(reader.slave(), 65534, 65534), 0);
  }
  HttpServer server(kUpcgi, {{"NVHOME", home.path()},
                             {"PROG_STATES", home.states()},
                             {"PATH", kBuild + "/linux:/usr/bin:/bin"},
                             {"KIV_TAGSCANNER_IDLE_MS", "200"}});
  ASSERT_TRUE(server.running());
  int status = -2;

  Reply label = server.get("KIVACTION=label&bc_label.VALUE=CASE-7&bc_label_header.VALUE=Front+desk&bc_label_qnt.VALUE=3",
                           status);
  ASSERT_EQ(label.code, 200) << server.log();
  EXPECT_EQ(status, 0) << label.body;
  EXPECT_TRUE(has(label.head, "Content-type: text/html") || has(label.head, "Content-Type: text/html")) << label.head;
  EXPECT_EQ(label.body, "<html><body>\n<h1>Bar-code station</h1>\n<p>Printed 3 labels of [CASE-7]</p>\n</body></html>\n");
  const std::string stream = printer.read(1000, std::chrono::seconds(2));
  EXPECT_TRUE(has(stream, "1911000" "0100" "0050" "Front desk\r")) << stream;
  EXPECT_TRUE(has(stream, "1a12040" "0200" "0060" "CASE-7\r+01\r")) << stream;
  EXPECT_TRUE(stream.ends_with("Q0003\rE\r")) << stream;

  std::thread scanner([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    reader.write("K7\rT7\rV7\r");
  });
  Reply intake = server.get("KIVACTION=intake", status);
  scanner.join();
  EXPECT_EQ(intake.code, 200);
  EXPECT_EQ(status, 0) << intake.body << server.log();
  // The result file goes on by its path from the home: no page shows where
  // the home lies.
  EXPECT_TRUE(has(intake.body, "<p>Read 1 records [tmp/out.")) << intake.body;
  EXPECT_FALSE(has(intake.body, home.path())) << intake.body;
  EXPECT_TRUE(has(intake.body, "<td> <font color=\"000000\">1</td><td> <font color=\"000000\">K7</td>"
                               "<td> <font color=\"000000\">T7</td><td> <font color=\"000000\">V7</td></tr>"))
      << intake.body;
  EXPECT_TRUE(has(intake.body, "<p>Errors: [No Error]</p>")) << intake.body;
  EXPECT_FALSE(has(intake.body, "Content-type")) << "one content-type line only";
}

}  // namespace
