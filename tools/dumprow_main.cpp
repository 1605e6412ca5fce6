// The program dumprow: the export tool run from a console, in the Windows
// flavour over ODBC. `dumprow <template>[:<table>[:<query>]] <folder>
// [<field> <value>]...` writes the cases the filter finds into <folder>.
#include <string>
#include <vector>

#include "platform/exit.h"
#include "platform/flavour.h"
#include "platform/output.h"
#include "toolkit/base/kiv_malloc.h"
#include "tools/export/dumprow.h"

int main(int argc, char** argv) {
  kiv::set_platform(kiv::Platform::windows);
  kiv::kiv_malloc_init();
  int status = 0;
  try {
    std::vector<std::string> words;
    for (int i = 0; i < argc; ++i) words.emplace_back(argv[i] ? argv[i] : "");
    if (words.empty()) words.emplace_back("dumprow");
    status = kiv::dumprow(words);
  } catch (const kiv::Exit& e) {
    status = e.status;
  }
  kiv::flush_all();
  return status;
}
