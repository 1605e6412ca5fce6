// tagwriter: the label format file, the printer command stream, the command
// line and its exit statuses.
#include "tools/tagwriter.h"

#include "support/testsupport.h"
#include "toolkit/base/kivcontext.h"
#include "toolrun.h"

namespace {

using kivtest::ScopedEnv;
using kivtest::TempDir;

const char* const kUsage =
    "Usage: /opt/kiv/tagwriter [-f config_file] [-l label] [-q how_many] [-b barcode_id] [-n] "
    "[-d device_file]\n";

// A format file that sets every element, with a logo under the home.
const char* const kFullFormat =
    "# label format of the tests\n"
    "  heat_index = 7\n"
    "LEFT_OFFSET=5000\n"
    "LABEL=1^@2^@3^@40^@50^@unused^$\n"
    "LINE = 10^@20^@30^@40\n"
    "BARCODE\t=1^@1^@100^@200^@300^@^$\n"
    "ASCII_BC=2^@2^@5^@6^@7^@^$\n"
    "LOGO=3^@4^@10^@20^@logos/seal.pcx^@P^$\n";

// 1,500 bytes with zero bytes among them: two chunks.
std::string image() {
  std::string s;
  for (int i = 0; i < 1500; ++i) s += static_cast<char>(i % 256);
  return s;
}

// What the printer receives for kFullFormat with the job of full_args().
std::string full_stream() {
  return std::string("\x01" "D\r" "\x02qA\r" "\x02IAPseal.pcx\r") + image() +
         "\x02O0210\r" "\x02" "d\r" "\x02L\r" "D11\r" "PC\r" "SC\r"
         "H07\r" "R0007\r" "C4000\r" "'FHV...VVVVHHHH\r"
         "19" "1" "2" "003" "0040" "0050" "Top  Label\r"
         "1X00000" "0010" "0020" "L" "030" "040\r"
         "1a" "1" "1" "100" "0200" "0300" "CASE 42\r" "+01\r"
         "19" "2" "2" "005" "0006" "0007" "CASE 42\r" "+01\r"
         "1Y" "3" "4" "000" "0010" "0020" "seal.pcx\r"
         "Q0003\r" "E\r";
}

class TagwriterTest : public kivtest::KivTest {
 protected:
  TempDir home;
  std::string format = home.write("client/config/label.fmt", kFullFormat);
  std::string logo = home.write("client/config/logos/seal.pcx", image());
  ScopedEnv nvhome{"NVHOME", home.str()};

  // The label text holds a cancel byte and a carriage return, the bar code
  // a command start byte: all reach the printer as blanks.
  std::vector<std::string> full_args(const std::string& device) {
    return {"-f", format, "-l", "Top\x18\rLabel", "-q", "3", "-b", "CASE\x02" "42", "-n", "-d", device};
  }

  int run(std::vector<std::string> args) {
    args.insert(args.begin(), "/opt/kiv/tagwriter");
    return kivtest::run_main(kiv::tagwriter_main, args);
  }

