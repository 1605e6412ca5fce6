// The driver manager loaded at run time: a library that does not load, or
// lacks an entry point, fails the driver call as a connection does, with the
// loader's reason in odbcerror and nothing run; a reset loads the real one
// again, and statements run through it (on the scripted driver, so that no
// database is needed).
#include <gtest/gtest.h>

#include "data/iodbc.h"
#include "data/odbcdm.h"
#include "data/webhandle_db.h"
#include "platform/state.h"
#include "support/testsupport.h"
#include "tests/data/fakedriver.h"
#include "toolkit/base/kivcontext.h"

using namespace kiv;

namespace {

class DriverManager : public kivtest::FakeDriverTest {};

}  // namespace

TEST_F(DriverManager, LibraryThatCannotServeFailsTheCallWithItsReason) {
  struct Case {
    const char* what;
    std::string manager, installer;
    std::string reason;  // a part of the loader's message
  } cases[] = {
      {"no driver manager", "libkiv-no-such-odbc.so.2", "libodbcinst.so.2", "libkiv-no-such-odbc.so.2"},
      {"no installer library", "libodbc.so.2", "libkiv-no-such-odbcinst.so.2", "libkiv-no-such-odbcinst.so.2"},
      {"a library without the entry points", "libc.so.6", "libodbcinst.so.2", "undefined symbol: SQLAllocEnv"},
      {"an installer without its entry point", "libodbc.so.2", "libc.so.6",
       "undefined symbol: SQLGetPrivateProfileString"},
  };
  const DriverResults& r = driver_results();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    reset_process_state();
    reqctx().nvhome = home_.str();
    odbcdm::driver_manager_state().manager_library = c.manager;
    odbcdm::driver_manager_state().installer_library = c.installer;
    clear_output();
    for (bool describe : {false, true}) {
      const int rc = describe ? iodbc::kivodbcinfo(nullptr, 0, dsn_, "select a, b, c")
                              : iodbc::kivodbcexec(nullptr, 0, dsn_, "select a, b, c");
      EXPECT_EQ(rc, -2);
      EXPECT_TRUE(r.odbcerror.starts_with("The ODBC driver manager cannot be loaded: ")) << r.odbcerror;
      EXPECT_NE(r.odbcerror.find(c.reason), std::string::npos) << r.odbcerror;
      EXPECT_TRUE(r.odbcerror.ends_with("\nThe SQL command='select a, b, c' was not run.\n")) << r.odbcerror;
      EXPECT_FALSE(r.odbcdata.has_value());
      EXPECT_FALSE(r.odbckey.has_value());
    }
    EXPECT_EQ(odbcdm::driver_manager(), nullptr);
    EXPECT_EQ(page(), "");
  }
  // A reset names the real libraries again; the next call loads them.
  reset_process_state();
  reqctx().nvhome = home_.str();
  ASSERT_EQ(iodbc::kivodbcexec(nullptr, 0, dsn_, "select a, b, c"), 0) << r.odbcerror;
  EXPECT_EQ(r.odbcdata, "1^@two^@3^$");
  EXPECT_EQ(r.odbcerror, "");
}
