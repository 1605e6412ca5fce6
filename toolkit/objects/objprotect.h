// The protected configuration: which objects a request may not change.
// Copying request variables onto objects must never change what runs, which
// SQL is built, which files are read or written, or where mail goes. A request
// may set the VALUE of field objects and of the form controls pages post; it
// may not set hook, connection, table, query, path, template, rule, switch,
// mail-transport or tool objects, nor any attribute other than VALUE. This is
// the one place that says so; the administration edits configuration through
// its own list, behind its administrator check, and may ask here what is
// protected. ex2obj and castex2obj, the copies of a request's variables onto
// the objects, keep to it.
#pragma once

#include <string>
#include <string_view>

namespace kiv {

class objlist;
struct exlist;

// True when `name` is an object of the configuration that a request must not
// set: hooks, connection and table settings, SQL fragments and stored
// queries, paths and templates, rule objects, switches, mail transport and
// tool settings, and the head object. With the configuration's list, also
// the objects its pointer objects name: the stored query of sql_control, the
// connection object of smscontrol and the match object of auto_match.
bool protected_object(std::string_view name, const objlist* config = nullptr);

// The object that the start-up fills with the user's groups: the one the
// state file's GROUP entry names, or an empty text when there is none. It is
// identity, not input: only the start-up sets it, never a form.
std::string group_object(const exlist* request);

// True when a request variable of this key (as ex2obj takes it: object name
// before the first point, attribute word after it, VALUE without a point) and
// value may be copied onto the objects of `config`. Only VALUE may be set,
// and only on objects that are not protected nor the group object `group`;
// a query macro slot (sqlquery<N>) may only be pointed at one of the
// configured macros ("query_..."), never hold SQL.
bool request_may_set(std::string_view key, std::string_view value, const objlist* config = nullptr,
                     std::string_view group = {});

// How ex2obj and castex2obj treat request variables. `checked`, for every
// command: variables from the form may set only what request_may_set allows;
// a skipped variable is traced. `full`, for the administration's own form
// list: every variable is copied. Either way a value the form supplied is
// marked Origin::request; values of the state file and of the start-up
// itself are configuration.
enum class ExCopy { checked, full };

// adduniqobj for every request variable that has a name; 0.
int ex2obj(const exlist& request, objlist& list, ExCopy mode = ExCopy::checked);

// castobj for every request variable that has a value; 0.
int castex2obj(const exlist& request, objlist& list, ExCopy mode = ExCopy::checked);


}  // namespace kiv
