// Objects and database rows: packets from a form, values that hold the row
// markers, the six record readers, the blank form, the packet rewrites and
// the sort keys.
#include <gtest/gtest.h>

#include "engine/upobjdb.h"
#include "support/testsupport.h"
#include "toolkit/base/kivcontext.h"
#include "toolkit/pages/kivhtml.h"
#include "toolkit/text/rowcol.h"

using namespace kiv;

namespace {

struct Obj {
  const char* name;
  const char* dbkey = nullptr;
  const char* value = nullptr;
  const char* type = nullptr;
  const char* title = nullptr;
};

void fill(objlist& list, std::initializer_list<Obj> objs) {
  for (const Obj& o : objs) {
    auto n = getnewobj();
    modattrib(*n, attr::NAME, o.name);
    if (o.dbkey) modattrib(*n, attr::DBKEY, o.dbkey);
    if (o.value) modattrib(*n, attr::VALUE, o.value);
    if (o.type) modattrib(*n, attr::TYPE, o.type);
    if (o.title) modattrib(*n, attr::TITLE, o.title);
    addobj(list, std::move(n));
  }
}

// The names of the objects whose VALUE is marked, in list order.
std::string marked(const objlist& list) {
  std::string s;
  for (const kivobj& o : list)
    if (o.marked(attr::VALUE)) s += o.name() + ";";
  return s;
}

// NAME=VALUE of every object after the head, in list order.
std::string dump(const objlist& list) {
  std::string s;
  for (const kivobj& o : list)
    if (&o != &list[0]) s += o.name() + "=" + o.value() + ";";
  return s;
}

class ObjDb : public kivtest::KivTest {
 protected:
  void form(std::initializer_list<Obj> objs) { fill(list_, objs); }
  std::string value(const char* name) {
    const kivobj* o = list_.find(name);
    return o ? o->value() : "<no object>";
  }
  std::string dump() { return ::dump(list_); }
  objlist list_;
};

}  // namespace

TEST_F(ObjDb, PacketsFromTheForm) {
  form({{"note"},  // no DBKEY: never in a packet
        {"case_num", "case_num", "7"},
        {"status", "status"},
        {"priority", "priority", "High^@Low^@High^$", "MENU"},  // still its item list
        {"title", "title", "Printer down"}});
  auto all = obj2db(list_);
  EXPECT_EQ(all->keys, "case_num^@status^@priority^@title^$");
  EXPECT_EQ(all->data, "7^@^^^@^^^@Printer down^$");
  auto mod = modify_obj2db(list_);
  EXPECT_EQ(mod->keys, "case_num^@title^$");
  EXPECT_EQ(mod->data, "7^@Printer down^$");
  EXPECT_NE(all.get(), obj2db(list_).get());  // every call a new packet
}

TEST_F(ObjDb, OnlyDbkeyObjectEmpty) {
  form({{"status", "status"}});
  auto p = obj2db(list_);
  EXPECT_EQ(p->keys, "status^$");
  EXPECT_EQ(p->data, "^^^$");
  auto m = modify_obj2db(list_);  // nothing qualifies: both texts empty
  EXPECT_EQ(m->keys, "");
  EXPECT_EQ(m->data, "");
}

TEST_F(ObjDb, PacketTrace) {
  reqctx().kivdebug = 1;
  form({{"a", "a", "x"}});
  obj2db(list_);
  EXPECT_NE(page().find("OBJ2DB data='x^$' keys='a^$'"), std::string::npos) << page();
}

TEST_F(ObjDb, MarkersInValues) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"a^@b", "a@b"},   {"a^^@b", "a@b"}, {"^@", "@"},     {"a^$b", "a$b"},  {"^^", "^"},
      {"a^^b", "a^^b"},  {"a^,b", "a^,b"}, {"x^", "x^"},    {"^x", "^x"},     {"^", "^"},
      {"^^^", "^^^"},    {"@$", "@$"},     {"a^-b", "a^-b"}, {"^^^@^^", "@^^"}, {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(packetvalue(c.in), c.out) << c.in;
}

