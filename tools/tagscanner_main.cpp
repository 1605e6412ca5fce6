// The tagscanner program: a console tool of the bar-code station.
#include "platform/flavour.h"
#include "platform/output.h"
#include "toolkit/base/kiv_malloc.h"
#include "tools/tagscanner.h"

int main(int argc, char** argv) {
  kiv::set_platform(kiv::Platform::windows);
  kiv::kiv_malloc_init();
  int status = kiv::tagscanner_main(argc, argv);
  kiv::flush_all();
  return status;
}
