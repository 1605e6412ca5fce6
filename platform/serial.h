// The serial port layer of the bar-code station tools, on termios.
// A port is an existing device opened for reading and writing by this process
// alone; its line settings and read time-outs are set as the tools ask, and
// its output is drained before it is closed. Failing calls leave errno set so
// that callers can report the system's error.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kiv {

// Line settings. Every port is put in raw (binary) mode: no echo, no line
// editing, no translation of line ends, receiver on, modem status lines
// ignored for the data (CLOCAL).
struct SerialLine {
  int baud = 9600;
  int data_bits = 8;          // 5 to 8
  char parity = 'N';          // 'N' none, 'E' even, 'O' odd
  int stop_bits = 1;          // 1 or 2
  bool parity_check = false;  // check the parity of received bytes
  bool hardware_flow = false; // RTS/CTS handshake
  bool software_flow = false; // XON/XOFF in both directions
  bool dtr = false;           // modem line DTR raised
  bool rts = false;           // modem line RTS raised
};

// Read time-outs in milliseconds: the longest pause between two bytes, and a
// total of `total_per_byte_ms` per requested byte plus `total_ms`. termios
// counts in tenths of a second, so a read with any time-out returns what has
// arrived within the next tenth (or more, for longer totals); with none set a
// read waits for its first byte.
struct SerialTimeouts {
  int interval_ms = 0;
  int total_per_byte_ms = 0;
  int total_ms = 0;
};

class SerialPort {
 public:
  // Opens `device`, which must exist, for reading and writing and takes it
  // for this process alone (an exclusive lock, and TIOCEXCL on a terminal).
  // None, with errno set, when it cannot be opened or is in use.
  static std::optional<SerialPort> open(const std::string& device);

  SerialPort(SerialPort&& other) noexcept;
  SerialPort& operator=(SerialPort&& other) noexcept;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;
  ~SerialPort();

  // Sets the read time-outs; false, with errno set, when the device takes no
  // terminal settings.
  bool set_timeouts(const SerialTimeouts& t);

  // Sets the line; false, with errno set, when the device takes no terminal
  // settings or refuses them. Modem lines that the device cannot switch (a
  // pseudo-terminal has none) are left as they are without failing.
  bool set_line(const SerialLine& line);

  // Number of received bytes waiting to be read; 0 when it cannot be told.
  int queued() const;

  // Writes all of `bytes`; false, with errno set, when a write fails.
  bool write(std::string_view bytes);

  // Reads one byte; false on a failed read or when the time-out passed with
  // nothing received.
  bool read_byte(char& c);

  // Waits until all output has been sent, then closes the port.
  void close();

  int fd() const { return fd_; }

 private:
  explicit SerialPort(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace kiv