// Every text over the caret, the two marker letters and one plain letter, up
// to six characters, travels in a packet column between two neighbours and
// reads back as packetvalue gives it, without moving any other column; a text
// that would read back as itself is kept unchanged.
TEST_F(ObjDb, EveryValueKeepsItsColumn) {
  const char alphabet[] = {'^', '@', '$', 'a'};
  std::vector<std::string> values{""};
  for (size_t begin = 0, len = 1; len <= 6; ++len) {
    size_t end = values.size();
    for (size_t i = begin; i < end; ++i)
      for (char c : alphabet) values.push_back(values[i] + c);
    begin = end;
  }
  for (const std::string& v : values) {
    std::string safe = packetvalue(v);
    bool readable = v.find("^@") == std::string::npos && v.find("^$") == std::string::npos && v != "^^";
    if (readable) {
      EXPECT_EQ(safe, v);
    }
    EXPECT_EQ(safe.empty(), v.empty()) << v;
    if (v.find("^$") != std::string::npos) continue;  // a menu's item list: sent empty (below)
    objlist l;
    fill(l, {{"left", "left", v.c_str()}, {"mid", "mid", v.c_str()}, {"right", "right", "z"}});
    auto p = obj2db(l);
    ASSERT_EQ(getrowcount(p->data), 1) << v;
    ASSERT_EQ(getcolcount(p->data), 3) << v << " -> " << p->data;
    EXPECT_EQ(getvaluebykey(p->data, p->keys, "left"), safe) << v;
    EXPECT_EQ(getvaluebykey(p->data, p->keys, "mid"), safe) << v;
    EXPECT_EQ(getvaluebykey(p->data, p->keys, "right"), "z") << v;
  }
}

TEST_F(ObjDb, TextWithRowEndTravelsEmpty) {
  form({{"a", "a", "one^$two"}, {"b", "b", "x^@y"}});
  EXPECT_EQ(obj2db(list_)->data, "^^^@x@y^$");
  EXPECT_EQ(modify_obj2db(list_)->keys, "b^$");
}

TEST_F(ObjDb, RecordReaders) {
  using Reader = int (*)(objlist&, std::string_view);
  struct Case {
    const char* what;
    Reader reader;
    const char* record;
    const char* after;
    const char* marked;  // the objects whose VALUE now holds the record's text
  } cases[] = {
      {"db2obj sets, clears and fills menus", db2obj,
       "title^@status^@priority^@kind^$New title^@^^^@b^@c^$",
       "title=New title;status=;priority=b^@a^@b^$;kind=c^$;mark=m;", "title;priority;kind;"},
      {"db2obj creates missing objects at the tail", db2obj, "extra^@title^@t.x^$1^@T^@y^$",
       "title=T;status=Open;priority=a^@b^$;kind=;mark=m;extra=1;t.x=y;", "title;extra;t.x;"},
      {"the first column of a name wins", db2obj, "title^@title^$one^@two^$",
       "title=one;status=Open;priority=a^@b^$;kind=;mark=m;", "title;"},
      {"vdb2obj marks empty fields", vdb2obj, "title^@status^@priority^$^^^@x^@b^$",
       "title=*;status=x;priority=b;kind=;mark=m;", "status;priority;"},
      {"readdb2obj clears", readdb2obj, "title^@status^$^^^@Closed^$",
       "title=;status=Closed;priority=a^@b^$;kind=;mark=m;", "status;"},
      {"defaultdb2obj blanks nothing", defaultdb2obj, "title^@status^@mark^@kind^$\n^^^@^^^@\r^^^@k^$",
       "title=Old;status=Open;priority=a^@b^$;kind=k;mark=m;", "kind;"},
      {"catdb2obj fills only empty objects", catdb2obj, "title^@priority^@kind^$T^@b^@c^$",
       "title=Old;status=Open;priority=a^@b^$;kind=c^$;mark=m;", "kind;"},
      {"catdefdb2obj: empty objects and every menu", catdefdb2obj,
       "title^@priority^@kind^@status^$T^@b^@c^@^^^$",
       "title=Old;status=Open;priority=b^@a^@b^$;kind=c^$;mark=m;", "priority;kind;"},
      {"catdefdb2obj keeps a menu on an empty value", catdefdb2obj, "priority^$^^^$",
       "title=Old;status=Open;priority=a^@b^$;kind=;mark=m;", ""},
  };
  for (const Case& c : cases) {
    objlist l;
    fill(l, {{"title", "title", "Old"},
             {"status", "status", "Open"},
             {"priority", "priority", "a^@b^$", "MENU"},
             {"kind", "kind", nullptr, "MENU"},
             {"mark", nullptr, "m"}});
    EXPECT_EQ(c.reader(l, c.record), 0) << c.what;
    EXPECT_EQ(::dump(l), c.after) << c.what;
    EXPECT_EQ(marked(l), c.marked) << c.what;
  }
  EXPECT_EQ(page(), "");
}

