// The general settings pages of the administration: the database
// connection, the sort and chart field menus, the date format, the four
// status names, the colour scheme, the security page, the paths and links of
// the user pages, and the general mail notification settings. A show
// operation puts the current value, or its default, where the form finds it
// and saves nothing; a mod operation copies the submitted values from
// admin_obj into tk_obj (the colours also into ce_obj) for the frame to save.
// A required value that is missing prints its message and ends the process
// with status 0 before anything is saved.
#pragma once

namespace kiv {

// "mod_database_settings": dbserver_hostname, network_timeout, db_name and
// db_table_name (each required: "Missing %s name object\n"); the type
// admin_odbc_dbtype into odbc_dbtype when one is sent; odbc_user (an empty
// one clears it). The password odbc_pass is taken only when one is typed: an
// empty box keeps the stored one, and the box odbc_pass_none clears it; no
// page shows it.
void moddatabasesettings();

// "DatabaseSort", "ChartsFields": the multiple choice mm_admin_sort_menu
// (mm_admin_chart_menu): the current choice (sort_menu, chart_menu) as a
// comma list, then the title of every field.
void getsortmenu();
void getchartmenu();

// "mod_sort", "mod_chartsfield": the chosen titles, a comma list, as one row
// into sort_menu (chart_menu); required ("Missing mm_admin_sort_menu name
// object\n", "Missing mm_admin_chart_menu name object\n").
void modsortmenu();
void modchartmenu();

// The date format ("mdy") and the status names ("Open", "Assigned",
// "Closed", "Assigned,Open,Pending"): a show puts the default on tk_obj
// when none is stored; a mod stores the form's value, or the default for an
// empty one.
void getdateformat();
void moddateformat();
void getopenstatus();
void modopenstatus();
void getassignedstatus();
void modassignedstatus();
void modclosedstatus();
void getnonclosedstatus();
void modnonclosedstatus();

// "setupcolortop", "setupcolorbottom": admin_color on tk_obj, "#" and the
// colour of the stored scheme's first column.
void getcolor();

// "Change Color": a colour (six hexadecimal digits, one "#" before them
// dropped) replaces the colour of the stored scheme's first column; a typed
// scheme (a value holding "$": one row of "<key>-<six digits>" columns,
// keys of letters, digits and "_") replaces the scheme. Both go into tk_obj
// and ce_obj. Refused: "Color values is blank\n", "Bad color value '%s'\n",
// and a stored scheme whose first column has no "-" ("Bad color scheme
// '%s'\n").
void adminchangecolor();

// "Security Settings": needs the login configuration (the login module's
// message and status 0 without it); admin_alldbfields on tk_obj, the four
// columns "securityscript_name", "securityscript_auth",
// "security_script_reg", "security_script_filename" and a row per field.
void listsecurityfields();

// "mod_paths": each of the user pages' paths and links that the form sends
// non-empty into tk_obj; an empty one keeps the stored value.
void modpaths();

// "MailNotificationGeneral": the general subject and body (plain text) and
// the SMTP option ("OFF" when none is stored) into the form.
void getmailgeneral();

// "mod_mailgeneral": mail_notification, smtp_option ("rfc821" is stored, any
// other value clears it), mail_smtp_host, mail_sender_login, the subject
// (mailmsg_subject.TITLE, kept on one line) and the body (mailmsg_body.TITLE,
// in the stored form of mail texts); each required.
void modmailgeneral();

}  // namespace kiv
