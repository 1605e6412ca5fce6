// Serial ports on termios (see serial.h): opening for exclusive use, line
// settings, read time-outs, modem lines, and drained close.
#include "platform/serial.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "platform/output.h"

namespace kiv {

namespace {

struct Speed {
  int baud;
  speed_t code;
};

constexpr Speed kSpeeds[] = {
    {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
    {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},
};

std::optional<speed_t> speed_code(int baud) {
  for (const Speed& s : kSpeeds)
    if (s.baud == baud) return s.code;
  return std::nullopt;
}

std::optional<tcflag_t> size_bits(int data_bits) {
  switch (data_bits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    case 8: return CS8;
  }
  return std::nullopt;
}

// Raw mode, as a serial device is used by the tools: bytes pass unchanged.
void make_raw(termios& t) {
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag |= CLOCAL | CREAD;
}

void set_flag(tcflag_t& flags, tcflag_t bits, bool on) {
  if (on)
    flags |= bits;
  else
    flags &= ~bits;
}

// Raises or drops one modem line. Devices without modem lines refuse the
// call; that is no failure of the port.
void set_modem_line(int fd, int line, bool on) {
  int bits = line;
  int saved = errno;
  (void)ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits);
  errno = saved;
}

// termios counts read time-outs in tenths of a second, up to 255.
cc_t tenths(int ms) { return static_cast<cc_t>(std::clamp((ms + 99) / 100, 1, 255)); }

}  // namespace

std::optional<SerialPort> SerialPort::open(const std::string& device) {
  // O_NONBLOCK so that the open does not wait for a carrier; cleared below.
  int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  // The lock keeps out every other process, the super-user too; TIOCEXCL is
  // the terminal's own guard against further opens.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int e = errno;
    ::close(fd);
    errno = e;
    return std::nullopt;
  }
  if (isatty(fd)) (void)ioctl(fd, TIOCEXCL);
  int fl = fcntl(fd, F_GETFL);
  if (fl < 0 || fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) {
    int e = errno;
    ::close(fd);
    errno = e;
    return std::nullopt;
  }
  return SerialPort(fd);
}

SerialPort::SerialPort(SerialPort&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

SerialPort& SerialPort::operator=(SerialPort&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

SerialPort::~SerialPort() { close(); }

bool SerialPort::set_timeouts(const SerialTimeouts& t) {
  termios tio;
  if (tcgetattr(fd_, &tio) != 0) return false;
  int total = t.total_per_byte_ms + t.total_ms;
  if (t.interval_ms == 0 && total == 0) {
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
  } else {
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = tenths(std::max(t.interval_ms, total));
  }
  return tcsetattr(fd_, TCSANOW, &tio) == 0;
}

bool SerialPort::set_line(const SerialLine& line) {
  std::optional<speed_t> speed = speed_code(line.baud);
  std::optional<tcflag_t> size = size_bits(line.data_bits);
  bool parity_ok = line.parity == 'N' || line.parity == 'E' || line.parity == 'O';
  if (!speed || !size || !parity_ok || (line.stop_bits != 1 && line.stop_bits != 2)) {
    errno = EINVAL;
    return false;
  }
  termios tio;
  if (tcgetattr(fd_, &tio) != 0) return false;
  make_raw(tio);
  if (cfsetispeed(&tio, *speed) != 0 || cfsetospeed(&tio, *speed) != 0) return false;
  tio.c_cflag = (tio.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | *size;
  set_flag(tio.c_cflag, PARENB, line.parity != 'N');
  set_flag(tio.c_cflag, PARODD, line.parity == 'O');
  set_flag(tio.c_cflag, CSTOPB, line.stop_bits == 2);
  set_flag(tio.c_iflag, INPCK, line.parity_check);
  set_flag(tio.c_cflag, CRTSCTS, line.hardware_flow);
  set_flag(tio.c_iflag, IXON | IXOFF, line.software_flow);
  tio.c_iflag &= ~static_cast<tcflag_t>(IXANY);
  if (tcsetattr(fd_, TCSANOW, &tio) != 0) return false;
  set_modem_line(fd_, TIOCM_DTR, line.dtr);
  set_modem_line(fd_, TIOCM_RTS, line.rts);
  return true;
}

int SerialPort::queued() const {
  int n = 0;
  if (ioctl(fd_, FIONREAD, &n) != 0) return 0;
  return n;
}

bool SerialPort::write(std::string_view bytes) { return write_all(fd_, bytes); }

bool SerialPort::read_byte(char& c) {
  for (;;) {
    ssize_t n = ::read(fd_, &c, 1);
    if (n == 1) return true;
    if (n < 0 && errno == EINTR) continue;
    return false;
  }
}

void SerialPort::close() {
  if (fd_ < 0) return;
  int saved = errno;
  (void)tcdrain(fd_);
  // The terminal keeps TIOCEXCL while others hold it open; give it back.
  if (isatty(fd_)) (void)ioctl(fd_, TIOCNXCL);
  ::close(fd_);
  fd_ = -1;
  errno = saved;
}

}  // namespace kiv
