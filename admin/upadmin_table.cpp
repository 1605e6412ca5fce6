// The administration's action table as data: 72 words in matching order,
// each with the operation it runs.
#include "admin/upadmin_table.h"

#include <array>

#include "admin/upadmin_charts.h"
#include "admin/upadmin_fields.h"
#include "admin/upadmin_mailsettings.h"
#include "admin/upadmin_objects.h"
#include "admin/upadmin_rules.h"
#include "admin/upadmin_settings.h"

namespace kiv {

namespace {

using S = AdminSaves;
using T = AdminThen;
using P = AdminPage;

// The operations as the table calls them (the action word is not used).
void add_flat(std::string_view) { addflatfield(0); }
void add_menu(std::string_view) { addmenufield(0); }
void mod_flat(std::string_view) { addflatfield(1); }
void mod_menu(std::string_view) { addmenufield(1); }
void mod_field(std::string_view) { modfield(); }
void del_field(std::string_view) { delfield(); }
template <void (*op)()>
void plain(std::string_view) {
  op();
}
template <void (*op)(int), int flag>
void flagged(std::string_view) {
  op(flag);
}

// clang-format off
AdminAction kActions[] = {
    {"mod_database_settings", "moddatabasesettings", plain<moddatabasesettings>, S::tk},
    {"DatabaseSort", "getsortmenu", plain<getsortmenu>},
    {"mod_sort", "modsortmenu", plain<modsortmenu>, S::tk},
    {"add_flat_field", "addflatfield add", add_flat, S::tk},
    {"add_menu_field", "addmenufield add", add_menu, S::tk},
    {"List Fields", "", nullptr, S::none, T::field_list},
    {"Modify Field", "", nullptr, S::none, T::field_list},
    {"Delete Field", "", nullptr, S::none, T::field_list},
    {"modfield", "modfield", mod_field, S::none, T::none, P::modfield, "modfield\n"},
    {"mod_menu_field", "addmenufield modify", mod_menu, S::tk, T::field_list},
    {"mod_flat_field", "addflatfield modify", mod_flat, S::tk, T::field_list},
    {"delfield", "delfield", del_field, S::tk, T::field_list},
    {"InternationalDateFormat", "getdateformat", plain<getdateformat>},
    {"mod_format", "moddateformat", plain<moddateformat>, S::tk},
    {"StatusOpen", "getopenstatus", plain<getopenstatus>},
    {"mod_openstatus", "modopenstatus", plain<modopenstatus>, S::tk},
    {"StatusAssigned", "getassignedstatus", plain<getassignedstatus>},
    {"mod_assignedstatus", "modassignedstatus", plain<modassignedstatus>, S::tk},
    {"mod_closedstatus", "modclosedstatus", plain<modclosedstatus>, S::tk},
    {"StatusNonClosed", "getnonclosedstatus", plain<getnonclosedstatus>},
    {"mod_nonclosedstatus", "modnonclosedstatus", plain<modnonclosedstatus>, S::tk},
    {"Security Settings", "listsecurityfields", plain<listsecurityfields>},
    {"ChartsSettings", "", nullptr, S::none, T::none, P::ce},
    {"mod_chartssettings", "modchartssettings", modchartssettings, S::ce, T::none, P::ce},
    {"ChartsFields", "getchartmenu", plain<getchartmenu>},
    {"mod_chartsfield", "modchartmenu", plain<modchartmenu>, S::tk},
    {"MailNotificationGeneral", "getmailgeneral", plain<getmailgeneral>, S::none, T::plain_field_list},
    {"mod_mailgeneral", "modmailgeneral", plain<modmailgeneral>, S::tk},
    {"NewNotificationRule", "new mail rule form", plain<getnewmailrule>, S::none, T::plain_field_list},
    {"Create New Mail Rule", "save_new_mail_trig create", flagged<save_new_mail_trig, 0>, S::tk},
    {"Modify E-Mail Rule", "save_new_mail_trig modify", flagged<save_new_mail_trig, 1>, S::tk},
    {"ListMailObject", "list of mail rules", plain<listmailrules>},
    {"ModGetMailObject", "getmailobject", plain<getmailobject>, S::none, T::plain_field_list},
    {"DelGetMailObject", "getmailobject", plain<getmailobject>, S::none, T::plain_field_list},
    {"Delete E-Mail Rule", "delete mail rule", plain<deletemailrule>, S::tk_itself},
    {"Create Object", "createobject", plain<createobject>, S::tk},
    {"AdvancedListObject", "listallobjects", plain<listallobjects>},
    {"Modify Object", "modifyobject", plain<modifyobject>, S::tk, T::object_list},
    {"Delete Object", "deleteobject", plain<deleteobject>, S::tk_itself, T::object_list},
    {"GetObject", "getobject", plain<getobject>},
    {"DeleteGetObject", "getobject", plain<getobject>},
    {"ModGetObject", "getobject", plain<getobject>},
    {"mod_emailinterfacegeneral", "modemailinterface", plain<modemailinterface>, S::tk},
    {"setupcolorbottom", "getcolor", plain<getcolor>, S::none, T::none, P::admin, "setuocolorbottom"},
    {"setupcolortop", "getcolor", plain<getcolor>, S::none, T::none, P::admin, "setuocolorbottom"},
    {"Change Color", "adminchangecolor", plain<adminchangecolor>, S::tk_then_ce, T::none, P::admin, "adminchangecolor"},
    {"mod_paths", "modpaths", plain<modpaths>, S::tk},
    {"mod_autoassigngeneral", "modautoassigngeneral", plain<modautoassigngeneral>, S::tk},
    {"NewAutoAssignRule", "new auto-assign rule form", plain<getnewautoassignrule>, S::none, T::plain_field_list},
    {"Create New Auto-Assign Rule", "save_new_autoassign_trig create", flagged<save_new_autoassign_trig, 0>, S::tk},
    {"ListAutoAssignObject", "list of auto-assign rules", plain<listautoassignrules>},
    {"ModGetAutoAssignObject", "getautoassignobject", plain<getautoassignobject>},
    {"DelGetAutoAssignObject", "getautoassignobject", plain<getautoassignobject>},
    {"Modify Auto-Assign Rule", "save_new_autoassign_trig modify", flagged<save_new_autoassign_trig, 1>, S::tk},
    {"Delete Auto-Assign Rule", "delete auto-assign rule", plain<deleteautoassignrule>, S::tk_itself},
    {"mod_workflowgeneral", "modworkflowgeneral", plain<modworkflowgeneral>, S::tk},
    {"NewWorkflowRule", "new workflow rule form", plain<getnewworkflowrule>, S::none, T::plain_field_list},
    {"Create New Workflow Rule", "save_new_workflow_trig create", flagged<save_new_workflow_trig, 0>, S::tk},
    {"ListWorkflowObject", "list of workflow rules", plain<listworkflowrules>},
    {"ModGetWorkflowObject", "getworkflowobject", plain<getworkflowobject>},
    {"DelGetWorkflowObject", "getworkflowobject", plain<getworkflowobject>},
    {"Modify Workflow Rule", "save_new_workflow_trig modify", flagged<save_new_workflow_trig, 1>, S::tk},
    {"Delete Workflow Rule", "delete workflow rule", plain<deleteworkflowrule>, S::tk_itself},
    {"AlarmsGeneral", "getalarmsgeneral", plain<getalarmsgeneral>, S::none, T::plain_field_list},
    {"mod_alarmsgeneral", "modalarmsgeneral", plain<modalarmsgeneral>, S::tk},
    {"NewAlarmRule", "new alarm rule form", plain<getnewalarmrule>, S::none, T::plain_field_list},
    {"Create Alarm Rule", "save_new_alarm_trig create", flagged<save_new_alarm_trig, 0>, S::tk},
    {"ListAlarmObject", "list of alarm rules", plain<listalarmrules>},
    {"ModGetAlarmObject", "getalarmobject", plain<getalarmobject>},
    {"DelGetAlarmObject", "getalarmobject", plain<getalarmobject>},
    {"Modify Alarm Trigger", "save_new_alarm_trig modify", flagged<save_new_alarm_trig, 1>, S::tk},
    {"Delete Alarm Rule", "delete alarm rule", plain<deletealarmrule>, S::tk_itself},
};
// clang-format on

// The steps after the saves, by AdminThen.
void field_list() { listdbfields(1); }
void plain_field_list() { listdbfields(0); }
std::array<admin_step, kAdminSteps> kSteps = {nullptr, field_list, plain_field_list, listallobjects};

AdminAction* find_row(std::string_view word) {
  for (AdminAction& a : kActions)
    if (a.word == word) return &a;
  return nullptr;
}

}  // namespace

std::span<const AdminAction> admin_actions() { return kActions; }

const AdminAction* find_admin_action(std::string_view word) { return find_row(word); }

admin_step admin_step_of(AdminThen then) { return kSteps[static_cast<size_t>(then)]; }

bool admin_action_built(const AdminAction& row) {
  if (!row.operation.empty() && !row.run) return false;
  return row.then == AdminThen::none || admin_step_of(row.then) != nullptr;
}

admin_operation plug_admin_operation(std::string_view word, admin_operation op) {
  AdminAction* row = find_row(word);
  if (!row) return nullptr;
  admin_operation before = row->run;
  row->run = op;
  return before;
}

admin_step plug_admin_step(AdminThen then, admin_step step) {
  admin_step& slot = kSteps[static_cast<size_t>(then)];
  admin_step before = slot;
  slot = step;
  return before;
}

}  // namespace kiv
