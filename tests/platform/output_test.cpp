// The output seams and the flavour switch.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

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
