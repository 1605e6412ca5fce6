// The action table of the administration: every action word the frame
// answers, in the order it is matched, with the operation that runs, the
// object files saved after it, the step that follows the saves and the page.
//
// An editor plugs its operation into its rows by naming its function in the
// row's `run` in upadmin_table.cpp (or, at run time, plug_admin_operation);
// the field-list and object-list steps plug in with plug_admin_step. A row
// whose operation or step is not plugged in yet is answered as a word the
// table does not know: the ordinary page, status 0, nothing written.
#pragma once

#include <span>
#include <string_view>

namespace kiv {

// An operation of the table. It works on the lists of admin() and may end the
// process (a form value missing: its message, status 0, before any save).
using admin_operation = void (*)(std::string_view word);
// A step run after the saves (the field list, the list of objects).
using admin_step = void (*)();

// The object files the frame saves after the operation, in this order.
// tk_itself: the operation writes tk_obj itself (the deletes), the frame
// saves nothing but holds tk_obj's lock from load to save all the same.
enum class AdminSaves : unsigned char { none, tk, ce, tk_then_ce, tk_itself };

// The step after the saves: field_list is the list of database fields with
// the dynamic menu fields included, plain_field_list the same without them.
enum class AdminThen : unsigned char { none, field_list, plain_field_list, object_list };
inline constexpr int kAdminSteps = 4;

// The answer page: the template of the state line over the page chain, the
// template modfield chose over the page chain, or the template of the state
// line over ce_obj alone.
enum class AdminPage : unsigned char { admin, modfield, ce };

struct AdminAction {
  std::string_view word;
  std::string_view operation;         // the operation's name; empty: none
  admin_operation run = nullptr;      // null until the operation is built
  AdminSaves saves = AdminSaves::none;
  AdminThen then = AdminThen::none;
  AdminPage page = AdminPage::admin;
  std::string_view trace = {};        // traced before the operation runs
};

// The table in matching order.
std::span<const AdminAction> admin_actions();

// The first row whose word equals `word` exactly (case and blanks count), or
// null.
const AdminAction* find_admin_action(std::string_view word);

// True when everything the row needs is built: its operation (when it has
// one) and its step (when it has one).
bool admin_action_built(const AdminAction& row);

// The step function of a kind, or null when not built yet.
admin_step admin_step_of(AdminThen then);

// Plug an operation into the row of `word` (a step into its kind); each gives
// what was there before (null when the word is not in the table), so that a
// caller can put it back.
admin_operation plug_admin_operation(std::string_view word, admin_operation op);
admin_step plug_admin_step(AdminThen then, admin_step step);

}  // namespace kiv