// A record a request carried (the form's copy of a case, a row of a data
// file) sets the fields it names and passes over every column that names
// configuration: hooks, tables, paths, query macros holding SQL, the group
// object. The same record from the database sets them all.
TEST_F(ObjDb, ARequestsRecordSetsOnlyWhatARequestMay) {
  const char* record =
      "title^@db_table_name^@tk_pre_modify^@attachdir^@sqlquery1^@sqlquery2^@groups^@fresh^$"
      "T^@other_table^@/bin/evil^@/tmp^@x=delete from cases^@query_counts^@admin^@f^$";
  using Reader = int (*)(objlist&, std::string_view, const RecordSource&);
  for (Reader reader : {Reader{db2obj}, Reader{readdb2obj}, Reader{defaultdb2obj}, Reader{catdb2obj}}) {
    objlist l;
    fill(l, {{"title", "title"},
             {"db_table_name", nullptr, "cases"},
             {"tk_pre_modify", nullptr, "OFF"},
             {"attachdir", nullptr, "/srv/attach"},
             {"groups"}});
    clear_output();
    EXPECT_EQ(reader(l, record, request_record("groups")), 0);
    EXPECT_EQ(::dump(l), "title=T;db_table_name=cases;tk_pre_modify=OFF;attachdir=/srv/attach;groups=;"
                         "sqlquery2=query_counts;fresh=f;");
    EXPECT_EQ(page(), "");
  }
  objlist l;
  fill(l, {{"db_table_name", nullptr, "cases"}});
  EXPECT_EQ(readdb2obj(l, "db_table_name^$other^$"), 0);
  EXPECT_EQ(::dump(l), "db_table_name=other;");
}

// A record's values reach the page escaped wherever a marker shows them,
// MB included; a column named like the list's head is not read.
TEST_F(ObjDb, RecordValuesAreEscapedOnPages) {
  form({{"subject", "subject", "<i>configured</i>"}});
  kivtest::TempDir dir;
  const std::string page_path = dir.write("page.html", "MB{subject.VALUE}ME|MB{XXXheadlistXXXX.VALUE}ME");
  ASSERT_EQ(printhtml(&list_, page_path), 0);
  EXPECT_EQ(page(), "<i>configured</i>|");
  EXPECT_EQ(db2obj(list_, "subject^@XXXheadlistXXXX^$<script>alert(1)</script>^@x^$"), 0);
  clear_output();
  ASSERT_EQ(printhtml(&list_, page_path), 0);
  EXPECT_EQ(page(), "&#60;script&#62;alert(1)&#60;/script&#62;|");
  EXPECT_EQ(list_.size(), 2u);
}

TEST_F(ObjDb, CatDefFillsEmptyMenuWithItsValue) {
  form({{"kind", "kind", nullptr, "MENU"}, {"pick", "pick", nullptr, "MENU"}});
  EXPECT_EQ(catdefdb2obj(list_, "kind^@pick^$c^@^^^$"), 0);
  EXPECT_EQ(dump(), "kind=c^$;pick=^$;");
}

TEST_F(ObjDb, BadRecordsChangeNothing) {
  form({{"title", "title", "Old"}});
  struct Case {
    int (*reader)(objlist&, std::string_view);
    const char* record;
    int result;
    const char* message;
  } cases[] = {
      {db2obj, "a^$b^$c^$", 1, "<PRE>\ndb2obj: Bad record format rowcount=3\n</PRE>\n"},
      {db2obj, "title^$", 1, "<PRE>\ndb2obj: Bad record format rowcount=1\n</PRE>\n"},
      {vdb2obj, "", 1, "<PRE>\ndb2obj: Bad record format \n</PRE>\n"},
      {catdefdb2obj, "a^$b^$c^$", 1, "<PRE>\ndb2obj: Bad record format \n</PRE>\n"},
      {db2obj, "title^@a^@b^$1^@2^@3^@4^$", -1,
       "<PRE>\nError: Mismatch count  between data and \tkeys\n</PRE>\n"},
      {readdb2obj, "title^@a^$x^$", -1, "<PRE>\nError: Mismatch count  between data and \tkeys\n</PRE>\n"},
  };
  for (const auto& c : cases) {
    clear_output();
    EXPECT_EQ(c.reader(list_, c.record), c.result) << c.record;
    EXPECT_EQ(page(), c.message) << c.record;
    EXPECT_EQ(dump(), "title=Old;") << c.record;
  }
}

TEST_F(ObjDb, BlankPage) {
  form({{"title", "title", "Old"},
        {"priority", "priority", "b^@a^@b^$", "MENU"},
        {"kind", "kind", nullptr, "MENU"},
        {"mark", nullptr, "m"}});
  EXPECT_EQ(writeblankpage(list_), 0);
  EXPECT_EQ(dump(), "title=;priority=^@b^@a^@b^$;kind=^$;mark=m;");
  EXPECT_EQ(marked(list_), "");  // the menus' items alone are not the record's
  EXPECT_EQ(page(), "");

  objlist none;
  fill(none, {{"x", nullptr, "kept"}});
  EXPECT_EQ(writeblankpage(none), 0);  // no field: nothing to clear, no message
  EXPECT_EQ(::dump(none), "x=kept;");
  EXPECT_EQ(page(), "");
}

