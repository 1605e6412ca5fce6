// The option scanner of the bar-code station tools.
#include "tools/getopt.h"

#include "support/testsupport.h"
#include "toolrun.h"

namespace {

// Scans all options of `args` and gives what each call returned, as
// "letter" or "letter=argument", then "|" and the first unscanned word.
std::string scan(const std::vector<std::string>& args, std::string_view options) {
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  kiv::GetoptState st;
  std::string seen;
  for (int c; (c = kiv::getopt(st, static_cast<int>(args.size()), argv.data(), options)) != -1;) {
    seen += static_cast<char>(c);
    if (!st.optarg.empty()) seen += "=" + st.optarg;
    seen += " ";
  }
  return seen + "|" + (st.optind < static_cast<int>(args.size()) ? args[st.optind] : "");
}

class GetoptTest : public kivtest::KivTest {};

TEST_F(GetoptTest, ScansLettersArgumentsAndStops) {
  struct Case {
    std::vector<std::string> args;
    std::string seen;
  } cases[] = {
      {{"p"}, "|"},
      {{"p", "-n", "-b", "X", "file"}, "n b=X |file"},
      {{"p", "-nbX", "file"}, "n b=X |file"},        // grouped, argument joined
      {{"p", "-nb", "X", "-q3"}, "n b=X q=3 |"},     // argument as the next word
      {{"p", "-b", "-n"}, "b=-n |"},                  // the next word is the argument whatever it is
      {{"p", "-n", "--", "-b", "X"}, "n |-b"},        // "--" ends the options and is skipped
      {{"p", "-n", "-", "-b"}, "n |-"},               // "-" alone is no option
      {{"p", "file", "-n"}, "|file"},                 // the first word that is no option stops
  };
  for (const auto& c : cases) EXPECT_EQ(scan(c.args, "nb:q:"), c.seen) << c.args.size();
  EXPECT_EQ(errors(), "");
}

TEST_F(GetoptTest, ComplainsWithTheProgramsLastNamePart) {
  EXPECT_EQ(scan({"/usr/local/bin/tagwriter", "-x", "-n"}, "nb:"), "? n |");
  EXPECT_EQ(errors(), "tagwriter: illegal option -- x\n");
  clear_output();
  EXPECT_EQ(scan({"./tagscanner", "-nx:"}, "nb:"), "n ? ? |");
  EXPECT_EQ(errors(), "tagscanner: illegal option -- x\ntagscanner: illegal option -- :\n");
  clear_output();
  EXPECT_EQ(scan({"tagwriter", "-n", "-b"}, "nb:"), "n ? |");
  EXPECT_EQ(errors(), "tagwriter: option requires an argument -- b\n");
}

}  // namespace
