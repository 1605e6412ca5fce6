// The program up_trans: the record transfer run from a console, in the
// Windows flavour over ODBC. `up_trans <source data source>` adds every
// record of the source's case table to the case table the home's tk_obj
// configures.
#include <string>
#include <vector>

#include "commands/up.h"
#include "commands/uptrans.h"
#include "platform/exit.h"
#include "platform/flavour.h"
#include "platform/output.h"
#include "toolkit/base/kiv_malloc.h"

int main(int argc, char** argv) {
  kiv::set_platform(kiv::Platform::windows);
  kiv::kiv_malloc_init();
  int status = 0;
  try {
    kiv::console_start(argc > 0 && argv[0] ? argv[0] : "up_trans");
    std::vector<std::string> words;
    for (int i = 0; i < argc; ++i) words.emplace_back(argv[i] ? argv[i] : "");
    if (words.empty()) words.emplace_back("up_trans");
    status = kiv::up_trans(words, nullptr);
  } catch (const kiv::Exit& e) {
    status = e.status;
  }
  kiv::flush_all();
  return status;
}
