// The criteria language, the conditions of each column type, the value and
// date forms of each database type and the name checks; none of these needs
// a database. The statements themselves are in sql_statements_test.cpp.
#include <gtest/gtest.h>

#include "data/sql_pars.h"
#include "support/testsupport.h"
#include "toolkit/base/kivsettings.h"
#include "toolkit/text/rowcol.h"

using namespace kiv;

namespace {

// A tree as text: leaf values in brackets, or(...), range(low,high) with "-"
// for an open end.
std::string dump(const ptree* t) {
  if (!t) return "-";
  if (t->kind == kLeaf) return "[" + t->value + "]";
  std::string op = t->kind == kAlternative ? "or" : "range";
  return op + "(" + dump(t->left.get()) + "," + dump(t->right.get()) + ")";
}

class SqlTest : public kivtest::KivTest {};

class Criteria : public kivtest::KivTest {
 protected:
  void SetUp() override {
    KivTest::SetUp();
    node_.table = "cases";
    node_.columns = {{"name", kTextColumn}, {"n", kIntColumn}, {"amount", kFloatColumn}, {"opened", kDateColumn}};
    node_.count = 4;
  }

  // The condition of one column for a criterion; "REFUSED" when refused.
  std::string cond(int column, const std::string& criterion) {
    sqlbuf().qualifier.clear();
    std::unique_ptr<ptree> t = parse(criterion);
    int rc = qualconstruct(node_, column, t.get());
    return rc == 0 ? sqlbuf().qualifier : "REFUSED";
  }

  dbconfig_node node_;
};

}  // namespace

TEST(CriteriaParse, OperatorsCaretsAndBlanks) {
  struct Case {
    const char* criterion;
    const char* tree;
  } cases[] = {
      {"smith", "[smith]"},
      {"  two   words  ", "[two words]"},
      {"a,b,c", "or([a],or([b],[c]))"},
      {"1,5--9", "or([1],range([5],[9]))"},
      {"a--m", "range([a],[m])"},
      {"a -- m", "range([a],[m])"},
      {"--", "range(-,-)"},
      {"a--", "range([a],-)"},
      {"--m", "range(-,[m])"},
      {" -- m", "range(-,[m])"},
      {",a", "or([],[a])"},
      // One caret escapes the operator after it, two are a literal caret.
      {"a^,b", "[a,b]"},
      {"a^^,b", "or([a^],[b])"},
      {"a^^^,b", "[a^,b]"},
      {"a^--b", "[a--b]"},
      {"a^^--b", "range([a^],[b])"},
      {"x^yz", "[xyz]"},
      {"^^x^", "[^x]"},
      // The first "--" is the operator; the high end keeps the rest.
      {"1--5--9", "range([1],[5--9])"},
      {"==smith", "[==smith]"},
  };
  for (const Case& c : cases) EXPECT_EQ(dump(parse(c.criterion).get()), c.tree) << c.criterion;
}

// A text written as a literal criterion is matched exactly as it stands:
// no alternative, range or escape is read in it. One that holds a row or
// column end cannot be written.
TEST_F(Criteria, ALiteralCriterionMatchesItsTextAlone) {
  struct Case {
    const char* text;
    const char* criterion;
    const char* condition;
  } cases[] = {
      {"ann", "==ann", "( name = 'ann' )"},
      {"a,b", "==a^,b", "( name = 'a,b' )"},
      {"x--", "==x^-^-", "( name = 'x--' )"},
      {"--x", "==^-^-x", "( name = '--x' )"},
      {"^y", "==^^y", "( name = '^y' )"},
      {"y^", "==y^^", "( name = 'y^' )"},
      {"a^,b", "==a^^^,b", "( name = 'a^,b' )"},
      {"O'Brien", "==O'Brien", "( name = 'O''Brien' )"},
      {"", "==", "( name = '' )"},
  };
  for (const Case& c : cases) {
    const std::optional<std::string> criterion = literal_criterion(c.text);
    ASSERT_TRUE(criterion) << c.text;
    EXPECT_EQ(*criterion, c.criterion) << c.text;
    EXPECT_EQ(cond(1, *criterion), c.condition) << c.text;
    // It survives as one column of a row.
    const std::string row = *criterion + "^$";
    EXPECT_EQ(getcolcount(row), 1) << c.text;
    EXPECT_EQ(getcol(row, 1), *criterion) << c.text;
  }
  EXPECT_EQ(cond(2, *literal_criterion("7")), "( n = 7 )");
  EXPECT_EQ(cond(2, *literal_criterion("5--")), "REFUSED");
  for (const char* text : {"a^@b", "a^$", "^$"}) EXPECT_EQ(literal_criterion(text), std::nullopt) << text;
}

