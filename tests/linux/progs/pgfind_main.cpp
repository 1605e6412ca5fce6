// A command program of the tests only, started by upcgi like any other: it
// reads the request variable stream, installs the PostgreSQL driver and
// prints the title of the case whose number the form's case_num.VALUE
// gives, from the database its first argument names. It shows that libpq's
// settings (PGHOST, PGPORT, PGUSER) reach a command through the front.
#include <string>
#include <vector>

#include "data/dbdriver.h"
#include "data/sql_pars.h"
#include "data/webhandle_db.h"
#include "engine/upcommon.h"
#include "linux/cmdprog.h"
#include "linux/pgsql.h"
#include "platform/output.h"

namespace {

int pgfind(const std::vector<std::string>& words, kiv::exlist* list) {
  if (words.size() < 2) {
    kiv::out() << "Wrong usage: pgfind database\n";
    return 2;
  }
  kiv::get_prog_param();
  kiv::pgsql::use_pgsql_driver();
  const std::string number = kiv::getnodeval(list, "case_num.VALUE").value_or(std::string());
  const std::string sql = "select title from cases where case_num = '" + kiv::textnl(number).value_or("") + "'";
  if (kiv::kivodbcexec(nullptr, 0, words[1], sql) != 0) {
    kiv::out() << "failed: " << kiv::driver_results().odbcerror << "\n";
    return 1;
  }
  kiv::out() << "found: " << kiv::driver_results().odbcdata.value_or("(none)") << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return kiv::kivexec::command_main(argc, argv, pgfind); }
