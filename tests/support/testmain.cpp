// GoogleTest main for every suite. Environment variables that select the
// installation or the trace are cleared so that tests start from nothing.
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
  for (const char* v : {"NVHOME", "KIV_REGISTRY_FILE", "KIVTRACE_FILE", "KIVDEBUG", "SCRIPT_NAME",
                        "PROG_STATES", "KIVACTION"})
    unsetenv(v);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
