// The ODBC layer on unixODBC. One driver call: start the results (initp),
// fill the connection record, connect with a connection text, run the
// statement, fetch its rows into the scratch file by column type (or, for a
// describe, write the one row of type names), disconnect, read the rows back.
// Inside a record operation (OperationConnection) a call that went well keeps
// its connection, and the next call to the same data source, user and
// password runs on it instead of connecting again.
// The environment is allocated with SQLAllocEnv, so that the driver manager
// treats this program as an ODBC 2 application (2.x states, SQL_DATE types).
// The driver manager is loaded at the first call (data/odbcdm.h); when it
// cannot be, the call fails as a connection does, with the loader's reason.
#include "data/iodbc.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <ctime>
#include <vector>

#include "data/dbdriver.h"
#include "data/odbcdm.h"
#include "data/webhandle_db.h"
#include "platform/output.h"
#include "platform/state.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivsettings.h"
#include "toolkit/text/rowcol.h"

namespace kiv::iodbc {

namespace {

constexpr const char* kAllocError = "ODBC ERROR n\\nAllocation Error\n";

// One result column: its name, its SQL type (0 when its description failed)
// and its precision.
struct OdbcColumn {
  std::string name;
  SQLSMALLINT type = 0;
  SQLULEN precision = 0;
};

// The connection record of one call.
struct OdbcConn {
  // The driver manager's entry points, loaded before the record is filled.
  const odbcdm::Calls* dm = nullptr;
  std::optional<std::string> pUID, pPWD, pDB, pDSN, pWSID;
  std::string colSeparator = " ";
  int colWidth = 80;
  int connTimeout = 60;
  int queryTimeout = 60;
  int setQueryTimeout = 0;
  SQLSMALLINT colMax = 0;
  std::vector<OdbcColumn> columns;
  std::string pBuffer;
  SQLHENV henv = SQL_NULL_HENV;
  SQLHDBC hdbc = SQL_NULL_HDBC;
  int firstConnect = 1;
  int driverConnect = 0;
  int moreResults = 0;
  int setConnectOption = 1;
  int setStmtOption = 0;
  int errLevel = 16;
  int exitCode = 0;
  // The statement, for the error messages.
  std::string statement;
  // Reused buffers: the pieces of a text value, and the row being written.
  std::string valbuf;
  std::string rowbuf;
};

// The I/O record: only the statement and the output stream matter; the rest
// is fixed and shown in the trace dump.
struct OdbcIo {
  const char* input = "stdin";
  const char* output = "stdout";
  std::string pLine;
  int pCurrent = 0;
  int pBegin = 0;
  std::string pODBC;
  std::string pDisplay;
  int maxLine = 1024;
  int skipText = 0, saveLines = 0, echoLines = 0, promptLines = 0, lineNo = 0;
};

bool ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

SQLCHAR* sqltext(std::string& s) { return reinterpret_cast<SQLCHAR*>(s.data()); }

const char* opt_text(const std::optional<std::string>& v) { return v ? v->c_str() : "(null)"; }

// ---- error records -------------------------------------------------------

struct ErrorRecord {
  std::string state;
  std::string message;
  long native = 0;
  SQLRETURN rc = 0;
};

// The level of a record by the answer of the call that failed.
long error_level(SQLRETURN rc) {
  if (rc == SQL_SUCCESS || rc == SQL_NO_DATA) return 0;
  if (rc == SQL_SUCCESS_WITH_INFO) return 1;
  return 16;
}

// Shows one record: below the error level it goes to the trace only, at or
// above it into odbcerror as well.
void odbc_displayerror(OdbcConn& c, const ErrorRecord& e) {
  long level = error_level(e.rc);
  if (level >= 16) c.exitCode = -100;
  if (level < c.errLevel) {
    kivtrace("ODBC information: State %s, Msg %ld: %s", e.state, e.native, e.message);
    return;
  }
  std::string head = sformat(
      "The SQL command='%s'\nproduced this error message from the database.\n"
      " You may check your data and try again to resolve this problem.\n",
      c.statement.substr(0, 2047));
  std::string body = sformat("Msg %ld, Level %ld, State %s:\n%s\n", e.native, level, e.state, e.message);
  adderror(head);
  adderror(body);
  kivtrace("%s", head);
  kivtrace("%s", body);
}

// Asks the driver manager for one pending record; false when there is none
// (or when asking failed, which `failure` then describes).
bool odbc_geterror(OdbcConn& c, SQLHSTMT stmt, ErrorRecord& e, std::optional<ErrorRecord>& failure) {
  SQLCHAR state[6] = {0};
  SQLINTEGER native = 0;
  std::vector<SQLCHAR> msg(512, 0);
  SQLSMALLINT len = 0;
  SQLRETURN r = c.dm->SQLError(c.henv, c.hdbc, stmt, state, &native, msg.data(),
                         static_cast<SQLSMALLINT>(msg.size()), &len);
  if (r == SQL_NO_DATA) return false;
  if (!ok(r)) {
    failure = ErrorRecord{"00000", r == SQL_ERROR ? "ODBC Failure" : "Unknown Error", 0, e.rc};
    return false;
  }
  e.state = reinterpret_cast<const char*>(state);
  size_t n = std::min<size_t>(len < 0 ? 0 : static_cast<size_t>(len), msg.size() - 1);
  e.message.assign(reinterpret_cast<const char*>(msg.data()), n);
  e.message.resize(std::strlen(e.message.c_str()));
  e.native = native;
  return true;
}

// Reports every pending record after a call that answered `rc`. Records of a
// state in `swallow` are not shown; `on_swallow` learns of each.
template <class F>
void odbc_reporterrors(OdbcConn& c, SQLRETURN rc, SQLHSTMT stmt,
                       std::initializer_list<std::string_view> swallow, F on_swallow) {
  if (rc == SQL_INVALID_HANDLE) {
    odbc_displayerror(c, ErrorRecord{"******", "Unknown Error", 0, rc});
    return;
  }
  // The driver manager hands each record out once; the bound only guards
  // against a driver that never runs out.
  for (int i = 0; i < 1000; ++i) {
    ErrorRecord e;
    e.rc = rc;
    std::optional<ErrorRecord> failure;
    if (!odbc_geterror(c, stmt, e, failure)) {
      if (failure) odbc_displayerror(c, *failure);
      return;
    }
    if (std::find(swallow.begin(), swallow.end(), e.state) != swallow.end()) {
      on_swallow(e);
      continue;
    }
    odbc_displayerror(c, e);
  }
}

void odbc_reporterrors(OdbcConn& c, SQLRETURN rc, SQLHSTMT stmt) {
  odbc_reporterrors(c, rc, stmt, {}, [](const ErrorRecord&) {});
}

// ---- set-up, connection, options -----------------------------------------

void odbc_init(OdbcConn& c, OdbcIo& io, int timeout, const std::string& database,
               const std::string& statement) {
  const Settings& s = settings();
  if (!s.pcodbcuser.empty()) c.pUID = s.pcodbcuser;
  if (!s.pcodbcpass.empty()) c.pPWD = s.pcodbcpass;
  // No database named is no data source named: the connection goes to the
  // one named "default", not to whichever the driver manager would pick for
  // an empty name.
  if (!database.empty()) {
    c.pDB = database;
    c.pDSN = database;
  }
  c.connTimeout = timeout ? timeout : 60;
  c.queryTimeout = c.connTimeout;
  c.pBuffer.assign(static_cast<size_t>(c.colWidth) + 2, '\0');
  c.statement = statement;
  io.pODBC = statement;
}

// Sets a connection option (no statement) or a statement option, when the
// driver offers the call. States IM001, S1092 and S1C00 (not supported) are
// not reported.
bool odbc_setoption(OdbcConn& c, SQLUSMALLINT option, SQLULEN value, SQLHSTMT stmt) {
  bool offered = stmt != SQL_NULL_HSTMT ? c.setStmtOption : c.setConnectOption;
  if (!offered) return false;
  SQLRETURN rc = stmt != SQL_NULL_HSTMT ? c.dm->SQLSetStmtOption(stmt, option, value)
                                        : c.dm->SQLSetConnectOption(c.hdbc, option, value);
  if (rc != SQL_SUCCESS)
    odbc_reporterrors(c, rc, stmt, {"IM001", "S1092", "S1C00"}, [](const ErrorRecord&) {});
  return ok(rc);
}

// True when the data source's own configuration names its database: the
// connection text then leaves DATABASE out, so that a driver whose database
// is a file (SQLite) opens the configured file and not one named like the
// data source.
bool dsn_names_database(OdbcConn& c, const std::string& dsn) {
  char buf[8] = {0};
  return c.dm->SQLGetPrivateProfileString(dsn.c_str(), "Database", "", buf, sizeof buf, "odbc.ini") > 0;
}

bool odbc_connect(OdbcConn& c) {
  const std::optional<std::string> uid = c.pUID;
  const std::optional<std::string> pwd = c.pPWD;
  std::string dsn = c.pDSN.value_or("default");
  bool connected = false;
  std::optional<std::string> db = c.pDB;
  if (db && dsn_names_database(c, dsn)) db.reset();
  std::optional<std::string> text = connect_text(dsn, uid, pwd, db);
  if (!text) kivtrace("connection values that a connection text cannot hold: SQLConnect\n");
  if (text && (c.firstConnect || c.driverConnect)) {
    std::vector<SQLCHAR> done(std::min<size_t>(text->size() + 1024, 32767), 0);
    SQLSMALLINT donelen = 0;
    SQLRETURN rc = c.dm->SQLDriverConnect(c.hdbc, nullptr, sqltext(*text), SQL_NTS, done.data(),
                                    static_cast<SQLSMALLINT>(done.size()), &donelen, SQL_DRIVER_NOPROMPT);
    if (ok(rc)) {
      c.firstConnect = 0;
      c.driverConnect = 1;
      connected = true;
      if (rc == SQL_SUCCESS_WITH_INFO) odbc_reporterrors(c, rc, SQL_NULL_HSTMT);
    } else {
      odbc_reporterrors(c, rc, SQL_NULL_HSTMT, {"IM001"},
                        [&](const ErrorRecord&) { c.driverConnect = 0; });
    }
  }
  if (!connected) {
    std::string d = dsn, u = uid.value_or(""), p = pwd.value_or("");
    SQLRETURN rc = c.dm->SQLConnect(c.hdbc, sqltext(d), SQL_NTS, sqltext(u), uid ? SQL_NTS : 0, sqltext(p),
                              pwd ? SQL_NTS : 0);
    if (ok(rc)) {
      c.firstConnect = 0;
      c.driverConnect = 0;
      connected = true;
      if (rc == SQL_SUCCESS_WITH_INFO) odbc_reporterrors(c, rc, SQL_NULL_HSTMT);
    } else {
      odbc_reporterrors(c, rc, SQL_NULL_HSTMT);
    }
  }
  if (connected) {
    SQLUSMALLINT offered = 0;
    c.dm->SQLGetFunctions(c.hdbc, SQL_API_SQLMORERESULTS, &offered);
    c.moreResults = offered == SQL_TRUE;
    offered = 0;
    c.dm->SQLGetFunctions(c.hdbc, SQL_API_SQLSETCONNECTOPTION, &offered);
    c.setConnectOption = offered == SQL_TRUE;
    offered = 0;
    c.dm->SQLGetFunctions(c.hdbc, SQL_API_SQLSETSTMTOPTION, &offered);
    c.setStmtOption = offered == SQL_TRUE;
  }
  return connected;
}

bool odbc_startup(OdbcConn& c) {
  if (!ok(c.dm->SQLAllocEnv(&c.henv))) {
    out() << kAllocError;
    c.henv = SQL_NULL_HENV;
    return false;
  }
  if (!ok(c.dm->SQLAllocConnect(c.henv, &c.hdbc))) {
    out() << kAllocError;
    c.dm->SQLFreeEnv(c.henv);
    c.henv = SQL_NULL_HENV;
    c.hdbc = SQL_NULL_HDBC;
    return false;
  }
  odbc_setoption(c, SQL_LOGIN_TIMEOUT, static_cast<SQLULEN>(c.connTimeout), SQL_NULL_HSTMT);
  if (!odbc_connect(c)) {
    c.dm->SQLFreeConnect(c.hdbc);
    c.dm->SQLFreeEnv(c.henv);
    c.hdbc = SQL_NULL_HDBC;
    c.henv = SQL_NULL_HENV;
    return false;
  }
  return true;
}

void odbc_shutdown(OdbcConn& c) {
  if (c.hdbc != SQL_NULL_HDBC) {
    c.dm->SQLDisconnect(c.hdbc);
    c.dm->SQLFreeConnect(c.hdbc);
  }
  if (c.henv != SQL_NULL_HENV) c.dm->SQLFreeEnv(c.henv);
  c.hdbc = SQL_NULL_HDBC;
  c.henv = SQL_NULL_HENV;
}

// ---- the connection kept for a record operation ---------------------------

// A connection that a call of a record operation left open: its handles, what
// the driver offers on it, and the values it was made with, which the next
// call must share to run on it. The login time-out is not among them: it
// counts only while connecting, and the statement time-out is set on each
// statement.
struct KeptConnection {
  OdbcConn conn;
  bool open = false;
};

void reset_kept_connection();

KeptConnection& kept_connection() {
  static KeptConnection k;
  KIV_REGISTER_RESET(&reset_kept_connection);
  return k;
}

void close_kept_connection() {
  KeptConnection& k = kept_connection();
  if (!k.open) return;
  odbc_shutdown(k.conn);
  k = KeptConnection{};
}

void reset_kept_connection() { close_kept_connection(); }

bool same_login(const OdbcConn& a, const OdbcConn& b) {
  return a.dm == b.dm && a.pDSN == b.pDSN && a.pDB == b.pDB && a.pUID == b.pUID && a.pPWD == b.pPWD;
}

// Moves the kept connection into the call's record when the call may use it;
// one it may not use is closed. True when the call runs on it.
bool take_kept_connection(OdbcConn& c) {
  KeptConnection& k = kept_connection();
  if (!k.open) return false;
  if (!connection_shared() || !same_login(k.conn, c)) {
    close_kept_connection();
    return false;
  }
  c.henv = k.conn.henv;
  c.hdbc = k.conn.hdbc;
  c.moreResults = k.conn.moreResults;
  c.setConnectOption = k.conn.setConnectOption;
  c.setStmtOption = k.conn.setStmtOption;
  c.firstConnect = 0;
  c.driverConnect = k.conn.driverConnect;
  k = KeptConnection{};
  return true;
}

// After a call: keeps its connection for the next call of the record
// operation when the call went well, else disconnects.
void keep_or_shutdown(OdbcConn& c, bool went_well) {
  if (!went_well || !connection_shared()) {
    odbc_shutdown(c);
    return;
  }
  KeptConnection& k = kept_connection();
  k.conn.dm = c.dm;
  k.conn.pDSN = c.pDSN;
  k.conn.pDB = c.pDB;
  k.conn.pUID = c.pUID;
  k.conn.pPWD = c.pPWD;
  k.conn.henv = c.henv;
  k.conn.hdbc = c.hdbc;
  k.conn.moreResults = c.moreResults;
  k.conn.setConnectOption = c.setConnectOption;
  k.conn.setStmtOption = c.setStmtOption;
  k.conn.driverConnect = c.driverConnect;
  k.open = true;
  c.henv = SQL_NULL_HENV;
  c.hdbc = SQL_NULL_HDBC;
}

// One trace line per field of both records. The password is never shown.
void trace_records(const OdbcConn& c, const OdbcIo& io) {
  if (!reqctx().kivdebug) return;
  kivtrace("pODBC->pUID=%s", opt_text(c.pUID));
  kivtrace("pODBC->pPWD=%s", c.pPWD ? "********" : "(null)");
  kivtrace("pODBC->pDB=%s", opt_text(c.pDB));
  kivtrace("pODBC->pDSN=%s", opt_text(c.pDSN));
  kivtrace("pODBC->pWSID=%s", opt_text(c.pWSID));
  kivtrace("pODBC->colSeparator='%s'", c.colSeparator);
  kivtrace("pODBC->colWidth=%d", c.colWidth);
  kivtrace("pODBC->connTimeout=%d", c.connTimeout);
  kivtrace("pODBC->queryTimeout=%d", c.queryTimeout);
  kivtrace("pODBC->setQueryTimeout=%d", c.setQueryTimeout);
  kivtrace("pODBC->colMax=%d", static_cast<int>(c.colMax));
  kivtrace("pODBC->firstConnect=%d", c.firstConnect);
  kivtrace("pODBC->driverConnect=%d", c.driverConnect);
  kivtrace("pODBC->moreResults=%d", c.moreResults);
  kivtrace("pODBC->setConnectOption=%d", c.setConnectOption);
  kivtrace("pODBC->setStmtOption=%d", c.setStmtOption);
  kivtrace("pODBC->errLevel=%d", c.errLevel);
  kivtrace("pODBC->exitCode=%d", c.exitCode);
  kivtrace("pIO->input=%s", io.input);
  kivtrace("pIO->output=%s", io.output);
  kivtrace("pIO->pLine='%s'", io.pLine);
  kivtrace("pIO->pCurrent=%d", io.pCurrent);
  kivtrace("pIO->pBegin=%d", io.pBegin);
  kivtrace("pIO->pODBC='%s'", io.pODBC);
  kivtrace("pIO->pDisplay='%s'", io.pDisplay);
  kivtrace("pIO->maxLine=%d", io.maxLine);
  kivtrace("pIO->skipText=%d", io.skipText);
  kivtrace("pIO->saveLines=%d", io.saveLines);
  kivtrace("pIO->echoLines=%d", io.echoLines);
  kivtrace("pIO->promptLines=%d", io.promptLines);
  kivtrace("pIO->lineNo=%d", io.lineNo);
}

// ---- columns and values --------------------------------------------------

// Describes column i; the whole name, however long. On failure the column
// gets type 0 and an empty name, and the failure is reported.
OdbcColumn describe_column(OdbcConn& c, SQLHSTMT stmt, SQLUSMALLINT i) {
  OdbcColumn col;
  std::string name(32, '\0');
  for (;;) {
    SQLSMALLINT namelen = 0, scale = 0, nullable = 0, type = 0;
    SQLULEN precision = 0;
    SQLRETURN rc = c.dm->SQLDescribeCol(stmt, i, sqltext(name), static_cast<SQLSMALLINT>(name.size()), &namelen,
                                  &type, &precision, &scale, &nullable);
    if (!ok(rc)) {
      odbc_reporterrors(c, rc, stmt);
      return OdbcColumn{};
    }
    // A name that filled the buffer may have been cut: some drivers give
    // the whole length, others the length they wrote. Ask again with room.
    size_t len = static_cast<size_t>(std::max<SQLSMALLINT>(namelen, 0));
    if (len + 1 >= name.size() && name.size() < 32767) {
      name.assign(std::min<size_t>(std::max(len + 2, name.size() * 4), 32767), '\0');
      continue;
    }
    col.name = name.c_str();
    col.type = type;
    col.precision = precision;
    return col;
  }
}

// The type name of a describe's type row.
const char* type_name(SQLSMALLINT type) {
  switch (type) {
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_TINYINT: return "INT";
    case SQL_NUMERIC:
    case SQL_DECIMAL:
    case SQL_FLOAT:
    case SQL_REAL:
    case SQL_DOUBLE: return "FLOAT";
    case SQL_DATE:
    case SQL_TIME:
    case SQL_TIMESTAMP: return "DATE_TIME";
    default: return "CHAR";
  }
}

// strftime of a broken-down date and time. The year is the calendar year, as
// the driver's date records hold it, before 1901 too.
std::string format_tm(const char* format, int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  char buf[128];
  size_t n = std::strftime(buf, 127, format, &t);
  return std::string(buf, n);
}

const char* date_format() { return settings().dateformat == "dmy" ? "%d/%m/%Y" : "%m/%d/%Y"; }

// A time stamp as the rest of the system reads one: from 1970 on the date in
// the configured order and, unless it is midnight, a blank and the time of
// day "%H:%M:%S" (the form a sort by date and time, the calendar and the
// generator read back, so a record read and written again keeps its time);
// before 1970 the time of day alone, "%H:%M" (a time kept as a time stamp).
// Fractions of a second are not shown.
std::string timestamp_text(const TIMESTAMP_STRUCT& t) {
  if (t.year < 1970) return format_tm("%H:%M", t.year, t.month, t.day, t.hour, t.minute, t.second);
  const bool midnight = t.hour == 0 && t.minute == 0 && t.second == 0;
  std::string format = date_format();
  if (!midnight) format += " %H:%M:%S";
  return format_tm(format.c_str(), t.year, t.month, t.day, t.hour, t.minute, t.second);
}

// One fetched value: none for NULL; `failed` when it could not be fetched.
struct Value {
  std::optional<std::string> text;
  bool failed = false;
};

template <class T>
Value get_fixed(OdbcConn& c, SQLHSTMT stmt, SQLUSMALLINT i, SQLSMALLINT ctype, T& v) {
  SQLLEN ind = 0;
  SQLRETURN rc = c.dm->SQLGetData(stmt, i, ctype, &v, sizeof v, &ind);
  if (rc == SQL_SUCCESS_WITH_INFO) odbc_reporterrors(c, rc, stmt);
  if (!ok(rc)) {
    odbc_reporterrors(c, rc, stmt);
    return Value{std::nullopt, true};
  }
  if (ind == SQL_NULL_DATA) return Value{};
  return Value{std::string(), false};
}

// The first piece a text value is fetched in: room for a value as long as
// the column's precision (two characters a byte for binary columns), at most
// kFirstPiece bytes. A driver may fill or pad whatever length it is given, so
// a value is never offered more room than it is likely to need; a longer one
// comes in a second piece of the length the driver tells.
constexpr size_t kFirstPiece = 256;

size_t first_piece(const OdbcColumn& col) {
  SQLULEN chars = col.precision;
  if (col.type == SQL_BINARY || col.type == SQL_VARBINARY || col.type == SQL_LONGVARBINARY) chars *= 2;
  if (chars == 0 || chars >= kFirstPiece) return kFirstPiece;
  return std::max<size_t>(static_cast<size_t>(chars) + 1, 16);
}

// A value fetched as text, in as many pieces as it takes.
Value get_text(OdbcConn& c, SQLHSTMT stmt, SQLUSMALLINT i, const OdbcColumn& col) {
  std::string& buf = c.valbuf;
  size_t piece = first_piece(col);
  if (buf.size() < piece) buf.resize(piece);
  std::string v;
  for (;;) {
    SQLLEN ind = 0;
    SQLRETURN rc = c.dm->SQLGetData(stmt, i, SQL_C_CHAR, buf.data(), static_cast<SQLLEN>(piece), &ind);
    if (rc == SQL_NO_DATA) break;
    if (!ok(rc)) {
      odbc_reporterrors(c, rc, stmt);
      return Value{std::nullopt, true};
    }
    if (ind == SQL_NULL_DATA) return Value{};
    size_t room = piece - 1;
    bool whole = rc == SQL_SUCCESS || (ind != SQL_NO_TOTAL && static_cast<size_t>(ind) <= room);
    size_t got = room;
    if (ind != SQL_NO_TOTAL && whole) got = std::min(static_cast<size_t>(ind), room);
    else if (whole) got = ::strnlen(buf.data(), room);
    v.append(buf.data(), got);
    if (whole) {
      if (rc == SQL_SUCCESS_WITH_INFO) odbc_reporterrors(c, rc, stmt);
      break;
    }
    // Cut off: what is left comes with the next call, in one piece when the
    // driver told its length, else in pieces twice as long each time.
    piece = ind == SQL_NO_TOTAL ? piece * 2 : static_cast<size_t>(ind) - got + 1;
    if (buf.size() < piece) buf.resize(piece);
  }
  return Value{std::move(v), false};
}

// Column i of the current row in its written form.
Value fetch_value(OdbcConn& c, SQLHSTMT stmt, SQLUSMALLINT i, const OdbcColumn& col) {
  switch (col.type) {
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_TINYINT: {
      // Fetched as 64 bits: SQLite keeps 64-bit values in integer columns,
      // and its driver cuts them to 32 bits without a word when asked to.
      SQLBIGINT n = 0;
      Value v = get_fixed(c, stmt, i, SQL_C_SBIGINT, n);
      if (v.text) {
        char digits[24];
        v.text->assign(digits, std::to_chars(digits, digits + sizeof digits, static_cast<long long>(n)).ptr);
      }
      return v;
    }
    case SQL_FLOAT:
    case SQL_REAL:
    case SQL_DOUBLE: {
      SQLDOUBLE d = 0;
      Value v = get_fixed(c, stmt, i, SQL_C_DOUBLE, d);
      if (v.text) v.text = sformat("%.6f", d);
      return v;
    }
    case SQL_DATE: {
      DATE_STRUCT d{};
      Value v = get_fixed(c, stmt, i, SQL_C_DATE, d);
      if (v.text) v.text = format_tm(date_format(), d.year, d.month, d.day, 0, 0, 0);
      return v;
    }
    case SQL_TIME: {
      TIME_STRUCT t{};
      Value v = get_fixed(c, stmt, i, SQL_C_TIME, t);
      if (v.text) v.text = format_tm("%I:%M%p", 1970, 1, 1, t.hour, t.minute, t.second);
      return v;
    }
    case SQL_TIMESTAMP: {
      TIMESTAMP_STRUCT t{};
      Value v = get_fixed(c, stmt, i, SQL_C_TIMESTAMP, t);
      if (v.text) v.text = timestamp_text(t);
      return v;
    }
    case SQL_BIT: {
      unsigned char b = 0;
      Value v = get_fixed(c, stmt, i, SQL_C_BIT, b);
      if (v.text) v.text = sformat("%d", b ? 1 : 0);
      return v;
    }
    default: return get_text(c, stmt, i, col);
  }
}

// Writes the current row to the scratch file, in one piece: its values as
// addd writes them (an empty value as nothing), the separators and the row
// end. False when a value could not be fetched.
bool putrow(OdbcConn& c, SQLHSTMT stmt) {
  int mss = settings().mssqlflag;
  bool trim = mss == 1 || mss == 2 || mss == 4;
  std::string& row = c.rowbuf;
  row.clear();
  for (size_t k = 0; k < c.columns.size(); ++k) {
    Value v = fetch_value(c, stmt, static_cast<SQLUSMALLINT>(k + 1), c.columns[k]);
    if (v.failed) return false;
    if (!v.text) {
      row += kEmptyCol;
    } else {
      if (trim) trimspace(*v.text);
      row += *v.text;
    }
    if (k + 1 < c.columns.size()) row += kColSep;
  }
  row += kRowEnd;
  addd(row);
  return true;
}

void describe_columns(OdbcConn& c, SQLHSTMT stmt, SQLSMALLINT ncols) {
  c.colMax = ncols;
  c.columns.clear();
  for (SQLSMALLINT i = 1; i <= ncols; ++i) {
    c.columns.push_back(describe_column(c, stmt, static_cast<SQLUSMALLINT>(i)));
    addk(c.columns.back().name);
    addk(kColSep);
  }
  dollark();
  kivtrace("odbckey=%s", opt_text(driver_results().odbckey));
}

// Fetches a result with columns into odbcdata. Gives the row count, or -1
// when a row or value could not be fetched or the rows not read back.
long getdata(OdbcConn& c, SQLHSTMT stmt, SQLSMALLINT ncols) {
  describe_columns(c, stmt, ncols);
  long rows = 0;
  bool value_failed = false;
  SQLRETURN rc;
  for (;;) {
    rc = c.dm->SQLFetch(stmt);
    if (!ok(rc)) break;
    if (rc == SQL_SUCCESS_WITH_INFO) odbc_reporterrors(c, rc, stmt);
    if (!putrow(c, stmt)) {
      value_failed = true;
      break;
    }
    ++rows;
  }
  bool read = readback_odbcfile();
  if (!value_failed && rc != SQL_NO_DATA) odbc_reporterrors(c, rc, stmt);
  c.columns.clear();
  kivtrace("rows fetched=%ld", rows);
  if (read && !value_failed && rc == SQL_NO_DATA) return rows;
  // The rows that came before the failure are not the result.
  driver_results().odbcdata.reset();
  return -1;
}

// The one row of type names of a describe.
void getcolinfo(OdbcConn& c, SQLHSTMT stmt, SQLSMALLINT ncols) {
  describe_columns(c, stmt, ncols);
  for (size_t k = 0; k < c.columns.size(); ++k) {
    addd(type_name(c.columns[k].type));
    if (k + 1 < c.columns.size()) addd(kColSep);
  }
  dollard();
  c.columns.clear();
}

bool blank(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](unsigned char ch) { return std::isspace(ch); });
}

