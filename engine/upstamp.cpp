// Stamp lines, the running logs of text fields, the required-field and
// blank-form checks, and the folding of extra problem fields. Every text set
// here holds request or record data, so it is marked for escaping.
#include "engine/upstamp.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <vector>

#include "engine/upclock.h"
#include "engine/upcommon.h"
#include "engine/upflags.h"
#include "engine/upobjdb.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/text/kivcgimisc.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/text/rowcol.h"
#include "toolkit/security/security.h"

namespace kiv {

namespace {

// The request's action as the start-up took it; none outside a request.
std::optional<std::string> request_action() {
  const std::string& a = reqctx().action;
  if (a.empty()) return std::nullopt;
  return a;
}

// True when the text reads as the number 1, as atoi reads a number.
bool reads_as_one(const std::string& text) { return std::strtol(text.c_str(), nullptr, 10) == 1; }

bool stamp_rule(const objlist& objs, std::string_view field) {
  const char* rule = nullptr;
  if (field == "resolution") rule = "resolution_timestamp";
  if (field == "problem") rule = "problem_timestamp";
  if (!rule) return true;
  const std::string v = objtext(objs, rule, "VALUE");
  return !v.empty() && reads_as_one(v);
}

// Old text, a line feed and the new one; only one when the other is empty.
std::string join(std::string_view old, std::string_view now) {
  if (old.empty()) return std::string(now);
  if (now.empty()) return std::string(old);
  std::string r(old);
  r += '\n';
  r += now;
  return r;
}

// The names of a one-row list such as field_stamp.VALUE, empty ones left
// out. A text that is not a row has none.
std::vector<std::string> names_of(const std::string& row) {
  std::vector<std::string> names;
  const int n = getcolcount(row);
  for (int i = 1; i <= n; ++i) {
    std::string name = getcol_or_empty(row, i);
    if (!name.empty()) names.push_back(std::move(name));
  }
  return names;
}

// The old text joined in front of the current value of `field` when its log
// switch is "ON" and no assignment is running.
void append_log(objlist& objs, std::string_view logswitch, std::string_view field, std::string_view old) {
  if (objtext(objs, logswitch, "VALUE") != "ON" || engineflags().doingassign == kDoingAssign) return;
  const std::string joined = join(old, objtext(objs, field, "VALUE"));
  if (!joined.empty()) setobjvalue(objs, field, joined, Origin::record);
}

constexpr std::string_view kRulePrefixes[] = {"maillist_", "autoassign_", "workflow_", "alarmlist_", "message_"};

bool extra_problem_field(const std::string& name) {
  if (name.find(':') == std::string::npos || name.find("problem") == std::string::npos) return false;
  for (std::string_view p : kRulePrefixes)
    if (name.starts_with(p)) return false;
  return true;
}

}  // namespace

std::string stampline(const objlist& objs) {
  std::string status = objtext(objs, "status", "VALUE");
  if (status.empty())
    status = " ";
  else if (status[0] == '^')
    status = "*";
  else
    // A status menu that the form did not set still holds its item list
    // behind the chosen item: the stamp names the chosen item alone. The
    // list's row marks in a text field would make the whole field unstorable.
    status = status.substr(0, std::min(status.find("^@"), status.find("^$")));
  const std::time_t now = engine_now();
  return sformat("\n[-%s- %s %s - %s - %s-]", status, getdate1(now), gettime2(now),
                 getuserlogin().value_or("Unknown"), request_action().value_or("Unknown"));
}

int timestamp(objlist& objs, std::string_view field) {
  const bool stamp = stamp_rule(objs, field);
  std::string text = filtertwolines(objtext(objs, field, "VALUE"));
  Origin origin = objattr(objs, field, "VALUE").origin;
  if (stamp) {
    text += stampline(objs);
    if (origin == Origin::config) origin = Origin::request;
  }
  if (!text.empty()) setobjvalue(objs, field, text, origin);
  return 0;
}

int fieldstamp(objlist& objs) {
  for (const std::string& name : names_of(objtext(objs, "field_stamp", "VALUE"))) timestamp(objs, name);
  return 0;
}

int fieldlog(objlist& objs, std::string_view oldkeys, std::string_view olddata) {
  for (const std::string& name : names_of(objtext(objs, "field_log", "VALUE"))) {
    const std::string old = getvaluebykey_or_empty(olddata, oldkeys, name);
    const std::string joined = join(old, objtext(objs, name, "VALUE"));
    if (!joined.empty()) setobjvalue(objs, name, joined, Origin::record);
  }
  return 0;
}

int catproblem(objlist& objs, std::string_view oldproblem) {
  append_log(objs, "problem_log", "problem", oldproblem);
  timestamp(objs, "problem");
  fieldstamp(objs);
  return 0;
}

int catresolution(objlist& objs, std::string_view oldresolution) {
  append_log(objs, "resolution_log", "resolution", oldresolution);
  timestamp(objs, "resolution");
  return 0;
}

int blankform(const objlist& objs) {
  for (const kivobj& o : objs)
    if (o.has(attr::DBKEY) && o.has(attr::VALUE)) return 0;
  errmsg("blankform: Blank form");
  return -1;
}

int enforce(const objlist& objs) {
  auto refuse = [](const std::string& title) {
    errmsg("'%s' can't be blank\n", title);
    return -1;
  };
  // Blank is what the record would store as no value.
  auto blank = [](std::string_view value) { return packetcolumn(value) == kEmptyCol; };
  const std::string required = objtext(objs, "enforce_fields", "VALUE");
  if (!required.empty()) {
    for (const std::string& name : names_of(required))
      if (blank(objtext(objs, name, "VALUE"))) return refuse(objtext(objs, name + ".TITLE"));
    return 0;
  }
  for (const kivobj& o : objs)
    if (o.has(attr::DBKEY) && o.has(attr::ENFORCE) && blank(o.value())) return refuse(o.attr(attr::TITLE));
  return 0;
}

int check_separators(const exlist* request, const objlist& objs, std::string_view record_object) {
  if (!request) return 0;
  for (const exdata& n : request->nodes) {
    if (n.source != ExSource::form || n.name.empty()) continue;
    const size_t dot = n.name.find('.');
    if (dot != std::string::npos && std::string_view(n.name).substr(dot + 1) != "VALUE") continue;
    if (!record_object.empty() && std::string_view(n.name).substr(0, dot) == record_object) continue;
    const std::string_view v = n.value;
    if (v.find(kColSep) == v.npos && v.find(kRowEnd) == v.npos && v.find(kEmptyCol) == v.npos) continue;
    const std::string name = n.name.substr(0, dot);
    const std::string title = objtext(objs, name, "TITLE");
    kivtrace("request variable '%s' holds a row/column separator\n", n.name);
    errmsg("Invalid characters in '%s'\n", title.empty() ? name : title);
    return -1;
  }
  return 0;
}

int slackvar(objlist& objs) {
  std::string lines;
  bool any = false;
  for (const kivobj& o : objs) {
    if (!extra_problem_field(o.name())) continue;
    any = true;
    lines += o.has(attr::TITLE) ? o.attr(attr::TITLE) : std::string("No Title");
    lines += ':';
    lines += o.value();
    lines += '\n';
  }
  if (!any) return 0;
  lines += objtext(objs, "problem", "VALUE");
  setobjvalue(objs, "problem", lines, Origin::request);
  return 0;
}

}  // namespace kiv
