// The object editor of the administration: the raw access to tk_obj by
// object name, beyond what the settings pages and rule editors offer. It
// lists the objects, loads one into the object form, creates, changes and
// deletes one. The object form is admin_obj's admin_name (the object worked
// on), admin_value, admin_dbkey, admin_control, admin_type, admin_enforce,
// admin_title, admin_len and admin_help; VTYPE is not handled.
//
// An existing object is found by its exact NAME, never through a
// "<name>.ATTRIBUTE" key, so that any name the file holds can be opened,
// changed and deleted. A name the editor creates holds only letters, digits,
// "_", "-" and ":", so that it reads back and addresses its object as it was
// typed; an object given a DBKEY becomes a field and passes the field
// editor's checks. Values are stored as the object file gives them back; one
// holding a line break is refused. A required value that is missing, and
// every refusal, print their message through errmsg and end the process
// with status 0 before anything is written.
#pragma once

namespace kiv {

// "AdvancedListObject", and the step after "Modify Object" and "Delete
// Object": object_list.VALUE on admin_obj, the header row "admin_name" and
// a row holding the NAME of every object of tk_obj in list order, the head
// and names holding "^$" or "^@" (rules, messages) left out.
void listallobjects();

// "GetObject", "DeleteGetObject", "ModGetObject": the object admin_name
// names into the object form (each attribute it has; one it lacks leaves the
// form's value). Refused: "Error:  object name can't be blank\n", "Error:
// object is not found in the system\n". A password object's VALUE is never
// put into the form: admin_value is emptied.
void getobject();

// "Create Object": a new object at the tail of tk_obj, or the object of that
// name that has no VALUE filled, from the form's non-empty values; the frame
// saves tk_obj. Refused: "Error: object name can't be blank\n", "Error:
// object '%s' already exists\n" (an object of that name has a VALUE), the
// name and DBKEY checks below.
void createobject();

// "Modify Object": the object of that name changed (it keeps its place), or
// added when there is none, from the form's non-empty values; an empty value
// leaves its attribute. The frame saves tk_obj and lists the objects.
// Refusals as createobject, without the existing one.
void modifyobject();

// "Delete Object": tk_obj written through saveobjfile without every object
// of that name, which then leave the list in memory too. Refused: "Error:
// object name can't be blank\n", "Error: object '%s' does not exists\n" (no
// object of that name has a VALUE).
void deleteobject();

}  // namespace kiv
