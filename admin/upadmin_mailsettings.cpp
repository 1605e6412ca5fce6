// The e-mail interface, the assignment and workflow switches and the alarm
// settings (see upadmin_mailsettings.h): form values into tk_obj, and the
// alarm message text into its own file.
#include "admin/upadmin_mailsettings.h"

#include <array>
#include <cassert>
#include <optional>
#include <string>

#include "admin/upadmin_form.h"
#include "admin/upadmin_state.h"
#include "engine/upfile.h"
#include "platform/exit.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/base/kivio.h"

namespace kiv {

namespace {

objlist& tk() {
  assert(admin().tk_obj);
  return *admin().tk_obj;
}

std::string key_of(std::string_view name) { return std::string(name) + ".VALUE"; }

void store(std::string_view name, const formtext& v) { adduniqobj(tk(), key_of(name), v.text, v.origin); }

// The form value of an object, line breaks refused, as it will be stored.
formtext setting_from_form(std::string_view name) {
  formtext v = formval(key_of(name));
  refuse_line_break(v, name);
  return as_stored(std::move(v));
}

struct Required {
  std::string_view name;
  std::string_view missing;
};
constexpr std::array<Required, 5> kInterface = {{
    {"tkemaild_checkfreq", "Frequency can't be blank\n"},
    {"tkemaild_pop_server", "Error: Pop Server can't be blank\n"},
    {"tkemaild_pop_user", "Error: Pop User can't be blank\n"},
    {"tkemaild_pop_password", "Error: Pop User Password can't be blank\n"},
    {"tkemaild_subject_return", "Error: Return Mail Identifier can't be blank\n"},
}};

// A switch of the case engine, required.
void mod_switch(std::string_view name, std::string_view trace, std::string_view missing) {
  kivtrace(trace);
  formtext v = setting_from_form(name);
  if (v.empty()) refuse(missing);
  kivtrace(trace);
  store(name, v);
}

std::string alarm_file() { return reqctx().nvhome + "/client/kivhtml/tk/tkemaild_alarmres"; }

// A text as up_readfile gives it back: up to its first NUL byte.
std::string upto_nul(std::string text) {
  text.resize(std::string_view(text.c_str()).size());
  return text;
}

// The message file's text as up_readfile gives it, read without a message;
// none when it cannot be read. Its version is what a save compares with the
// version of the page.
std::optional<std::string> alarm_text_now(const std::string& path) {
  std::string text;
  if (!read_whole_file(path, text)) return std::nullopt;
  return upto_nul(std::move(text));
}

}  // namespace

void modemailinterface() {
  std::array<formtext, kInterface.size()> values;
  for (size_t i = 0; i < kInterface.size(); ++i) {
    const Required& r = kInterface[i];
    values[i] = setting_from_form(r.name);
    if (!values[i].empty()) continue;
    // The password box is never filled in, so empty means "unchanged".
    if (is_password_object(r.name) && getvalfromlist(tk(), key_of(r.name))) continue;
    refuse(r.missing);
  }
  for (size_t i = 0; i < kInterface.size(); ++i)
    if (!values[i].empty()) store(kInterface[i].name, values[i]);
}

void modautoassigngeneral() {
  mod_switch("autoassign_control", "MODAUTO mod_autoassigngenral\n", "Missing autoassign_control name object\n");
}

void modworkflowgeneral() {
  mod_switch("workflow_control", "MODAUTO mod_workflowgenral\n", "Missing workflow_control name object\n");
}

void getalarmsgeneral() {
  const std::string path = alarm_file();
  std::optional<std::string> text = up_readfile(path);
  if (text && !text->empty()) setform("alarm_message.VALUE", *text, Origin::request);
  setform("alarm_message_version.VALUE", file_version(text));
  if (formval("alarm_control.VALUE").empty()) setform("alarm_control.VALUE", "OFF");
  std::optional<attrview> weekend = getattrfromlist(tk(), "weekend_no_alarms.VALUE");
  if (weekend) {
    kivtrace("MODALARM weekend_no_alarms\n");
    setform("weekend_no_alarms.VALUE", std::string(weekend->text), weekend->origin);
  } else {
    setform("weekend_no_alarms.VALUE", "OFF");
  }
}

void modalarmsgeneral() {
  kivtrace("MODALARM mod_alarmgngenral\n");
  const formtext message = formval("alarm_message.VALUE");
  const formtext control = setting_from_form("alarm_control");
  const formtext weekend = setting_from_form("weekend_no_alarms");
  if (!message.empty()) {
    kivtrace("MODALARM mod_alarmgngenral\n");
    const std::string path = alarm_file();
    // Another save since this page was printed would be overwritten unseen.
    if (formval("alarm_message_version.VALUE").text != file_version(alarm_text_now(path))) {
      errmsg(kObjFileChanged, path);
      throw Exit{-1};
    }
    // A text that did not reach the file is never shown as saved.
    if (up_writefile(path, message.text) != 0) throw Exit{1};
    // The page after the save shows the file as it is now.
    setform("alarm_message_version.VALUE", file_version(upto_nul(message.text)));
  } else {
    // An empty box keeps the stored text: the page after the save shows
    // that text, not the empty box, and the version it belongs to.
    std::optional<std::string> kept = alarm_text_now(alarm_file());
    if (kept && !kept->empty()) setform("alarm_message.VALUE", *kept, Origin::request);
    setform("alarm_message_version.VALUE", file_version(kept));
  }
  if (!control.empty()) {
    kivtrace("MODALARM mod_control\n");
    store("alarm_control", control);
  }
  if (!weekend.empty()) {
    kivtrace("MODALARM weekend_no_alarms\n");
    store("weekend_no_alarms", weekend);
  }
}

}  // namespace kiv
