// tagscanner: sorting entries into records by the tag scheme, the result,
// error and save files, the command line, and reading a reader on a port.
#include "tools/tagscanner.h"

#include <thread>

#include "platform/serial.h"
#include "support/testsupport.h"
#include "toolrun.h"

namespace {

using kivtest::TempDir;

const std::string kKeys = "case_num^@item^@note^$";
const char* const kUsage =
    "Usage: /opt/kiv/tagscanner -b barcode_index_str -k dbkey_str [-t time] [-r rec_sep] [-n] "
    "[-o outfile] [-a result file] [-e err file] [-d device_file | barcode_file]\n";

class TagscannerTest : public kivtest::KivTest {
 protected:
  TempDir dir;
  std::string result = dir.str() + "/out.1";
  std::string error = dir.str() + "/err.1";

  int run(std::vector<std::string> args) {
    args.insert(args.begin(), "/opt/kiv/tagscanner");
    return kivtest::run_main(kiv::tagscanner_main, args);
  }

  // Runs over a file of scanned codes with scheme `tags` and keys of the
  // same count.
  int scan(const std::string& tags, const std::string& keys, const std::string& input,
           std::vector<std::string> more = {}) {
    std::string in = dir.write("codes", input);
    std::vector<std::string> args = {"-b", tags, "-k", keys, "-a", result, "-e", error};
    args.insert(args.end(), more.begin(), more.end());
    args.push_back(in);
    return run(args);
  }
};

TEST_F(TagscannerTest, MatchesEntriesIntoRecords) {
  const std::string kvt = "K^@T^@V^$";
  const std::string long_code = "T" + std::string(300, 'x');
  struct Case {
    const char* what;
    std::string tags, keys, input;
    int status;
    std::string rows, errors;
    std::vector<std::string> more = {};
  } cases[] = {
      {"one whole record", kvt, kKeys, "K1\rT1\rV1\r", 0, "K1^@T1^@V1^$", ""},
      {"a repeated slot ends the record", kvt, kKeys, "K1\rT1\rT2\r", 0,
       "K1^@T1^@^^^$K1^@T2^@^^^$", ""},
      {"leading values repeat into the next record", kvt, kKeys, "K1\rT1\rV1\rT2\rV2\r", 0,
       "K1^@T1^@V1^$K1^@T2^@V2^$", ""},
      {"a new first tag ends the record", kvt, kKeys, "K1\rT1\rK2\rT2\rV2\r", 0,
       "K1^@T1^@^^^$K2^@T2^@V2^$", ""},
      {"a code outside the window", kvt, kKeys, "K1\rV9\r", 0, "K1^@^^^@^^^$",
       "\nJumping consecutive barcode tag detected (entry #2): V9\n"},
      {"a code that matches no tag at the start of a record", kvt, kKeys, "K1\rT1\rV1\rX9\rK2\r", 0,
       "K1^@T1^@V1^$K2^@^^^@^^^$",
       "\nInput barcode error (entry #4): ignoring extra free format tag `X9'\n"},
      {"a first code without the first tag", kvt, kKeys, "T1\rK1\r", -1, "",
       "\nInput barcode error (entry #1): expecting tag `K' but see `T1'\n"},
      {"a last code without its separator is dropped", kvt, kKeys, "K1\rT1\rV1", 0, "K1^@T1^@^^^$", ""},
      {"CR LF input", kvt, kKeys, "K1\r\nT1\r\n\r\nV1\r\n", 0, "K1^@T1^@V1^$", ""},
      {"line feeds alone", kvt, kKeys, "K1\nT1\nV1\n", 0, "K1^@T1^@V1^$", ""},
      {"an own separator", kvt, kKeys, "K1;T1;V1;", 0, "K1^@T1^@V1^$", "", {"-r", ";x"}},
      {"no entries", kvt, kKeys, "\r\n\r", 0, "", ""},
      // A dropped last code right after a complete record writes nothing more.
      {"no record twice", "K^@T^@V^@W^$", "a^@b^@c^@d^$", "K1\rT1\rV1\rW1\rW2\r", 0,
       "K1^@T1^@V1^@W1^$", "\nJumping consecutive barcode tag detected (entry #5): W2\n"},
      {"row/column markers are refused", kvt, kKeys, "K1\rT^@1\rT1^$\rT^^\rT1\rV1\r", 0,
       "K1^@T1^@V1^$",
       "\nInput barcode error (entry #2): refusing `T^@1' holding a row/column marker\n"
       "\nInput barcode error (entry #3): refusing `T1^$' holding a row/column marker\n"
       "\nInput barcode error (entry #4): refusing `T^^' holding a row/column marker\n"},
      {"an entry of 255 characters is kept", kvt, kKeys, "K1\r" + long_code.substr(0, 255) + "\r", 0,
       "K1^@" + long_code.substr(0, 255) + "^@^^^$", ""},
      {"overlong entries are refused", kvt, kKeys, "K1\r" + long_code + "\rT1\r", 0, "K1^@T1^@^^^$",
       "\nInput barcode error (entry #2): refusing an entry longer than 255 characters `" +
           long_code.substr(0, 255) + "...'\n"},
      {"a refused last entry still ends the record", kvt, kKeys, "K1\rT1\rT^@\r", 0, "K1^@T1^@^^^$",
       "\nInput barcode error (entry #3): refusing `T^@' holding a row/column marker\n"},
      {"a free-format slot takes a code that matches no tag", "K^@^^^@V^$", kKeys, "K1\rF1\rV1\r", 0,
       "K1^@F1^@V1^$", ""},
      {"a tagged code blanks the free-format slot it passes", "K^@^^^@V^$", kKeys, "K1\rF1\rV1\rK2\rV2\r",
       0, "K1^@F1^@V1^$K2^@^^^@V2^$", ""},
      {"a second free-format code is ignored", "K^@^^^@V^$", kKeys, "K1\rF1\rF2\rV1\r", 0,
       "K1^@F1^@V1^$", "\nInput barcode error (entry #3): ignoring extra free format tag `F2'\n"},
      {"two free-format slots", "K^@^^^@^^^@V^$", "a^@b^@c^@d^$", "K1\rF1\rF2\rV1\rK2\rV2\r", 0,
       "K1^@F1^@F2^@V1^$K2^@^^^@^^^@V2^$", ""},
      {"a free-format slot after the second slot", "K^@T^@^^^$", kKeys, "K1\rT1\rF1\rK2\rT2\r", 0,
       "K1^@T1^@F1^$K2^@T2^@^^^$", ""},
      {"a free-format first slot", "^^^@T^$", "a^@b^$", "F1\rT1\rF2\rT2\rT3\r", 0,
       "F1^@T1^$F2^@T2^$F2^@T3^$", ""},
  };
  for (const auto& c : cases) {
    clear_output();
    std::vector<std::string> more = c.more;
    EXPECT_EQ(scan(c.tags, c.keys, c.input, more), c.status) << c.what;
    EXPECT_EQ(kivtest::read_file(result), c.keys + c.rows) << c.what;
    EXPECT_EQ(kivtest::read_file(error), c.errors) << c.what;
    EXPECT_EQ(errors(), "") << c.what;
  }
}

TEST_F(TagscannerTest, ListingModeAndSaveFile) {
  std::string save = dir.str() + "/save";
  EXPECT_EQ(scan("K^@T^$", "a^@b^$", "K1\r\nT1\rnot a tag\r", {"-n", "-o", save}), 0);
  EXPECT_EQ(page(), "   1 - `K1'\n   2 - `T1'\n   3 - `not a tag'\n");
  EXPECT_EQ(kivtest::read_file(result), "");
  EXPECT_EQ(kivtest::read_file(error), "");
  // Every entry as read, the empty one too, each with the separator.
  EXPECT_EQ(kivtest::read_file(save), "K1\r\rT1\rnot a tag\r");
}

TEST_F(TagscannerTest, UsageAndCountErrors) {
  std::string in = dir.write("codes", "K1\r");
  std::string u = kUsage;
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;
  } cases[] = {
      {{}, 2, u},
      {{"-t", "0", "-b", "K^$", "-k", "a^$", in}, 2, "time must be > 0...\n" + u},
      {{"-z", "-b", "K^$", "-k", "a^$", in}, 2, "tagscanner: illegal option -- z\n" + u},
      {{"-k", "a^$", in}, 2, "Missing barcode_tag_string...\n" + u},
      {{"-b", "", "-k", "a^$", in}, 2, "Missing barcode_tag_string...\n" + u},
      {{"-b", "K^$", in}, 2, "Missing dbkey_string...\n" + u},
      {{"-b", "K^@T^$", "-k", "a^$", in}, 2,
       "Number of fields in dbkey_string(1)(a^$) and barcode_tag_string(2)(K^@T^$) mismatch...\n"},
      {{"-b", "K^@T", "-k", "a^@b", in}, 2,
       "Number of fields in dbkey_string(0)(a^@b) and barcode_tag_string(0)(K^@T) mismatch...\n"},
      {{"-b", "K^$", "-k", "a^$", "-a", result, "-e", error}, 2, "Missing input file\n" + u},
      {{"-b", "K^$", "-k", "a^$", "-e", error, in}, 2, "Missing result file\n"},
      {{"-b", "K^$", "-k", "a^$", "-a", result, in}, 2, "Missing error file\n"},
      {{"-b", "K^$", "-k", "a^$", "-a", result, "-e", error, dir.str() + "/none"}, 3,
       "openfile() cannot open " + dir.str() + "/none\nopenfile(): No such file or directory\n"},
      {{"-b", "K^$", "-k", "a^$", "-a", dir.str() + "/no/out", "-e", error, in}, 3,
       "openfile() cannot open " + dir.str() + "/no/out\nopenfile(): No such file or directory\n"},
      // Files that open but take no bytes: the run does not end as a success.
      {{"-b", "K^$", "-k", "a^$", "-a", "/dev/full", "-e", error, in}, 3, "cannot write /dev/full\n"},
      {{"-b", "K^$", "-k", "a^$", "-a", result, "-e", error, "-o", "/dev/full", in}, 3,
       "cannot write /dev/full\n"},
  };
  for (const auto& c : cases) {
    clear_output();
    EXPECT_EQ(run(c.args), c.status) << c.err;
    EXPECT_EQ(errors(), c.err);
    EXPECT_EQ(page(), "");
  }
  clear_output();
  EXPECT_EQ(run({"-b", "K^$", "-k", "a^$", "-a", result, "-e", error, "-d", dir.str() + "/no/port"}), -1);
  EXPECT_EQ(page(), "Failed to open port: (2) No such file or directory\n");
}

