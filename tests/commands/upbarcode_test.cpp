// The bar-code commands in this process, in both flavours, over a home made
// from tests/fixtures/linuxhome whose client/bin links the built station
// tools (or, where a case needs one, a stand-in script): the required
// settings, the printer stream on a pseudo-terminal, hostile values that
// must each arrive as one argument, the reader on a pseudo-terminal with its
// table, and every way an intake can read nothing.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "commands/up.h"
#include "commands/upbarcode.h"
#include "engine/upfile.h"
#include "platform/flavour.h"
#include "support/testsupport.h"
#include "tests/tools/toolrun.h"
#include "toolkit/cgitest.h"
#include "toolkit/request/kivexfile.h"
#include "toolkit/base/kivcontext.h"

using namespace kiv;
namespace fs = std::filesystem;
using cgitest::exit_status;

namespace {

struct Var {
  std::string name, value;
  ExSource source = ExSource::form;
};

Var state(std::string name, std::string value) { return {std::move(name), std::move(value), ExSource::statefile}; }

class Barcode : public cgitest::HomeTest, public ::testing::WithParamInterface<Platform> {
 protected:
  Barcode() : cgitest::HomeTest("linuxhome") {}
  void SetUp() override {
    // The home fixture clears the variables a command publishes, and the
    // context's reset gives PATH back the value the test inherited.
    HomeTest::SetUp();
    set("KIV_TAGSCANNER_IDLE_MS", "200");
    set_platform(GetParam());
    for (const char* tool : {"tagwriter", "tagscanner"}) link_tool(tool);
  }
  void link_tool(const std::string& tool) {
    fs::remove(path("client/bin/" + tool));
    fs::create_symlink(kivtest::toolpath(tool), path("client/bin/" + tool));
  }
  // A stand-in for a tool: a shell script in client/bin.
  void script_tool(const std::string& tool, const std::string& body) {
    fs::remove(path("client/bin/" + tool));
    const std::string p = write("client/bin/" + tool, "#!/bin/sh\n" + body);
    ::chmod(p.c_str(), 0755);
  }
  // Runs a handler over a list as the start-up leaves it; the status its
  // request ends with (returned, or the end of the process).
  std::optional<int> run(int (*handler)(const std::vector<std::string>&, exlist*),
                         const std::vector<Var>& vars, std::vector<std::string> words = {"code_x", "page.html"}) {
    request_ = exlist{};
    for (const Var& v : vars) {
      exdata n = formexdatanode(v.name, v.value, v.source);
      if (request_.empty())
        request_.nodes.push_back(std::move(n));
      else
        addexdatanode(&request_, std::move(n));
    }
    clear_output();
    std::optional<int> returned;
    const std::optional<int> ended = exit_status([&] { returned = handler(words, &request_); });
    return ended ? ended : returned;
  }
  bool shown(const std::string& text) const { return page().find(text) != std::string::npos; }
  // The files the reader's runs left in tmp (not the fixture's own).
  std::vector<std::string> tmp_files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(path("tmp")))
      if (e.path().filename() != ".keep") names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  exlist request_;
};

// The codes a reader sends while the request waits.
void scan(kivtest::Pty& reader, const std::string& codes) {
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  reader.write(codes);
}

