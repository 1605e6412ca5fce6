// SQL generation: the insert, select, update and delete statements of the
// record operations, written from a table's description and rows in
// row/column text, with values quoted and dates written by the database type
// (settings().mssqlflag); and the criteria language of the search forms,
// parsed into a tree and turned into an SQL condition.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

// The process-wide buffers of the generator. One instance per process; tests
// reset it with reset_sqlbuf().
struct SqlBuffers {
  std::string query;      // the statement last generated
  std::string qualifier;  // the condition under construction
  std::string idnum;      // the next id_num as text, set by db_add; empty: none
  // The database product of the table the statement is written for, as its
  // description found it (dbconfig_node::dbms): SQLite gets its dates as
  // ISO text, every other database in the form of the database type.
  std::string dbms;
};

SqlBuffers& sqlbuf();
void reset_sqlbuf();

// Column types of a description.
enum DbColumnType { kDateColumn = 1, kFloatColumn = 2, kIntColumn = 3, kTextColumn = 4 };

struct dbconfig_column {
  std::string name;
  int type = kTextColumn;
};

// A table's columns in the order the database describes them.
struct dbconfig_node {
  std::string table;
  std::string database;
  // The database product the describe reached, as its driver names it
  // (DriverResults::dbms_name); empty when the driver names none.
  std::string dbms;
  int count = 0;
  std::vector<dbconfig_column> columns;  // column i (from 1) is columns[i - 1]

  const dbconfig_column& column(int i) const { return columns[static_cast<size_t>(i - 1)]; }
  // Index (from 1) of the column of that name; 0 when the table lacks it.
  int index_of(std::string_view name) const;
};

// The condition of a describe: never true, so that no row comes with the
// columns.
inline constexpr const char* kNoRows = "1 = 0";

// Describes a table through the driver ("select * from %s where 1 = 0", or
// with the join condition "select * from %s where (%s) and 1 = 0"): the
// columns of the result, and no row. With a key row, count is the number of
// described columns; without, 0. None when the table cannot be described, or
// when the table text or the join condition is refused.
std::optional<dbconfig_node> mk_dbconfig_node(const std::string& database, const std::string& table,
                                              std::optional<std::string_view> keys);

// The four generators: each writes one statement into sqlbuf().query.
// 0 done; -1 the table cannot be described (query untouched); -2 refused: a
// value that is not of its column's type, a name or list that is not one, or
// an update or delete without a condition (the reason is in the page).
int gen_insert_query(const std::string& database, const std::string& table, std::string_view data,
                     std::string_view keys);
// The insert statement of a table described already (`node`, with its key
// row): the same statement, without a describe of its own.
int gen_insert_query(const dbconfig_node& node, std::string_view data, std::string_view keys);
int gen_retrieve_query(const std::string& database, const std::string& table, std::string_view criteria,
                       std::string_view keys, const std::optional<std::string>& order);
int gen_modify_query(const std::string& database, const std::string& table, std::string_view alldata,
                     std::string_view allkeys, std::string_view newdata, std::string_view newkeys);
int gen_delete_query(const std::string& database, const std::string& table, std::string_view data,
                     std::string_view keys);

// A parsed criterion: a leaf with its value, an alternative (left or right)
// or a range (left the low end, right the high end; either may be absent).
enum PtreeKind { kLeaf = 0, kAlternative = 1, kRange = 2 };

struct ptree {
  int kind = kLeaf;
  std::string value;
  std::unique_ptr<ptree> left, right;

  // Frees the children link by link, so a chain of any length of
  // alternatives goes without one nested call per alternative.
  ~ptree();
};

// Parses one criterion: "a,b" is a or b, "a--b" the range from a to b, a
// caret escapes the operator after it, "^^" is a literal caret.
std::unique_ptr<ptree> parse(std::string_view criterion);

// The criterion that matches exactly `text` and nothing else: "==", then the
// text with a caret in front of each "^", "," and "-", so that parse reads
// no alternative, range or escape in it ("a,b" and "x--" match only
// themselves, "^y" only itself). None when the text holds "^@" or "^$",
// which no row/column text can carry. As in every criterion, blanks at the
// ends are cut and runs of blanks inside folded, and ==\"\" stays the
// match of a NULL column.
std::optional<std::string> literal_criterion(std::string_view text);

// Frees a parsed criterion (the tree also goes with its last owner).
inline void freeptree(std::unique_ptr<ptree>& tree) { tree.reset(); }

// Appends the condition of column `index` of `node` for `tree` to
// sqlbuf().qualifier. 0 done; -1 for a null tree; -2 a value refused (the
// reason is in the page, nothing appended).
int qualconstruct(const dbconfig_node& node, int index, const ptree* tree);

// A text value for SQL: apostrophes doubled, and for MSACCESS every "|"
// written as the four characters 0x7C. None for an empty text. num2str is
// the same rule for numbers.
std::optional<std::string> textnl(std::string_view text);
std::optional<std::string> num2str(std::string_view text);
// textnl with an empty text for none.
inline std::string textnl_or_empty(std::string_view text) {
  return textnl(text).value_or(std::string());
}

// Where a date value goes: into an insert or update as it is, or into a
// select or delete condition, quoted.
enum class DateUse { stored, condition };

// A date (or time) value in the form of the database type, quoted for a
// condition. None when it gives no value, and when it is refused.
// For SQLite (sqlbuf().dbms) whatever the database type: a date as ISO text
// "YYYY-MM-DD", "YYYY-MM-DD HH:MM:SS" with a time of day, a time alone as
// "HH:MM:SS", quoted with apostrophes in a condition; the date read in the
// configured order ("dmy": day first, else month first), or as an ISO date,
// and refused unless it is a day of the calendar. SQLite compares texts, so
// only these forms order as dates there.
std::optional<std::string> oracle_date(std::string_view date, DateUse use);


// Checks of what is written into statements as names. Each prints its
// refusal into the page and answers false.
// A list of table names separated by "," (each may carry an alias).
bool sql_table_ok(std::string_view tables);
// One table name alone, by the rule a single name of a table list follows
// (no list, no alias, no schema part); refused with "Bad table name '%s'\n".
bool sql_single_table_ok(std::string_view name);
// One column name.
bool sql_column_ok(std::string_view name);
// An order list: column names, each optionally followed by asc or desc.
bool sql_order_ok(std::string_view order);

}  // namespace kiv