// Allocates a statement handle with the statement time-out set and runs the
// statement. False (errors reported) when it did not run; a run with
// information is a run, its records go to the trace.
bool run_statement(OdbcConn& c, SQLHSTMT& stmt) {
  if (!ok(c.dm->SQLAllocStmt(c.hdbc, &stmt))) {
    out() << kAllocError;
    odbc_reporterrors(c, SQL_ERROR, SQL_NULL_HSTMT);
    stmt = SQL_NULL_HSTMT;
    return false;
  }
  odbc_setoption(c, SQL_QUERY_TIMEOUT, static_cast<SQLULEN>(c.queryTimeout), stmt);
  SQLRETURN rc = c.dm->SQLExecDirect(stmt, sqltext(c.statement), static_cast<SQLINTEGER>(c.statement.size()));
  if (rc == SQL_SUCCESS) return true;
  odbc_reporterrors(c, rc, stmt);
  return rc == SQL_SUCCESS_WITH_INFO;
}

// Runs the statement and fetches its first result that has columns; further
// results are passed over (their rows are not wanted, and the scratch file is
// gone by then). 0, or -1 on failure.
int odbc_execsql(OdbcConn& c, OdbcIo& io) {
  trace_records(c, io);
  if (blank(c.statement)) {
    out() << "empty sql\n";
    return -1;
  }
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  if (!run_statement(c, stmt)) {
    if (stmt != SQL_NULL_HSTMT) c.dm->SQLFreeStmt(stmt, SQL_DROP);
    return -1;
  }
  int result = 0;
  bool fetched = false;
  for (;;) {
    SQLSMALLINT ncols = 0;
    if (!ok(c.dm->SQLNumResultCols(stmt, &ncols)) || ncols == 0) {
      SQLLEN count = 0;
      c.dm->SQLRowCount(stmt, &count);
      kivtrace("SQLRowCount=%ld", static_cast<long>(count));
    } else if (!fetched) {
      fetched = true;
      if (getdata(c, stmt, ncols) < 0) result = -1;
    } else {
      kivtrace("a further result of %d columns is passed over", static_cast<int>(ncols));
    }
    if (!c.moreResults) break;
    SQLRETURN rc = c.dm->SQLMoreResults(stmt);
    if (rc == SQL_SUCCESS) continue;
    if (rc == SQL_SUCCESS_WITH_INFO) {
      odbc_reporterrors(c, rc, stmt);
      continue;
    }
    if (rc != SQL_NO_DATA) {
      odbc_reporterrors(c, rc, stmt);
      result = -1;
    }
    break;
  }
  c.dm->SQLFreeStmt(stmt, SQL_DROP);
  // A statement that failed in a later result has no result to show.
  if (result != 0) driver_results().odbcdata.reset();
  return result;
}

