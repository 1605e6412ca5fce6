// Free SQL statements and address lookups: a statement the caller wrote, run
// against the case database and filed into objects named after a dataset
// name (a menu list, a menu with its raw result, or a result table with a
// scratch file for later pages); and the lookups of the submitter's and the
// staff member's rows in the users and staff tables of the three-table model.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "toolkit/objects/kivobj.h"

namespace kiv {

// Runs `sql` through the driver with the connection objects
// dbserver_hostname, network_timeout (seconds) and db_name, and files the
// result by the dataset name D:
// - D begins with "menulist_": X.VALUE, X being D without it, := the rows as
//   one menu row (dollar2sep);
// - D contains "menu": D_key.VALUE := the column names, D_data.VALUE := the
//   menu row, D.VALUE := the column names followed by the rows;
// - otherwise: D_key, D_data := the rows as they came, D := names and rows,
//   a new scratch data file holding D.VALUE, findresult.VALUE := D.VALUE,
//   hidedatafile.VALUE := its path relative to the home (hidedatafile_value),
//   findresultnum.VALUE := the number of rows.
// The "_key" object is set only when there are column names, the others only
// when there are rows. Values from the database are marked as records.
// 0 done; 1 an empty statement ("SQL Error: Query is blank\n"); -1 a missing
// connection object ("Missing dbhost name object\n", "Missing timeout name
// object\n", "Missing database name object\n") or a scratch file that cannot
// be written; the driver's code after "SQL Error: '%s'\n" (nothing changed).
// An empty dataset name shows "dataset name is NULL" and ends the process
// with status 0.
int gsqlexec(objlist& list, std::string_view dataset, std::string_view sql);

// The menu row of result rows: "^^" (an empty first item), "^@", then the
// rows with each row end but the last turned into "^@"; rows a and b give
// "^^^@a^@b^$".
std::string dollar2sep(std::string_view rows);

// The selection a page hands on (findresult, hidedatafile, findresultnum),
// each value with its origin, kept across a run that files a selection of
// its own.
struct KeptSelection {
  objattr_text rows, file, count;
};

// The three selection objects as they stand.
KeptSelection keep_selection(const objlist& list);

// Removes the scratch data file a run filed in hidedatafile.VALUE over the
// kept selection, when it is a new one.
void remove_new_file(const objlist& list, const KeptSelection& k);

// Sets the three selection objects back to the kept values and origins.
void put_back(objlist& list, const KeptSelection& k);

// In the three-table model: the submitter's (submitted_by) row of the users
// table (db_users_table_name), or the assigned staff member's (assigned_to)
// row of the staff table (db_staff_table_name), through gsqlexec in the
// table shape ("xxumail", "xxsmail"). Every non-empty column of the row
// becomes the VALUE of the object of that name; the staff lookup also keeps
// the column names and the rows in mailstate() (gmailkeys, gmaildata). The
// login is written as quoted text and the table name checked as a name.
// The table shape's selection objects (findresult, hidedatafile,
// findresultnum) are left as they were, and its scratch file is removed.
// The address (sub_e_mail.VALUE, sa_e_mail.VALUE) after the lookup, or none
// when there is no login, no table, or the statement failed (traced only).
std::optional<std::string> getusermailfromdb(objlist& list);
std::optional<std::string> getstaffmailfromdb(objlist& list);

}  // namespace kiv
