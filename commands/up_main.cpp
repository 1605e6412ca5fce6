// The programs `up` and `kepa`: this one source built twice, `kepa` with
// KIV_KEPA defined, which changes only the default state file.
#include "commands/up.h"
#include "platform/flavour.h"
#include "platform/output.h"
#include "toolkit/base/kiv_malloc.h"

int main(int argc, char** argv) {
  kiv::set_platform(kiv::Platform::windows);
  // Exhausted memory anywhere ends the request as the toolkit allocator does.
  kiv::kiv_malloc_init();
#ifdef KIV_KEPA
  const int status = kiv::up_main(argc, argv, kiv::kKepaStates);
#else
  const int status = kiv::up_main(argc, argv, kiv::kUpStates);
#endif
  kiv::flush_all();
  return status;
}