TEST_F(ObjDb, ModPacket) {
  packet p{"1^@a^@^^^$2^@b^@x^$", "id_num^@status^@note^$"};
  EXPECT_EQ(modpacket(&p, "status", "Closed"), 0);
  EXPECT_EQ(p.data, "1^@Closed^@^^^$2^@Closed^@x^$");
  EXPECT_EQ(p.keys, "id_num^@status^@note^$");
  EXPECT_EQ(modpacket(&p, "note", "a^@b"), 0);  // a value never adds a column
  EXPECT_EQ(p.data, "1^@Closed^@a@b^$2^@Closed^@a@b^$");

  packet before = p;
  EXPECT_EQ(modpacket(&p, "missing", "v"), 1);
  EXPECT_EQ(modpacket(&p, "stat", "v"), 1);  // whole names only
  EXPECT_EQ(page(), "");
  EXPECT_EQ(modpacket(&p, "status", ""), 0);
  EXPECT_EQ(page(), "<PRE>\nBad newvalue to modify for key=<status>\n</PRE>\n");
  EXPECT_EQ(p.data, before.data);
  EXPECT_EQ(p.keys, before.keys);
  clear_output();
  EXPECT_EQ(modpacket(nullptr, "status", "v"), 0);
  EXPECT_EQ(page(), "<PRE>\nBad Packet to modify\n</PRE>\n");
}

TEST_F(ObjDb, IdToCaseByName) {
  struct Case {
    const char* keys;
    const char* data;
    const char* after;
  } cases[] = {
      {"id_num^@case_num^@title^$", "5^@old^@t^$6^@^^^@^^^$", "5^@5^@t^$6^@6^@^^^$"},
      {"case_num^@title^@id_num^$", "old^@t^@5^$^^^@u^@6^$", "5^@t^@5^$6^@u^@6^$"},  // case_num first
      {"case_num^@id_num^$", "old^@^^^$", "^^^@^^^$"},  // an empty id gives an empty case number
      {"case_num^@title^$", "old^@t^$", "old^@t^$"},    // no id column: case_num kept
      {"title^@id_num^$", "t^@5^$", "t^@5^$"},
  };
  for (const Case& c : cases) {
    packet p{c.data, c.keys};
    EXPECT_EQ(mod_id2case(&p), 0) << c.keys;
    EXPECT_EQ(p.data, c.after) << c.keys;
    EXPECT_EQ(p.keys, c.keys);
  }
  EXPECT_EQ(page(), "");
}

TEST_F(ObjDb, IdToCaseRefusals) {
  struct Case {
    const char* data;
    const char* keys;
    int result;
    const char* message;
  } cases[] = {
      {"", "id_num^$", 1, "<PRE>\nid2case: No data \n</PRE>\n"},
      {"5^$", "", 1, "<PRE>\nid2case: No keys\n</PRE>\n"},
      {"", "", 1, "<PRE>\nid2case: No data \n</PRE>\n"},
  };
  for (const Case& c : cases) {
    clear_output();
    packet p{c.data, c.keys};
    EXPECT_EQ(mod_id2case(&p), c.result);
    EXPECT_EQ(page(), c.message);
    EXPECT_EQ(p.data, c.data);
    EXPECT_EQ(p.keys, c.keys);
  }
  clear_output();
  EXPECT_EQ(mod_id2case(nullptr), 0);
  EXPECT_EQ(page(), "<PRE>\nBad Packet to modify\n</PRE>\n");
}

TEST_F(ObjDb, SortKeys) {
  form({{"title", "title", nullptr, nullptr, "Title"},
        {"status", "status"},  // no TITLE: not offered
        {"label", nullptr, nullptr, nullptr, "Label"},  // no DBKEY: not offered
        {"owner", "assigned_to", nullptr, nullptr, "Owner"},
        {"owner2", "submitted_by", nullptr, nullptr, "Owner"}});
  EXPECT_EQ(buildsortkey(list_), 0);
  EXPECT_EQ(value("sort_titles1_menu"), "Title^@Owner^@Owner^$");
  EXPECT_EQ(&list_[list_.size() - 1], list_.find("sort_titles1_menu"));  // created at the tail
  EXPECT_EQ(getsortkey(list_, "Owner"), "assigned_to");
  EXPECT_EQ(getsortkey(list_, "Title"), "title");
  EXPECT_EQ(getsortkey(list_, "title"), std::nullopt);  // case counts
  EXPECT_EQ(getsortkey(list_, "Label"), std::nullopt);
  EXPECT_EQ(getsortkey(list_, ""), std::nullopt);
}
