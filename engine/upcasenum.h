// Case numbers. Every case added by the full add gets a number before it is
// written: a plain counter value, a counter value behind a picture made of
// date items and field values, or a sub-case number (the parent's number, a
// point and a running number). All numbers come from one counter file,
// <home>/client/config/case_num, shared by every process of the
// installation and guarded by an exclusive lock on case_num.lock. When the
// counter cannot be used, a plain or picture number falls back to the
// current time in seconds followed by the process id, so an add never stops
// for want of a number and two adds never share one; sub-case numbers end
// the process instead.
//
// The counter file is lines of a key, a tab and a number, read as blank-
// separated words taken two by two. Three kinds of line share it: "DEFAULT"
// (numbers without prefix), one per prefix a picture built (a plain
// number), and one per parent case (the parent, a point and the next
// sub-case number). Keys and numbers the program writes into it have every
// white-space or control character turned into "_", so a value holding a
// blank cannot shift the word pairs; the numbers handed out keep the values
// as they are.
#pragma once

#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "toolkit/objects/kivobj.h"

namespace kiv {

// "<home>/client/config/case_num".
std::string casenum_path();

// The counter's bounds on the lines it adds: every word (a key, a number) at
// most kCounterWordMax characters, and at most kCounterLines lines in all.
// Lines already in the file stay in use whatever their size.
inline constexpr size_t kCounterWordMax = 31;
inline constexpr size_t kCounterLines = 10000;

// The case number of a new case: a sub-case number when
// parent_case_num.VALUE is set; else a number by the picture
// (case_num-picture: VALUE the separator characters, TITLE the items) when
// both its parts are set; else the DEFAULT counter's number. A parent that
// is no stored case (stored_parent) ends the process with status 0 after
// "sub_getmrnum: case number is not defined \n", as a sub-case number's
// other failures do, before the counter is touched.
std::string casenum_manage(const objlist& list);

// True when `parent` has the shape of a case number as the counter keeps
// one: not empty, no white space or control character, and short enough
// that its counter line ("<parent>\t<parent>.2") has words of at most
// kCounterWordMax characters.
bool parent_shape(std::string_view parent);

// True when `parent` may be the parent of a new case: it has parent_shape
// and a stored case bears it, that is the case table (the first table of
// the connection objects' db_table_name) has a row whose case-number column
// (case_num's DBKEY) is exactly it. Each no is traced; a missing connection
// object shows its message, a refused name its message, and a statement the
// database refused "SQL Error: '%s'\n".
bool stored_parent(const objlist& list, std::string_view parent);

// The next number of the counter line `prefix` in the counter file `path`;
// an empty or single-blank prefix means the DEFAULT line. The number is
// handed out as stored (a stored 0041 gives 0041 and is followed by 42).
// Only plain-number lines count (a number holding "." is a sub-case line).
// A new prefix gets the line "<prefix>\t2" and the number 1, unless the key
// is longer than kCounterWordMax or the file holds kCounterLines lines: then
// (traced) the time-based number, the file unchanged. With the lock
// not taken within the engine clock's counter wait: trace "LOCK1" and the
// time-based number, the file untouched. The time-based number is the time
// in seconds (ten digits) and the process id (seven), and from a process's
// second one on the count of them, so that no two are alike. With the file unreadable, or its
// rewrite failed: "Cannot open case number file <%s> \n" and the time-based
// number (a number read is never handed out unless its successor was
// saved). With no DEFAULT line when one is needed: the time-based number,
// the file unchanged.
std::string getmrnum(std::string_view prefix, const std::string& path);

// sub_getmrnum over casenum_path(), with its trace lines.
std::string sub_casenum_manage(std::string_view parent);

// The next sub-case number of `parent`: the parent as given, a point and
// the running number stored after the last point of its line ("1234.1"
// gives 1234.1.1, 1234.1.2, ...). A parent without a line gets the line
// "<parent>\t<parent>.2" and the number <parent>.1. Only lines whose number
// holds a point count. Ends the process with status 0 after its message
// when the lock is not taken ("sub_getmrnum: can't lock casenum file \n"),
// the parent is empty, or it has no line and that line's words would be
// longer than kCounterWordMax ("sub_getmrnum: case number is not defined
// \n"), the file cannot be read or rewritten, or it has no line and the file
// holds kCounterLines lines already ("sub_getmrnum:Cannot open case number
// file <%s> \n"), or the stored running number is not a number
// ("sub_getmrnum: case number is not formated as x.x \n").
std::string sub_getmrnum(std::string_view parent, const std::string& path);

// Takes the exclusive lock of the lock file `lockpath` (created when
// missing, never deleted), waiting at most the engine clock's counter wait.
// 0 when taken; -1 when not, or when this process holds it already. The
// system drops the lock when the process ends, however it ends.
int openlock(const std::string& lockpath);
// Drops the lock openlock took; the lock file stays. 0; -1 when this
// process does not hold it.
int closelock(const std::string& lockpath);

// The prefix that <field>-prefix maps `value` to: the column of
// <field>-prefix.VALUE at the place of `value` among the columns of
// <field>-prefix.TITLE. None after "Missing %s TITLES for %s-prefix object
// or the whole object \n" or "Missing %s-prefix VALUES for %s-prefix
// object\n" when a part is missing, and (traced only) when the value has no
// non-empty prefix.
std::optional<std::string> getproductprefix(std::string_view value, std::string_view field,
                                            const objlist& list);

// Today's local date (at the engine clock's moment, or `t`), in the C
// locale's words: getday "%j" (the day of the year, three digits), getmonth
// "%b" (the abbreviated month name), getyear "%Y".
std::string getday(std::time_t t);
std::string getmonth(std::time_t t);
std::string getyear(std::time_t t);
std::string getday();
std::string getmonth();
std::string getyear();

// A text as the counter file may hold it: every white-space or control
// character becomes "_".
std::string counter_word(std::string_view text);

}  // namespace kiv
