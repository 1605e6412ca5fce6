// Case numbers: the counter file's exact bytes after plain, picture and
// sub-case numbers (the clock and the home fixed), whole-key matching and
// the kinds of line, the counter's bounds and a parent's shape, the failures
// with their messages and ends, the trace of a picture number, and the lock:
// a held lock waited for and given up with numbers that are all different, a
// leftover lock file that holds nothing, a rewrite that fails, and the
// temporary files of a killed rewrite.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <set>

#include <unistd.h>

#include "engine/upcasenum.h"
#include "engine/upclock.h"
#include "enginetest.h"
#include "platform/flavour.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/base/kivlock.h"

using namespace kiv;
using namespace std::chrono_literals;
using enginetest::Attr;
using enginetest::entries;
using enginetest::objects;
using kivtest::exit_status;
namespace fs = std::filesystem;

namespace {

// 1700000000 is Tuesday 11/14/2023 in UTC, day 318 of the year.
constexpr std::time_t kMoment = 1700000000;

// The time-based number of a process: the moment, then its id in seven
// digits, then (from its second such number on) their count.
std::string time_number(long long pid, int nth = 1) {
  return sformat("1700000000%07d", pid) + (nth > 1 ? std::to_string(nth) : std::string());
}
const std::string kTimeNumber = time_number(::getpid());

class CaseNumbers : public enginetest::HomeTest {
 protected:
  void SetUp() override {
    HomeTest::SetUp();
    fs::create_directories(path("client/config"));
    engineclock().now = kMoment;
    engineclock().counter_wait = 200ms;
  }
  std::string counter() const { return path("client/config/case_num"); }
  void write_counter(const std::string& text) { home_.write("client/config/case_num", text); }
  std::string read_counter() const { return kivtest::read_file(counter()); }
  // True when nobody holds the counter's lock.
  bool lock_free() const { return kivtest::lock_free(counter() + ".lock"); }

  kivtest::ScopedTz tz_{"UTC0"};
};

const std::vector<Attr> kPrefixMap = {{"case_num-map.VALUE", "ON"},
                                      {"category-prefix.TITLE", "Hardware^@Software^$"},
                                      {"category-prefix.VALUE", "HW^@SW^$"}};

std::vector<Attr> picture(const std::string& separator, const std::string& items, std::vector<Attr> more = {}) {
  more.push_back({"case_num-picture.VALUE", separator});
  more.push_back({"case_num-picture.TITLE", items});
  return more;
}

}  // namespace

