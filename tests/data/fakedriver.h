// A data source of its own on the scripted ODBC driver (tests/data/fakeodbc),
// over a home whose scratch folder must be empty again after the test: the
// ODBC layer and the driver manager run statements with no database behind.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "data/webhandle_db.h"
#include "support/testsupport.h"
#include "tests/data/odbcconfig.h"
#include "toolkit/base/kivcontext.h"

namespace kivtest {

class FakeDriverTest : public KivTest {
 protected:
  void SetUp() override {
    KivTest::SetUp();
    fs::create_directories(home_.path() / "tmp");
    kiv::reqctx().nvhome = home_.str();
    dsn_ = unique_name("kivfake");
    OdbcConfig::get().add_dsn(dsn_, {{"Driver", KIV_FAKEODBC}});
  }
  void TearDown() override {
    EXPECT_EQ(entries_but((home_.path() / "tmp").string(), kiv::kOdbcSweepMarker), std::vector<std::string>{})
        << "scratch file left behind";
    OdbcConfig::get().remove_dsn(dsn_);
    KivTest::TearDown();
  }
  TempDir home_;
  std::string dsn_;
};

}  // namespace kivtest
