/* The floor under an add: a C CGI program that connects to the help desk's
 * data source through the ODBC driver manager, inserts one case and
 * disconnects, and answers with a bare page; nothing else. The request
 * benchmark runs it beside `kepa`'s add, in the same web server and on the
 * same data source (KIV_FLOOR_DSN, default "helpdesk"). Its rows have no
 * id_num, so they never change the id an add draws. */
#include <sql.h>
#include <sqlext.h>
#include <stdio.h>
#include <stdlib.h>

static int ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

int main(void) {
  const char* dsn = getenv("KIV_FLOOR_DSN");
  char text[256];
  snprintf(text, sizeof text, "DSN=%s", dsn && *dsn ? dsn : "helpdesk");
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  int done = 0;
  if (ok(SQLAllocEnv(&env)) && ok(SQLAllocConnect(env, &dbc)) &&
      ok(SQLDriverConnect(dbc, NULL, (SQLCHAR*)text, SQL_NTS, NULL, 0, NULL, SQL_DRIVER_NOPROMPT))) {
    if (ok(SQLAllocStmt(dbc, &stmt))) {
      done = ok(SQLExecDirect(stmt,
                              (SQLCHAR*)"insert into cases (case_num, status, category, priority, submitted_by, "
                                        "sub_e_mail, problem) values ('floor', 'Open', 'Hardware', 'High', "
                                        "'Ann Example', 'ann@example.org', "
                                        "'The printer on floor 2 jams every morning.')",
                              SQL_NTS));
      SQLFreeStmt(stmt, SQL_DROP);
    }
    SQLDisconnect(dbc);
  }
  if (dbc != SQL_NULL_HDBC) SQLFreeConnect(dbc);
  if (env != SQL_NULL_HENV) SQLFreeEnv(env);
  fputs(done ? "Content-type: text/html\n\n<html><body>inserted</body></html>\n"
             : "Content-type: text/html\n\n<html><body>failed</body></html>\n",
        stdout);
  return 0;
}