TEST_F(CaseNumbers, CounterFileAfterEachKindOfNumber) {
  struct Case {
    const char* what;
    std::string file;
    std::vector<Attr> attrs;
    std::vector<std::string> numbers;  // successive calls
    std::string after;
    std::string page = "";
  } cases[] = {
      {"DEFAULT 100 without a picture", "DEFAULT\t100\n", {}, {"100", "101"}, "DEFAULT\t102\n"},
      {"a stored number is handed out as stored", "DEFAULT\t0041\n", {}, {"0041", "42"}, "DEFAULT\t43\n"},
      {"no DEFAULT line: the time, file unchanged", "SW\t5\n", {}, {kTimeNumber}, "SW\t5\n"},
      {"a picture with only one part is no picture",
       "DEFAULT\t100\n",
       {{"case_num-picture.TITLE", "category-YEAR"}, {"category.VALUE", "SW"}},
       {"100"},
       "DEFAULT\t101\n"},
      {"new prefix SW",
       "DEFAULT\t100\n",
       picture("-", "category-YEAR", {{"category.VALUE", "SW"}}),
       {"SW-2023-1", "SW-2023-2"},
       "DEFAULT\t100\nSW\t3\n"},
      {"an empty field stands by its name",
       "DEFAULT\t100\n",
       picture("-", "category-YEAR"),
       {"category-2023-100"},
       "DEFAULT\t101\n"},
      {"separator ?: date items keep it, fields do not",
       "DEFAULT\t100\n",
       picture("?", "category?DAY?YEAR", {{"category.VALUE", "SW"}}),
       {"SW318?2023?1"},
       "DEFAULT\t100\nSW\t2\n"},
      {"two separator characters split, the whole separator joins",
       "DEFAULT\t100\n",
       picture("-/", "category/dept-MONTH", {{"category.VALUE", "SW"}, {"dept.VALUE", "IT"}}),
       {"SW-/IT-/Nov-/1"},
       "DEFAULT\t100\nSW-/IT\t2\n"},
      {"all-date picture uses DEFAULT",
       "DEFAULT\t100\n",
       picture("-", "DAY-MONTH-YEAR-TODAY"),
       {"318-Nov-2023-11/14/2023-100"},
       "DEFAULT\t101\n"},
      {"a picture of separators only", "DEFAULT\t100\n", picture("-", "--"), {"100"}, "DEFAULT\t101\n"},
      {"a value that reads like a date word",
       "DEFAULT\t100\n",
       picture("-", "category-YEAR", {{"category.VALUE", "YEAR"}}),
       {"YEAR-2023-1"},
       "DEFAULT\t100\nYEAR\t2\n"},
      {"the example: Software maps to SW",
       "DEFAULT\t100\nSW\t7\n",
       picture("-", "category-YEAR", {{"category.VALUE", "Software"}}) + kPrefixMap,
       {"SW-2023-7"},
       "DEFAULT\t100\nSW\t8\n"},
      {"mapping miss: the item vanishes",
       "DEFAULT\t100\n",
       picture("-", "category-YEAR", {{"category.VALUE", "Network"}}) + kPrefixMap,
       {"2023-100"},
       "DEFAULT\t101\n"},
      {"mapping without the prefix object",
       "DEFAULT\t100\n",
       picture("-", "category-YEAR", {{"category.VALUE", "Software"}, {"case_num-map.VALUE", "ON"}}),
       {"2023-100"},
       "DEFAULT\t101\n",
       "<PRE>\nMissing category TITLES for category-prefix object or the whole object \n</PRE>\n"},
      {"mapping without the prefixes",
       "DEFAULT\t100\n",
       picture("-", "category-YEAR",
               {{"category.VALUE", "Software"},
                {"case_num-map.VALUE", "ON"},
                {"category-prefix.TITLE", "Software^$"}}),
       {"2023-100"},
       "DEFAULT\t101\n",
       "<PRE>\nMissing category-prefix VALUES for category-prefix object\n</PRE>\n"},
      {"mapping is on only for exactly ON",
       "DEFAULT\t100\n",
       picture("-", "category-YEAR", {{"category.VALUE", "Software"}, {"case_num-map.VALUE", "on"}}),
       {"Software-2023-1"},
       "DEFAULT\t100\nSoftware\t2\n"},
      {"a value with a blank and a line end",
       "DEFAULT\t100\n",
       picture("-", "category-YEAR", {{"category.VALUE", "Soft ware\nx"}}),
       {"Soft ware\nx-2023-1", "Soft ware\nx-2023-2"},
       "DEFAULT\t100\nSoft_ware_x\t3\n"},
  };
  for (const Case& c : cases) {
    write_counter(c.file);
    clear_output();
    auto list = objects(c.attrs);
    std::vector<std::string> got;
    for (size_t i = 0; i < c.numbers.size(); ++i) got.push_back(casenum_manage(*list));
    EXPECT_EQ(got, c.numbers) << c.what;
    EXPECT_EQ(read_counter(), c.after) << c.what;
    EXPECT_EQ(page(), c.numbers.size() == 1 ? c.page : c.page + c.page) << c.what;
    EXPECT_TRUE(lock_free()) << c.what;
  }
  EXPECT_EQ(entries(path("client/config")), (std::vector<std::string>{"case_num", "case_num.lock"}));
}

