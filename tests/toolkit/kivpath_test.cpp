// Path-part checks and the atomic rewrite.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

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

TEST(Path, AtomicCreateNeverReplaces) {
  // Without `replace` the file is made only where nothing stands: an
  // existing file, and a link even to nowhere, stay as they are.
  kivtest::TempDir d;
  std::string file = d.write("f", "old");
  std::filesystem::create_symlink(d.str() + "/nowhere", d.str() + "/link");
  for (const std::string& p : {file, d.str() + "/link"}) {
    errno = 0;
    AtomicWritten w = write_file_atomic(p, "new", nullptr, {.replace = false});
    EXPECT_FALSE(w) << p;
    EXPECT_EQ(errno, EEXIST) << p;
    EXPECT_TRUE(w.created && !w.in_place) << p;
  }
  EXPECT_EQ(kivtest::read_file(file), "old");
  EXPECT_FALSE(std::filesystem::exists(d.str() + "/nowhere"));
  ASSERT_TRUE(write_file_atomic(d.str() + "/g", "made", nullptr, {.new_mode = 0600, .replace = false}));
  EXPECT_EQ(kivtest::read_file(d.str() + "/g"), "made");
  EXPECT_EQ(std::filesystem::status(d.str() + "/g").permissions(), std::filesystem::perms(0600));
  // Nothing but the three entries is left.
  int n = 0;
  for (auto& e : std::filesystem::directory_iterator(d.path())) (void)e, ++n;
  EXPECT_EQ(n, 3);
}
