// The printers of the template markers, in their outer form (written to the
// page) and their table form (given back for the table body), with the menu
// helpers they share. Markers that show data escape it; the markers that
// print a value as it is (MB, the table's FB, ...) escape what a request or a
// record supplied and print configuration's own text byte for byte; VB and
// the include marker write the template's and the installation's text.
#include <cstdlib>
#include <unordered_set>

#include "platform/flavour.h"
#include "platform/output.h"
#include "toolkit/text/kivcgimisc.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/pages/kivhtml.h"
#include "toolkit/pages/kivhtml_rows.h"
#include "toolkit/base/kivsettings.h"
#include "toolkit/text/kivtext.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

void put(kivhtml& ctx, std::string_view text) {
  if (!text.empty()) ctx.out->write(text);
}

// The variables the program itself sets from the clock and the configuration
// (the start-up's date and times, the template's path, the home): EB prints
// them as they are. Any other variable may hold request text (the action,
// the menu trigger, the login, what a web server copies from the request).
constexpr std::string_view kProgramEnv[] = {"DATE", "TODAY", "TIME", "TIME24", "TEMPLATE_PATH", "NVHOME"};

bool program_env(std::string_view name) {
  for (std::string_view n : kProgramEnv)
    if (n == name) return true;
  return false;
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

std::optional<attrview> attr_of(const kivhtml& ctx, std::string_view name, std::string_view word) {
  std::string key(name);
  key += '.';
  key.append(word);
  return htmlvalue(ctx, key);
}

// A value as a raw marker shows it (append_shown), or `fallback`.
std::string shown_or(const std::optional<attrview>& v, std::string_view fallback) {
  if (!v) return std::string(fallback);
  std::string r;
  append_shown(r, *v);
  return r;
}

std::string escaped(std::string_view text) {
  std::string r;
  append_escaped(r, text);
  return r;
}

std::string env_text(std::string_view name) {
  std::optional<std::string> v = request_env(name);
  if (!v) return std::string();
  return program_env(name) ? *v : html_escape(*v);
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
  std::optional<attrview> v = htmlvalue(ctx, key);
  std::string r = "<INPUT TYPE=\"HIDDEN\" NAME=\"";
  r.append(key);
  r += "\" VALUE=\"";
  if (v) append_escaped(r, v->text);
  r += "\">";
  return r;
}

// The name and the button's value are the template's own text.
std::string radio(const kivhtml& ctx, std::string_view content) {
  size_t hash = content.find('#');
  std::string_view name = hash == std::string_view::npos ? content : content.substr(0, hash);
  std::string_view button = hash == std::string_view::npos ? content : content.substr(hash + 1);
  bool checked = false;
  if (hash != std::string_view::npos) {
    std::optional<attrview> v = attr_of(ctx, name, "VALUE");
    checked = v && v->text == button;
  }
  std::string r = "<input name=\"";
  r.append(name);
  r += checked ? ".VALUE\" type=\"radio\" CHECKED VALUE=\"" : ".VALUE\" type=\"radio\" VALUE=\"";
  r.append(button);
  r += "\">";
  return r;
}

// Menus hold a few dozen items: an earlier item is looked for by walking the
// columns before it; a long menu (what a request or a record could make)
// gets a set, so that the look-ups stay linear in the menu's length.
constexpr size_t kShortMenu = 64;

// The items of a drop-down menu after its selected item, each once: an item
// that an earlier non-empty column already shows is left out.
template <class Fn>
void each_unique_item(const std::vector<std::string_view>& cols, Fn fn) {
  if (cols.size() <= kShortMenu) {
    for (size_t c = 1; c < cols.size(); ++c) {
      bool seen = false;
      for (size_t e = 0; e < c && !seen; ++e) seen = !cols[e].empty() && cols[e] == cols[c];
      if (!seen) fn(cols[c]);
    }
    return;
  }
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
  std::optional<attrview> v = htmlvalue(ctx, key);
  if (!v) return "None";
  if (getcolcount(v->text) < 2) return escaped(v->text);
  return escaped(first_or_empty(row_columns(v->text)));
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
  std::optional<attrview> v = htmlvalue(ctx, key);
  if (!v) return;
  if (!v->marked()) {
    put(ctx, v->text);
    return;
  }
  put(ctx, escaped(v->text));
}

void htmlattachment(kivhtml& ctx, std::string_view name) {
  if (name.empty()) put(ctx, "No attachment name");
  std::string_view base = object_name(name);
  std::string r = "<input type=\"file\" size=\"";
  r += shown_or(attr_of(ctx, base, "LEN"), "20");
  r += "\" name=\"";
  r.append(base);
  r += ".VALUE\">";
  put(ctx, r);
}

void htmlfield(kivhtml& ctx, std::string_view key) {
  if (std::optional<attrview> v = htmlvalue(ctx, key)) put(ctx, escaped(v->text));
}

void htmllinkfield(kivhtml& ctx, std::string_view key) {
  if (std::optional<attrview> v = htmlvalue(ctx, key)) put(ctx, convdata2html(escaped(v->text)));
}

void htmlvariable(kivhtml& ctx, std::string_view text) { put(ctx, text); }

void htmlhidfield(kivhtml& ctx, std::string_view key) { put(ctx, hidden_input(ctx, key)); }

void htmlmultidrop_down(kivhtml& ctx, std::string_view key) {
  if (key.empty()) put(ctx, "No multi drop menu name");
  std::string_view name = object_name(key);
  std::optional<attrview> v = attr_of(ctx, name, "VALUE");
  std::string r = "<select name=\"mm_";
  r.append(name);
  r += ".VALUE\" multiple size=\"";
  r += shown_or(attr_of(ctx, name, "LEN"), "5");
  r += "\">\n";
  if (!v) {
    r += "<option>None</option>\n";
  } else {
    std::vector<std::string_view> cols = row_columns(v->text);
    std::string_view chosen = first_or_empty(cols);
    std::vector<std::string_view> parts;
    for (size_t start = 0; start <= chosen.size();) {
      size_t comma = std::min(chosen.find(',', start), chosen.size());
      parts.push_back(chosen.substr(start, comma - start));
      start = comma + 1;
    }
    if (!chosen.empty() && chosen[0] != ' ') {
      for (std::string_view part : parts) {
        if (part.empty()) continue;
        r += "<option selected>";
        append_escaped(r, part);
        r += " </option>\n";
      }
    }
    const std::unordered_set<std::string_view> selected(parts.begin(), parts.end());
    const size_t count = static_cast<size_t>(getcolcount(v->text));
    for (size_t c = 1; c < count && c < cols.size(); ++c) {
      if (selected.contains(cols[c])) continue;
      r += "<option>";
      append_escaped(r, cols[c]);
      r += "</option>\n";
    }
  }
  r += "</select>\n";
  put(ctx, r);
}

void htmldrop_down(kivhtml& ctx, std::string_view key) {
  std::optional<attrview> v = htmlvalue(ctx, key);
  if (!v) {
    put(ctx, "None");
    return;
  }
  if (getcolcount(v->text) == 0) return;  // not a row
  std::vector<std::string_view> cols = row_columns(v->text);
  std::string r;
  append_escaped(r, first_or_empty(cols));
  r += '\n';
  each_unique_item(cols, [&](std::string_view item) {
    r += "<OPTION>";
    append_escaped(r, item);
    r += '\n';
  });
  put(ctx, r);
}

void one_htmldrop_down(kivhtml& ctx, std::string_view key) { put(ctx, selected_item(ctx, key)); }

void linkone_htmldrop_down(kivhtml& ctx, std::string_view key) {
  put(ctx, convdata2html(selected_item(ctx, key)));
}

void htmlradio(kivhtml& ctx, std::string_view content) { put(ctx, radio(ctx, content)); }

namespace {

// The scheme's colours, split from `scheme` unless the context already holds
// them for that text.
const colourscheme& scheme_colours(kivhtml& ctx, std::string_view scheme) {
  colourscheme& c = ctx.colours;
  if (c.split && c.text == scheme) return c;
  c.split = true;
  c.text.assign(scheme);
  c.colours.clear();
  if (getcolcount(c.text) == 0) return c;
  for (std::string_view col : row_columns(c.text)) {
    const size_t dash = col.find('-');
    if (dash != std::string_view::npos) c.colours.emplace_back(col.substr(0, dash), col.substr(dash + 1));
  }
  return c;
}

}  // namespace

void changecolor(kivhtml& ctx, std::string_view key) {
  if (key.empty()) {
    put(ctx, "=\"#\"");
    return;
  }
  // The key is the template's text; a colour from the scheme is a value.
  attrview colour{key};
  if (std::optional<attrview> scheme = htmlvalue(ctx, "color_scheme.VALUE")) {
    for (const auto& [name, value] : scheme_colours(ctx, scheme->text).colours) {
      if (equal_nocase(name, key)) {
        colour = attrview{value, scheme->origin};
        break;
      }
    }
  }
  std::string r = "=\"#";
  append_shown(r, colour);
  r += '"';
  put(ctx, r);
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
  std::optional<attrview> v = htmlvalue(ctx, key);
  return v ? shown_or(v, "") : no_value(key);
}

std::string tablefield(const kivhtml& ctx, std::string_view key) { return shown_or(htmlvalue(ctx, key), ""); }

std::string tablelinkfield(const kivhtml& ctx, std::string_view key) {
  std::optional<attrview> v = htmlvalue(ctx, key);
  return v ? convdata2html(escaped(v->text)) : std::string("*");
}

std::string tablevariable(std::string_view text) {
  return text.empty() ? no_value(text) : std::string(text);
}

std::string tablehidfield(const kivhtml& ctx, std::string_view key) { return hidden_input(ctx, key); }

std::string tabledrop_down(const kivhtml& ctx, std::string_view key) {
  std::optional<attrview> v = htmlvalue(ctx, key);
  if (!v) return "None";
  if (getcolcount(v->text) == 0) return {};
  std::vector<std::string_view> cols = row_columns(v->text);
  std::string r = "<OPTION SELECTED>\n";
  append_escaped(r, first_or_empty(cols));
  each_unique_item(cols, [&](std::string_view item) {
    r += "<OPTION>\n";
    append_escaped(r, item);
  });
  return r;
}

std::string tableradio(const kivhtml& ctx, std::string_view content) { return radio(ctx, content); }

std::string tablehtmllib(std::string_view file) {
  std::string text = include_text(file);
  return text.empty() ? no_value(file) : text;
}

}  // namespace kiv