TEST_F(CaseNumbers, WholeKeysAndKindsOfLine) {
  struct Step {
    bool sub;
    std::string key;
    std::string number;
  };
  struct Case {
    const char* what;
    std::string file;
    std::vector<Step> steps;
    std::string after;
  } cases[] = {
      {"keys holding / match whole",
       "a\t5\na/b\t9\nDEFAULT\t1\n",
       {{false, "a/b", "9"}, {false, "a", "5"}},
       "a\t6\na/b\t10\nDEFAULT\t1\n"},
      {"a counter named like a parent leaves the sub-case line alone",
       "DEFAULT\t100\n1234\t1234.5\n",
       {{false, "1234", "1"}, {true, "1234", "1234.5"}, {false, "1234", "2"}, {true, "1234", "1234.6"}},
       "DEFAULT\t100\n1234\t1234.7\n1234\t3\n"},
      {"a parent named like a counter leaves the counter alone",
       "DEFAULT\t100\nSW\t4\n",
       {{true, "SW", "SW.1"}, {false, "SW", "4"}, {false, "", "100"}},
       "DEFAULT\t101\nSW\t5\nSW\tSW.2\n"},
      {"a single blank is DEFAULT", "DEFAULT\t7\n", {{false, " ", "7"}}, "DEFAULT\t8\n"},
      {"any white space separates the words",
       " DEFAULT \t 7 \r\n\nSW   3",
       {{false, "", "7"}},
       "DEFAULT\t8\nSW\t3\n"},
      {"a word without its pair is kept", "DEFAULT\t1\nodd\n", {{false, "", "1"}}, "DEFAULT\t2\nodd\n"},
      {"a new key goes before a word without its pair", "DEFAULT\t1\nodd\n",
       {{false, "SW", "1"}, {false, "SW", "2"}, {false, "", "1"}},
       "DEFAULT\t2\nSW\t3\nodd\n"},
      {"stored numbers read as atoi reads them",
       "DEFAULT\t12abc\nN\t-3\n",
       {{false, "", "12abc"}, {false, "N", "-3"}},
       "DEFAULT\t13\nN\t-2\n"},
      {"sub-cases of 1234", "DEFAULT\t100\n", {{true, "1234", "1234.1"}, {true, "1234", "1234.2"}},
       "DEFAULT\t100\n1234\t1234.3\n"},
      {"three sub-cases of 1234.1",
       "DEFAULT\t100\n1234\t1234.2\n",
       {{true, "1234.1", "1234.1.1"}, {true, "1234.1", "1234.1.2"}, {true, "1234.1", "1234.1.3"}},
       "DEFAULT\t100\n1234\t1234.2\n1234.1\t1234.1.4\n"},
      {"a parent holding / and -",
       "DEFAULT\t100\n",
       {{true, "12/10/2024-7", "12/10/2024-7.1"}, {true, "12/10/2024-7", "12/10/2024-7.2"}},
       "DEFAULT\t100\n12/10/2024-7\t12/10/2024-7.3\n"},
      {"a parent holding a blank",
       "DEFAULT\t100\n",
       {{true, "12/10/2024 7", "12/10/2024 7.1"}, {true, "12/10/2024 7", "12/10/2024 7.2"}},
       "DEFAULT\t100\n12/10/2024_7\t12/10/2024_7.3\n"},
  };
  for (const Case& c : cases) {
    write_counter(c.file);
    for (const Step& s : c.steps)
      EXPECT_EQ(s.sub ? sub_getmrnum(s.key, counter()) : getmrnum(s.key, counter()), s.number) << c.what;
    EXPECT_EQ(read_counter(), c.after) << c.what;
  }
  EXPECT_EQ(page(), "");
}

