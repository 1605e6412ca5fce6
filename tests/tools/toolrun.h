// Helpers of the tool tests: pseudo-terminals standing in for serial
// devices, and running the built programs as processes.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace kivtest {

// A pseudo-terminal pair. The slave's name is the device the tools open; the
// test plays the printer or the reader on the master side. The slave is put
// in raw mode at once, so that bytes written before a tool sets the line are
// not translated.
class Pty {
 public:
  Pty();
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;
  const std::string& name() const { return name_; }
  int master() const { return master_; }
  int slave() const { return slave_; }
  // Reads from the master until `size` bytes came or `limit` passed.
  std::string read(size_t size, std::chrono::milliseconds limit = std::chrono::seconds(10));
  void write(const std::string& bytes);

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string name_;
};

struct RunResult {
  int status = -1;  // the exit status, or -1 when the program did not exit
  std::string out;
  std::string err;
};

// A running program, its standard output and error going to files.
class Program {
 public:
  Program(const std::string& path, const std::vector<std::string>& args,
          const std::vector<std::string>& env = {});
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  RunResult wait();

 private:
  int pid_ = -1;
  std::string outfile_, errfile_;
};

// The path of a built tool ("tagwriter", "tagscanner").
std::string toolpath(const std::string& name);

// Runs argv[0] = `argv0` and the rest through `fn` (a tool's main function)
// in this process.
int run_main(int (*fn)(int, const char* const[]), const std::vector<std::string>& args);

}  // namespace kivtest
