// The output seams and the flavour switch.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

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

TEST(Flavour, SetAndRead) {
  set_platform(Platform::linux);
  EXPECT_EQ(platform(), Platform::linux);
  set_platform(Platform::windows);
  EXPECT_EQ(platform(), Platform::windows);
}
