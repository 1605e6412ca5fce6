// The tagscanner program: a console tool of the bar-code station.
#include "platform/flavour.h"
#include "platform/output.h"
#include "tools/tagscanner.h"

int main(int argc, char** argv) {
  kiv::set_platform(kiv::Platform::windows);
  int status = kiv::tagscanner_main(argc, argv);
  kiv::flush_all();
  return status;
}
