// Packets from objects, the rewrites of a packet, the blank form and the sort
// keys. Every value that enters a packet passes through packetvalue, so a
// data row always has as many columns as its key row.
#include "engine/upobjdb.h"

#include <vector>

#include "toolkit/base/kivcgitrace.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

namespace {

// Appends one column and its separator; an empty value becomes "^^".
void addcol(std::string& row, std::string_view value) {
  row += value.empty() ? kEmptyCol : value;
  row += kColSep;
}

// Ends a row built by addcol: its last "^@" becomes "^$". An empty text
// stays empty.
void endrow(std::string& row) {
  if (row.ends_with(kColSep)) row.replace(row.size() - kColSep.size(), kColSep.size(), kRowEnd);
}

// A VALUE that a packet can carry: non-empty and not a menu's item list.
bool usable(std::string_view value) { return !value.empty() && value.find(kRowEnd) == std::string_view::npos; }

std::unique_ptr<packet> build_packet(const objlist& list, bool only_usable) {
  auto p = std::make_unique<packet>();
  for (const kivobj& o : list) {
    const std::string& key = o.attr(attr::DBKEY);
    if (key.empty()) continue;
    if (only_usable && !usable(o.value())) continue;
    p->keys += key;
    p->keys += kColSep;
    addcol(p->data, packetcolumn(o.value()));
  }
  endrow(p->data);
  endrow(p->keys);
  kivtrace("OBJ2DB data='%s' keys='%s'", p->data, p->keys);
  return p;
}

// The column names of a key row, in order.
std::vector<std::string> keynames(std::string_view keys) {
  std::vector<std::string> names;
  int n = getcolcount(keys);
  for (int k = 1; k <= n; ++k) names.push_back(getcol_or_empty(keys, k));
  return names;
}

}  // namespace

std::string packetvalue(std::string_view value) {
  std::string v;
  v.reserve(value.size());
  size_t i = 0;
  while (i < value.size()) {
    if (value[i] != '^') {
      v += value[i++];
      continue;
    }
    size_t run = value.find_first_not_of('^', i);
    if (run == std::string_view::npos) run = value.size();
    bool marker = run < value.size() && (value[run] == '@' || value[run] == '$');
    if (!marker) v.append(value.substr(i, run - i));
    i = run;
  }
  if (v == kEmptyCol) v.resize(1);
  return v;
}

std::string packetcolumn(std::string_view value) {
  std::string v = usable(value) ? packetvalue(value) : std::string();
  return v.empty() ? std::string(kEmptyCol) : v;
}

std::unique_ptr<packet> obj2db(const objlist& list) { return build_packet(list, false); }

std::unique_ptr<packet> modify_obj2db(const objlist& list) { return build_packet(list, true); }

int writeblankpage(objlist& list) {
  std::string keys, data;
  for (const kivobj& o : list) {
    const std::string& key = o.attr(attr::DBKEY);
    if (key.empty()) continue;
    keys += key;
    keys += kColSep;
    data += kColSep;
  }
  if (keys.empty()) return 0;
  endrow(keys);
  endrow(data);
  return db2obj(list, keys + data);
}

int modpacket(packet* pkt, std::string_view key, std::string_view newvalue) {
  kivtrace("MOD Packet to modify\n");
  if (!pkt) {
    errmsg("Bad Packet to modify\n");
    return 0;
  }
  if (newvalue.empty()) {
    errmsg("Bad newvalue to modify for key=<%s>\n", key);
    return 0;
  }
  std::vector<std::string> names = keynames(pkt->keys);
  bool found = false;
  for (const std::string& name : names) found = found || (!key.empty() && name == key);
  if (!found) {
    kivtrace("MOD 1 Packet to modify\n");
    return 1;
  }
  std::string value = packetvalue(newvalue);
  std::string data;
  int rows = getrowcount(pkt->data);
  for (int r = 1; r <= rows; ++r) {
    std::string row = getrow_or_empty(pkt->data, r);
    std::string out;
    for (size_t k = 0; k < names.size(); ++k)
      addcol(out, names[k] == key ? value : getcol_or_empty(row, static_cast<int>(k) + 1));
    endrow(out);
    data += out;
  }
  pkt->data = std::move(data);
  kivtrace("MOD 2 Packet to modify\n");
  return 0;
}

int mod_id2case(packet* pkt) {
  if (!pkt) {
    errmsg("Bad Packet to modify\n");
    return 0;
  }
  int rows = getrowcount(pkt->data);
  if (rows == 0) {
    errmsg("id2case: No data \n");
    return 1;
  }
  std::vector<std::string> names = keynames(pkt->keys);
  if (names.empty()) {
    errmsg("id2case: No keys\n");
    return 1;
  }
  // The id is taken by name before the row is rebuilt, so it does not matter
  // whether case_num stands before or after id_num.
  int idcol = getindex(pkt->keys, "id_num");
  std::string data;
  for (int r = 1; r <= rows; ++r) {
    std::string row = getrow_or_empty(pkt->data, r);
    std::string out;
    for (size_t k = 0; k < names.size(); ++k) {
      int col = names[k] == "case_num" && idcol != 0 ? idcol : static_cast<int>(k) + 1;
      addcol(out, getcol_or_empty(row, col));
    }
    endrow(out);
    data += out;
  }
  pkt->data = std::move(data);
  return 0;
}

int buildsortkey(objlist& list) {
  std::string titles;
  Origin origin = Origin::config;  // marked when a title is
  for (const kivobj& o : list) {
    if (!o.has(attr::DBKEY) || !o.has(attr::TITLE)) continue;
    titles += o.attr(attr::TITLE);
    titles += kColSep;
    origin = origin_of_both(origin, o.origin(attr::TITLE));
  }
  endrow(titles);
  return adduniqobj(list, "sort_titles1_menu.VALUE", titles, origin);
}

std::optional<std::string> getsortkey(const objlist& list, std::string_view title) {
  if (title.empty()) return std::nullopt;
  for (const kivobj& o : list)
    if (o.has(attr::DBKEY) && o.attr(attr::TITLE) == title) return o.attr(attr::DBKEY);
  return std::nullopt;
}

}  // namespace kiv
