// printf-style formatting over typed arguments.
#include <gtest/gtest.h>

#include "toolkit/base/kivfmt.h"

using namespace kiv;

TEST(Format, ConversionsAndArguments) {
  EXPECT_EQ(sformat("%s=%d", std::string("a"), 5), "a=5");
  EXPECT_EQ(sformat("%5s|%-5s|%.2s", "ab", "cd", "xyz"), "   ab|cd   |xy");
  EXPECT_EQ(sformat("%03d %x %X %u %ld", 7, 255, 255, 3u, 9L), "007 ff FF 3 9");
  EXPECT_EQ(sformat("%c%c", 'o', 'k'), "ok");
  EXPECT_EQ(sformat("%.2f %g", 1.005, 0.5), "1.00 0.5");
  EXPECT_EQ(sformat("100%%"), "100%");
  EXPECT_EQ(sformat("%*d", 4, 1), "   1");
  EXPECT_EQ(sformat("%s", static_cast<const char*>(nullptr)), "(null)");
}

TEST(Format, MismatchedAndMissingArgumentsAreSafe) {
  EXPECT_EQ(sformat("%d", "42abc"), "42");
  EXPECT_EQ(sformat("%s", 12), "12");
  EXPECT_EQ(sformat("a%sb%dc"), "abc");
  EXPECT_EQ(sformat("%n%s", "x"), "x");
  EXPECT_EQ(sformat("tail %"), "tail %");
  EXPECT_EQ(sformat("%s", std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(Format, EscapeAppliesToTextOnly) {
  auto esc = [](std::string_view s) { return "[" + std::string(s) + "]"; };
  std::array<FmtArg, 3> args{FmtArg("x"), FmtArg(5), FmtArg('c')};
  EXPECT_EQ(vformat("<%s %d %c>", args, +esc), "<[x] 5 [c]>");
}