// The name of the database product behind the connection, as its driver
// reports it (SQL_DBMS_NAME); empty when the driver does not say.
std::string dbms_name(OdbcConn& c) {
  std::vector<SQLCHAR> name(128, 0);
  SQLSMALLINT len = 0;
  SQLRETURN rc = c.dm->SQLGetInfo(c.hdbc, SQL_DBMS_NAME, name.data(), static_cast<SQLSMALLINT>(name.size() - 1), &len);
  if (!ok(rc)) {
    kivtrace("the driver does not name its database product\n");
    return {};
  }
  return std::string(reinterpret_cast<const char*>(name.data()));
}

int odbc_infosql(OdbcConn& c, OdbcIo& io) {
  trace_records(c, io);
  driver_results().dbms_name = dbms_name(c);
  kivtrace("dbms=%s\n", driver_results().dbms_name);
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  int result = 0;
  if (!run_statement(c, stmt)) {
    result = -1;
  } else {
    SQLSMALLINT ncols = 0;
    if (ok(c.dm->SQLNumResultCols(stmt, &ncols)) && ncols > 0) getcolinfo(c, stmt, ncols);
  }
  if (stmt != SQL_NULL_HSTMT) c.dm->SQLFreeStmt(stmt, SQL_DROP);
  return result;
}

