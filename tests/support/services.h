// Services the tests need (PostgreSQL, ODBC drivers): a test that lacks one
// skips with the reason, except under scripts/test (KIV_REQUIRE_SERVICES set),
// where every service must be there and a missing one fails the test.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace kivtest {

inline bool services_required() { return std::getenv("KIV_REQUIRE_SERVICES") != nullptr; }

// Empty when PostgreSQL is reachable by the environment, else the reason.
inline std::string postgres_missing() {
  if (!std::getenv("PGHOST"))
    return "PostgreSQL is not available: PGHOST is unset (start one with "
           "`eval \"$(scripts/pg-cluster start build | sed 's/^/export /')\"`)";
  return "";
}

}  // namespace kivtest

// Skips (or, under scripts/test, fails) the current test when `reason` is
// not empty.
#define KIV_NEED_SERVICE(reason)                                      \
  do {                                                                \
    const std::string kiv_reason_ = (reason);                         \
    if (!kiv_reason_.empty()) {                                       \
      if (::kivtest::services_required()) FAIL() << kiv_reason_;      \
      GTEST_SKIP() << kiv_reason_;                                    \
    }                                                                 \
  } while (0)
