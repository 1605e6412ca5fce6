// The output seams and the flavour switch.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/flavour.h"
#include "platform/output.h"

using namespace kiv;

TEST(Output, FdSinkBuffersUntilFlush) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  {
    FdSink s(fds[1]);
    s << "page " << 42 << '\n';
    char buf[64];
    // Nothing reaches the descriptor before the flush.
    ASSERT_EQ(fcntl(fds[0], F_SETFL, O_NONBLOCK), 0);
    EXPECT_LT(read(fds[0], buf, sizeof buf), 0);
    s.flush();
    ssize_t n = read(fds[0], buf, sizeof buf);
    ASSERT_EQ(n, 8);
    EXPECT_EQ(std::string(buf, 8), "page 42\n");
  }
  close(fds[0]);
  close(fds[1]);
}

// A program that ends without flush_all (std::exit from deep inside) still
// gives its whole page.
TEST(Output, ThePageIsFlushedAtExit) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::fflush(nullptr);  // nothing of this process's own output goes twice
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    set_out(nullptr);
    out() << "page " << 42;
    std::exit(0);
  }
  close(fds[1]);
  std::string text;
  char buf[64];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(text, "page 42");
}

// Pieces of every size reach the descriptor whole and in order; the buffer
// writes when it is full, and a piece larger than it goes out at once.
TEST(Output, FdSinkKeepsTheOrderOfLargeAndSmallPieces) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(fcntl(fds[0], F_SETFL, O_NONBLOCK), 0);
  auto drain = [&] {
    std::string got;
    char buf[4096];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
    return got;
  };
  const std::string large(20000, 'b');
  const std::string small(6000, 's');
  {
    FdSink s(fds[1]);
    s << "a";
    s << large;  // what was held, then the large piece
    EXPECT_EQ(drain(), "a" + large);
    s << small << small;
    EXPECT_EQ(drain(), "");  // 12,000 bytes are held
    s << small;              // would overflow: the held text goes first
    EXPECT_EQ(drain(), small + small);
  }
  EXPECT_EQ(drain(), small);  // the rest at the end
  close(fds[0]);
  close(fds[1]);
}

TEST(Output, SinksCanBeReplaced) {
  StringSink s;
  set_out(&s);
  out() << "x";
  set_out(nullptr);
  EXPECT_EQ(s.text(), "x");
  EXPECT_NE(&out(), &s);
}

// A page written into a file says when the file did not take it: the first
// failed write (a full disk) or a failed close, where the descriptor writer
// would go on silently.
TEST(Output, FileSinkReportsAFileThatDidNotTakeThePage) {
  char name[] = "/tmp/kiv-filesink-XXXXXX";
  const int fd = ::mkstemp(name);
  ASSERT_GE(fd, 0);
  kiv::FileSink good(fd);
  good << "<html>" << std::string(40000, 'x') << "</html>";
  EXPECT_EQ(good.close(), 0);
  EXPECT_EQ(good.close(), 0);
  std::FILE* f = std::fopen(name, "rb");
  ASSERT_NE(f, nullptr);
  std::fseek(f, 0, SEEK_END);
  EXPECT_EQ(std::ftell(f), 40013);
  std::fclose(f);
  std::remove(name);

  const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  if (full < 0) GTEST_SKIP() << "no /dev/full";
  kiv::FileSink lost(full);
  lost << "a page";
  lost.flush();
  lost << std::string(20000, 'y');
  EXPECT_EQ(lost.close(), ENOSPC);

  // Put in place of the page and back again.
  kiv::StringSink page;
  kiv::set_out(&page);
  kiv::FileSink file(::open("/dev/null", O_WRONLY | O_CLOEXEC));
  kiv::Sink* before = kiv::set_out(&file);
  kiv::out() << "into the file";
  EXPECT_EQ(kiv::set_out(before), &file);
  kiv::out() << "into the page";
  EXPECT_EQ(page.text(), "into the page");
  kiv::set_out(nullptr);
}

TEST(Flavour, SetAndRead) {
  set_platform(Platform::linux);
  EXPECT_EQ(platform(), Platform::linux);
  set_platform(Platform::windows);
  EXPECT_EQ(platform(), Platform::windows);
}
