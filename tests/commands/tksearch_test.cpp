// The outside search: the script's output copied into the page, failures
// reported as failures without their partial output, and no scratch file
// left behind.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "commands/tksearch.h"
#include "uptest.h"

using namespace kiv;

namespace {

class Search : public uptest::UpHome {
 protected:
  void script(const std::string& body, mode_t mode = 0755) {
    const std::string p = write("client/bin/tksearch", "#!/bin/sh\n" + body);
    ::chmod(p.c_str(), mode);
  }
  bool tmp_empty() const {
    for (const auto& e : std::filesystem::directory_iterator(path("tmp")))
      if (e.path().filename() != ".keep") return false;
    return true;
  }
};

}  // namespace

TEST_F(Search, OutputReachesThePage) {
  // Standard input is /dev/null: cat ends at once.
  script("echo \"<p>found 3 in $NVHOME</p>\"\ncat\n");
  EXPECT_EQ(tksearch(), 0);
  EXPECT_EQ(page(), "<p>found 3 in " + home() + "</p>\n");
  EXPECT_TRUE(tmp_empty());
}

TEST_F(Search, FailuresAreReported) {
  const std::string command = path("client/bin/tksearch");
  struct Case {
    std::string body;
    mode_t mode;
    int result;
    std::string shown;
  } cases[] = {
      {"echo partial\nexit 3\n", 0755, 1, "The search command " + command + " failed: exit status 3"},
      {"kill -KILL $$\n", 0755, 1, "failed: signal 9"},
      {"echo x\n", 0644, -1, "Can't open command " + command},
  };
  for (const Case& c : cases) {
    script(c.body, c.mode);
    clear_output();
    EXPECT_EQ(tksearch(), c.result) << c.body;
    EXPECT_NE(page().find(c.shown), std::string::npos) << page();
    EXPECT_EQ(page().find("partial"), std::string::npos);
    EXPECT_TRUE(tmp_empty());
  }
  std::filesystem::remove(command);
  clear_output();
  EXPECT_EQ(tksearch(), -1);
  EXPECT_NE(page().find("Can't open command " + command), std::string::npos);
  // No scratch folder: the output file cannot be made.
  script("echo x\n");
  std::filesystem::remove_all(path("tmp"));
  clear_output();
  EXPECT_EQ(tksearch(), 1);
  EXPECT_NE(page().find("Cannot open tmpfile file"), std::string::npos);
}