TEST_F(Criteria, LeafAndRangeFormsOfEachColumnType) {
  settings().mssqlflag = 1;
  struct Case {
    int column;
    const char* criterion;
    const char* condition;
  } cases[] = {
      {1, "smith", "( name LIKE '%smith%' )"},
      {1, "==smith", "( name = 'smith' )"},
      {1, "==\"\"", "( name IS NULL )"},
      {1, "O'Brien", "( name LIKE '%O''Brien%' )"},
      {1, "==O'Brien", "( name = 'O''Brien' )"},
      // "==" anywhere asks for the exact match; only a leading one is dropped.
      {1, "a==b", "( name = 'a==b' )"},
      {1, "==a==b", "( name = 'a==b' )"},
      {1, "==", "( name = '' )"},
      {1, "a--m", "(( name >= 'a' and name <= 'm' ) or (name >= 'a' and name <= 'm' ))"},
      {1, "--m", "(( name >= 'a' and name <= 'm' ) or \t\t\t\t( name >= 'A' and name <= 'm' ))"},
      {1, "a--", "(( name >= 'a' and name <= 'z' ) or \t\t\t\t( name >= 'a' and name <= 'Z' ))"},
      {1, "--", "( name != '' )"},
      {1, "x,y", "( name LIKE '%x%' ) or ( name LIKE '%y%' )"},
      // Parts that give no value add nothing, and leave no dangling "or".
      {1, "x,", "( name LIKE '%x%' )"},
      {1, ",", ""},
      {2, "1,5--9", "( n = 1 ) or ( n >= 5 and n <= 9 )"},
      {2, "==7", "( n = 7 )"},
      {2, "==\"\"", "( n IS NULL )"},
      {2, "--9", "( n <= 9 )"},
      {2, "-3--", "( n >= -3 )"},
      {2, "--", "( n != '' )"},
      {2, " 12 ", "( n = 12 )"},
      {3, "1.5", "( amount LIKE '%1.5%' )"},
      {3, "==1.5", "( amount = '1.5' )"},
      {2, "7==7", "REFUSED"},
      {3, "1e3--2.5E3", "( amount >= 1e3 and amount <= 2.5E3 )"},
      {4, "3/5/2001", "( opened = '3/5/2001' )"},
      {4, "==3/5/2001", "( opened = '3/5/2001' )"},
      {4, "3/5/2001--3/9/2001", "( opened between '3/5/2001' and '3/9/2001' )"},
      {4, "--3/9/2001", "( opened <= '3/9/2001' )"},
      {4, "3/5/2001--", "( opened >= '3/5/2001' )"},
      {4, "--", "( opened IS NULL )"},
      {4, "10:30", "( opened = '10:30' )"},
      {4, "==\"\"", "( opened IS NULL )"},
  };
  for (const Case& c : cases) EXPECT_EQ(cond(c.column, c.criterion), c.condition) << c.criterion;
  EXPECT_EQ(qualconstruct(node_, 1, nullptr), -1);
}

