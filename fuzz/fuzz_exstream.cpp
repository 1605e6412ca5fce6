// Fuzzes the reader of the request variable stream: the input is the stream
// a command program finds on its standard input. Whatever it holds, the
// reader ends, allocates only what has arrived, and the list it builds
// survives being written again and read back unchanged (names, values,
// sources and the state file's values beside a form's), which is what the
// front and the command rely on.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "linux/kivexec.h"
#include "toolkit/request/kivexfile.h"

namespace {

using namespace kiv;
using namespace kiv::kivexec;

// A descriptor reading `bytes` from their start.
int memory_input(const std::string& bytes) {
  const int fd = memfd_create("exstream", MFD_CLOEXEC);
  if (fd < 0) std::abort();
  if (commandwritebuf(fd, bytes) != bytes.size() || lseek(fd, 0, SEEK_SET) != 0) std::abort();
  return fd;
}

exlist parse(const std::string& bytes) {
  const int fd = memory_input(bytes);
  exlist list;
  readexdata_from(fd, list);
  close(fd);
  return list;
}

StreamSource word_of(ExSource s) {
  switch (s) {
    case ExSource::statefile: return StreamSource::statefile;
    case ExSource::startup: return StreamSource::startup;
    case ExSource::form: break;
  }
  return StreamSource::request;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const exlist first = parse(std::string(reinterpret_cast<const char*>(data), size));
  std::string again;
  for (const exdata& n : first.nodes) again += noderecords(n, word_of(n.source));
  const exlist second = parse(again);
  if (second.nodes.size() != first.nodes.size()) std::abort();
  for (size_t i = 0; i < first.nodes.size(); ++i) {
    const exdata& a = first.nodes[i];
    const exdata& b = second.nodes[i];
    if (a.name != b.name || a.value != b.value || a.source != b.source || a.in_state != b.in_state ||
        a.state_value != b.state_value)
      std::abort();
  }
  return 0;
}
