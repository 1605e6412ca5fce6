// The request variable list: its nodes, add rules and lookups.
#include <gtest/gtest.h>

#include "support/testsupport.h"
#include "toolkit/text/exlist.h"

using namespace kiv;

namespace {

class ExList : public kivtest::KivTest {};

}  // namespace

TEST_F(ExList, NodeLengthsAndEmbeddedNul) {
  exdata n = formexdatanode("name", std::string("va\0lue", 6));
  EXPECT_EQ(n.value, "va");
  EXPECT_EQ(n.namelen(), 5);
  EXPECT_EQ(n.valuelen(), 3);
  exdata e = formexdatanode("", "");
  EXPECT_EQ(e.namelen(), 0);
  EXPECT_EQ(e.valuelen(), 0);
}

TEST_F(ExList, NamelessNodesNeverMerge) {
  exlist l;
  l.nodes = {formexdatanode("a", "1")};
  addexdatanode(&l, formexdatanode("", "v1"));
  addexdatanode(&l, formexdatanode("", "v2"));
  addexdatanode(&l, formexdatanode("mm_", "v3"));
  ASSERT_EQ(l.nodes.size(), 4u);
  EXPECT_EQ(l.nodes[1].value, "v1");
  EXPECT_EQ(l.nodes[2].value, "v2");
}

// The folding getter gives what getnodeval gives, and the empty text where
// getnodeval gives none: no list, no node, a node without a value.
TEST_F(ExList, ValueOrEmptyFoldsEveryAbsentValue) {
  exlist l;
  l.nodes = {formexdatanode("a", "1"), formexdatanode("empty", ""), formexdatanode("a", "2")};
  EXPECT_EQ(getnodeval_or_empty(&l, "a"), "1");
  EXPECT_EQ(getnodeval_or_empty(&l, "empty"), "");
  EXPECT_EQ(getnodeval_or_empty(&l, "missing"), "");
  EXPECT_EQ(getnodeval_or_empty(&l, ""), "");
  EXPECT_EQ(getnodeval_or_empty(nullptr, "a"), "");
}