// Numbers and dates are written bare or between date marks, so a value that
// is not one is refused, never written.
TEST_F(Criteria, ValuesThatAreNotOfTheirTypeAreRefused) {
  for (int flag : {0, 1, 2, 3, 4}) {
    settings().mssqlflag = flag;
    struct Case {
      int column;
      const char* criterion;
    } cases[] = {
        {2, "1 or 1=1"},  {2, "1) or (1=1"}, {2, "5--9; drop table cases"}, {2, "abc"},
        {2, "0x10"},      {2, "1,2 or 1=1"}, {3, "1.5' or ''='"},          {3, "==1'"},
        {3, "nan"},       {4, "x"},          {4, "3/5/2001' or 'a'='a"},   {4, "3/5/2001 or 1=1"},
        {4, "10:30' or 'a'='a"}, {4, "1:0--x"}, {4, "3/5/2001--x"},        {4, "99999999999/1/1"},
    };
    for (const Case& c : cases) {
      clear_output();
      EXPECT_EQ(cond(c.column, c.criterion), "REFUSED") << flag << " " << c.criterion;
      EXPECT_NE(page().find(c.column == 4 ? "Bad date '" : "Bad number '"), std::string::npos) << page();
    }
  }
  clear_output();
  cond(2, "a<b");
  EXPECT_EQ(page(), "<PRE>\nBad number 'a&#60;b' for column n\n</PRE>\n");
  // Text is quoted whatever it holds.
  settings().mssqlflag = 1;
  EXPECT_EQ(cond(1, "x' or '1'='1"), "( name LIKE '%x'' or ''1''=''1%' )");
}

// Long criteria are read in one pass. Thousands of alternatives in a field of
// several megabytes make no copy of the rest of the text at each comma, and a
// chain of half a million alternatives is parsed, turned into its condition
// and freed without one nested call per alternative.
TEST_F(Criteria, LongCriteriaAreReadInOnePass) {
  settings().mssqlflag = 1;
  constexpr int kWide = 2560;
  const std::string word(1700, 'w');
  std::string field, expected;
  for (int i = 0; i < kWide; ++i) {
    std::string alt = std::to_string(i) + word + (i % 2 ? "^,x" : "");
    field += (i ? " , " : "") + alt;
    std::string value = std::to_string(i) + word + (i % 2 ? ",x" : "");
    expected += (i ? " or " : "") + ("( name LIKE '%" + value + "%' )");
  }
  ASSERT_GT(field.size(), 4u << 20);
  std::unique_ptr<ptree> tree = parse(field);
  int alternatives = 0;
  const ptree* t = tree.get();
  for (; t && t->kind == kAlternative; t = t->right.get()) {
    ASSERT_TRUE(t->left && t->left->kind == kLeaf);
    ++alternatives;
  }
  EXPECT_EQ(alternatives, kWide - 1);
  ASSERT_TRUE(t && t->kind == kLeaf);
  EXPECT_EQ(t->value, std::to_string(kWide - 1) + word + ",x");
  EXPECT_EQ(tree->left->value, "0" + word);
  EXPECT_EQ(cond(1, field), expected);

  constexpr int kDeep = 500000;
  std::string deep, deep_expected;
  for (int i = 0; i < kDeep; ++i) {
    deep += i ? ",7" : "7";
    deep_expected += i ? " or ( n = 7 )" : "( n = 7 )";
  }
  EXPECT_EQ(cond(2, deep + ",1--3"), deep_expected + " or ( n >= 1 and n <= 3 )");
}

TEST_F(Criteria, AccessWritesBarsAsHexAndDatesBetweenHashes) {
  settings().mssqlflag = 0;
  EXPECT_EQ(cond(1, "a|b"), "( name LIKE '%a0x7Cb%' )");
  EXPECT_EQ(cond(4, "3/5/2001"), "( opened = #3/5/2001# )");
  EXPECT_EQ(cond(4, "10:30"), "( opened = #10:30# )");
  settings().mssqlflag = 1;
  EXPECT_EQ(cond(1, "a|b"), "( name LIKE '%a|b%' )");
}

TEST_F(SqlTest, TextAndNumbersDoubleApostrophes) {
  EXPECT_EQ(textnl("O'Brien"), "O''Brien");
  EXPECT_EQ(textnl("''"), "''''");
  EXPECT_EQ(textnl("a|b"), "a0x7Cb");
  EXPECT_EQ(textnl(""), std::nullopt);
  EXPECT_EQ(num2str("1'2"), "1''2");
  EXPECT_EQ(num2str(""), std::nullopt);
  settings().mssqlflag = 1;
  EXPECT_EQ(textnl("a|b"), "a|b");
}

