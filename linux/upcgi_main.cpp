// The program upcgi: the front program the web server starts on Linux. It
// writes the content-type line, runs the Linux start-up (which hands the
// request to the command program the state file binds to its action) and
// ends with the start-up's result.
#include "linux/unixcgi.h"
#include "platform/flavour.h"
#include "toolkit/base/kiv_malloc.h"

int main() {
  kiv::set_platform(kiv::Platform::linux);
  // Exhausted memory anywhere ends the request as the toolkit allocator does.
  kiv::kiv_malloc_init();
  return kiv::kivexec::upcgi_main();
}
