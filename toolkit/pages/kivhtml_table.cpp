// Printing a template table: the body collected between "TB{" and "}TE" is
// written once per data row of the table object, with its places (column
// markers and the author's "%s") filled in order from the row's columns.
// Rows are walked once and each row is split once, so a table of many rows
// costs one pass over its value.
#include <algorithm>
#include <cassert>
#include <string>

#include "platform/output.h"
#include "toolkit/text/kivcgimisc.h"
#include "toolkit/base/kivfmt.h"
#include "toolkit/pages/kivhtml.h"
#include "toolkit/pages/kivhtml_rows.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

// A table shows at most this many columns; the places after them keep "%s".
constexpr size_t kMaxTableColumns = 100;

enum class ColKind { serial, count, record, plain, link, attachment };

// One column of the column list, resolved against the key row once.
struct Column {
  ColKind kind;
  int index;  // the column's number in the key row; 0 when it is not there
};

Column resolve(std::string_view name, std::string_view keyrow) {
  ColKind kind = ColKind::plain;
  std::string_view bare = name;
  if (name == "rec_serial_num") {
    kind = ColKind::serial;
  } else if (name == "total_recs_num") {
    kind = ColKind::count;
  } else if (name == "rec_data") {
    kind = ColKind::record;
  } else if (name.starts_with('?')) {
    kind = ColKind::link;
    bare = name.substr(1);
  } else if (name.starts_with('!')) {
    kind = ColKind::attachment;
    bare = name.substr(1);
  }
  return {kind, getindex(keyrow, bare)};
}

// Appends the text of one column of one data row (`serial` counts from 1).
void column_text(std::string& out, const Column& c, const std::vector<std::string_view>& cols,
                 std::string_view keyrow, std::string_view row, int serial, int total) {
  if (c.index >= 1 && static_cast<size_t>(c.index) <= cols.size()) {
    std::string_view v = cols[c.index - 1];
    if (v.empty())
      out += '*';
    else if (c.kind == ColKind::link)
      out += convdata2html(data2brows(v));
    else if (c.kind == ColKind::attachment)
      htmltextattachment(out, v);
    else
      append_escaped(out, v);
    return;
  }
  switch (c.kind) {
    case ColKind::serial: out += std::to_string(serial); break;
    case ColKind::count: out += std::to_string(total); break;
    case ColKind::record: out += convdata2html(data2brows(formrecdata(keyrow, row))); break;
    default: out += sformat("No data for %d", c.index); break;
  }
}

}  // namespace

std::string formrecdata(std::string_view keyrow, std::string_view row) {
  std::string r(keyrow);
  r.append(row);
  return r;
}

namespace {

// The rest of the body after `from` places have been filled: the texts with
// "%s" at every place left.
void rest_of_body(std::string& out, const tablebody& body, size_t from) {
  for (size_t i = from; i < body.places(); ++i) {
    out += body.texts[i];
    out += "%s";
  }
  out += body.texts.back();
}

}  // namespace

int htmltable(kivhtml& ctx, std::string_view name, const tablebody& body) {
  assert(!body.texts.empty());
  if (body.columns.empty()) {
    std::string page;
    rest_of_body(page, body, 0);
    ctx.out->write(page);
    return 0;
  }
  if (name.empty()) {
    ctx.out->write("No name for this table");
    return -1;
  }
  std::string key(name);
  key += ".VALUE";
  std::optional<attrview> value = htmlvalue(ctx, key);
  if (!value) return -1;
  const std::string_view table = value->text;
  const size_t key_end = table.find(kRowEnd);
  if (key_end == std::string_view::npos) {
    ctx.out->write("No Keys for this table");
    return -1;
  }
  const std::string_view keyrow = table.substr(0, key_end + kRowEnd.size());

  // Column i fills place i; places after the last column keep their "%s".
  std::vector<Column> columns;
  for (size_t i = 0; i < body.columns.size() && i < kMaxTableColumns; ++i)
    columns.push_back(resolve(body.columns[i], keyrow));
  const size_t filled = std::min(columns.size(), body.places());
  const int total = getrowcount(table) - 1;

  std::string page;
  size_t pos = keyrow.size();
  for (int serial = 1; serial <= total; ++serial) {
    size_t end = table.find(kRowEnd, pos) + kRowEnd.size();
    std::string_view row = table.substr(pos, end - pos);
    pos = end;
    std::vector<std::string_view> cols = row_columns(row);
    page.clear();
    for (size_t i = 0; i < filled; ++i) {
      page += body.texts[i];
      column_text(page, columns[i], cols, keyrow, row, serial, total);
    }
    rest_of_body(page, body, filled);
    ctx.out->write(page);
  }
  return 0;
}

}  // namespace kiv
