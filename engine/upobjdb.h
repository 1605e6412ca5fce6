// Objects and database rows: the bridge between a case held as an object
// list and the row/column text of the database layer. Packets are built from
// the objects that carry a DBKEY (the column name); records come back into
// the VALUE of the objects named like their columns.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "data/packet.h"
#include "toolkit/objects/kivobj.h"

namespace kiv {

// A value as it can travel in one packet column. Row/column text has no
// escape, so a value that would not read back as itself is made safe: every
// run of carets standing right before "@" or "$" is dropped ("a^@b" travels
// as "a@b", "a^^$" as "a$"), and a value that is exactly the empty marker
// "^^" travels as a single caret. Every other text, carets included, is kept
// byte for byte, so the caret escapes of a search criterion ("^,", "^-",
// "a^^b") reach the criteria parser unchanged.
std::string packetvalue(std::string_view value);

// The column a packet gives a VALUE: "^^" for an empty VALUE, for one that
// still holds a menu's item list (any VALUE containing "^$") and for one
// that packetvalue leaves empty; else packetvalue's text.
std::string packetcolumn(std::string_view value);

// A new packet of one data row with a column for every object that has a
// DBKEY, in list order. An empty VALUE, and a VALUE that still holds a menu's
// item list (any VALUE containing "^$"), travel as "^^"; other values as
// packetvalue makes them. With no DBKEY object both texts are empty.
std::unique_ptr<packet> obj2db(const objlist& list);

// As obj2db, but only the DBKEY objects whose VALUE is non-empty and holds no
// "^$" get a column: a modify changes only the fields that carry a value.
std::unique_ptr<packet> modify_obj2db(const objlist& list);

// The record readers put one record, a two-row text (column names, then
// values), into the VALUE of the objects named like the columns; an object
// is created at the tail of the list for a column that no object bears.
// A record a request carried reaches fewer objects (RecordSource below).
// Each gives 0 when done; 1 when the text does not have exactly two rows
// ("db2obj: Bad record format rowcount=%d\n" from db2obj, "db2obj: Bad record
// format \n" from the others); -1 when the two rows differ in column count
// ("Error: Mismatch count  between data and \tkeys\n"). On 1 and -1 nothing
// is changed. "MENU" below means a TYPE exactly equal to "MENU"; a MENU
// object's VALUE holds the selected item followed by the item list. A VALUE
// that holds a value of the record is marked Origin::record (pages escape
// it); one made of the reader's own text ("*") or of the old VALUE alone
// keeps that text's origin. A column named like the list's head is skipped.

// Where a record text comes from, and so which objects its columns may set.
// A record the database gave (the default) reaches every object its columns
// name. A record a request carried or chose is input like a form: the
// form's row2form_rec, a row of the scratch data file a request names, a
// profile a person saved. Its columns reach only the objects a request may
// set (request_may_set over the list, with the group object `group`); a
// column naming any other object (a hook, a table, a path, a switch) is
// passed over with a trace, and the rest of the record is read.
struct RecordSource {
  bool request = false;
  std::string group;
};
inline RecordSource request_record(std::string group) { return RecordSource{true, std::move(group)}; }

// Every column: the value; a MENU object gets the value in front of its old
// VALUE ("^@" between), or the value and "^$" when the old VALUE is empty.
int db2obj(objlist& list, std::string_view record);
// Every column: the value, or "*" for an empty one (display-only records).
int vdb2obj(objlist& list, std::string_view record);
// Only the columns whose value is non-empty and neither "\n^^" nor "\r^^":
// the value (a profile laid over the form without blanking anything).
int defaultdb2obj(objlist& list, std::string_view record);
// Every column: the value; an empty value clears the VALUE.
int readdb2obj(objlist& list, std::string_view record);
// As db2obj, but only for objects whose VALUE is still empty.
int catdb2obj(objlist& list, std::string_view record);
// Objects whose VALUE is empty get the value (a MENU object the value and
// "^$"); a MENU object with an item list gets a non-empty value in front of
// it and keeps its VALUE for an empty one; other objects stay as they are.
int catdefdb2obj(objlist& list, std::string_view record);

// The same readers over a record from `from`: a request's record sets only
// what a request may set.
int db2obj(objlist& list, std::string_view record, const RecordSource& from);
int vdb2obj(objlist& list, std::string_view record, const RecordSource& from);
int defaultdb2obj(objlist& list, std::string_view record, const RecordSource& from);
int readdb2obj(objlist& list, std::string_view record, const RecordSource& from);
int catdb2obj(objlist& list, std::string_view record, const RecordSource& from);
int catdefdb2obj(objlist& list, std::string_view record, const RecordSource& from);

// Clears the form: db2obj on a record that gives every DBKEY column an empty
// value, so field objects lose their value and a MENU object keeps its item
// list behind an empty selection. The result of db2obj; 0 with nothing done
// when no object has a DBKEY.
int writeblankpage(objlist& list);

// Gives the column `key` of every data row the new value (as packetvalue
// makes it); the other columns keep theirs, empty ones as "^^". 1 when no
// column bears the name (packet unchanged), else 0. A null packet
// ("Bad Packet to modify\n") and an empty new value ("Bad newvalue to modify
// for key=<%s>\n") give 0 and change nothing.
int modpacket(packet* pkt, std::string_view key, std::string_view newvalue);

// For the copy of found records into another table: in every data row the
// column case_num takes the value of that row's column id_num, found by its
// name; with no id_num column, case_num keeps its value. 0 when done; 1 for
// empty data ("id2case: No data \n") or an empty key row ("id2case: No
// keys\n"), packet unchanged; 0 after "Bad Packet to modify\n" for a null one.
int mod_id2case(packet* pkt);

// sort_titles1_menu.VALUE (the object created when absent) becomes the menu
// of the TITLEs of every object that has both a DBKEY and a TITLE, in list
// order, marked when one of the titles is. The result of adduniqobj.
int buildsortkey(objlist& list);

// The DBKEY of the first object in list order that has a DBKEY and exactly
// this TITLE; none for an empty title or when no object has it.
std::optional<std::string> getsortkey(const objlist& list, std::string_view title);

}  // namespace kiv
