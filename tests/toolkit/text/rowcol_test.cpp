// Row/column text: counting, picking and indexing rows and columns, trimming.
#include <gtest/gtest.h>

#include "toolkit/base/kiv_malloc.h"
#include "toolkit/text/rowcol.h"

using namespace kiv;

namespace {
const std::string kTable = "case_num^@title^$12^@^^^$13^@printer^$";
}

TEST(RowCol, RowsOfATable) {
  EXPECT_EQ(getrowcount(kTable), 3);
  EXPECT_EQ(getrowcount(""), 0);
  EXPECT_EQ(getrow(kTable, 1), "case_num^@title^$");
  EXPECT_EQ(getrow(kTable, 3), "13^@printer^$");
  EXPECT_EQ(getrow(kTable, 4), "");
  EXPECT_EQ(getrow(kTable, 0), std::nullopt);
  EXPECT_EQ(getrow("", 1), std::nullopt);
  // A last row without its end runs to the end of the text.
  EXPECT_EQ(getrow("a^$b", 2), "b");
}

TEST(RowCol, ColumnsOfARow) {
  const std::string row = "a^@^^^@c^$";
  EXPECT_EQ(getcol(row, 1), "a");
  EXPECT_EQ(getcol(row, 2), "");
  EXPECT_EQ(getcol(row, 3), "c");
  EXPECT_EQ(getcol(row, 4), std::nullopt);
  EXPECT_EQ(getcol(row, 0), std::nullopt);
  EXPECT_EQ(getcol("", 1), std::nullopt);
  EXPECT_EQ(getcolcount(row), 3);
  EXPECT_EQ(getcolcount("a^@^^^@c"), 0);
  EXPECT_EQ(getcolcount(""), 0);
  // Separators are counted across row ends when given a whole table.
  EXPECT_EQ(getcol("x^$y^@z^$", 2), "z");
  EXPECT_EQ(getcol("x^$y^@z^$", 1), "x^$y");  // to the next separator first
}

TEST(RowCol, IndexFindsWholeNamesOnly) {
  const std::string key = "case_num^@title^$";
  EXPECT_EQ(getindex(key, "title"), 2);
  EXPECT_EQ(getindex(key, "case_num"), 1);
  EXPECT_EQ(getindex(key, "tit"), 0);
  EXPECT_EQ(getindex(key, ""), 0);
  EXPECT_EQ(getindex("", "title"), 0);
  EXPECT_EQ(getindex("subtitle^@titles^@title^$", "title"), 3);
  EXPECT_EQ(getindex("subtitle^@titles^$", "title"), 0);
  EXPECT_EQ(getindex("aa^@a^$", "a"), 2);
}

TEST(RowCol, ValueByKey) {
  EXPECT_EQ(getvaluebykey("13^@printer^$", "case_num^@title^$", "title"), "printer");
  EXPECT_EQ(getvaluebykey("13^@^^^$", "case_num^@title^$", "title"), "");
  EXPECT_EQ(getvaluebykey("13^@printer^$", "case_num^@title^$", "owner"), std::nullopt);
  EXPECT_EQ(getvaluebykey("", "case_num^@title^$", "title"), std::nullopt);
}

// The folding getters give what the optional ones find, and an empty text
// where they find none.
TEST(RowCol, FoldingGettersReadNoneAsEmpty) {
  const std::string key = "case_num^@title^$";
  EXPECT_EQ(getrow_or_empty(kTable, 2), "12^@^^^$");
  for (int n : {0, 4}) EXPECT_EQ(getrow_or_empty(kTable, n), "") << n;
  EXPECT_EQ(getrow_or_empty("", 1), "");
  EXPECT_EQ(getcol_or_empty("a^@c^$", 2), "c");
  for (int n : {0, 3}) EXPECT_EQ(getcol_or_empty("a^@c^$", n), "") << n;
  EXPECT_EQ(getvaluebykey_or_empty("13^@printer^$", key, "title"), "printer");
  EXPECT_EQ(getvaluebykey_or_empty("13^@printer^$", key, "owner"), "");
  EXPECT_EQ(getvaluebykey_or_empty("", key, "title"), "");
}

TEST(RowCol, Trimspace) {
  struct Case {
    std::string in, want;
  } cases[] = {
      {"  a   b\t\n", "a b"},
      {"   ", ""},
      {"", ""},
      {"a\t\tb", "a\t\tb"},  // only blanks fold
      {"\r\nx  y \f", "x y"},
      {"a b  c   d", "a b c d"},  // text before the first run stays in place
      {"x", "x"},
      {"ab \t  c", "ab \t c"},
  };
  for (auto& c : cases) {
    std::string s = c.in;
    EXPECT_EQ(trimspace(s), c.want) << "input [" << c.in << "]";
  }
}

TEST(RowCol, Strstr1AndMalloc) {
  EXPECT_EQ(strstr1("abcabc", "ca"), 2u);
  EXPECT_EQ(strstr1("abc", "x"), std::string_view::npos);
  auto block = kiv_malloc(16);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(block[i], 0);
}

TEST(RowColDeathTest, OutOfMemoryMessageAndStatus) {
  EXPECT_EXIT(kiv_out_of_memory(), ::testing::ExitedWithCode(255),
              "kiv_malloc\\(\\): Out of Memory\\.\\.\\.");
}