int count(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

INSTANTIATE_TEST_SUITE_P(Flavours, Barcode, ::testing::Values(Platform::windows, Platform::linux),
                         [](const auto& info) { return info.param == Platform::windows ? "windows" : "linux"; });

TEST_P(Barcode, RequiredSettingsInOrderBeforeAnyTool) {
  write("client/config/tk_obj", "OBJECT{\n\tNAME=page_title\n\tVALUE=x\n};\n");
  script_tool("tagwriter", "touch \"$NVHOME/started\"\n");
  script_tool("tagscanner", "touch \"$NVHOME/started\"\n");
  const std::vector<Var> label = {state("bc_printer_port.VALUE", "/dev/null"), state("bc_label_format.VALUE", "f"),
                                  {"bc_label_header.VALUE", "H"}, {"bc_label.VALUE", "B"}};
  for (size_t given = 0; given <= label.size(); ++given) {
    const char* missing[] = {"bc_printer_port", "bc_label_format", "bc_label_header", "bc_label", "bc_label_qnt"};
    EXPECT_EQ(run(code_label, {label.begin(), label.begin() + static_cast<long>(given)}), 1) << given;
    EXPECT_EQ(page(), std::string("<PRE>\n") + missing[given] + " is blank</PRE>\n") << given;
  }
  struct Intake {
    std::vector<Var> vars;
    std::string message;
  } intake[] = {
      {{}, "bc_reader_port is blank"},
      {{state("bc_reader_port.VALUE", "/dev/null")}, "bc_scheme is blank"},
      {{state("bc_reader_port.VALUE", "/dev/null"), state("bc_scheme.VALUE", "K^@T")}, "bad koption"},
      {{state("bc_reader_port.VALUE", "/dev/null"), state("bc_scheme.VALUE", "K^@T^$")}, "bad koption"},
      {{state("bc_reader_port.VALUE", "/dev/null"), state("bc_scheme.VALUE", "K^@T^$a^@b^$")}, "bc_timeout is blank"},
  };
  for (const Intake& c : intake) {
    EXPECT_EQ(run(code_intake, c.vars), 1) << c.message;
    EXPECT_EQ(page(), "<PRE>\n" + c.message + "</PRE>\n");
  }
  EXPECT_FALSE(exists("started"));
  EXPECT_TRUE(tmp_files().empty());

  EXPECT_EQ(run(code_label, {}, {"code_label"}), 2);
  EXPECT_TRUE(shown("Wrong usage: code_label templatefile flags\n"));
  EXPECT_EQ(run(code_intake, {}, {"code__intake"}), 2);
  EXPECT_TRUE(shown("Wrong usage: code_intake templatefile flags\n"));
}

TEST_P(Barcode, LabelPrintsTheExactStreamAndAFormPortIsNotBelieved) {
  kivtest::Pty printer;
  const std::string victim = write("victim", "keep me");
  const auto r = run(code_label, {state("bc_printer_port.VALUE", printer.name()),
                                  {"bc_printer_port.VALUE", victim},
                                  {"bc_label_header.VALUE", "Main  office"},
                                  {"bc_label.VALUE", "CASE-42"},
                                  {"bc_label_qnt.VALUE", "2"}},
                     {"code_label", "label.html"});
  EXPECT_EQ(r, 0) << page();
  const std::string stream =
      "\x02O0210\r" "\x02" "d\r" "\x02L\r" "D11\r" "PC\r" "SC\r" "H10\r" "R0007\r" "C0020\r" "'FHV...VVVVHHHH\r"
      "1911000" "0100" "0050" "Main  office\r"
      "1a12040" "0200" "0060" "CASE-42\r" "+01\r"
      "1911000" "0260" "0060" "CASE-42\r" "+01\r"
      "Q0002\r" "E\r";
  EXPECT_EQ(printer.read(stream.size(), std::chrono::seconds(5)), stream);
  EXPECT_EQ(kivtest::read_file(victim), "keep me");
  EXPECT_TRUE(shown("<h1>Bar-code station</h1>\n<p>Printed 2 labels of [CASE-42]</p>")) << page();

  // A printer that cannot be opened fails the request instead of showing
  // the success page.
  EXPECT_EQ(run(code_label, {state("bc_printer_port.VALUE", path("no/such/port")), {"bc_label_header.VALUE", "H"},
                             {"bc_label.VALUE", "B"}, {"bc_label_qnt.VALUE", "1"}},
                {"code_label", "label.html"}),
            1);
  EXPECT_TRUE(shown("Failed to open port")) << page();
  EXPECT_TRUE(shown("The label printer tool tagwriter failed: exit status 1")) << page();
  EXPECT_FALSE(shown("Printed"));
}

// A tool that fails in any way fails the request: its message, status 1,
// and no success page.
TEST_P(Barcode, LabelToolThatFailsIsReported) {
  struct Case {
    const char* what;
    std::string tool;  // a stand-in tagwriter; empty: none at all
    std::string how;
  } cases[] = {
      {"a tool that is not there", "", "cannot start: No such file or directory"},
      {"a tool that is killed", "kill -9 $$\n", "signal 9"},
      {"a tool that ends non-zero", "exit 3\n", "exit status 3"},
  };
  for (const Case& c : cases) {
    if (c.tool.empty())
      fs::remove(path("client/bin/tagwriter"));
    else
      script_tool("tagwriter", c.tool);
    EXPECT_EQ(run(code_label, {state("bc_printer_port.VALUE", "/dev/ttyS9"), {"bc_label_header.VALUE", "H"},
                               {"bc_label.VALUE", "B"}, {"bc_label_qnt.VALUE", "1"}},
                  {"code_label", "label.html"}),
              1)
        << c.what;
    EXPECT_TRUE(shown("The label printer tool tagwriter failed: " + c.how)) << c.what << "\n" << page();
    EXPECT_FALSE(shown("Printed")) << c.what;
  }
}

// What a tool writes reaches the page escaped, and only up to its cap: a
// tool that keeps writing neither fills the request's memory nor the page.
TEST_P(Barcode, ToolOutputIsEscapedAndCapped) {
  script_tool("tagwriter", "head -c 1000000 /dev/zero | tr '\\0' '<'\n");
  EXPECT_EQ(run(code_label, {state("bc_printer_port.VALUE", "/dev/ttyS9"), {"bc_label_header.VALUE", "H"},
                             {"bc_label.VALUE", "B"}, {"bc_label_qnt.VALUE", "1"}},
                {"code_label", "label.html"}),
            0)
      << page().substr(0, 200);
  EXPECT_EQ(count(page(), "&#60;"), static_cast<int>(kToolOutputMax));
  EXPECT_EQ(page().find('<'), page().find("<html>")) << "raw tool output in the page";
  EXPECT_TRUE(shown("Printed 1 labels of [B]"));

  // Nor does a page tell where the home lies when a tool names a path in it.
  reqctx().web_page = true;
  script_tool("tagwriter", "echo \"cannot read $0\"\n");
  EXPECT_EQ(run(code_label, {state("bc_printer_port.VALUE", "/dev/ttyS9"), {"bc_label_header.VALUE", "H"},
                             {"bc_label.VALUE", "B"}, {"bc_label_qnt.VALUE", "1"}},
                {"code_label", "label.html"}),
            0);
  EXPECT_TRUE(shown("cannot read NVHOME/client/bin/tagwriter\n")) << page();
  EXPECT_FALSE(shown(home())) << page();
}

// With the trace on, the tools' command lines as the command interpreter
// would have read them, the intake's scheme and its row count.
TEST_P(Barcode, TraceShowsTheToolsCommandLines) {
  reqctx().kivdebug = 1;
  script_tool("tagwriter", "exit 0\n");
  EXPECT_EQ(run(code_label, {state("bc_printer_port.VALUE", "/dev/ttyS9"), {"bc_label_header.VALUE", "Main office"},
                             {"bc_label.VALUE", "CASE-1"}, {"bc_label_qnt.VALUE", "2"}},
                {"code_label", "label.html"}),
            0);
  EXPECT_TRUE(shown("<PRE>\nCMD=tagwriter -f " + path("client/config/label.fmt") +
                    " -b CASE-1 -q 2 -l &#34;Main office&#34; -d /dev/ttyS9 </PRE>\n"))
      << page();

  // The stand-in reader writes its arguments and a result of two records
  // into the file after -a (the tenth argument, the twelfth after -o).
  const std::string save = path("tmp/scanned");
  for (const bool saved : {false, true}) {
    std::vector<Var> vars = {state("bc_reader_port.VALUE", "/dev/ttyS8")};
    if (saved) vars.push_back(state("bc_save_file.VALUE", save));
    script_tool("tagscanner", "for a in \"$@\"; do printf '%s\\n' \"$a\"; done >\"$NVHOME/args\"\n"
                              "printf 'case_num^@item^@note^$K1^@T1^@V1^$K2^@T2^@V2^$' >\"${" +
                                  std::string(saved ? "12" : "10") + "}\"\n");
    EXPECT_EQ(run(code_intake, vars, {"code_intake", "intake.html"}), 0) << saved << page();
    const std::vector<std::string> files = tmp_files();
    std::string result;
    for (const std::string& f : files)
      if (f.starts_with("out.")) result = path("tmp/" + f);
    ASSERT_FALSE(result.empty()) << saved;
    const std::string error = path("tmp/err" + result.substr(result.rfind("/out") + 4));
    const std::string words = "-b\nK^@T^@V^$\n-k\ncase_num^@item^@note^$\n-t\n1\n-d\n/dev/ttyS8\n" +
                              std::string(saved ? "-o\n" + save + "\n" : "") + "-a\n" + result + "\n-e\n" +
                              error + "\n";
    EXPECT_EQ(kivtest::read_file(path("args")), words) << saved;
    const std::string line =
        "CMD=tagscanner -b &#34;K^@T^@V^$&#34; -k &#34;case_num^@item^@note^$&#34; -t 1 -d /dev/ttyS8 " +
        std::string(saved ? "-o &#34;" + save + "&#34; " : "") + "-a &#34;" + result + "&#34; -e &#34;" + error +
        "&#34;</PRE>\n";
    EXPECT_TRUE(shown(line)) << line << "\n" << page();
    EXPECT_TRUE(shown("<PRE>\nBoption='K^@T^@V^$' Koption='case_num^@item^@note^$'\n</PRE>\n"))
        << page();
    EXPECT_TRUE(shown("<PRE>\nRowcount=3\n</PRE>\n")) << page();
    fs::remove(result);
  }
}

// The reader's save file keeps what was scanned, beside the result.
TEST_P(Barcode, IntakeKeepsTheScannedInputInTheSaveFile) {
  kivtest::Pty reader;
  const std::string save = path("tmp/scanned");
  std::thread scanner(scan, std::ref(reader), "K1\rT1\rV1\r");
  const auto r = run(code_intake, {state("bc_reader_port.VALUE", reader.name()), state("bc_save_file.VALUE", save)},
                     {"code_intake", "intake.html"});
  scanner.join();
  ASSERT_EQ(r, 0) << page();
  EXPECT_TRUE(shown("Read 1 records")) << page();
  const std::string kept = kivtest::read_file(save);
  for (const char* code : {"K1", "T1", "V1"}) EXPECT_NE(kept.find(code), std::string::npos) << kept;
}

TEST_P(Barcode, HostileValuesArriveAsOneArgumentEach) {
  // The stand-in writes each argument on a line of its own.
  script_tool("tagwriter", "for a in \"$@\"; do printf '%s\\n' \"$a\"; done >\"$NVHOME/args\"\n");
  const std::string values[] = {
      "x;touch \"$NVHOME/p1\"", "$(touch \"$NVHOME/p2\")", "`touch \"$NVHOME/p3\"`", "a\" ; touch \"$NVHOME/p4",
      "two  words",             "-d/tmp/elsewhere",        "--",
  };
  for (const std::string& v : values) {
    fs::remove(path("args"));
    EXPECT_EQ(run(code_label, {state("bc_printer_port.VALUE", "/dev/ttyS9"), {"bc_label_header.VALUE", v},
                               {"bc_label.VALUE", v}, {"bc_label_qnt.VALUE", "3"}},
                  {"code_label", "label.html"}),
              0)
        << v << "\n" << page();
    const std::string format = path("client/config/label.fmt");
    EXPECT_EQ(kivtest::read_file(path("args")),
              "-f\n" + format + "\n-b\n" + v + "\n-q\n3\n-l\n" + v + "\n-d\n/dev/ttyS9\n")
        << v;
  }
  for (const char* f : {"p1", "p2", "p3", "p4"}) EXPECT_FALSE(exists(f)) << f;
}

// The quantity is a number of labels from 1 to 9999; any other text is
// refused as a blank one before the tool starts, and a number reaches the
// tool in plain decimal.
TEST_P(Barcode, LabelQuantityFromOneTo9999) {
  script_tool("tagwriter", "for a in \"$@\"; do printf '%s\\n' \"$a\"; done >\"$NVHOME/args\"\n");
  struct Case {
    const char* given;
    const char* passed;  // nullptr: refused
  } cases[] = {
      {"1", "1"},        {"9999", "9999"},  {"0042", "42"},    {"0", nullptr},         {"10000", nullptr},
      {"2147483647", nullptr}, {"99999999999999999999", nullptr}, {"-1", nullptr}, {"+5", nullptr},
      {"5 ", nullptr},   {"1e3", nullptr},  {"3;reboot", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.given);
    fs::remove(path("args"));
    const std::optional<int> r =
        run(code_label, {state("bc_printer_port.VALUE", "/dev/ttyS9"), {"bc_label_header.VALUE", "H"},
                         {"bc_label.VALUE", "B"}, {"bc_label_qnt.VALUE", c.given}},
            {"code_label", "label.html"});
    if (!c.passed) {
      EXPECT_EQ(r, 1);
      EXPECT_EQ(page(), "<PRE>\nbc_label_qnt is blank</PRE>\n");
      EXPECT_FALSE(exists("args"));
      continue;
    }
    EXPECT_EQ(r, 0) << page();
    EXPECT_NE(kivtest::read_file(path("args")).find(std::string("\n-q\n") + c.passed + "\n-l\n"), std::string::npos);
  }
}

TEST_P(Barcode, IntakeShowsTheReadersTableEscaped) {
  kivtest::Pty reader;
  std::thread scanner(scan, std::ref(reader), "K1\rT1\rV<b>one</b>\rK2\rT2&3\r");
  // The result file goes on as the login's own scratch file.
  reqctx().remote_user = "ann";
  const auto r = run(code_intake, {state("bc_reader_port.VALUE", reader.name())}, {"code_intake", "intake.html"});
  scanner.join();
  ASSERT_EQ(r, 0) << page();
  const std::vector<std::string> files = tmp_files();
  ASSERT_EQ(files.size(), 2u) << "the error file is removed once read";
  EXPECT_TRUE(files[0].starts_with("out." + std::to_string(::getpid()) + ".")) << files[0];
  const std::string result = path("tmp/" + files[0]);
  EXPECT_EQ(kivtest::read_file(result), "case_num^@item^@note^$K1^@T1^@V<b>one</b>^$K2^@T2&3^@^^^$");
  EXPECT_EQ(files[1], files[0] + ".owner");
  EXPECT_EQ(kivtest::read_file(result + ".owner"), "ann\n");
  reqctx().nvhome = home();
  EXPECT_EQ(hidedatafile_path("tmp/" + files[0]), result);
  const std::string cell = "<td> <font color=\"000000\">";
  const std::string table = "<center><table border=\"1\" bgcolor=\"c0c0c0\">"
                            "<tr>" + cell + "row #</td>" + cell + "case_num</td>" + cell + "item</td>" + cell +
                            "note</td></tr>"
                            "<tr>" + cell + "1</td>" + cell + "K1</td>" + cell + "T1</td>" + cell +
                            "V&#60;b&#62;one&#60;/b&#62;</td></tr>"
                            "<tr>" + cell + "2</td>" + cell + "K2</td>" + cell + "T2&#38;3</td>" + cell +
                            "</td></tr></table></center>";
  EXPECT_EQ(page(), "<html><body>\n<h1>Bar-code station</h1>\n<p>Read 2 records [tmp/" + files[0] + "]</p>\n" + table +
                        "\n<p>Errors: [No Error]</p>\n</body></html>\n");
}

TEST_P(Barcode, IntakeThatReadsNothingSaysSo) {
  // An earlier process of the same id left its result behind.
  const std::string stale = write("tmp/out." + std::to_string(::getpid()), "case_num^@item^@note^$K9^@T9^@V9^$");
  struct Case {
    const char* what;
    std::string codes;       // sent by the reader on the pseudo-terminal
    std::string tool;        // a stand-in tagscanner, or the real one
    bool port_missing;
    bool absent;             // no tagscanner at all
    std::vector<std::string> shown;
  } cases[] = {
      {"a reader that cannot be opened", "", "", true, false, {"Failed to open port"}},
      {"a first code without the first tag", "T1\rV1\r", "", false, false,
       {"Error: '\nInput barcode error (entry #1): expecting tag `K&#39; but see `T1&#39;\n'"}},
      {"a reader that sends nothing", "", "", false, false, {}},
      {"a tool killed after writing records", "",
       "printf 'case_num^@item^@note^$K1^@T1^@V1^$K2^@T2^@V2^$' >\"${10}\"\nprintf 'late <i>' >\"${12}\"\nkill -9 $$\n",
       false, false, {"Error: 'late &#60;i&#62;'", "The bar-code reader tool tagscanner failed: signal 9"}},
      {"a tool that is not there", "", "", false, true,
       {"The bar-code reader tool tagscanner failed: cannot start"}},
      {"a tool that ends well and leaves no row", "", "exit 0\n", false, false, {}},
      {"a tool that ends well and leaves the key row alone", "",
       "printf 'case_num^@item^@note^$' >\"${10}\"\n", false, false, {}},
  };
  for (Case& c : cases) {
    link_tool("tagscanner");
    if (!c.tool.empty()) script_tool("tagscanner", c.tool);
    if (c.absent) fs::remove(path("client/bin/tagscanner"));
    kivtest::Pty reader;
    std::thread scanner(scan, std::ref(reader), c.codes);
    const std::string port = c.port_missing ? path("no/such/reader") : reader.name();
    const auto r = run(code_intake, {state("bc_reader_port.VALUE", port)}, {"code_intake", "intake.html"});
    scanner.join();
    EXPECT_EQ(r, 1) << c.what << "\n" << page();
    EXPECT_TRUE(shown("No Data has been read from the barcode reader\n")) << c.what << "\n" << page();
    EXPECT_TRUE(shown("Please try again!")) << c.what;
    for (const std::string& s : c.shown) EXPECT_TRUE(shown(s)) << c.what << ": " << s << "\n" << page();
    EXPECT_FALSE(shown("K9")) << c.what;
    EXPECT_FALSE(shown("Read ")) << c.what;
    EXPECT_EQ(tmp_files(), std::vector<std::string>{"out." + std::to_string(::getpid())}) << c.what;
  }
  EXPECT_EQ(kivtest::read_file(stale), "case_num^@item^@note^$K9^@T9^@V9^$");
}

TEST(BarcodeLimits, ReaderLimitCoversTheWaitAndTheSilence) {
  EXPECT_EQ(reader_limit("1"), std::chrono::seconds(1 + 12 + 60));
  EXPECT_EQ(reader_limit("30 seconds"), std::chrono::seconds(30 + 72));
  EXPECT_EQ(reader_limit("x"), std::chrono::seconds(1 + 72));
  EXPECT_EQ(reader_limit("99999999999999"), std::chrono::seconds(600 + 72));
}

TEST(BarcodeWords, UpRunsTheFourCommandWords) {
  EXPECT_EQ(find_handler("code_label"), &code_label);
  EXPECT_EQ(find_handler("code__label"), &code_label);
  EXPECT_EQ(find_handler("code_intake"), &code_intake);
  EXPECT_EQ(find_handler("code__intake"), &code_intake);
}

}  // namespace