TEST_F(SqlTest, DateFormsOfEachDatabaseType) {
  struct Case {
    int flag;
    const char* format;
    int dateop;
    const char* date;
    const char* form;  // null: no value
  } cases[] = {
      // Insert and update (dateop 0): valid dates as they are.
      {0, "mdy", 0, "3/5/2001", "3/5/2001"},
      {1, "mdy", 0, "03 / 05 / 2001", "03 / 05 / 2001"},
      {1, "mdy", 0, "tomorrow", nullptr},
      {1, "mdy", 0, "", nullptr},
      {1, "mdy", 0, "  ", nullptr},
      {1, "mdy", 0, "10:30 AM", "10:30 AM"},
      {1, "mdy", 0, "2001-03-05 10:30:00", "2001-03-05 10:30:00"},
      // Conditions (dateop 1): quoted by the type.
      {0, "mdy", 1, "3/5/2001", "#3/5/2001#"},
      {1, "mdy", 1, "3/5/2001", "'3/5/2001'"},
      {4, "mdy", 1, "3/5/2001", "'3/5/2001'"},
      {0, "mdy", 1, "10:30", "#10:30#"},
      {2, "mdy", 1, "10:30", "#10:30#"},
      {3, "mdy", 1, "10:30", "'10:30'"},
      {4, "mdy", 1, "10:30", "'10:30'"},
      // ORACLE: day-month-year, the year cut to its last two digits.
      {2, "dmy", 1, "5/3/2001", "'5-MAR-1'"},
      {2, "mdy", 1, "03/05/2001", "'05-MAR-1'"},
      {2, "mdy", 0, "12/31/1999", "31-DEC-99"},
      {2, "dmy", 0, "05/11/2010", "5-NOV-10"},
      {2, "mdy", 0, "00/00/00", nullptr},
      {2, "mdy", 1, "00/00/00", nullptr},
      {2, "mdy", 0, "13/01/2001", nullptr},
      {2, "mdy", 0, "3/5/2001@10am", "5-MAR-1"},
      // SYBASE: the month always first, a time after "@" as a fourth part.
      {3, "mdy", 0, "3/5/2001", "Mar 5 2001"},
      {3, "dmy", 1, "03/05/2001", "'Mar 05 2001'"},
      {3, "mdy", 0, "3/5/2001@10am", "Mar 5 2001  10am"},
      {3, "mdy", 0, "0/5/2001", nullptr},
      // Refused: no value instead of an unsafe one.
      {1, "mdy", 1, "x", nullptr},
      {1, "mdy", 0, "3/5/2001'; drop table x", nullptr},
      {1, "mdy", 0, "10:30'", nullptr},
  };
  for (const Case& c : cases) {
    kiv::reset_settings();
    settings().mssqlflag = c.flag;
    settings().dateformat = c.format;
    std::optional<std::string> form = oracle_date(c.date, c.dateop ? DateUse::condition : DateUse::stored);
    if (c.form) {
      EXPECT_EQ(form, c.form) << c.flag << " " << c.dateop << " " << c.date;
    } else {
      EXPECT_EQ(form, std::nullopt) << c.flag << " " << c.dateop << " " << c.date;
    }
  }
}

TEST_F(SqlTest, TablesColumnsAndOrderListsAreChecked) {
  for (const char* ok : {"cases", "db.cases", "cases,log", "cases c, log as l", "\"My Cases\"", "[cases]"})
    EXPECT_TRUE(sql_table_ok(ok)) << ok;
  for (const char* bad : {"", "cases;drop table x", "cases where 1=1", "cases,", "ca'ses", "cases--", "a b c"})
    EXPECT_FALSE(sql_table_ok(bad)) << bad;
  for (const char* ok : {"id_num", "Title", "\"a b\""}) EXPECT_TRUE(sql_column_ok(ok)) << ok;
  for (const char* bad : {"", "a b", "a.b", "x)", "\"a\"b\""}) EXPECT_FALSE(sql_column_ok(bad)) << bad;
  for (const char* ok : {"case_num", "case_num, date_closed", "t.case_num desc,id_num ASC"})
    EXPECT_TRUE(sql_order_ok(ok)) << ok;
  for (const char* bad : {"case_num; drop table x", "1=1", "case_num desc desc", "x,", "(select 1)"})
    EXPECT_FALSE(sql_order_ok(bad)) << bad;
  EXPECT_NE(page().find("<PRE>\nBad order list '(select 1)'\n</PRE>\n"), std::string::npos);
}