// The counter adds lines only within its own bounds: words of at most 31
// characters, 10,000 lines. A key past them gets the time-based number (a
// parent ends the request) and no line; lines already there stay in use,
// whatever their size, and a number grows past 31 digits.
TEST_F(CaseNumbers, TheCountersBounds) {
  std::string file;
  for (int i = 0; i < 10001; ++i) file += "k" + std::to_string(i) + "\t" + std::to_string(i) + "\n";
  const std::string longkey(40, 'L');
  file += longkey + "\t12345678901234567890123456789012\n" + longkey + "\t" + longkey + ".9\n";
  write_counter(file);
  EXPECT_EQ(getmrnum(longkey, counter()), "12345678901234567890123456789012");
  EXPECT_EQ(getmrnum("k10000", counter()), "10000");
  EXPECT_EQ(sub_getmrnum(longkey, counter()), longkey + ".9");
  const std::string full = read_counter();
  EXPECT_NE(full.find("k10000\t10001\n" + longkey + "\t12345678901234567890123456789013\n" + longkey + "\t" +
                      longkey + ".10\n"),
            std::string::npos);
  // The file is full: a new key is refused.
  EXPECT_EQ(getmrnum("SW", counter()), kTimeNumber);
  EXPECT_EQ(exit_status([&] { sub_getmrnum("1234", counter()); }), 0);
  EXPECT_EQ(page(), "<PRE>\nsub_getmrnum:Cannot open case number file <" + counter() + "> \n</PRE>\n");
  EXPECT_EQ(read_counter(), full);
  EXPECT_TRUE(lock_free());

  // A key of 31 characters is the longest a line takes.
  write_counter("DEFAULT\t100\n");
  clear_output();
  const std::string k31(31, 'K');
  EXPECT_EQ(getmrnum(k31, counter()), "1");
  EXPECT_EQ(getmrnum(k31 + "X", counter()), time_number(::getpid(), 2));
  // A picture of 31 field items gives a key far longer than 31 characters.
  std::vector<Attr> attrs;
  std::string items;
  for (int i = 1; i <= 31; ++i) {
    items += (i > 1 ? "-f" : "f") + std::to_string(i);
    attrs.push_back({"f" + std::to_string(i) + ".VALUE", "v" + std::to_string(i)});
  }
  auto list = objects(picture("-", items, attrs));
  EXPECT_TRUE(casenum_manage(*list).ends_with("-" + time_number(::getpid(), 3)));
  // A parent line holds the parent and "<parent>.2": 29 characters fit.
  EXPECT_EQ(sub_getmrnum(std::string(29, 'P'), counter()), std::string(29, 'P') + ".1");
  EXPECT_EQ(exit_status([&] { sub_getmrnum(std::string(30, 'P'), counter()); }), 0);
  EXPECT_EQ(page(), "<PRE>\nsub_getmrnum: case number is not defined \n</PRE>\n");
  const std::string p29(29, 'P');
  EXPECT_EQ(read_counter(), "DEFAULT\t100\n" + k31 + "\t2\n" + p29 + "\t" + p29 + ".2\n");
}

// A parent is taken only in the shape a counter key has: no blank or
// control character, and room in its line for "<parent>.2".
TEST_F(CaseNumbers, ParentShape) {
  for (const char* good : {"1000", "1234.1", "SW-2023-7", "12/10/2024-7", "<b>x</b>"})
    EXPECT_TRUE(parent_shape(good)) << good;
  for (const char* bad : {"", "12 7", "12\n7", "a\tb", "x\x7f"}) EXPECT_FALSE(parent_shape(bad)) << bad;
  EXPECT_TRUE(parent_shape(std::string(29, '9')));
  EXPECT_FALSE(parent_shape(std::string(30, '9')));
}

TEST_F(CaseNumbers, FailuresAndTheirEnds) {
  // The counter file is missing.
  EXPECT_EQ(getmrnum("", counter()), kTimeNumber);
  EXPECT_EQ(page(), "<PRE>\nCannot open case number file <" + counter() + "> \n</PRE>\n");
  clear_output();
  EXPECT_EQ(exit_status([&] { sub_getmrnum("1234", counter()); }), 0);
  EXPECT_EQ(page(), "<PRE>\nsub_getmrnum:Cannot open case number file <" + counter() + "> \n</PRE>\n");
  EXPECT_FALSE(fs::exists(counter()));

  struct Case {
    const char* what;
    std::string file, parent, page;
  } cases[] = {
      {"a running number that is no number", "1234\t1234.x\n", "1234",
       "sub_getmrnum: case number is not formated as x.x \n"},
      {"a running number missing", "1234\t1234.\n", "1234", "sub_getmrnum: case number is not formated as x.x \n"},
      {"no parent", "DEFAULT\t1\n", "", "sub_getmrnum: case number is not defined \n"},
  };
  for (const Case& c : cases) {
    write_counter(c.file);
    clear_output();
    EXPECT_EQ(exit_status([&] { sub_getmrnum(c.parent, counter()); }), 0) << c.what;
    EXPECT_EQ(page(), "<PRE>\n" + c.page + "</PRE>\n") << c.what;
    EXPECT_EQ(read_counter(), c.file) << c.what;
    EXPECT_TRUE(lock_free()) << c.what;
  }
}