  // The commands for a format file text (none: no -f) and a quantity.
  std::string commands(const std::optional<std::string>& text, int quantity = 1) {
    kiv::LabelFormat f;
    if (text) f = kiv::readlabelformat(home.write("t.fmt", *text));
    kiv::LabelJob job;
    job.label = "L";
    job.barcode = "B";
    job.quantity = quantity;
    std::string all;
    for (const auto& c : kiv::labelcommands(f, job)) all += c;
    return all;
  }
};

TEST_F(TagwriterTest, GoldenStreamToARegularFile) {
  std::string device = home.write("printer", "");
  EXPECT_EQ(run(full_args(device)), 0);
  EXPECT_EQ(kivtest::read_file(device), full_stream());
  // A plain file takes no terminal settings; the label goes out all the same.
  EXPECT_EQ(page(),
            "SetCommTimeouts failed: (25) Inappropriate ioctl for device\n"
            "SetCommState failed: (25) Inappropriate ioctl for device\n");
  EXPECT_EQ(errors(), "");
}

TEST_F(TagwriterTest, GoldenStreamThroughAPseudoTerminal) {
  kivtest::Pty pty;
  std::string want = full_stream();
  kivtest::Program p(kivtest::toolpath("tagwriter"), full_args(pty.name()), {"NVHOME=" + home.str()});
  std::string got = pty.read(want.size());
  kivtest::RunResult r = p.wait();
  got += pty.read(1, std::chrono::milliseconds(100));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(got, want);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST_F(TagwriterTest, SettingsClampsAndDefaults) {
  struct Case {
    std::optional<std::string> format;
    int quantity;
    std::string has, lacks;
  } cases[] = {
      {"HEAT_INDEX=25\n", 1, "H20\r", ""},
      {"HEAT_INDEX=0\n", 1, "H01\r", ""},
      {"", 1, "H13\rR0007\rC0000\r", ""},               // keys absent: the defaults
      {std::nullopt, 1, "H00\rR0007\rC0000\r", ""},     // no format file: all zero
      {"heat_index = 7\n", 1, "H07\r", ""},
      {"HEAT_INDEX 7\n", 1, "H13\r", ""},               // no "=": absent
      {"HEAT_INDEX 7\nHEAT_INDEX=9\n", 1, "H13\r", ""}, // the first line with the key counts
      {"HEAT_INDEXES=4\nHEAT_INDEX=5\n", 1, "H05\r", ""},
      {"#HEAT_INDEX=3\nHEAT_INDEX=9  \n", 1, "H09\r", ""},
      // A line holds 254 characters; the tail of a longer one is no line of its own.
      {"HEAT_INDEX=" + std::string(242, ' ') + "4\n", 1, "H04\r", ""},
      {"#" + std::string(254, 'x') + "HEAT_INDEX=3\n", 1, "H13\r", ""},
      {"LEFT_OFFSET=5000\n", 1, "C4000\r", ""},
      {"LEFT_OFFSET=-3\n", 1, "C0000\r", ""},
      {"LABEL=0^@2^@3^@4^@5^@^$\n", 1, "", "\r19"},      // f1 zero: no label element
      {"LABEL=1^@2^@3^@4^@5^@^$\n", 1, "\r19" "1" "2" "003" "0004" "0005" "L\r", ""},
      {"LINE=1^@2^@0^@4\n", 1, "", "1X"},
      {"BARCODE=1^@1\n", 1, "\r1a" "1" "1" "000" "0000" "0000" "B\r+01\r", ""}, // missing fields count as 0
      {"ASCII_BC=1^@^^^@7\n", 1, "", "\r19"},           // an empty field is 0
      {"LOGO=1^@1^@1^@1^@^^^@P\n", 1, "", "1Y"},         // no image path: no logo
      {"", 1, "Q0001\rE\r", ""},
      {"", 3, "Q0003\rE\r", ""},
  };
  for (const auto& c : cases) {
    std::string all = commands(c.format, c.quantity);
    std::string what = c.format.value_or("(no file)");
    if (!c.has.empty()) {
      EXPECT_NE(all.find(c.has), std::string::npos) << what << all;
    }
    if (!c.lacks.empty()) {
      EXPECT_EQ(all.find(c.lacks), std::string::npos) << what << all;
    }
    EXPECT_TRUE(all.ends_with("E\r")) << what;
  }
}

TEST_F(TagwriterTest, LogoFileAndName) {
  kiv::LabelLogo logo;
  logo.path = "logos/averyverylongname.pcx";
  kiv::start_home(kiv::kTagwriterHome);  // as the program starts: NVHOME
  EXPECT_EQ(kiv::logofile(logo), home.str() + "/client/config/logos/averyverylongname.pcx");
  EXPECT_EQ(kiv::logoname(logo), "averyver");
  logo.path = "/srv/seal.pcx";
  EXPECT_EQ(kiv::logofile(logo), "/srv/seal.pcx");
  kiv::reqctx().nvhome.clear();  // a new process, without NVHOME
  ScopedEnv unset("NVHOME", std::nullopt);
  kiv::start_home(kiv::kTagwriterHome);
  logo.path = "seal.pcx";
  EXPECT_EQ(kiv::logofile(logo), "/usr/local/norvale/client/config/seal.pcx");
}

TEST_F(TagwriterTest, MissingLogoSendsNothing) {
  // An image that is not there, and one that opens but cannot be read (a
  // folder): either way the printer must not be left in download mode.
  kivtest::fs::create_directories(home.str() + "/client/config/folder.pcx");
  for (std::string name : {"gone.pcx", "folder.pcx"}) {
    clear_output();
    std::string fmt = home.write("client/config/nologo.fmt", "LOGO=1^@1^@1^@1^@" + name + "^@P^$\n");
    std::string device = home.write("printer", "");
    EXPECT_EQ(run({"-f", fmt, "-d", device}), 1) << name;
    EXPECT_EQ(kivtest::read_file(device), "") << name;
    EXPECT_NE(page().find("Cannot open config file " + home.str() + "/client/config/" + name + "!!!\n"),
              std::string::npos)
        << page();
  }
}

TEST_F(TagwriterTest, MissingFormatFileStillPrints) {
  std::string device = home.write("printer", "");
  EXPECT_EQ(run({"-f", home.str() + "/none.fmt", "-d", device}), 0);
  EXPECT_TRUE(page().starts_with("Cannot open config file " + home.str() + "/none.fmt!!!\n")) << page();
  EXPECT_NE(kivtest::read_file(device).find("H00\r"), std::string::npos);
}

TEST_F(TagwriterTest, UsageErrorsAndFailedPort) {
  std::string device = home.write("printer", "");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err, out;
  } cases[] = {
      {{}, 2, kUsage, ""},
      {{"-d", device, "-q", "0"}, 2, std::string("number must be > 0...\n") + kUsage, ""},
      {{"-d", device, "-q", "x3"}, 2, std::string("number must be > 0...\n") + kUsage, ""},
      {{"-x", "-d", device}, 2, std::string("tagwriter: illegal option -- x\n") + kUsage, ""},
      {{"-q", "3"}, 2, std::string("Missing device file\n") + kUsage, ""},
      {{"-d"}, 2,
       std::string("tagwriter: option requires an argument -- d\nMissing device file\n") + kUsage, ""},
      {{"-d", home.str() + "/no/port"}, 1, "", "Failed to open port: (2) No such file or directory\n"},
  };
  for (const auto& c : cases) {
    clear_output();
    EXPECT_EQ(run(c.args), c.status) << c.err;
    EXPECT_EQ(errors(), c.err);
    EXPECT_EQ(page(), c.out);
  }
  EXPECT_EQ(kivtest::read_file(device), "");
  EXPECT_FALSE(kivtest::fs::exists(home.str() + "/no/port"));
}

TEST_F(TagwriterTest, FailedWritesEndWithAFailure) {
  // Every write to this device fails, as to a printer that went away.
  EXPECT_EQ(run({"-f", format, "-d", "/dev/full"}), 1);
  EXPECT_NE(page().find("GetOverlappedResult failed: (28) No space left on device\n"), std::string::npos)
      << page();
}

}  // namespace
