// Typed sort of row/column tables, in both flavours.
#include <gtest/gtest.h>

#include "platform/flavour.h"
#include "toolkit/text/rowcol.h"

using namespace kiv;

namespace {

std::string sorted(std::string table, const char* type, Platform p = Platform::windows,
                   const char* key = "n^$", const char* col = "n") {
  set_platform(p);
  int rc = kivsort(table, key, col, type);
  set_platform(Platform::windows);
  EXPECT_EQ(rc, 0);
  return table;
}

}  // namespace

TEST(KivSort, IntOrderFollowsTheFlavour) {
  const std::string t = "10^$9^$100^$";
  EXPECT_EQ(sorted(t, "INT", Platform::windows), "100^$10^$9^$");
  EXPECT_EQ(sorted(t, "INT", Platform::linux), "9^$10^$100^$");
  EXPECT_EQ(sorted(t, "int", Platform::linux), "9^$10^$100^$");  // type without regard to case
  EXPECT_EQ(sorted(t, "CHAR"), "10^$100^$9^$");
  EXPECT_EQ(sorted(t, "text"), "10^$100^$9^$");  // unknown type sorts as text
  // Leading integers; no number reads as 0.
  EXPECT_EQ(sorted("5 apples^$x^$-3^$", "INT", Platform::linux), "-3^$x^$5 apples^$");
}

TEST(KivSort, FloatAndDateTime) {
  EXPECT_EQ(sorted("2.5^$-1e1^$2.25^$", "FLOAT"), "-1e1^$2.25^$2.5^$");
  EXPECT_EQ(sorted("01/01/2000^$12/31/1999^$", "DATE_TIME"), "12/31/1999^$01/01/2000^$");
  EXPECT_EQ(sorted("01/02/2000 10:00:00^$01/02/2000 09:59:59^$", "date_time"),
               "01/02/2000 09:59:59^$01/02/2000 10:00:00^$");
  // Blanks around the separators are allowed; month before day within a year.
  EXPECT_EQ(sorted("02 / 01 / 2000^$01/15/2000^$", "DATE_TIME"), "01/15/2000^$02 / 01 / 2000^$");
}

TEST(KivSort, SortsByTheNamedColumnAndDropsTrailingText) {
  std::string t = "1^@b^$2^@a^$junk";
  ASSERT_EQ(kivsort(t, "id^@name^$", "name", "CHAR"), 0);
  EXPECT_EQ(t, "2^@a^$1^@b^$");
}

TEST(KivSort, ArgumentErrorsInOrder) {
  std::string empty, t = "1^$";
  EXPECT_EQ(kivsort(empty, "", "", ""), -1);
  EXPECT_EQ(kivsort(t, "", "", ""), -2);
  EXPECT_EQ(kivsort(t, "n^$", "", ""), -3);
  EXPECT_EQ(kivsort(t, "n^$", "", "INT"), -4);
  // A column that is not in the key row leaves the rows as they are.
  std::string u = "2^$1^$";
  EXPECT_EQ(kivsort(u, "n^$", "missing", "INT"), 0);
  EXPECT_EQ(u, "2^$1^$");
}

TEST(KivSort, LargeTablesSortInOnePass) {
  std::string t;
  for (int i = 0; i < 40000; ++i) t += std::to_string((i * 7919) % 40000) + "^$";
  set_platform(Platform::linux);
  ASSERT_EQ(kivsort(t, "n^$", "n", "INT"), 0);
  set_platform(Platform::windows);
  EXPECT_EQ(t.substr(0, 9), "0^$1^$2^$");
}

TEST(KivSort, TimeFirstValuesAndIntRange) {
  // Time first: compared by the same positions as dates.
  EXPECT_EQ(sorted("10:00:00 01/02/2000^$09:00:00 01/02/2000^$", "DATE_TIME"),
            "09:00:00 01/02/2000^$10:00:00 01/02/2000^$");
  // Leading integers are read as 32-bit numbers.
  EXPECT_EQ(sorted("99999999999^$2147483647^$1^$", "INT", Platform::linux),
            "1^$99999999999^$2147483647^$");
}
