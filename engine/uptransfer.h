// The transfer of all records: every record of the case table of one ODBC
// data source added again, through the add road, to the case table of the
// configured one, with each record's case number replaced by its id_num.
// A console operation; its progress lines go to standard output.
#pragma once

#include <string_view>

#include "data/webhandle_db_ops.h"
#include "toolkit/objects/kivobj.h"

namespace kiv {

// Whether two data source names lead to one database: the same name (the
// driver manager finds names without regard to case), or two odbc.ini
// entries with the same Driver, Servername and Port whose Database is the
// same text or names one file (the same device and inode, so that two paths
// of one SQLite file count as one). A Driver named by its odbcinst.ini entry
// and one named by the path of that entry's library are the same driver.
// Entries without a Driver or a Database are not compared.
bool same_data_source(std::string_view a, std::string_view b);

// Finds every record of the source: trace "FIND\n"; the source data source,
// engineflags().remotehost, must be set ("Missing dbhost name object\n",
// -1), and network_timeout, db_name and db_table_name too ("Missing timeout
// name object\n", "Missing database name object\n", "Missing table name
// object\n", -1). Traces "BEFORE SORT\n" (the order: getsortlist, else " "),
// "BEFORE obj2db\n", "BEFORE obaptr\n"; the criteria are the packet of a
// cleared form (writeblankpage, obj2db), so every record matches; "FIND
// befor keys='%s' data='%s'\n"; primary_func and join_func; the find in the
// source's table of db_table_name's name; "FIND  after\n". A failed find
// shows "Find operation failed\n" and gives 1. 0 with the rows in `reply`.
int transfind(objlist& list, findreply& reply);

// The transfer: the target's connection objects (dbserver_hostname,
// network_timeout, db_name, db_table_name; -1 after the missing one's
// message); a source that is the target is refused before anything is read
// ("Source and target are the same database '%s'. Exiting\n", the process
// ends with status 1); "Find all records\n" and transfind (failure: "Find
// failed. Exiting\n", the process ends with status 1); "There are %d
// record(s) to be transfered\n"; then for each row i from 1, in one walk of
// the rows: the found column names and the row as a packet whose case_num
// is its id_num (mod_id2case), "adding record %d\n", primary_func and the
// add ("submit operation failed for record\n" when it fails, and the next
// row follows). 0 when every record was added, 1 when one was not.
int transfer(objlist& list);

}  // namespace kiv
