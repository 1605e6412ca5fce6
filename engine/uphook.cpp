// Running hook commands: the child's environment built from packets, the
// shown part of its output, the judging of its end, and the hook objects.
#include "engine/uphook.h"

#include <algorithm>
#include <cassert>
#include <csignal>
#include <map>
#include <vector>

#include "engine/upclock.h"
#include "platform/process.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

// A name the shell can read as a variable: a letter or "_", then letters,
// digits and "_".
bool environment_name(std::string_view name) {
  if (name.empty()) return false;
  auto alpha = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  if (!alpha(name[0])) return false;
  for (char c : name)
    if (!alpha(c) && !(c >= '0' && c <= '9')) return false;
  return true;
}

bool record_variable_allowed(std::string_view name) {
  return environment_name(name) && name != "PATH" && !process::unsafe_variable(name);
}

// The child's environment: name to "NAME=value", the record's variables
// replacing namesakes of the inherited ones.
class Environment {
 public:
  Environment() {
    for (std::string& e : process::safe_environment()) {
      std::string name = e.substr(0, e.find('='));
      vars_[std::move(name)] = std::move(e);
    }
  }
  void set(const std::string& name, std::string_view value) {
    std::string entry = name;
    entry += '=';
    entry += value;
    vars_[name] = std::move(entry);
  }
  std::vector<std::string> entries() const {
    std::vector<std::string> v;
    v.reserve(vars_.size());
    for (const auto& [name, entry] : vars_) v.push_back(entry);
    return v;
  }

 private:
  std::map<std::string, std::string> vars_;
};

bool is_dbkey(const objlist& list, std::string_view column) {
  for (const kivobj& o : list)
    if (o.attr(attr::DBKEY) == column) return true;
  return false;
}

// One variable per column of the key row that is a DBKEY of the list, named
// `prefix` and the column, holding the data row's value of that column.
void add_record(Environment& env, const objlist& list, const std::string& keys, const std::string& data,
                std::string_view prefix) {
  const int n = getcolcount(keys);
  for (int i = 1; i <= n; ++i) {
    const std::string column = getcol_or_empty(keys, i);
    std::string name(prefix);
    name += column;
    if (column.empty() || !is_dbkey(list, column) || !record_variable_allowed(name)) {
      kivtrace("do_exec: column '%s' is not passed to the command", column);
      continue;
    }
    env.set(name, getvaluebykey_or_empty(data, keys, column));
  }
}

// The part of the output that is shown: pieces as a line reader with a
// 1024-byte buffer gives them (up to and with a line feed, at most 1023
// bytes), each read as a C string (up to a NUL byte); a non-empty piece is
// added while fewer than 5120 bytes are collected.
std::string shown_output(std::string_view raw) {
  constexpr size_t kPiece = 1023, kShown = 5120;
  std::string shown;
  size_t pos = 0;
  while (pos < raw.size() && shown.size() < kShown) {
    size_t end = raw.find('\n', pos);
    end = end == std::string_view::npos ? raw.size() : end + 1;
    end = std::min(end, pos + kPiece);
    std::string_view piece = raw.substr(pos, end - pos);
    piece = piece.substr(0, piece.find('\0'));
    shown.append(piece);
    pos = end;
  }
  return shown;
}

// The result of a command that ran: its exit status, or 128 plus the
// signal that ended it; a command killed at the time limit never gives 0.
int end_status(const process::Result& r) {
  if (r.timed_out) return 128 + SIGKILL;
  if (r.signal) return 128 + r.signal;
  return r.status;
}

struct HookObject {
  Hook hook;
  std::string_view name;
  std::string_view missing;  // errmsg for ON without a TITLE
  std::string_view refused;  // errmsg of a refusing pre-hook; empty for post-hooks
};

constexpr HookObject kHooks[] = {
    {Hook::pre_add, "tk_pre_add", "No command specified in object tk_pre_add\n", "submit operation failed\n"},
    {Hook::post_add, "tk_post_add", "No command specified in object tk_post_add\n", ""},
    {Hook::pre_modify, "tk_pre_modify", "No command specified in object tk_pre_modify\n",
     "Modify operation failed\n"},
    {Hook::post_modify, "tk_post_modify", "No command specified in object tk_post_modify\n", ""},
};
// The table is indexed by the hook point, one entry for each.
static_assert(std::size(kHooks) == 4);
static_assert(kHooks[0].hook == Hook::pre_add && kHooks[1].hook == Hook::post_add &&
              kHooks[2].hook == Hook::pre_modify && kHooks[3].hook == Hook::post_modify);

const HookObject& hookobject(Hook hook) {
  assert(static_cast<size_t>(hook) < std::size(kHooks));
  return kHooks[static_cast<int>(hook)];
}

// The attribute of the first object of that name that has it, when it came
// from the configuration; empty otherwise.
std::string configured(const objlist& list, std::string_view name, std::string_view attribute) {
  objattr_text a = objattr(list, name, attribute);
  return a.origin == Origin::config ? std::move(a.text) : std::string();
}

}  // namespace

int do_exec(const objlist& list, const std::string& command, const std::string* newkeys,
            const std::string* newdata, const std::string* keys, const std::string* data) {
  Environment env;
  if (data) add_record(env, list, keys ? *keys : std::string(), *data, "");
  if (newdata) add_record(env, list, newkeys ? *newkeys : std::string(), *newdata, "NEW_");
  process::Options options;
  options.env = env.entries();
  options.capture_output = true;
  options.capture_limit = kHookCaptureLimit;
  options.limit = engineclock().hook_limit;
  const process::Result r = process::run_shell(command, options);
  if (!r.started) {
    errmsg("Can't open command <%s>\n", command);
    return -1;
  }
  const int status = end_status(r);
  if (status != 0) {
    kivtrace("do_exec: '%s' ended with %s", command, process::describe(r, options));
    errmsg("%s script failed.\n%s", command, shown_output(r.output));
  }
  return status;
}

std::string_view hookname(Hook hook) { return hookobject(hook).name; }

int run_hook(const objlist& list, Hook hook, const packet* newpkt, const packet* oldpkt) {
  const HookObject& h = hookobject(hook);
  if (configured(list, h.name, "VALUE") != "ON") return 0;
  const std::string command = configured(list, h.name, "TITLE");
  if (command.empty()) {
    errmsg(h.missing);
    return 0;
  }
  const int rc = do_exec(list, command, newpkt ? &newpkt->keys : nullptr, newpkt ? &newpkt->data : nullptr,
                         oldpkt ? &oldpkt->keys : nullptr, oldpkt ? &oldpkt->data : nullptr);
  if (rc == 0 || h.refused.empty()) return 0;
  errmsg(h.refused);
  return 1;
}

}  // namespace kiv
