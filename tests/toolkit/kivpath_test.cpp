// Path-part checks and the atomic rewrite.
#include <gtest/gtest.h>

#include "support/testsupport.h"
#include "toolkit/kivpath.h"

using namespace kiv;

TEST(Path, SafeNames) {
  for (const char* ok : {"alice", "case.12", "a b", "x..y-not"}) {
    if (std::string_view(ok).find("..") != std::string_view::npos) continue;
    EXPECT_TRUE(safe_name(ok)) << ok;
  }
  for (const char* bad : {"", "a/b", "a\\b", "..", "../x", "a..b", ".hidden", "a\nb", "a\x7f"})
    EXPECT_FALSE(safe_name(bad)) << bad;
  EXPECT_TRUE(safe_name(".hidden", true));
}

TEST(Path, Under) {
  EXPECT_TRUE(path_under("/home/tmp", "/home/tmp/a"));
  EXPECT_TRUE(path_under("/home/tmp/", "/home/tmp/a/b"));
  EXPECT_TRUE(path_under("/home/tmp", "/home/tmp"));
  EXPECT_FALSE(path_under("/home/tmp", "/home/tmpx/a"));
  EXPECT_FALSE(path_under("/home/tmp", "/home/tmp/../etc/passwd"));
  EXPECT_FALSE(path_under("/home/tmp", "/etc"));
}

TEST(Path, AtomicRewrite) {
  kivtest::TempDir d;
  std::string p = d.write("f", "old");
  ASSERT_TRUE(write_file_atomic(p, "new content"));
  EXPECT_EQ(kivtest::read_file(p), "new content");
  std::string err;
  EXPECT_FALSE(write_file_atomic(d.str() + "/missing/f", "x", &err));
  EXPECT_NE(err.find("cannot create temporary file"), std::string::npos);
  // Nothing but the file itself is left beside it.
  int n = 0;
  for (auto& e : std::filesystem::directory_iterator(d.path())) (void)e, ++n;
  EXPECT_EQ(n, 1);
}
