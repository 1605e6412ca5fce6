// The toolkit allocator and the process's answer to exhausted memory.
#include <new>
#include <unistd.h>

#include "platform/output.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kiv_malloc.h"

namespace kiv {

void kiv_exit_out_of_memory(const char* msg, size_t len) {
  // Flushing writes what is buffered; it allocates nothing. Nor does the
  // removal of the request's uploads, which no later road would remove.
  out().flush();
  remove_saved_uploads();
  // No allocation on this path: write straight to the descriptor.
  ssize_t ignored = ::write(2, msg, len);
  (void)ignored;
  _exit(255);  // status -1
}

void kiv_out_of_memory() {
  static const char msg[] = "kiv_malloc(): Out of Memory...\n";
  kiv_exit_out_of_memory(msg, sizeof msg - 1);
}

std::unique_ptr<char[]> kiv_malloc(size_t size) {
  char* p = new (std::nothrow) char[size ? size : 1]();
  if (!p) kiv_out_of_memory();
  return std::unique_ptr<char[]>(p);
}

void kiv_malloc_init() { std::set_new_handler(kiv_out_of_memory); }

}  // namespace kiv