TEST_F(CaseNumbers, TraceOfAPictureNumber) {
  reqctx().kivdebug = 1;
  write_counter("DEFAULT\t100\nSW\t7\n");
  auto list =
      objects(picture("-", "category-dept-YEAR", {{"category.VALUE", "Software"}, {"dept.VALUE", "IT"}}) +
              kPrefixMap + std::vector<Attr>{{"dept-prefix.TITLE", "HR^$"}, {"dept-prefix.VALUE", "H^$"}});
  EXPECT_EQ(casenum_manage(*list), "SW-2023-7");
  auto trace = [](const std::string& line) { return "<PRE>\n" + line + "</PRE>\n"; };
  EXPECT_EQ(page(), trace("MRFILE='" + counter() + "'") + trace("SEPARATOR=-\n") +
                        trace("PICTURE TITLES=category-dept-YEAR\n") + trace("PIC ITEM=category\n") +
                        trace("PIC ITEM PREFIX=SW\n") + trace("PIC ITEM=dept\n") +
                        trace("Inconsistent dept-prefix object \n") +
                        trace("No map for 'IT' in the dept-prefix object \n") + trace("PIC ITEM VALUE=IT\n") +
                        trace("PIC ITEM=YEAR\n") + trace("Total Prefix=SW\n") +
                        trace("Case number using PICTURE=7\n") + trace("DO USE PICTURE ret=SW-2023-7\n"));
  clear_output();
  EXPECT_EQ(sub_casenum_manage("SW-2023-7"), "SW-2023-7.1");
  EXPECT_EQ(page(), trace("SUB_CASE_MANAGE MRFILE='" + counter() + "'") +
                        trace("SUB_CASE_MANAGE  ret=SW-2023-7.1\n"));
  clear_output();
  auto plain = objects({});
  EXPECT_EQ(casenum_manage(*plain), "100");
  EXPECT_EQ(page(), trace("MRFILE='" + counter() + "'") + trace("DO NOT USE PICTURE. BAD or no PICTURE object\n") +
                        trace("DO NOT USE PICTURE ret=100\n"));
}

TEST_F(CaseNumbers, HeldLockIsWaitedForThenGivenUp) {
  reqctx().kivdebug = 1;
  home_.write("client/config/errors.txt", "");  // no trace of a missing one
  write_counter("DEFAULT\t100\n");
  FileLock other;  // another open file of the same lock
  ASSERT_TRUE(other.acquire(counter() + ".lock"));
  for (Platform flavour : {Platform::windows, Platform::linux}) {
    set_platform(flavour);
    clear_output();
    const auto start = std::chrono::steady_clock::now();
    const std::string number = getmrnum("", counter());
    EXPECT_EQ(number, time_number(::getpid(), flavour == Platform::windows ? 1 : 2));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms);
    EXPECT_EQ(page(), "<PRE>\nLOCK1</PRE>\n<PRE>\ncase number " + number +
                          " from the time in seconds and the process id" +
                          (flavour == Platform::windows ? "" : " and a running count") +
                          "\n</PRE>\n");
    EXPECT_EQ(read_counter(), "DEFAULT\t100\n");
    clear_output();
    EXPECT_EQ(exit_status([&] { sub_getmrnum("1234", counter()); }), 0);
    EXPECT_EQ(page(), "<PRE>\nsub_getmrnum: can't lock casenum file \n</PRE>\n");
  }
  other.release();
  EXPECT_EQ(getmrnum("", counter()), "100");
}

// Adds that all wait out one held lock, in processes of their own and in
// one process (a batch), each get a number of their own, in the same second.
TEST_F(CaseNumbers, NumbersOfAHeldLockAreAllDifferent) {
  write_counter("DEFAULT\t100\n");
  FileLock other;
  ASSERT_TRUE(other.acquire(counter() + ".lock"));
  std::set<std::string> numbers;
  for (int i = 0; i < 4; ++i) {
    enginetest::ChildRun child = enginetest::in_child([&] { return getmrnum("", counter()); }, false);
    EXPECT_EQ(child.status, std::nullopt);
    EXPECT_EQ(child.result.size(), 17u) << child.result;
    EXPECT_TRUE(child.result.starts_with("1700000000")) << child.result;
    numbers.insert(child.result);
  }
  for (int i = 0; i < 3; ++i) numbers.insert(getmrnum("", counter()));
  EXPECT_EQ(numbers.size(), 7u);
  EXPECT_TRUE(numbers.count(time_number(::getpid(), 3)));
  EXPECT_EQ(read_counter(), "DEFAULT\t100\n");
}

