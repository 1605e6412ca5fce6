// The PostgreSQL driver on libpq. Each call connects to the named database
// with the library's defaults and environment, asks for the "Postgres" date
// style (the form touserdate reads and turns into the configured order),
// runs exactly one statement, writes the key row and the rows into the
// scratch file, and closes the connection; inside a record operation
// (OperationConnection) a call that went well leaves it open for the next
// call to the same database.
#include "linux/pgsql.h"

#include <libpq-fe.h>

#include <array>
#include <cstdlib>
#include <sstream>
#include <string_view>
#include <vector>

#include "data/sql_pars.h"
#include "data/webhandle_db.h"
#include "platform/state.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivsettings.h"
#include "toolkit/text/kivtext.h"
#include "toolkit/text/rowcol.h"

namespace kiv::pgsql {

namespace {

// Type numbers of the server's catalogue.
constexpr std::array<Oid, 3> kIntTypes = {21, 22, 23};
constexpr std::array<Oid, 2> kFloatTypes = {700, 701};
// abstime, reltime, tinterval, date, time, timestamp, timestamptz and the
// old timestamp number.
constexpr std::array<Oid, 8> kDateTypes = {702, 703, 704, 1082, 1083, 1114, 1184, 1296};

template <size_t N>
bool is_one_of(Oid t, const std::array<Oid, N>& set) {
  for (Oid o : set)
    if (o == t) return true;
  return false;
}

const char* type_name(Oid t) {
  if (is_one_of(t, kIntTypes)) return "INT";
  if (is_one_of(t, kFloatTypes)) return "FLOAT";
  if (is_one_of(t, kDateTypes)) return "DATE_TIME";
  return "CHAR";
}

// A database name that libpq would read as a connection text or address
// ("host=... dbname=...", "postgresql://...") is not a name.
bool plain_name(const std::string& name) {
  if (name.find('=') != std::string::npos) return false;
  return name.rfind("postgresql://", 0) != 0 && name.rfind("postgres://", 0) != 0;
}

// Server notices go to the trace, not to standard error.
void trace_notice(void*, const char* message) { kivtrace("PostgreSQL notice: %s", message); }

constexpr const char* kDateStyle = "Postgres, MDY";

// Fails the connection: odbcerror says why, the connection is closed.
PGconn* pq_connect_failed(PGconn* conn) {
  adderror("Connection to database failed:");
  adderror(conn ? PQerrorMessage(conn) : "out of memory\n");
  exit_nicely(conn);
  return nullptr;
}

// The connection asks for the date style touserdate reads, but PGDATESTYLE in
// the environment is sent after it and wins; the style the server reports
// tells, and when it is another one it is set again.
bool pq_datestyle(PGconn* conn) {
  const char* style = PQparameterStatus(conn, "DateStyle");
  if (style && std::string_view(style) == kDateStyle) return true;
  PGresult* res = PQexec(conn, "SET DateStyle TO Postgres, MDY");
  bool ok = PQresultStatus(res) == PGRES_COMMAND_OK;
  PQclear(res);
  return ok;
}

// Connects to the database. Null (odbcerror filled) when that fails.
PGconn* pq_connect(const std::string& dbName) {
  if (!plain_name(dbName)) {
    adderror("Connection to database failed:");
    adderror(sformat("'%s' is not a database name\n", dbName));
    return nullptr;
  }
  std::string options = "-c DateStyle=Postgres,MDY";
  if (const char* env = std::getenv("PGOPTIONS")) options = std::string(env) + " " + options;
  PGconn* conn = PQsetdbLogin(nullptr, nullptr, options.c_str(), nullptr, dbName.c_str(), nullptr, nullptr);
  if (!conn || PQstatus(conn) == CONNECTION_BAD) return pq_connect_failed(conn);
  PQsetNoticeProcessor(conn, trace_notice, nullptr);
  if (!pq_datestyle(conn)) return pq_connect_failed(conn);
  return conn;
}

// The connection a call of a record operation left open (OperationConnection)
// and the database it is connected to.
struct KeptConnection {
  PGconn* conn = nullptr;
  std::string database;
};

void close_kept_connection();

KeptConnection& kept_connection() {
  static KeptConnection k;
  KIV_REGISTER_RESET(&close_kept_connection);
  return k;
}

void close_kept_connection() {
  KeptConnection& k = kept_connection();
  exit_nicely(k.conn);
  k = KeptConnection{};
}

// The connection of a call: the kept one when this call may use it (inside a
// record operation, to the same database), else a new one; a kept one that
// cannot be used is closed. Null (odbcerror filled) when connecting fails.
PGconn* pq_take(const std::string& dbName) {
  KeptConnection& k = kept_connection();
  if (k.conn && connection_shared() && k.database == dbName && PQstatus(k.conn) == CONNECTION_OK) {
    PGconn* conn = k.conn;
    k = KeptConnection{};
    count_connection_reused();
    kivtrace("on the connection of the operation's earlier call\n");
    return conn;
  }
  close_kept_connection();
  PGconn* conn = pq_connect(dbName);
  if (conn) count_connection_opened();
  return conn;
}

// After a call: keeps its connection for the next call of the record
// operation when the call went well, else closes it.
void pq_give_back(PGconn* conn, const std::string& dbName, bool went_well) {
  if (!went_well || !connection_shared()) {
    exit_nicely(conn);
    return;
  }
  close_kept_connection();
  kept_connection() = KeptConnection{conn, dbName};
}

// Runs the statement as one statement: the extended protocol refuses a text
// of several.
PGresult* pq_run(PGconn* conn, const std::string& statement) {
  PGresult* res = PQexecParams(conn, statement.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0);
  kivtrace("PQresultStatus=%s", PQresStatus(PQresultStatus(res)));
  return res;
}

void write_keyrow(const PGresult* res) {
  int n = PQnfields(res);
  for (int f = 0; f < n; ++f) {
    addk(PQfname(res, f), KeyCase::keep);
    addk(kColSep, KeyCase::keep);
  }
  dollark();
}

void write_rows(const PGresult* res) {
  int nrows = PQntuples(res), nfields = PQnfields(res);
  std::vector<bool> dates(static_cast<size_t>(nfields));
  for (int f = 0; f < nfields; ++f) dates[static_cast<size_t>(f)] = is_one_of(PQftype(res, f), kDateTypes);
  std::string copy;
  for (int r = 0; r < nrows; ++r) {
    for (int f = 0; f < nfields; ++f) {
      const char* v = PQgetvalue(res, r, f);
      if (PQgetisnull(res, r, f) || !v || !*v) {
        addd(kEmptyCol);
      } else if (dates[static_cast<size_t>(f)]) {
        copy = v;
        addd(touserdate(copy));
      } else {
        addd(v);
      }
      if (f + 1 < nfields) addd(kColSep);
    }
    dollard();
  }
}

// The common pattern of both operations.
int pq_call(const char* what, int (*step)(const std::string&, const std::string&), CallRows rows,
            const std::string& database, const std::string& statement) {
  kivtrace("%s BEGIN----------------------------\n", what);
  initp(rows);
  if (step(database, statement) != 0) {
    closeodbcfile();
    removeodbcfile();
    kivtrace("%s END---------------------------- failed\n", what);
    return -1;
  }
  kivtrace("PROFILE: Read the");
  bool read = readback_odbcfile();
  const DriverResults& r = driver_results();
  if (r.odbcdata) kivtrace("info odbcdata=%s\n", *r.odbcdata);
  if (r.odbckey) kivtrace("info dbkey=%s\n", *r.odbckey);
  kivtrace("%s END----------------------------\n", what);
  return read ? 0 : -1;
}

}  // namespace

int pq_exec(const std::string& dbName, const std::string& statement) {
  PGconn* conn = pq_take(dbName);
  if (!conn) return -1;
  PGresult* res = pq_run(conn, statement);
  ExecStatusType st = PQresultStatus(res);
  int result = 0;
  if (st == PGRES_TUPLES_OK) {
    write_keyrow(res);
    write_rows(res);
  } else if (st != PGRES_COMMAND_OK) {
    kivtrace("Fetching data didn't return tuples properly\n");
    adderror(PQerrorMessage(conn));
    result = -1;
  }
  PQclear(res);
  pq_give_back(conn, dbName, result == 0);
  return result;
}

std::string infostatement(const std::string& statement) {
  if (statement.find("and") == std::string::npos) return statement;
  // The generator's describe already yields no rows.
  if (statement.ends_with(std::string(" and ") + kNoRows)) return statement;
  size_t from = statement.find("from ");
  if (from == std::string::npos) return statement;
  size_t comma = statement.find(',', from + 5);
  if (comma == std::string::npos) return statement;
  std::string first = statement.substr(from + 5, comma - from - 5);
  return sformat("%s and %s.id_num=0", statement, first);
}

int pq_infoexec(const std::string& dbName, const std::string& statement) {
  std::string sql = infostatement(statement);
  PGconn* conn = pq_take(dbName);
  if (!conn) return -1;
  PGresult* res = pq_run(conn, sql);
  int result = 0;
  if (PQresultStatus(res) != PGRES_TUPLES_OK) {
    kivtrace("FETCH ALL command didn't return tuples properly\n");
    result = -1;
  } else {
    write_keyrow(res);
    int n = PQnfields(res);
    for (int f = 0; f < n; ++f) {
      addd(type_name(PQftype(res, f)));
      if (f + 1 < n) addd(kColSep);
    }
    dollard();
  }
  PQclear(res);
  pq_give_back(conn, dbName, result == 0);
  return result;
}

namespace {

bool digits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

// The server's date of the "Postgres, MDY" style: "03-05-2001".
bool plain_date(std::string_view d) {
  return d.size() >= 10 && d[2] == '-' && d[5] == '-' && digits(d.substr(0, 2)) && digits(d.substr(3, 2)) &&
         digits(d.substr(6));
}

}  // namespace

std::string& touserdate(std::string& date) {
  if (date == "Invalid Abstime") {
    date = kEmptyCol;
    return date;
  }
  if (plain_date(date)) {
    // A date column's "MM-DD-YYYY" of the month-first style.
    const std::string month = date.substr(0, 2), day = date.substr(3, 2), year = date.substr(6);
    date = settings().dateformat == "dmy" ? day + "/" + month + "/" + year : month + "/" + day + "/" + year;
    return date;
  }
  // The words after the first: month name, day, time, year; a zone may follow.
  std::istringstream in(date);
  std::string skip, month, day, time, year;
  if (!(in >> skip >> month >> day >> time >> year)) return date;
  int number = 13;
  for (int m = 0; m < 12; ++m) {
    if (starts_nocase(month, kMonthNames[m])) {
      number = m + 1;
      break;
    }
  }
  // The date in the configured order, as the ODBC road and the generator
  // read it; then the time of day unless it is midnight, without a fraction
  // of a second, so that a record read and written again keeps its moment.
  date = settings().dateformat == "dmy" ? sformat("%s/%d/%s", day, number, year)
                                        : sformat("%d/%s/%s", number, day, year);
  const std::string clock = time.substr(0, time.find('.'));
  if (clock.find(':') != std::string::npos && clock != "00:00:00") date += " " + clock;
  return date;
}

void exit_nicely(pg_conn* conn) {
  if (conn) PQfinish(conn);
}

int kivodbcexecute(const char*, int, const std::string& database, const std::string& statement) {
  return pq_call("kivodbcexecute", &pq_exec, CallRows::scratch_file, database, statement);
}

int kivodbcinfo(const char*, int, const std::string& database, const std::string& statement) {
  return pq_call("kivodbcinfo", &pq_infoexec, CallRows::in_memory, database, statement);
}

const DbDriver& pgsql_driver() {
  static const DbDriver d{"pgsql", &kivodbcexecute, &kivodbcinfo, &close_kept_connection};
  return d;
}

void use_pgsql_driver() { set_linux_driver(&pgsql_driver()); }

}  // namespace kiv::pgsql
