// A help desk of the sample installation over a database of its own, for the
// tests of the case operations, the record lock and the add command: the
// sample's case objects (client/ of install/home) in a fresh home, loaded as
// a command loads them, pointed at the test's data source (SQLite or
// PostgreSQL through ODBC), with the sample's table and case-number counter;
// and the records of that table as forms carry them.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "engine/upcommon.h"
#include "enginetest.h"
#include "tests/data/dbroad.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/text/rowcol.h"

namespace casetest {

namespace fs = std::filesystem;

// A database road with the sample's tables, and the records of its cases
// table as forms carry them: a record as a form shows it, and a form's copy
// with one column changed.
class RecordTest : public kivtest::DbRoadTest {
 protected:
  explicit RecordTest(kivtest::Road road) : DbRoadTest(road) {}

  // The sample's tables, in a database of the test's own.
  void SetUp() override {
    DbRoadTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    for (const std::string& s : kivtest::schema_statements()) exec(s);
  }

 public:
  // The record with this id as a form shows it: the names row, then the
  // values row, as the driver gives them.
  std::string shown(int id) {
    const std::string data = rows(kiv::sformat("select * from cases where id_num=%d", id));
    return kiv::driver_results().odbckey.value_or("") + data;
  }
  // The shown record with one column's value replaced, or (`drop`) without
  // that column.
  static std::string with(const std::string& rec, const std::string& column, const std::string& value,
                          bool drop = false) {
    const std::string keys = *kiv::getrow(rec, 1), data = *kiv::getrow(rec, 2);
    const int at = kiv::getindex(keys, column);
    std::string k, d;
    for (int i = 1; i <= kiv::getcolcount(keys); ++i) {
      if (drop && i == at) continue;
      std::string v = i == at ? value : kiv::getcol_or_empty(data, i);
      k += (k.empty() ? "" : "^@") + *kiv::getcol(keys, i);
      d += (d.empty() ? "" : "^@") + (v.empty() ? std::string("^^") : v);
    }
    return k + "^$" + d + "^$";
  }
};

class CaseHome : public RecordTest {
 protected:
  explicit CaseHome(kivtest::Road road) : RecordTest(road) {}

 public:  // for the case tables' edits

  void SetUp() override {
    RecordTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    fs::copy(fs::path(KIV_SOURCE_DIR) / "install" / "home" / "client", home_.path() / "client",
             fs::copy_options::recursive);
    fs::create_directories(home_.path() / "users");
    reload();
  }

  // The case objects afresh, as a new request's command loads them.
  void reload() {
    objs_ = kiv::get_prog_param();
    kiv::loadobj(objs_);
    ASSERT_TRUE(objs_) << page();
    config("db_name.VALUE", dsn_);
  }

  kiv::objlist& list() { return *objs_; }

  // A value the form sent, and one the configuration holds.
  void form(const std::string& name, const std::string& value) {
    kiv::adduniqobj(*objs_, name + ".VALUE", value, kiv::Origin::request);
  }
  void config(const std::string& key, const std::string& text) { kiv::adduniqobj(*objs_, key, text); }
  std::string value(const std::string& name) const { return enginetest::value(*objs_, name); }

  // A shell script in the home; its path is the command.
  std::string script(const std::string& name, const std::string& body) {
    return enginetest::script(home_, name, body);
  }
  // A hook object switched on with a script of this body.
  void hook(const std::string& object, const std::string& body) {
    config(object + ".VALUE", "ON");
    config(object + ".TITLE", script(object, body));
  }
  std::string path(const std::string& relative) const { return home_.str() + "/" + relative; }

  kiv::objholder objs_;
};

}  // namespace casetest
