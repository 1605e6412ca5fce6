// The page template engine. Every page is a template file run against object
// lists: the template is copied to the page and each marker ("MB{key}ME",
// "FB{key}FE", "TB{ ... }TE", ...) is replaced by text from the objects, the
// environment, an include file or a table object. The engine also threads the
// session key through every KIVACTION= link and every form of the page.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "toolkit/objects/kivobj.h"

namespace kiv {

class Sink;

// A table being collected between "TB{" and "}TE". The body is kept as the
// texts around its places: texts[i] stands before place i and the last text
// follows the last place. A place is where a column marker stood or a "%s"
// that the template author typed; the columns fill the places in order.
// What a marker put into the body is text and never a place, so a value
// holding "%s" shows as it is.
struct tablebody {
  std::vector<std::string> texts{1};
  std::vector<std::string> columns;  // column names, "?" or "!" in front for LCB and ACB

  // The number of places: one fewer than the texts around them.
  size_t places() const { return texts.size() - 1; }
};

// The colour scheme (color_scheme.VALUE) as the colour marker last split it:
// a copy of the value and, for each of its columns that holds a "-", the
// name before the first "-" and the colour after it. A page holds dozens of
// colour markers and one scheme: the marker splits the scheme again only
// when the value it finds is another text.
struct colourscheme {
  bool split = false;
  std::string text;
  std::vector<std::pair<std::string, std::string>> colours;
};

// The template context: the template's text, the object lists whose values
// fill the markers (looked up in order: the first list holding a value wins),
// and where the page goes. While a template runs the scanner holds it.
struct kivhtml {
  std::string_view text;
  std::vector<const objlist*> lists;
  Sink* out = nullptr;

  // The table state.
  std::string tablename;
  tablebody table;
  bool table_closed = false;
  size_t table_end = 0;  // where the table's "}TE" ended, from its "TB{"

  colourscheme colours;  // kept by changecolor
};

// Runs the template at `path` against the list (or the chain of lists, in
// order) with the page going to out(). 0, or 1 after "Cannot open html
// template file '%s'. errno=%d\n" when the template cannot be read. Puts
// TEMPLATE_PATH (the path below NVHOME) into the environment.
int printhtml(const objlist* list, const std::string& path);
int printhtml(std::span<const objlist* const> lists, const std::string& path);

// Runs the scanner in its template rules over the context's text. "OBJECT{"
// is plain text in a template. 0.
int html_fprintf(kivhtml& ctx);

// The value of `key` ("name.ATTRIBUTE") along the context's lists, with its
// origin, or none. The text lives in its object.
std::optional<attrview> htmlvalue(const kivhtml& ctx, std::string_view key);

// The session key of the page: the environment variable skey, or "NOKEY"
// when it is unset or empty.
std::string html_skey();

// ---- the printers of the outer state: they write to the page at once ----
// Markers that print a value as it is (MB, the table's FB, the sizes of AB
// and MDB, the colour marker) print what configuration or the program wrote
// byte for byte and HTML-escape what a request or a record supplied
// (attrview::marked). EB prints the variables the program sets from the
// clock and the configuration as they are and escapes every other one.
// The other markers escape every value they show.
void formaction(kivhtml& ctx);                                // "</form>", "</FORM>"
void printsemicolon(kivhtml& ctx);                            // "amp;amp;"
void linkaction(kivhtml& ctx, std::string_view value);        // KIVACTION=value&
void htmlenv(kivhtml& ctx, std::string_view name);            // EB{name}EE
void htmlmacro(kivhtml& ctx, std::string_view key);           // MB{key}ME
void htmlattachment(kivhtml& ctx, std::string_view name);     // AB{name}AE
void htmlfield(kivhtml& ctx, std::string_view key);           // FB{key}FE
void htmllinkfield(kivhtml& ctx, std::string_view key);       // LFB{key}LFE
void htmlvariable(kivhtml& ctx, std::string_view text);       // VB{text}VE
void htmlhidfield(kivhtml& ctx, std::string_view key);        // HB{key}HE
void htmlmultidrop_down(kivhtml& ctx, std::string_view key);  // MDB{key}MDE
void htmldrop_down(kivhtml& ctx, std::string_view key);       // DB{key}DE
void one_htmldrop_down(kivhtml& ctx, std::string_view key);   // ODB{key}ODE
void linkone_htmldrop_down(kivhtml& ctx, std::string_view key);  // LODB{key}LODE
void htmlradio(kivhtml& ctx, std::string_view content);       // RB{name#value}RE
void changecolor(kivhtml& ctx, std::string_view key);         // ="#key"
void htmllib(kivhtml& ctx, std::string_view file);            // LIBB{file}LIBE

// ---- their table forms: the same text given back for the table body ----
// Where the text of tablemacro, tableenv, tableradio, tablevariable or
// tablehtmllib would be empty, "No object value for <content>" stands in.
std::string tableformaction();
std::string tableprintsemicolon();
std::string tablelinkaction(std::string_view value);
std::string tableenv(std::string_view name);
std::string tablemacro(const kivhtml& ctx, std::string_view key);
std::string tablefield(const kivhtml& ctx, std::string_view key);      // as MB, empty without a value
std::string tablelinkfield(const kivhtml& ctx, std::string_view key);  // "*" without a value
std::string tablevariable(std::string_view text);
std::string tablehidfield(const kivhtml& ctx, std::string_view key);
std::string tabledrop_down(const kivhtml& ctx, std::string_view key);
std::string tableradio(const kivhtml& ctx, std::string_view content);
std::string tablehtmllib(std::string_view file);

// Writes a collected table: with no columns the body as it is; else the body
// once per data row of <name>.VALUE (row 1 is the key row) with column i's
// text in place i (a place no column fills shows "%s"). A cell is always
// HTML-escaped. 0, or -1 when the table has no name ("No name for this
// table"), no value, or no key row ("No Keys for this table").
int htmltable(kivhtml& ctx, std::string_view name, const tablebody& body);

// ---- helpers ----

// 1 when a non-empty column before column n of the menu value equals the item.
int uniquemenuitem(std::string_view value, int n, std::string_view item);
// 1 when the item equals one of the comma-separated parts of column 1 (the
// selections of a multiple-choice menu); n is not used.
int uniquemultimenuitem(std::string_view value, int n, std::string_view item);
// The key row and the record joined: a two-row record text.
std::string formrecdata(std::string_view keyrow, std::string_view row);

// Appends a case attachment's text for the page, HTML-escaped: for a value
// ending in ".txt", ".htm" or ".html", any case, the file of that name under
// the attachments folder. An attachment is what a request uploaded, so its
// markup is shown as text, never run. Nothing for other values, for a value
// that would leave the attachments folder, or without that folder.
void htmltextattachment(std::string& out, std::string_view value);

// The text of a whole file, read only, up to its first NUL byte; none after
// "up_readfile: can't stat '%s' errno=%d\n" or "Cannot open file <%s>
// errno=%d \n" (through errmsg).
std::optional<std::string> htmlreadfile(const std::string& path);

// The whole-file reader that htmlreadfile, the include marker and the
// engine's up_readfile share. With `short_read_fails` a file that gives fewer
// bytes than its size is refused with "up_readfile: read error for '%s'
// errno=%d\n"; else what was read is given.
std::optional<std::string> readfile_sized(const std::string& path, bool short_read_fails);

}  // namespace kiv
