// The text conversions of the administration: comma lists and lines to
// row/column text and back, the row of field titles, and the stored form of
// mail texts. Texts that go into row/column text are made safe with
// packetvalue, so that none of them can shift a row or a column.
#include "admin/upadmin_form.h"
#include "admin/upadmin_rules.h"
#include "engine/upobjdb.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/text/kivtext.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

// The last column separator becomes a row end (a text that does not end in
// one is left as it is).
void end_last_column(std::string& text) {
  if (text.ends_with(kColSep)) text.replace(text.size() - kColSep.size(), kColSep.size(), kRowEnd);
}

// The text with CR LF and lone CRs turned into LF.
std::string lf_only(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      out += text[i];
      continue;
    }
    out += '\n';
    if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
  }
  return out;
}

}  // namespace

std::string commalist2row(std::string_view text) {
  std::string row;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) comma = text.size();
    std::string_view piece = text.substr(start, comma - start);
    start = comma + 1;
    if (piece.empty()) continue;
    if (piece == "$") break;
    row += packetvalue(piece);
    row += kColSep;
  }
  if (row.empty()) return packetvalue(text) + std::string(kRowEnd);
  end_last_column(row);
  return row;
}

std::optional<std::string> row2commalist(std::string_view row) {
  if (getcolcount(row) <= 0) return std::nullopt;
  std::string list;
  for (std::string_view col : columns_of(row)) {
    if (col.empty()) continue;
    list += col;
    list += ',';
  }
  if (!list.empty()) {
    kivtrace("filter last comma\n");
    list.pop_back();
  }
  return list;
}

std::string row2commalist_or_empty(std::string_view row) { return row2commalist(row).value_or(std::string()); }

std::optional<std::string> lines2kivrec(std::string_view text) {
  std::string t = lf_only(text);
  trimspace(t);
  if (t.empty()) return std::nullopt;
  std::string rec = "^^^@";
  if (t.find('\n') == std::string::npos) {
    rec += packetvalue(t);
    rec += kRowEnd;
    kivtrace("lines2kivrec: kivrec='%s'\n", rec);
    return rec;
  }
  const bool rows = t.starts_with("***");
  kivtrace("lines2kivrec: flag='%d'\n", rows ? 1 : 0);
  size_t start = 0;
  while (start < t.size()) {
    size_t end = t.find('\n', start);
    if (end == std::string::npos) end = t.size();
    // A choice's blanks at its ends are no part of it: a browser sends the
    // item of a menu without them.
    std::string_view line = trim_blanks(std::string_view(t).substr(start, end - start));
    start = end + 1;
    if (line.empty()) continue;
    if (line == "$") break;
    kivtrace("lines2kivrec: k='%s'\n", line);
    if (line.starts_with("***")) {
      end_last_column(rec);
      line.remove_prefix(3);
    }
    rec += packetvalue(line);
    rec += kColSep;
  }
  end_last_column(rec);
  if (rows) rec.erase(0, 4);
  kivtrace("lines2kivrec: kivrec='%s'\n", rec);
  return rec;
}

std::optional<std::string> rows2lines(std::string_view text) {
  if (text.empty()) return std::nullopt;
  if (text.find(kRowEnd) == std::string_view::npos) return std::string(text);
  kivtrace("rowcount=%d\n", getrowcount(text));
  std::string lines;
  int j = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find(kRowEnd, start);
    end = end == std::string_view::npos ? text.size() : end + kRowEnd.size();
    kivtrace("j=%d\n", ++j);
    const std::vector<std::string_view> cols = columns_of(text.substr(start, end - start));
    start = end;
    for (size_t i = 0; i < cols.size(); ++i) {
      kivtrace("i=%d\n", static_cast<int>(i) + 1);
      std::string_view col = cols[i];
      if (col.empty()) continue;
      if (i == 0) lines += "***";
      lines += col;
      lines += '\n';
    }
  }
  if (!lines.empty()) {
    kivtrace("filter last new line\n");
    lines.pop_back();
  }
  return lines;
}

std::string row2lines(std::string_view text) {
  if (getcolcount(text) <= 0) return std::string(text);
  std::string lines;
  for (std::string_view item : columns_of(text)) {
    kivtrace("ITEM='%s'", item);
    if (item.empty()) continue;
    lines += item;
    lines += '\n';
  }
  kivtrace("CP='%s'", lines);
  return lines;
}

std::string fieldtitlesrow(const objlist& objs) {
  std::string row;
  for (const kivobj& o : objs) {
    if (!o.has(attr::DBKEY) || !o.has(attr::TITLE)) continue;
    row += packetvalue(o.attr(attr::TITLE));
    row += kColSep;
  }
  end_last_column(row);
  return row;
}

std::optional<std::string> msgbody2text(std::string_view stored) {
  if (stored.empty()) return std::nullopt;
  std::string text;
  text.reserve(stored.size());
  for (size_t i = 0; i < stored.size(); ++i) {
    if (stored.compare(i, 3, "{n}") == 0) {
      text += '\n';
      i += 2;
      continue;
    }
    text += stored[i];
  }
  return text;
}

std::optional<std::string> text2msgbody(std::string_view text) {
  if (text.empty()) return std::nullopt;
  const std::string plain = lf_only(text);
  std::string stored;
  stored.reserve(plain.size() + plain.size() / 8 + 8);
  for (char c : plain) {
    if (c == '\n') {
      stored += "{n}\\\n";
      continue;
    }
    stored += c;
  }
  // A text that ends with a line end leaves no continuation behind its last
  // "{n}"; one whose last line has none keeps every line joined to it.
  if (stored.ends_with("{n}\\\n")) stored.resize(stored.size() - 2);
  return stored;
}

std::string text2msgbody_or_empty(std::string_view text) { return text2msgbody(text).value_or(std::string()); }

}  // namespace kiv
