// Chart data: counts per value in both flavours' orders, month charts in
// both date formats, blanks, the reorder by count with the file's exact
// bytes, and chart files that two charts of one second never share.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "engine/upcommon_chart.h"
#include "enginetest.h"
#include "platform/flavour.h"
#include "support/testsupport.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/base/kivsettings.h"

using namespace kiv;
using kivtest::read_file;
namespace fs = std::filesystem;

namespace {

constexpr const char* kKeys = "case_num^@status^@date_open^$";

// Found rows of (status, date_open) pairs.
std::string found(std::initializer_list<std::pair<const char*, const char*>> rows) {
  std::string text;
  int n = 0;
  for (const auto& [status, date] : rows)
    text += sformat("%d^@%s^@%s^$", ++n, *status ? status : "^^", *date ? date : "^^");
  return text;
}

class Charts : public enginetest::HomeTest {
 protected:
  void SetUp() override {
    HomeTest::SetUp();
    fs::create_directories(home_.path() / "tmp");
  }

  // The chart file text producechartdata writes, and its result.
  std::string chart(const std::string& rows, const std::string& key, int* result = nullptr) {
    chartfile f = gen_chartfile();
    EXPECT_TRUE(f.file) << f.path;
    if (!f.file) return "";
    int r = producechartdata(f.file.get(), rows, kKeys, key);
    if (result) *result = r;
    f.file.reset();
    return read_file(f.path);
  }
};

}  // namespace

TEST_F(Charts, CountsPerValueInTheFlavoursOrder) {
  const std::string rows = found({{"Open", ""}, {"open", ""}, {"Closed", ""}, {"", ""}, {"  Pending  review ", ""}});
  set_platform(Platform::windows);
  EXPECT_EQ(chart(rows, "status"), "Pending review^@1^$Open^@2^$Closed^@1^$Blank^@1^$\n");
  set_platform(Platform::linux);
  EXPECT_EQ(chart(rows, "status"), "Blank^@1^$Closed^@1^$Open^@2^$Pending review^@1^$\n");
}

TEST_F(Charts, DateChartsCountPerMonth) {
  struct Case {
    const char* format;
    std::string rows;
  } cases[] = {
      {"mdy", found({{"", "02/01/2000"}, {"", "01/20/2000"}, {"", ""}, {"", "01/05/2000"}, {"", "13/01/2000"}})},
      {"dmy", found({{"", "01/02/2000"}, {"", "20/01/2000"}, {"", ""}, {"", "05/01/2000"}, {"", "01/13/2000"}})},
  };
  for (const Case& c : cases) {
    settings().idateflag = std::string(c.format) == "dmy";
    for (Platform p : {Platform::windows, Platform::linux}) {
      set_platform(p);
      EXPECT_EQ(chart(c.rows, "date_open"), "Blank^@2^$Jan 2000^@2^$Feb 2000^@1^$\n") << c.format;
    }
  }
}

TEST_F(Charts, DatesAndMonthLabels) {
  struct Case {
    const char* text;
    int read;
    chartdate mdy;
    const char* label;
  } cases[] = {
      {"01/05/2000", 3, {1, 5, 2000}, "Jan 2000"},
      {" 12/31/1999 10:00 AM", 3, {12, 31, 1999}, "Dec 1999"},
      {"3/4", 2, {3, 4, 0}, "Mar 0"},
      {"3-4-2000", 1, {3, 0, 0}, "Mar 0"},
      {"Blank", 0, {0, 0, 0}, "Blank"},
      {"99999999999/1/1", 3, {2147483647, 1, 1}, "Blank"},
  };
  for (const Case& c : cases) {
    chartdate d;
    EXPECT_EQ(ctotime(c.text, d), c.read) << c.text;
    EXPECT_EQ(d.month, c.mdy.month) << c.text;
    EXPECT_EQ(d.day, c.mdy.day) << c.text;
    EXPECT_EQ(d.year, c.mdy.year) << c.text;
    EXPECT_EQ(getsortmonth(c.text), c.label) << c.text;
  }
  settings().idateflag = 1;
  chartdate d;
  ctotime("05/01/2000", d);
  EXPECT_EQ(d.day, 5);
  EXPECT_EQ(d.month, 1);
  EXPECT_LT(kivchartdatecmp("31/12/1999", "01/01/2000"), 0);
  EXPECT_EQ(kivchartdatecmp("1/1/2000", "01/01/2000"), 0);
}

TEST_F(Charts, NoKeyOrNoRows) {
  int r = 0;
  EXPECT_EQ(chart(found({{"Open", ""}}), "", &r), "");
  EXPECT_EQ(r, -1);
  EXPECT_EQ(page(), "<PRE>\nBad chart key\n</PRE>\n");
  EXPECT_EQ(chart("", "status", &r), "");
  EXPECT_EQ(r, -1);
}

TEST_F(Charts, ReorderedByCount) {
  const std::string text = "Alpha^@1^$Beta^@3^$Gamma^@2^$Delta^@12^$\n";
  struct Case {
    Platform flavour;
    const char* sorted;
  } cases[] = {
      {Platform::windows, "Delta^@12^$Beta^@3^$Gamma^@2^$Alpha^@1^$\n"},
      {Platform::linux, "Alpha^@1^$Gamma^@2^$Beta^@3^$Delta^@12^$\n"},
  };
  for (const Case& c : cases) {
    set_platform(c.flavour);
    objlist list;
    const std::string path = home_.write("tmp/chartfile.1", text);
    EXPECT_EQ(sortchartbyvalue(list, path), 0);
    EXPECT_EQ(read_file(path), c.sorted);
    EXPECT_EQ(getvalfromlist(list, "chartfile.VALUE"), path);
  }
  objlist list;
  EXPECT_EQ(sortchartbyvalue(list, home_.str() + "/tmp/none"), -1);
  EXPECT_EQ(getvalfromlist(list, "chartfile.VALUE"), std::nullopt);
}

TEST_F(Charts, ChartFilesOfOneSecondAreNeverShared) {
  const std::time_t now = 1700000000;
  const std::string first = home_.str() + "/tmp/chartfile.1700000000";
  chartfile a = gen_chartfile(now);
  // The next name is taken by a link planted there: it is left alone.
  fs::create_symlink(home_.path() / "target", first + ".1");
  chartfile b = gen_chartfile(now);
  ASSERT_TRUE(a.file);
  ASSERT_TRUE(b.file);
  EXPECT_EQ(a.path, first);
  EXPECT_EQ(b.path, first + ".2");
  for (const std::string& p : {a.path, b.path}) {
    struct stat st {};
    ASSERT_EQ(::lstat(p.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
  }
  EXPECT_FALSE(fs::exists(home_.path() / "target"));

  fs::remove_all(home_.path() / "tmp");
  chartfile none = gen_chartfile(now);
  EXPECT_FALSE(none.file);
  EXPECT_EQ(none.path, first);
  EXPECT_EQ(errno, ENOENT);
}