// Closes and deletes the scratch file however the call ends.
struct ScratchGuard {
  ~ScratchGuard() {
    closeodbcfile();
    removeodbcfile();
  }
};

// A driver manager that cannot be loaded: no statement runs, and odbcerror
// says why, as it does for a connection that failed.
void report_unloaded(const std::string& statement) {
  const std::string message =
      sformat("The ODBC driver manager cannot be loaded: %s\nThe SQL command='%s' was not run.\n",
              odbcdm::driver_manager_state().error, statement.substr(0, 2047));
  adderror(message);
  kivtrace("%s", message);
}

int odbc_call(const char* what, int timeout, const std::string& database, const std::string& statement,
              bool describe) {
  kivtrace("%s BEGIN----------------------------\n", what);
  // A describe writes one row of column types and fetches no row: it needs
  // no scratch file.
  initp(describe ? CallRows::in_memory : CallRows::scratch_file);
  ScratchGuard guard;
  OdbcConn c;
  OdbcIo io;
  odbc_init(c, io, timeout, database, statement);
  int result = 0;
  c.dm = odbcdm::driver_manager();
  bool reused = c.dm && take_kept_connection(c);
  if (!c.dm) {
    report_unloaded(statement);
    result = -2;
  } else if (!reused && !odbc_startup(c)) {
    kivtrace("Bad startup\n");
    result = -2;
  } else {
    if (reused) {
      count_connection_reused();
      kivtrace("on the connection of the operation's earlier call\n");
    } else {
      count_connection_opened();
    }
    if ((describe ? odbc_infosql(c, io) : odbc_execsql(c, io)) != 0) {
      kivtrace("Bad Exec\n");
      result = -3;
    }
    keep_or_shutdown(c, result == 0);
    if (describe) {
      if (!readback_odbcfile() && result == 0) result = -3;
      const DriverResults& r = driver_results();
      kivtrace("info odbcdata=%s\n", opt_text(r.odbcdata));
      kivtrace("info dbkey=%s\n", opt_text(r.odbckey));
    }
  }
  kivtrace("%s END---------------------------- result=%d\n", what, result);
  return result;
}

}  // namespace

