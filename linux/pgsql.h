// The PostgreSQL driver: the driver interface's back end of the Linux
// programs, on the PostgreSQL client library (libpq). Like the ODBC layer it
// connects for every call (the calls of one record operation share one
// connection), runs one statement and leaves its results in
// driver_results(); column names keep their case here.
#pragma once

#include <string>

#include "data/dbdriver.h"

struct pg_conn;  // libpq's connection (PGconn)

namespace kiv::pgsql {

// Runs a statement in the database named `database` (a plain name; libpq's
// environment, PGHOST, PGPORT, PGUSER..., says where and as whom). 0 success,
// -1 failure. `host` and `timeout` are ignored.
int kivodbcexecute(const char* host, int timeout, const std::string& database,
                   const std::string& statement);

// Runs a statement for its result columns: odbckey gets their names and
// odbcdata one row of their type names (INT, FLOAT, DATE_TIME, CHAR).
int kivodbcinfo(const char* host, int timeout, const std::string& database,
                const std::string& statement);

// The two steps behind them: connect, run, write the key row and the rows
// (or the type row) into the scratch file. 0 or -1.
int pq_exec(const std::string& dbName, const std::string& statement);
int pq_infoexec(const std::string& dbName, const std::string& statement);

// The statement pq_infoexec runs: a join ("... from t1,t2 ... and ...") gets
// " and t1.id_num=0" so that describing it yields no rows, unless it ends in
// the generator's condition that is never true (kNoRows) already.
std::string infostatement(const std::string& statement);

// A time stamp of the server's "Postgres" style ("Thu Mar 01 10:00:00 2001
// UTC") becomes the date in the configured order and its time of day:
// "3/01/2001 10:00:00", or "01/3/2001 10:00:00" under the "dmy" date format
// (the month's number, the day and the year as written); a time of
// midnight is left out, a fraction of a second dropped. A date of that
// style ("03-05-2001") becomes "03/05/2001", or "05/03/2001" day first.
// "Invalid Abstime" becomes "^^"; other texts stay. Changes the text in place and gives it
// back.
std::string& touserdate(std::string& date);

// Closes a connection.
void exit_nicely(pg_conn* conn);

// This back end as a driver, and its installation as the Linux programs'
// back end (for their main).
const DbDriver& pgsql_driver();
void use_pgsql_driver();

}  // namespace kiv::pgsql
