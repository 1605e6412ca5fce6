// The serial port layer, driven through pseudo-terminals.
#include "platform/serial.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include "support/testsupport.h"

namespace {

struct PtyPair {
  int master = -1, slave = -1;
  std::string name;
  PtyPair() {
    char n[256];
    if (openpty(&master, &slave, n, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
    name = n;
  }
  ~PtyPair() {
    ::close(master);
    ::close(slave);
  }
  termios settings() const {
    termios t;
    tcgetattr(slave, &t);
    return t;
  }
  std::string read_master(size_t size) {
    std::string got;
    while (got.size() < size) {
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, 2000) <= 0) break;
      char buf[256];
      ssize_t n = ::read(master, buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
    return got;
  }
};

kiv::SerialPort open_port(const std::string& name) {
  std::optional<kiv::SerialPort> p = kiv::SerialPort::open(name);
  if (!p) throw std::runtime_error("cannot open " + name);
  return std::move(*p);
}

// A pseudo-terminal keeps 8 data bits without parity whatever is asked, so
// those two settings are not seen here; the rest of the line is.
TEST(SerialTest, LineSettingsAndRawMode) {
  struct Case {
    kiv::SerialLine line;
    tcflag_t cflag_on, cflag_off, iflag_on, iflag_off;
  } cases[] = {
      {{}, CS8 | CLOCAL | CREAD, PARENB | CSTOPB | CRTSCTS, 0, INPCK | IXON | IXOFF | IXANY | ICRNL},
      {{.stop_bits = 2, .parity_check = true, .hardware_flow = true, .software_flow = true},
       CSTOPB | CRTSCTS, 0, INPCK | IXON | IXOFF, IXANY},
  };
  for (const auto& c : cases) {
    PtyPair pty;
    kiv::SerialPort port = open_port(pty.name);
    ASSERT_TRUE(port.set_line(c.line)) << std::strerror(errno);
    termios t = pty.settings();
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_EQ(cfgetispeed(&t), B9600);
    EXPECT_EQ(t.c_cflag & c.cflag_on, c.cflag_on);
    EXPECT_EQ(t.c_cflag & c.cflag_off, 0u);
    EXPECT_EQ(t.c_iflag & c.iflag_on, c.iflag_on);
    EXPECT_EQ(t.c_iflag & c.iflag_off, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
  }
}

TEST(SerialTest, RefusedSettings) {
  PtyPair pty;
  kiv::SerialPort port = open_port(pty.name);
  errno = 0;
  EXPECT_FALSE(port.set_line({.baud = 1234}));
  EXPECT_EQ(errno, EINVAL);
  EXPECT_FALSE(port.set_line({.data_bits = 9}));
  EXPECT_FALSE(port.set_line({.parity = 'X'}));

  kivtest::TempDir dir;
  kiv::SerialPort file = open_port(dir.write("plain", ""));
  EXPECT_FALSE(file.set_line({}));
  EXPECT_EQ(errno, ENOTTY);
  EXPECT_FALSE(file.set_timeouts({}));
  EXPECT_EQ(errno, ENOTTY);
}

TEST(SerialTest, TimeoutsInTenthsOfASecond) {
  struct Case {
    kiv::SerialTimeouts t;
    int vmin, vtime;
  } cases[] = {
      {{}, 1, 0},                    // none: a read waits for its first byte
      {{2, 1, 1}, 0, 1},             // a few milliseconds: the shortest termios wait
      {{0, 0, 1500}, 0, 15},
      {{200, 1, 1}, 0, 2},
      {{0, 0, 60000}, 0, 255},
  };
  PtyPair pty;
  kiv::SerialPort port = open_port(pty.name);
  for (const auto& c : cases) {
    ASSERT_TRUE(port.set_timeouts(c.t));
    termios t = pty.settings();
    EXPECT_EQ(t.c_cc[VMIN], c.vmin) << c.t.total_ms;
    EXPECT_EQ(t.c_cc[VTIME], c.vtime) << c.t.total_ms;
  }
}

TEST(SerialTest, ExclusiveUseOfAnExistingDevice) {
  PtyPair pty;
  {
    kiv::SerialPort port = open_port(pty.name);
    errno = 0;
    EXPECT_FALSE(kiv::SerialPort::open(pty.name));
    // The lock refuses the super-user too; others meet TIOCEXCL first.
    EXPECT_TRUE(errno == EWOULDBLOCK || errno == EBUSY) << errno;
  }
  EXPECT_TRUE(kiv::SerialPort::open(pty.name));  // free again once closed

  kivtest::TempDir dir;
  std::string missing = dir.str() + "/ttyS9";
  EXPECT_FALSE(kiv::SerialPort::open(missing));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(kivtest::fs::exists(missing));
}

TEST(SerialTest, BytesBothWays) {
  PtyPair pty;
  kiv::SerialPort port = open_port(pty.name);
  ASSERT_TRUE(port.set_line({.dtr = true}));  // a pseudo-terminal has no modem lines: no failure
  std::string bytes("A\0B\r\n\x18", 6);
  ASSERT_TRUE(port.write(bytes));
  EXPECT_EQ(pty.read_master(bytes.size()), bytes);

  EXPECT_EQ(port.queued(), 0);
  ASSERT_EQ(::write(pty.master, "xy\r", 3), 3);
  for (int i = 0; i < 100 && port.queued() < 3; ++i) usleep(10000);
  EXPECT_EQ(port.queued(), 3);
  std::string got;
  for (char c; port.queued() > 0 && port.read_byte(c);) got += c;
  EXPECT_EQ(got, "xy\r");
  port.close();
  EXPECT_EQ(port.fd(), -1);
}

}  // namespace