bool plain_value(std::string_view value) {
  if (value.find_first_of(";{}") != std::string_view::npos) return false;
  return value.empty() || (value.front() != ' ' && value.back() != ' ');
}

std::optional<std::string> connect_text(const std::string& dsn, const std::optional<std::string>& uid,
                                        const std::optional<std::string>& pwd,
                                        const std::optional<std::string>& database) {
  for (const std::optional<std::string>& v : {std::optional<std::string>(dsn), uid, pwd, database})
    if (v && !plain_value(*v)) return std::nullopt;
  std::string t = "DSN=" + dsn;
  if (uid) t += ";UID=" + *uid;
  t += ";PWD=" + pwd.value_or("");
  if (database) t += ";DATABASE=" + *database;
  return t;
}

int kivodbcexec(const char*, int timeout, const std::string& database, const std::string& statement) {
  return odbc_call("kivodbcexec", timeout, database, statement, false);
}

int kivodbcinfo(const char*, int timeout, const std::string& database, const std::string& statement) {
  return odbc_call("kivodbcinfo", timeout, database, statement, true);
}

void close_kept() { close_kept_connection(); }

}  // namespace kiv::iodbc

namespace kiv {

const DbDriver& odbc_driver() {
  static const DbDriver d{"odbc", &iodbc::kivodbcexec, &iodbc::kivodbcinfo, &iodbc::close_kept};
  return d;
}

}  // namespace kiv
