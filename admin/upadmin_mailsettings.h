// The general settings beside the rule editors: the e-mail interface (the
// POP mailbox a mail service outside this system reads, how often it looks,
// the mark of returned mail in subjects), the switches of automatic
// assignment and workflow, and the alarm settings with the alarm message
// text, which lives in the file "<home>/client/kivhtml/tk/tkemaild_alarmres".
// The mod operations copy the submitted values from admin_obj into tk_obj
// for the frame to save; what the values mean is the outside service's and
// the case engine's, so they are stored as the form sends them (as the
// object file gives them back: ends cut, blanks folded). A value holding a
// line break is refused ("Error: %s can't hold a line break\n", naming the
// object). Every refusal ends the process before anything is written.
#pragma once

namespace kiv {

// "mod_emailinterfacegeneral": tkemaild_checkfreq, tkemaild_pop_server,
// tkemaild_pop_user, tkemaild_pop_password and tkemaild_subject_return, each
// required, all checked before any is copied: "Frequency can't be blank\n",
// "Error: Pop Server can't be blank\n", "Error: Pop User can't be blank\n",
// "Error: Pop User Password can't be blank\n", "Error: Return Mail
// Identifier can't be blank\n". No page shows the password, so an empty
// password box keeps the stored one; it is refused only when none is stored.
void modemailinterface();

// "mod_autoassigngeneral", "mod_workflowgeneral": autoassign_control
// ("Missing autoassign_control name object\n") and workflow_control
// ("Missing workflow_control name object\n") into tk_obj.
void modautoassigngeneral();
void modworkflowgeneral();

// "AlarmsGeneral": the message file's text into alarm_message (up_readfile,
// whose message a missing file prints), alarm_control "OFF" when the form
// has none, weekend_no_alarms from tk_obj or "OFF"; and
// alarm_message_version, the version of the file the page shows.
void getalarmsgeneral();

// "mod_alarmsgeneral": a non-empty alarm_message replaces the message file
// whole (up_writefile, under the lock of tk_obj the frame holds), then a
// non-empty alarm_control and weekend_no_alarms go into tk_obj. The file is
// written only when it is still the one the page showed
// (alarm_message_version), else kObjFileChanged with status -1; a failed
// write ends the process with status 1 after up_writefile's message, tk_obj
// unchanged. The file is written before the frame saves tk_obj. An empty
// alarm_message leaves the file, and the page after the save is given the
// text it keeps (read without a message) with its version.
void modalarmsgeneral();

}  // namespace kiv