TEST_F(TagscannerTest, PortReaderEndsWhenTheReaderFallsSilent) {
  kivtest::Pty pty;
  kiv::SerialPort port = kiv::openport(pty.name());
  kiv::PortIdle idle{std::chrono::milliseconds(50), 4};
  pty.write("K1\rT1\n\r");
  EXPECT_EQ(kiv::readportentry(port, '\r', idle), "K1");
  EXPECT_EQ(kiv::readportentry(port, '\r', idle), "T1");
  EXPECT_EQ(kiv::readportentry(port, '\r', idle), "");
  // A code that is half received when the reader falls silent is dropped;
  // one that continues within the waits is kept whole.
  std::thread later([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    pty.write("2;V");
  });
  pty.write("T");
  EXPECT_EQ(kiv::readportentry(port, ';', idle), "T2");
  later.join();
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(kiv::readportentry(port, ';', idle), std::nullopt);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
}

TEST_F(TagscannerTest, ReaderOnAPseudoTerminalFillsResultAndSaveFiles) {
  kivtest::Pty pty;
  std::string save = dir.str() + "/save";
  kivtest::Program p(kivtest::toolpath("tagscanner"),
                     {"-b", "K^@T^@V^$", "-k", kKeys, "-t", "1", "-d", pty.name(), "-o", save, "-a",
                      result, "-e", error},
                     {"KIV_TAGSCANNER_IDLE_MS=300"});
  // Codes come before and after the initial wait, with pauses shorter than
  // the reader's patience; the last one is cut off.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  pty.write("K1\rT1\r");
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  pty.write("V1\r\nT2\rV");
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  pty.write("2\rK3");
  kivtest::RunResult r = p.wait();
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(kivtest::read_file(result), kKeys + "K1^@T1^@V1^$K1^@T2^@V2^$");
  EXPECT_EQ(kivtest::read_file(error), "");
  EXPECT_EQ(kivtest::read_file(save), "K1\rT1\rV1\r\rT2\rV2\r");
}

TEST_F(TagscannerTest, UnopenablePortEndsWithMinusOne) {
  kivtest::Program p(kivtest::toolpath("tagscanner"),
                     {"-b", "K^$", "-k", "a^$", "-a", result, "-e", error, "-d", dir.str() + "/no/port"});
  kivtest::RunResult r = p.wait();
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "Failed to open port: (2) No such file or directory\n");
}

}  // namespace
