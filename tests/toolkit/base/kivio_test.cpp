// The whole-file reader: every byte of files of any size, of an empty file
// and of a file the system gives no size (a /proc file), and a failure with
// its error number for a file that is missing or cannot be read.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "support/testsupport.h"
#include "toolkit/base/kivio.h"

using namespace kiv;

TEST(ReadWholeFile, EveryByteWhateverTheSize) {
  kivtest::TempDir dir;
  std::string big(200000, 'x');
  for (size_t i = 0; i < big.size(); i += 997) big[i] = static_cast<char>(i % 256);
  struct Case {
    const char* what;
    std::string content;
  } cases[] = {
      {"empty", ""},
      {"one byte", "a"},
      {"NUL bytes and no line end", std::string("a\0b\r\nc", 6)},
      {"larger than any first guess", big},
  };
  for (const Case& c : cases) {
    const std::string path = dir.write("f", c.content);
    std::string text = "left from before";
    ASSERT_TRUE(read_whole_file(path, text)) << c.what;
    EXPECT_EQ(text, c.content) << c.what;
  }
  // A file whose size the system does not know beforehand.
  std::string status;
  ASSERT_TRUE(read_whole_file("/proc/self/status", status));
  EXPECT_TRUE(status.starts_with("Name:")) << status;
  EXPECT_TRUE(status.ends_with("\n")) << status;
}

TEST(ReadWholeFile, FailsWithTheErrorNumber) {
  kivtest::TempDir dir;
  struct Case {
    const char* what;
    std::string path;
    int error;
  } cases[] = {
      {"missing", dir.str() + "/nothing", ENOENT},
      {"a folder", dir.str(), EISDIR},
  };
  for (const Case& c : cases) {
    std::string text = "left from before";
    errno = 0;
    EXPECT_FALSE(read_whole_file(c.path, text)) << c.what;
    EXPECT_EQ(errno, c.error) << c.what;
  }
}