// A rewrite that was killed left its temporary file; the next rewrite
// clears it once it is an hour old, and only regular files of its own name.
TEST_F(CaseNumbers, StaleTemporaryFilesOfTheCounterGo) {
  write_counter("DEFAULT\t100\n");
  auto aged = [](const std::string& p) {
    fs::last_write_time(p, fs::file_time_type::clock::now() - std::chrono::hours(2));
  };
  aged(home_.write("client/config/case_num.tmpAb12Cd", "DEFAULT\t7\n"));
  home_.write("client/config/case_num.tmpEf34Gh", "fresh");
  aged(home_.write("client/config/tk_obj.tmpIj56Kl", "another writer's"));
  const std::string victim = home_.write("victim", "keep");
  aged(victim);
  fs::create_symlink(victim, counter() + ".tmpLINK01");
  EXPECT_EQ(getmrnum("", counter()), "100");
  EXPECT_EQ(entries(path("client/config")),
            (std::vector<std::string>{"case_num", "case_num.lock", "case_num.tmpEf34Gh", "case_num.tmpLINK01",
                                      "tk_obj.tmpIj56Kl"}));
  EXPECT_EQ(kivtest::read_file(victim), "keep");
}

TEST_F(CaseNumbers, LeftoverLockFileHoldsNothing) {
  write_counter("DEFAULT\t100\n");
  home_.write("client/config/case_num.lock", "");
  EXPECT_EQ(getmrnum("", counter()), "100");
  EXPECT_TRUE(fs::exists(counter() + ".lock"));  // never deleted
  // openlock and closelock keep their results.
  const std::string lock = counter() + ".lock";
  EXPECT_EQ(openlock(lock), 0);
  EXPECT_FALSE(lock_free());
  EXPECT_EQ(openlock(lock), -1);  // held by this process already
  EXPECT_EQ(closelock(lock), 0);
  EXPECT_EQ(closelock(lock), -1);
  EXPECT_TRUE(lock_free());
  EXPECT_EQ(getmrnum("", counter()), "101");
}

TEST_F(CaseNumbers, FailedRewriteHandsOutNoCounterNumber) {
  write_counter("DEFAULT\t100\n");
  home_.write("client/config/case_num.lock", "");
  fs::permissions(path("client"), fs::perms(0755));
  fs::permissions(counter(), fs::perms(0644));
  fs::permissions(counter() + ".lock", fs::perms(0644));
  fs::permissions(path("client/config"), fs::perms(0555));
  enginetest::ChildRun plain = enginetest::in_child([&] { return getmrnum("", counter()); }, true);
  enginetest::ChildRun sub = enginetest::in_child([&] { return sub_getmrnum("1234", counter()); }, true);
  fs::permissions(path("client/config"), fs::perms(0755));
  EXPECT_EQ(plain.status, std::nullopt);
  EXPECT_TRUE(plain.result.starts_with("1700000000") && plain.result.size() == 17) << plain.result;
  EXPECT_EQ(plain.page, "<PRE>\nCannot open case number file <" + counter() + "> \n</PRE>\n");
  EXPECT_EQ(sub.status, 0);
  EXPECT_EQ(sub.page, "<PRE>\nsub_getmrnum:Cannot open case number file <" + counter() + "> \n</PRE>\n");
  EXPECT_EQ(read_counter(), "DEFAULT\t100\n");
  EXPECT_EQ(entries(path("client/config")), (std::vector<std::string>{"case_num", "case_num.lock"}));
  EXPECT_EQ(getmrnum("", counter()), "100");
}

TEST_F(CaseNumbers, DateItemsInTheCLocalesWords) {
  struct Case {
    std::time_t t;
    const char *day, *month, *year;
  } cases[] = {
      {0, "001", "Jan", "1970"},
      {kMoment, "318", "Nov", "2023"},
      {1709208000, "060", "Feb", "2024"},  // 02/29/2024, a leap day
      {1735646400, "366", "Dec", "2024"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(getday(c.t), c.day);
    EXPECT_EQ(getmonth(c.t), c.month);
    EXPECT_EQ(getyear(c.t), c.year);
  }
  EXPECT_EQ(getday(), "318");
  EXPECT_EQ(counter_word("a b\tc\nd\x01\x7f" "e/f"), "a_b_c_d__e/f");
}
