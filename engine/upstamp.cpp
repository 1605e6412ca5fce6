// Stamp lines, the running logs of text fields, the required-field and
// blank-form checks, and the folding of extra problem fields. Every text set
// here holds request or record data, so it is marked for escaping.
#include "engine/upstamp.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <vector>

#include "engine/objtext.h"
#include "engine/upclock.h"
#include "engine/upcommon.h"
#include "engine/upflags.h"
#include "engine/upobjdb.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/text/kivcgimisc.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/text/rowcol.h"
#include "toolkit/security/security.h"

namespace kiv {

namespace {

// The VALUE of the object `name`, empty when none has one.
std::string value_of(const objlist* list, std::string_view name) { return objtext(*list, name, "VALUE"); }

// The request's action as the start-up took it; none outside a request.
std::optional<std::string> request_action() {
  const std::string& a = reqctx().action;
  if (a.empty()) return std::nullopt;
  return a;
}

// True when the text reads as the number 1, as atoi reads a number.
bool reads_as_one(const std::string& text) { return std::strtol(text.c_str(), nullptr, 10) == 1; }

bool stamp_rule(const objlist* list, std::string_view field) {
  const char* rule = nullptr;
  if (field == "resolution") rule = "resolution_timestamp";
  if (field == "problem") rule = "problem_timestamp";
  if (!rule) return true;
  const std::string v = value_of(list, rule);
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
    std::string name = getcol(row, i).value_or(std::string());
    if (!name.empty()) names.push_back(std::move(name));
  }
  return names;
}

// The old text joined in front of the current value of `field` when its log
// switch is "ON" and no assignment is running.
void append_log(objlist* list, std::string_view logswitch, std::string_view field, std::string_view old) {
  if (value_of(list, logswitch) != "ON" || engineflags().doingassign == kDoingAssign) return;
  const std::string joined = join(old, value_of(list, field));
  if (!joined.empty()) setobjvalue(*list, field, joined, Origin::record);
}

constexpr std::string_view kRulePrefixes[] = {"maillist_", "autoassign_", "workflow_", "alarmlist_", "message_"};

bool extra_problem_field(const std::string& name) {
  if (name.find(':') == std::string::npos || name.find("problem") == std::string::npos) return false;
  for (std::string_view p : kRulePrefixes)
    if (name.starts_with(p)) return false;
  return true;
}

}  // namespace

std::string stampline(const objlist& list) {
  std::string status = value_of(&list, "status");
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

int timestamp(objlist* list, std::string_view field) {
  if (!list) {
    errmsg("timestamp: head is NULL\n");
    return -1;
  }
  const bool stamp = stamp_rule(list, field);
  std::string text = filtertwolines(value_of(list, field));
  Origin origin = objattr(*list, field, "VALUE").origin;
  if (stamp) {
    text += stampline(*list);
    if (origin == Origin::config) origin = Origin::request;
  }
  if (!text.empty()) setobjvalue(*list, field, text, origin);
  return 0;
}

int fieldstamp(objlist* list) {
  if (!list) return 0;
  for (const std::string& name : names_of(value_of(list, "field_stamp"))) timestamp(list, name);
  return 0;
}

int fieldlog(objlist* list, std::string_view oldkeys, std::string_view olddata) {
  if (!list) return 0;
  for (const std::string& name : names_of(value_of(list, "field_log"))) {
    const std::string old = getvaluebykey(olddata, oldkeys, name).value_or(std::string());
    const std::string joined = join(old, value_of(list, name));
    if (!joined.empty()) setobjvalue(*list, name, joined, Origin::record);
  }
  return 0;
}

int catproblem(objlist* list, std::string_view oldproblem) {
  if (list) append_log(list, "problem_log", "problem", oldproblem);
  timestamp(list, "problem");
  fieldstamp(list);
  return 0;
}

int catresolution(objlist* list, std::string_view oldresolution) {
  if (list) append_log(list, "resolution_log", "resolution", oldresolution);
  timestamp(list, "resolution");
  return 0;
}

int blankform(const objlist* list) {
  if (list)
    for (const kivobj& o : *list)
      if (o.has(attr::DBKEY) && o.has(attr::VALUE)) return 0;
  errmsg("blankform: Blank form");
  return -1;
}

int enforce(const objlist* list) {
  if (!list) {
    errmsg("enforce head is NULL\n");
    return -1;
  }
  auto refuse = [](const std::string& title) {
    errmsg("'%s' can't be blank\n", title);
    return -1;
  };
  // Blank is what the record would store as no value.
  auto blank = [](std::string_view value) { return packetcolumn(value) == kEmptyCol; };
  const std::string required = value_of(list, "enforce_fields");
  if (!required.empty()) {
    for (const std::string& name : names_of(required))
      if (blank(value_of(list, name))) return refuse(getvalfromlist(list, name + ".TITLE").value_or(""));
    return 0;
  }
  for (const kivobj& o : *list)
    if (o.has(attr::DBKEY) && o.has(attr::ENFORCE) && blank(o.value())) return refuse(o.attr(attr::TITLE));
  return 0;
}

int check_separators(const exlist* req, const objlist& list, std::string_view record_object) {
  if (!req) return 0;
  for (const exdata& n : req->nodes) {
    if (n.source != ExSource::form || n.name.empty()) continue;
    const size_t dot = n.name.find('.');
    if (dot != std::string::npos && std::string_view(n.name).substr(dot + 1) != "VALUE") continue;
    if (!record_object.empty() && std::string_view(n.name).substr(0, dot) == record_object) continue;
    const std::string_view v = n.value;
    if (v.find(kColSep) == v.npos && v.find(kRowEnd) == v.npos && v.find(kEmptyCol) == v.npos) continue;
    const std::string name = n.name.substr(0, dot);
    const std::string title = objtext(list, name, "TITLE");
    kivtrace("request variable '%s' holds a row/column separator\n", n.name);
    errmsg("Invalid characters in '%s'\n", title.empty() ? name : title);
    return -1;
  }
  return 0;
}

int slackvar(objlist* list) {
  if (!list) return 0;
  std::string lines;
  bool any = false;
  for (const kivobj& o : *list) {
    if (!extra_problem_field(o.name())) continue;
    any = true;
    lines += o.has(attr::TITLE) ? o.attr(attr::TITLE) : std::string("No Title");
    lines += ':';
    lines += o.value();
    lines += '\n';
  }
  if (!any) return 0;
  lines += value_of(list, "problem");
  setobjvalue(*list, "problem", lines, Origin::request);
  return 0;
}

}  // namespace kiv
