// The printers of the template markers, in their outer form (written to the
// page) and their table form (given back for the table body), with the menu
// helpers they share. Values from objects and from the environment (which
// holds request text such as MENUTRIG) are HTML-escaped wherever a marker
// shows data; MB, VB and the include marker write their text as it is.
#include <cstdlib>
#include <unordered_set>

#include "platform/flavour.h"
#include "platform/output.h"
#include "toolkit/kivcgimisc.h"
#include "toolkit/kivcgitrace.h"
#include "toolkit/kivhtml.h"
#include "toolkit/kivhtml_rows.h"
#include "toolkit/kivsettings.h"
#include "toolkit/kivtext.h"
#include "toolkit/rowcol.h"

namespace kiv {

namespace {

void put(kivhtml& ctx, std::string_view text) {
  if (!text.empty()) ctx.out->write(text);
}

std::string no_value(std::string_view content) {
  std::string r = "No object value for ";
  r.append(content);
  return r;
}

// The object name of a key: the text before its last point.
std::string_view object_name(std::string_view key) {
  size_t dot = key.rfind('.');
  return dot == std::string_view::npos ? key : key.substr(0, dot);
}

std::optional<std::string> attr_of(const kivhtml& ctx, std::string_view name, std::string_view word) {
  std::string key(name);
  key += '.';
  key.append(word);
  return htmlvalue(ctx, key);
}

std::string env_text(std::string_view name) {
  std::optional<std::string> v = request_env(name);
  return v ? html_escape(*v) : std::string();
}

// EB: "bron" and "broff" switch the line-break flag and give nothing.
std::string env_marker(std::string_view name) {
  if (equal_nocase(name, "bron")) {
    reqctx().bron = true;
    return {};
  }
  if (equal_nocase(name, "broff")) {
    reqctx().bron = false;
    return {};
  }
  return env_text(name);
}

std::string hidden_input(const kivhtml& ctx, std::string_view key) {
  std::optional<std::string> v = htmlvalue(ctx, key);
  std::string r = "<INPUT TYPE=\"HIDDEN\" NAME=\"";
  r.append(key);
  r += "\" VALUE=\"";
  if (v) r += data2brows(*v);
  r += "\">";
  return r;
}

std::string radio(const kivhtml& ctx, std::string_view content) {
  size_t hash = content.find('#');
  std::string_view name = hash == std::string_view::npos ? content : content.substr(0, hash);
  std::string_view button = hash == std::string_view::npos ? content : content.substr(hash + 1);
  bool checked = false;
  if (hash != std::string_view::npos) {
    std::optional<std::string> v = attr_of(ctx, name, "VALUE");
    checked = v && *v == button;
  }
  return sformat(checked ? "<input name=\"%s.VALUE\" type=\"radio\" CHECKED VALUE=\"%s\">"
                         : "<input name=\"%s.VALUE\" type=\"radio\" VALUE=\"%s\">",
                 name, button);
}

// The items of a drop-down menu after its selected item, each once: an item
// that an earlier non-empty column already shows is left out.
template <class Fn>
void each_unique_item(const std::vector<std::string_view>& cols, Fn fn) {
  std::unordered_set<std::string_view> seen;
  for (size_t c = 0; c < cols.size(); ++c) {
    std::string_view item = cols[c];
    if (c > 0 && !seen.contains(item)) fn(item);
    if (!item.empty()) seen.insert(item);
  }
}

std::string_view first_or_empty(const std::vector<std::string_view>& cols) {
  return cols.empty() ? std::string_view() : cols[0];
}

// ODB: column 1, or the whole value when it is not a row of two columns.
std::string selected_item(const kivhtml& ctx, std::string_view key) {
  std::optional<std::string> v = htmlvalue(ctx, key);
  if (!v) return "None";
  if (getcolcount(*v) < 2) return data2brows(*v);
  return data2brows(first_or_empty(row_columns(*v)));
}

std::string include_text(std::string_view file) {
  kivtrace("htmllib\n");
  const Settings& s = settings();
  std::string dir = s.libdir.empty() ? reqctx().nvhome + "/client/kivhtml/tk/lib" : s.libdir;
  std::string path = dir + "/";
  path.append(file);
  return readfile_sized(path, platform() == Platform::linux).value_or(std::string());
}

}  // namespace

// ---- helpers ----

int uniquemenuitem(std::string_view value, int n, std::string_view item) {
  std::vector<std::string_view> cols = row_columns(value);
  for (int c = 1; c < n && c <= static_cast<int>(cols.size()); ++c)
    if (!cols[c - 1].empty() && cols[c - 1] == item) return 1;
  return 0;
}

int uniquemultimenuitem(std::string_view value, int /*n*/, std::string_view item) {
  std::string_view first = first_or_empty(row_columns(value));
  if (value.empty()) return 0;
  size_t start = 0;
  while (true) {
    size_t comma = first.find(',', start);
    if (first.substr(start, comma - start) == item) return 1;
    if (comma == std::string_view::npos) return 0;
    start = comma + 1;
  }
}

// ---- the outer state ----

void formaction(kivhtml& ctx) { put(ctx, tableformaction()); }
void printsemicolon(kivhtml& ctx) { put(ctx, tableprintsemicolon()); }
void linkaction(kivhtml& ctx, std::string_view value) { put(ctx, tablelinkaction(value)); }
void htmlenv(kivhtml& ctx, std::string_view name) { put(ctx, env_marker(name)); }

void htmlmacro(kivhtml& ctx, std::string_view key) {
  if (std::optional<std::string> v = htmlvalue(ctx, key)) put(ctx, *v);
}

void htmlattachment(kivhtml& ctx, std::string_view name) {
  if (name.empty()) put(ctx, "No attachment name");
  std::string_view base = object_name(name);
  std::string size = attr_of(ctx, base, "LEN").value_or("20");
  put(ctx, sformat("<input type=\"file\" size=\"%s\" name=\"%s.VALUE\">", size, base));
}

void htmlfield(kivhtml& ctx, std::string_view key) {
  if (std::optional<std::string> v = htmlvalue(ctx, key)) put(ctx, data2brows(*v));
}

void htmllinkfield(kivhtml& ctx, std::string_view key) {
  if (std::optional<std::string> v = htmlvalue(ctx, key)) put(ctx, convdata2html(data2brows(*v)));
}

void htmlvariable(kivhtml& ctx, std::string_view text) { put(ctx, text); }

void htmlhidfield(kivhtml& ctx, std::string_view key) { put(ctx, hidden_input(ctx, key)); }

void htmlmultidrop_down(kivhtml& ctx, std::string_view key) {
  if (key.empty()) put(ctx, "No multi drop menu name");
  std::string_view name = object_name(key);
  std::optional<std::string> v = attr_of(ctx, name, "VALUE");
  std::string size = attr_of(ctx, name, "LEN").value_or("5");
  std::string r = sformat("<select name=\"mm_%s.VALUE\" multiple size=\"%s\">\n", name, size);
  if (!v) {
    r += "<option>None</option>\n";
  } else {
    std::vector<std::string_view> cols = row_columns(*v);
    std::string_view chosen = first_or_empty(cols);
    std::unordered_set<std::string_view> selected;
    for (size_t start = 0; start <= chosen.size();) {
      size_t comma = std::min(chosen.find(',', start), chosen.size());
      selected.insert(chosen.substr(start, comma - start));
      start = comma + 1;
    }
    if (!chosen.empty() && chosen[0] != ' ') {
      for (size_t start = 0; start < chosen.size();) {
        size_t comma = std::min(chosen.find(',', start), chosen.size());
        std::string_view part = chosen.substr(start, comma - start);
        if (!part.empty()) r += "<option selected>" + data2brows(part) + " </option>\n";
        start = comma + 1;
      }
    }
    const size_t count = static_cast<size_t>(getcolcount(*v));
    for (size_t c = 1; c < count && c < cols.size(); ++c)
      if (!selected.contains(cols[c])) r += "<option>" + data2brows(cols[c]) + "</option>\n";
  }
  r += "</select>\n";
  put(ctx, r);
}

void htmldrop_down(kivhtml& ctx, std::string_view key) {
  std::optional<std::string> v = htmlvalue(ctx, key);
  if (!v) {
    put(ctx, "None");
    return;
  }
  if (getcolcount(*v) == 0) return;  // not a row
  std::vector<std::string_view> cols = row_columns(*v);
  std::string r = data2brows(first_or_empty(cols)) + "\n";
  each_unique_item(cols, [&](std::string_view item) { r += "<OPTION>" + data2brows(item) + "\n"; });
  put(ctx, r);
}

void one_htmldrop_down(kivhtml& ctx, std::string_view key) { put(ctx, selected_item(ctx, key)); }

void linkone_htmldrop_down(kivhtml& ctx, std::string_view key) {
  put(ctx, convdata2html(selected_item(ctx, key)));
}

void htmlradio(kivhtml& ctx, std::string_view content) { put(ctx, radio(ctx, content)); }

void changecolor(kivhtml& ctx, std::string_view key) {
  if (key.empty()) {
    put(ctx, "=\"#\"");
    return;
  }
  std::string_view colour = key;
  std::optional<std::string> scheme = htmlvalue(ctx, "color_scheme.VALUE");
  if (scheme && getcolcount(*scheme) > 0) {
    for (std::string_view col : row_columns(*scheme)) {
      size_t dash = col.find('-');
      if (dash == std::string_view::npos) continue;
      if (equal_nocase(col.substr(0, dash), key)) {
        colour = col.substr(dash + 1);
        break;
      }
    }
  }
  put(ctx, sformat("=\"#%s\"", colour));
}

void htmllib(kivhtml& ctx, std::string_view file) {
  std::string text = include_text(file);
  put(ctx, text.empty() ? std::string("no file") : text);
}

// ---- the table forms ----

// The session key goes into a link URL-encoded and into a form HTML-escaped;
// a key of the system's shape (digits) or "NOKEY" is the same either way.
std::string tableformaction() {
  return "\n<input type=\"hidden\" name=\"skey\" value=\"" + html_escape(html_skey()) + "\"> \n</form>\n";
}

std::string tableprintsemicolon() { return "amp;"; }

std::string tablelinkaction(std::string_view value) {
  std::string key = convdata2html(html_skey());
  if (value.empty()) return "KIVACTION=skey=" + key + "&";
  std::string r = "KIVACTION=";
  r.append(value);
  r += "&amp;skey=" + key + "&";
  return r;
}

std::string tableenv(std::string_view name) {
  std::string text = env_marker(name);
  return text.empty() ? no_value(name) : text;
}

std::string tablemacro(const kivhtml& ctx, std::string_view key) {
  std::optional<std::string> v = htmlvalue(ctx, key);
  return v && !v->empty() ? *v : no_value(key);
}

std::string tablefield(const kivhtml& ctx, std::string_view key) {
  std::optional<std::string> v = htmlvalue(ctx, key);
  return v ? data2brows(*v) : std::string();
}

std::string tablelinkfield(const kivhtml& ctx, std::string_view key) {
  std::optional<std::string> v = htmlvalue(ctx, key);
  return v ? convdata2html(data2brows(*v)) : std::string("*");
}

std::string tablevariable(std::string_view text) {
  return text.empty() ? no_value(text) : std::string(text);
}

std::string tablehidfield(const kivhtml& ctx, std::string_view key) { return hidden_input(ctx, key); }

std::string tabledrop_down(const kivhtml& ctx, std::string_view key) {
  std::optional<std::string> v = htmlvalue(ctx, key);
  if (!v) return "None";
  if (getcolcount(*v) == 0) return {};
  std::vector<std::string_view> cols = row_columns(*v);
  std::string r = "<OPTION SELECTED>\n" + data2brows(first_or_empty(cols));
  each_unique_item(cols, [&](std::string_view item) { r += "<OPTION>\n" + data2brows(item); });
  return r;
}

std::string tableradio(const kivhtml& ctx, std::string_view content) { return radio(ctx, content); }

std::string tablehtmllib(std::string_view file) {
  std::string text = include_text(file);
  return text.empty() ? no_value(file) : text;
}

}  // namespace kiv
