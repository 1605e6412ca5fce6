// The stamp-free copies of problem and resolution for notification mail.
#include "engine/filtertimestamp.h"

#include "toolkit/base/kivcgitrace.h"
#include "toolkit/objects/kivobj.h"
#include "toolkit/text/rowcol.h"
#include "toolkit/security/security.h"

namespace kiv {

namespace {

// The copy of one field's text.
std::string filtered(const objlist& list, const std::string& text) {
  std::string out;
  size_t chunk = 0;   // where the current contribution begins
  size_t search = 0;  // where the next stamp is looked for
  while (true) {
    size_t open = text.find("\n[", search);
    if (open == std::string::npos) {
      kivtrace("break statement2");
      break;
    }
    size_t close = text.find(']', open + 2);
    if (close == std::string::npos) {
      kivtrace("break statement1");
      break;
    }
    std::string stamp = text.substr(open + 2, close - open - 2);
    kivtrace("Filter bp='%s'", stamp);
    // A stamp is one line; a "[" line whose "]" lies on a later line, or
    // whose text names no user, is the writer's own text.
    std::optional<std::string> user;
    if (stamp.find('\n') == std::string::npos) user = getfilteruser(stamp);
    if (!user) {
      kivtrace("getfilteruser is null\n");
      search = open + 1;
      continue;
    }
    std::string contribution = text.substr(chunk, open - chunk);
    chunk = search = close + 1;
    if (contribution.empty()) continue;
    std::string submitter = objtext(list, "submitted_by.VALUE");
    if (submitter.empty()) submitter = getuserlogin().value_or(std::string());
    if (submitter.empty()) continue;
    trimspace(submitter);
    trimspace(*user);
    kivtrace("subuser='%s' ruser='%s'\n\n", submitter, *user);
    if (*user == submitter)
      out += sformat("\n\n%s wrote:\n", *user);
    else
      out += "\n\nTiklo wrote:\n\n";
    out += contribution;
  }
  return out;
}

}  // namespace

std::optional<std::string> getfilteruser(std::string_view stamp) {
  size_t at = stamp.find("AM - ");
  if (at == std::string_view::npos) at = stamp.find("PM - ");
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view rest = stamp.substr(at + 5);
  std::string_view word = rest.substr(0, rest.find(' '));
  if (word.empty()) return std::string("You");
  return std::string(word);
}

void filtertimestamp(objlist& list) {
  for (const char* field : {"problem", "resolution"}) {
    const std::string name = std::string(field) + "_nostamp";
    const std::string text = objtext(list, std::string(field) + ".VALUE");
    if (text.empty()) {
      // The assignment command answers many cases in one process: no copy
      // of an earlier case may travel with this one.
      if (kivobj* old = list.find(name)) modattrib(*old, attr::VALUE, "");
      continue;
    }
    std::string copy = filtered(list, text);
    adduniqobj(list, name + ".NAME", name);
    adduniqobj(list, name + ".DBKEY", name);
    adduniqobj(list, name + ".VALUE", copy, Origin::record);
  }
  kivtrace("finish filter2");
}

}  // namespace kiv
