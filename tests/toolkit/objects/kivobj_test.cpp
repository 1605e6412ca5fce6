// The object store: keys, lookups along a list, setting and casting, the
// name index under appends, renames and removals, and the readers that
// fold an absent value to an empty text.
#include <gtest/gtest.h>

#include "support/testsupport.h"
#include "toolkit/objects/objprotect.h"
#include "toolkit/request/kivexfile.h"
#include "toolkit/objects/kivobj.h"

using namespace kiv;

namespace {

class ObjStore : public kivtest::KivTest {
 protected:
  // Appends an object of the given attributes ({number, text} pairs).
  kivobj* add(std::initializer_list<std::pair<int, const char*>> attrs) {
    auto o = getnewobj();
    for (auto [n, t] : attrs) modattrib(*o, n, t);
    return addobj(list_, std::move(o));
  }
  std::optional<std::string> get(std::string_view key) { return getvalfromlist(list_, key); }
  objlist list_;
};

std::vector<std::string> names(const objlist& l) {
  std::vector<std::string> r;
  for (const kivobj& o : l) r.push_back(o.name());
  return r;
}

}  // namespace

TEST_F(ObjStore, NewListHoldsOnlyItsHead) {
  ASSERT_EQ(list_.size(), 1u);
  EXPECT_EQ(list_[0].name(), "XXXheadlistXXXX");
  for (int n = 2; n <= kAttrCount; ++n) EXPECT_FALSE(list_[0].has(n));
  EXPECT_EQ(get("XXXheadlistXXXX.NAME"), "XXXheadlistXXXX");  // the head is looked up like any object
}

TEST_F(ObjStore, AttributeWordsAndNumbers) {
  const char* words[] = {"NAME", "VALUE", "DBKEY", "CONTROL", "TYPE", "VTYPE", "ENFORCE", "TITLE", "LEN", "HELP"};
  for (int n = 1; n <= 10; ++n) {
    EXPECT_EQ(attrword(n), words[n - 1]);
    EXPECT_EQ(attrnumber(words[n - 1]), n);
  }
  EXPECT_EQ(attrword(0), "");
  EXPECT_EQ(attrword(11), "");
  EXPECT_EQ(attrnumber("value"), 0);
  EXPECT_EQ(attrnumber("COLOUR"), 0);
}

TEST_F(ObjStore, ModattribStoresCopiesAndEmptyMeansAbsent) {
  auto o = getnewobj();
  std::string text = "x";
  EXPECT_EQ(modattrib(*o, attr::TITLE, text), 0);
  text = "changed";
  EXPECT_EQ(o->attr(attr::TITLE), "x");
  EXPECT_EQ(modattrib(*o, attr::TITLE, ""), 0);
  EXPECT_FALSE(o->has(attr::TITLE));
  EXPECT_EQ(modattrib(*o, 0, "x"), -1);
  EXPECT_EQ(modattrib(*o, 11, "x"), -1);
  EXPECT_EQ(modattribbyname(*o, "HELP", "h"), 0);
  EXPECT_EQ(o->attr(attr::HELP), "h");
  EXPECT_NE(modattribbyname(*o, "help", "h"), 0);
}

TEST_F(ObjStore, LaterNamesakeWithTheAttributeWins) {
  add({{attr::NAME, "a"}, {attr::TITLE, "first"}});
  add({{attr::NAME, "b"}, {attr::VALUE, "bee"}});
  add({{attr::NAME, "a"}, {attr::VALUE, "x"}, {attr::TITLE, "second"}});
  EXPECT_EQ(get("a.VALUE"), "x");
  EXPECT_EQ(get("a.TITLE"), "first");
  EXPECT_EQ(get("a.NAME"), "a");
  EXPECT_EQ(get("a.DBKEY"), std::nullopt);
  EXPECT_EQ(get("a"), std::nullopt);        // a key without a point finds nothing
  EXPECT_EQ(get("a.value"), std::nullopt);  // words compare with case
  EXPECT_EQ(get("A.VALUE"), std::nullopt);
  EXPECT_EQ(get("a.COLOUR"), std::nullopt);
  EXPECT_EQ(get(".VALUE"), std::nullopt);
}

TEST_F(ObjStore, NamesHoldingPointsAreFoundByTheWholeKey) {
  add({{attr::NAME, "x.y"}, {attr::VALUE, "dotted"}});
  add({{attr::NAME, "x"}, {attr::VALUE, "plain"}});
  EXPECT_EQ(get("x.y.VALUE"), "dotted");
  EXPECT_EQ(get("x.VALUE"), "plain");
  EXPECT_EQ(get("x.y"), std::nullopt);
}

TEST_F(ObjStore, GetobjvalOnOneNode) {
  kivobj* a = add({{attr::NAME, "a"}, {attr::VALUE, "v"}, {attr::LEN, "20"}});
  EXPECT_EQ(getobjval(*a, "a.VALUE"), "v");
  EXPECT_EQ(getobjval(*a, "a.LEN"), "20");
  EXPECT_EQ(getobjval(*a, "a.NAME"), "a");
  EXPECT_EQ(getobjval(*a, "a.HELP"), std::nullopt);
  EXPECT_EQ(getobjval(*a, "ab.VALUE"), std::nullopt);
  EXPECT_EQ(getobjval(*a, "a"), std::nullopt);
  kivobj* nameless = add({{attr::VALUE, "v"}, {attr::TITLE, "t"}});
  for (const char* key : {"a.VALUE", ".VALUE", ".NAME", "VALUE", ".TITLE"})
    EXPECT_EQ(getobjval(*nameless, key), std::nullopt) << key;
  EXPECT_EQ(page(), "");
}

// The folding readers give exactly what the optional lookups find, and an
// empty text wherever they find nothing, without printing anything.
TEST_F(ObjStore, FoldingReadersAgreeWithTheLookups) {
  kivobj* a = add({{attr::NAME, "a"}, {attr::TITLE, "first"}});
  add({{attr::NAME, "a"}, {attr::VALUE, "x"}, {attr::TITLE, "second"}});
  add({{attr::NAME, "x.y"}, {attr::VALUE, "dotted"}});
  const struct {
    const char* key;
    const char* text;  // what objtext gives
  } cases[] = {
      {"a.VALUE", "x"},          // from the later namesake
      {"a.TITLE", "first"},      // the first that has it
      {"a.HELP", ""},            // no object has the attribute
      {"b.VALUE", ""},           // no such object
      {"a", ""},                 // no attribute word
      {"a.value", ""},           // words compare with case
      {"x.y.VALUE", "dotted"},   // a name holding a point
  };
  for (const auto& c : cases) {
    EXPECT_EQ(objtext(list_, c.key), c.text) << c.key;
    EXPECT_EQ(objtext(list_, c.key), getvalfromlist(list_, c.key).value_or("")) << c.key;
    EXPECT_EQ(getobjval_or_empty(*a, c.key), getobjval(*a, c.key).value_or("")) << c.key;
  }
  EXPECT_EQ(objtext(list_, "a", "TITLE"), "first");
  EXPECT_EQ(objtext(list_, "x.y", "VALUE"), "dotted");
  EXPECT_EQ(getobjval_or_empty(*a, "a.TITLE"), "first");
  EXPECT_EQ(page(), "");
}

// objattr carries the origin of the text it finds; setobjvalue marks what it
// sets, creating the object when there is none.
TEST_F(ObjStore, ObjattrAndSetobjvalueKeepOrigins) {
  EXPECT_EQ(setobjvalue(list_, "f", "typed", Origin::request), 0);
  objattr_text got = objattr(list_, "f", "VALUE");
  EXPECT_EQ(got.text, "typed");
  EXPECT_EQ(got.origin, Origin::request);
  EXPECT_EQ(setobjvalue(list_, "f", "stored", Origin::record), 0);
  EXPECT_EQ(list_.size(), 2u);
  EXPECT_EQ(objattr(list_, "f", "VALUE").origin, Origin::record);
  got = objattr(list_, "f", "TITLE");
  EXPECT_EQ(got.text, "");
  EXPECT_EQ(got.origin, Origin::config);
  EXPECT_EQ(setobjvalue(list_, "XXXheadlistXXXX", "v", Origin::config), -1);
}

TEST_F(ObjStore, AdduniqobjKeys) {
  add({{attr::NAME, "a"}, {attr::VALUE, "old"}});
  EXPECT_EQ(adduniqobj(list_, "a", "1"), 0);
  EXPECT_EQ(get("a.VALUE"), "1");
  EXPECT_EQ(adduniqobj(list_, "a.", "2"), -1);
  EXPECT_EQ(get("a.VALUE"), "1");
  EXPECT_EQ(adduniqobj(list_, "", "3"), -1);
  EXPECT_EQ(page(), "Illegal head NULL \n");
  EXPECT_EQ(list_.size(), 2u);
}

TEST_F(ObjStore, AdduniqobjCreatesAtTheTail) {
  add({{attr::NAME, "a"}});
  EXPECT_EQ(adduniqobj(list_, "new.TITLE", "t"), 0);
  ASSERT_EQ(list_.size(), 3u);
  EXPECT_EQ(list_[2].name(), "new");
  EXPECT_EQ(list_[2].attr(attr::TITLE), "t");
  EXPECT_FALSE(list_[2].has(attr::VALUE));
  // An unknown word still creates an object that has only its name; on an
  // existing object it changes nothing.
  EXPECT_EQ(adduniqobj(list_, "c.COLOUR", "red"), 0);
  ASSERT_EQ(list_.size(), 4u);
  EXPECT_EQ(list_[3].name(), "c");
  for (int n = 2; n <= kAttrCount; ++n) EXPECT_FALSE(list_[3].has(n));
  EXPECT_EQ(adduniqobj(list_, "a.COLOUR", "red"), 0);
  EXPECT_EQ(list_.size(), 4u);
}

TEST_F(ObjStore, AdduniqobjRenames) {
  add({{attr::NAME, "a"}, {attr::VALUE, "v"}});
  EXPECT_EQ(adduniqobj(list_, "a.NAME", "b"), 0);
  EXPECT_EQ(get("b.VALUE"), "v");
  EXPECT_EQ(get("a.VALUE"), std::nullopt);
  // Without an object of that name, the key's name is used, not the text.
  EXPECT_EQ(adduniqobj(list_, "z.NAME", "y"), 0);
  EXPECT_EQ(list_[2].name(), "z");
  EXPECT_EQ(get("y.NAME"), std::nullopt);
  // An empty NAME leaves the object nameless and unreachable.
  EXPECT_EQ(adduniqobj(list_, "b.NAME", ""), 0);
  EXPECT_EQ(get("b.VALUE"), std::nullopt);
  EXPECT_FALSE(list_[1].has(attr::NAME));
  EXPECT_EQ(list_[1].value(), "v");
}

TEST_F(ObjStore, RenamesKeepNamesakesInListOrder) {
  add({{attr::NAME, "a"}});
  kivobj* b = add({{attr::NAME, "b"}, {attr::VALUE, "from b"}});
  add({{attr::NAME, "a"}, {attr::VALUE, "from last a"}});
  EXPECT_EQ(get("a.VALUE"), "from last a");
  modattrib(*b, attr::NAME, "a");  // now the second of three namesakes
  EXPECT_EQ(get("a.VALUE"), "from b");
  modattrib(*b, attr::NAME, "c");
  EXPECT_EQ(get("a.VALUE"), "from last a");
  EXPECT_EQ(get("c.VALUE"), "from b");
  // adduniqobj sets the first namesake.
  EXPECT_EQ(adduniqobj(list_, "a.VALUE", "set"), 0);
  EXPECT_EQ(list_[1].value(), "set");
  EXPECT_EQ(list_[3].value(), "from last a");
}

// The lookup walks the whole list, as the store's contract describes it;
// the name index must always give the same answers.
std::optional<std::string> walk(const objlist& l, const std::string& key) {
  for (const kivobj& o : l)
    for (int n = 1; n <= kAttrCount; ++n)
      if (!o.name().empty() && o.name() + "." + std::string(attrword(n)) == key && o.has(n)) return o.attr(n);
  return std::nullopt;
}

TEST_F(ObjStore, IndexAgreesWithAWalkUnderAppendsRenamesAndRemovals) {
  const char* names[] = {"a", "b", "c", ""};
  const char* words[] = {"NAME", "VALUE", "TITLE"};
  unsigned seed = 12345;
  auto pick = [&](unsigned n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  for (int round = 0; round < 100; ++round) {
    objlist l;
    for (int step = 0; step < 30; ++step) {
      std::string name = names[pick(4)], word = words[pick(3)];
      std::string text = pick(4) ? std::string(names[pick(3)]) : std::string();
      if (word != "NAME" && !text.empty()) text += std::to_string(step);
      switch (pick(5)) {
        case 0: adduniqobj(l, name + "." + word, text); break;
        case 3: if (l.size() > 1) removeobj(l, l[1 + pick(static_cast<unsigned>(l.size() - 1))]); break;
        case 1: {
          auto o = getnewobj();
          modattrib(*o, attr::NAME, name);
          modattrib(*o, attr::VALUE, "v" + std::to_string(step));
          addobj(l, std::move(o));
          break;
        }
        case 2: if (l.size() > 1) modattrib(l[1 + pick(static_cast<unsigned>(l.size() - 1))], attr::NAME, name); break;
        default: if (l.size() > 1) castattrib(l[1 + pick(static_cast<unsigned>(l.size() - 1))], attr::NAME, name);
      }
      for (const char* n : names)
        for (const char* w : words) {
          std::string key = std::string(n) + "." + w;
          ASSERT_EQ(getvalfromlist(l, key), walk(l, key)) << key << " round " << round << " step " << step;
        }
    }
  }
}

// A removed object leaves the list and its index; the objects behind it
// move up; the caller keeps it and may add it again. The head, objects of
// another list and absent ones are not removed.
TEST_F(ObjStore, RemovalTakesTheObjectOutOfListAndIndex) {
  kivobj* a1 = add({{attr::NAME, "a"}, {attr::VALUE, "first"}});
  add({{attr::NAME, "b"}, {attr::VALUE, "b"}});
  add({{attr::NAME, "a"}, {attr::VALUE, "second"}});
  std::unique_ptr<kivobj> taken = removeobj(list_, *a1);
  ASSERT_EQ(taken.get(), a1);
  EXPECT_EQ(taken->value(), "first");
  EXPECT_EQ(names(list_), (std::vector<std::string>{std::string(kHeadName), "b", "a"}));
  EXPECT_EQ(get("a.VALUE"), "second");
  EXPECT_EQ(list_.find("a"), &list_[2]);
  // Renames and appends after a removal keep the index right.
  modattrib(list_[1], attr::NAME, "a");
  EXPECT_EQ(get("a.VALUE"), "b");
  kivobj* back = addobj(list_, std::move(taken));
  EXPECT_EQ(back, a1);
  EXPECT_EQ(names(list_), (std::vector<std::string>{std::string(kHeadName), "a", "a", "a"}));
  EXPECT_EQ(removeobj(list_, *list_.find("a"))->value(), "b");
  EXPECT_EQ(get("a.VALUE"), "second");

  objlist other;
  EXPECT_EQ(removeobj(other, *a1), nullptr);
  EXPECT_EQ(removeobj(list_, list_[0]), nullptr);
  EXPECT_EQ(list_.size(), 3u);
  EXPECT_EQ(list_[0].name(), kHeadName);
}

TEST_F(ObjStore, EmptyValueUncoversTheNextNamesake) {
  add({{attr::NAME, "a"}, {attr::VALUE, "1"}});
  add({{attr::NAME, "a"}, {attr::VALUE, "2"}});
  EXPECT_EQ(adduniqobj(list_, "a.VALUE", ""), 0);
  EXPECT_EQ(get("a.VALUE"), "2");
  EXPECT_EQ(adduniqobj(list_, "a.VALUE", ""), 0);  // the first namesake again
  EXPECT_EQ(get("a.VALUE"), "2");
}

TEST_F(ObjStore, CastingOntoMenus) {
  struct Case {
    const char* type;
    const char* old;
    const char* expect;
  } cases[] = {
      {"MENU", "Red^@Green^$", "Blue^@Red^@Green^$"},
      {"MENU", nullptr, "Blue^$"},
      {"TEXT", "Red^@Green^$", "Blue"},
      {"menu", "Red^$", "Blue"},
      {nullptr, "Red^$", "Blue"},
  };
  for (const Case& c : cases) {
    objlist l;
    auto o = getnewobj();
    modattrib(*o, attr::NAME, "m");
    if (c.type) modattrib(*o, attr::TYPE, c.type);
    if (c.old) modattrib(*o, attr::VALUE, c.old);
    addobj(l, std::move(o));
    EXPECT_EQ(castobj(l, "m.VALUE", "Blue"), 0);
    EXPECT_EQ(getvalfromlist(l, "m.VALUE"), c.expect) << (c.type ? c.type : "no type");
  }
}

TEST_F(ObjStore, CastOtherAttributesAndBadKeys) {
  add({{attr::NAME, "m"}, {attr::TYPE, "MENU"}, {attr::TITLE, "t^$"}});
  EXPECT_EQ(castobj(list_, "m.TITLE", "u"), 0);
  EXPECT_EQ(get("m.TITLE"), "u");  // only VALUE follows the menu rule
  EXPECT_EQ(castobj(list_, "m.VALUE", ""), 0);
  EXPECT_EQ(get("m.VALUE"), std::nullopt);
  EXPECT_EQ(castobj(list_, "m", "x"), -1);
  EXPECT_EQ(castobj(list_, "m.", "x"), -1);
  EXPECT_EQ(castobj(list_, "nobody.VALUE", "x"), 0);
  EXPECT_EQ(list_.size(), 2u);
  EXPECT_EQ(castobj(list_, "", "x"), -1);
  EXPECT_EQ(page(), "Illegal head NULL \n");
  EXPECT_EQ(castattribbyname(list_[1], "COLOUR", "x"), -1);
}

TEST_F(ObjStore, IterationVisitsObjectsAppendedMeanwhile) {
  add({{attr::NAME, "a"}});
  int seen = 0;
  for (kivobj& o : list_) {
    ++seen;
    if (o.name() == "a") adduniqobj(list_, "b.VALUE", "1");
  }
  EXPECT_EQ(seen, 3);
  EXPECT_EQ(names(list_), (std::vector<std::string>{"XXXheadlistXXXX", "a", "b"}));
}

TEST_F(ObjStore, RequestVariablesCopiedInFull) {
  exlist req;
  addexdatanode(&req, formexdatanode("x.VALUE", "1"));
  addexdatanode(&req, formexdatanode("x.TITLE", "t"));
  addexdatanode(&req, formexdatanode("y", "2"));
  addexdatanode(&req, formexdatanode("", "nameless"));
  EXPECT_EQ(ex2obj(req, list_, ExCopy::full), 0);
  EXPECT_EQ(get("x.VALUE"), "1");
  EXPECT_EQ(get("x.TITLE"), "t");
  EXPECT_EQ(get("y.VALUE"), "2");
  EXPECT_EQ(list_.size(), 3u);
}

TEST_F(ObjStore, CastRequestVariablesOntoExistingObjectsOnly) {
  add({{attr::NAME, "prio"}, {attr::TYPE, "MENU"}, {attr::VALUE, "Low^@High^$"}});
  add({{attr::NAME, "title"}, {attr::VALUE, "old"}});
  exlist req;
  addexdatanode(&req, formexdatanode("prio.VALUE", "High"));
  addexdatanode(&req, formexdatanode("title.VALUE", ""));  // no value: left alone
  addexdatanode(&req, formexdatanode("other.VALUE", "x"));
  addexdatanode(&req, formexdatanode("plain", "x"));       // no point: refused by castobj
  EXPECT_EQ(castex2obj(req, list_), 0);
  EXPECT_EQ(get("prio.VALUE"), "High^@Low^@High^$");
  EXPECT_EQ(get("title.VALUE"), "old");
  EXPECT_EQ(list_.size(), 3u);
}

TEST_F(ObjStore, CopiesBelongToNoList) {
  add({{attr::NAME, "a"}, {attr::VALUE, "1"}});
  kivobj copy = list_[1];
  modattrib(copy, attr::NAME, "b");
  modattrib(copy, attr::VALUE, "2");
  EXPECT_EQ(get("a.VALUE"), "1");
  EXPECT_EQ(get("b.VALUE"), std::nullopt);
  objlist other;
  addobj(other, std::make_unique<kivobj>(copy));
  EXPECT_EQ(getvalfromlist(other, "b.VALUE"), "2");
  EXPECT_EQ(list_.size(), 2u);
}

// Each attribute remembers where its text came from: marked when a request
// or a record supplied it, cleared when configuration or the program sets it
// again; a menu that a cast puts a choice in front of is marked when the
// choice or the old value was.
TEST_F(ObjStore, OriginsOfAttributes) {
  kivobj* m = add({{attr::NAME, "m"}, {attr::TYPE, "MENU"}, {attr::VALUE, "Red^@Green^$"}});
  EXPECT_EQ(m->origin(attr::VALUE), Origin::config);
  EXPECT_FALSE(m->marked(attr::TITLE));  // absent
  EXPECT_EQ(castobj(list_, "m.VALUE", "<b>", Origin::request), 0);
  EXPECT_EQ(m->origin(attr::VALUE), Origin::request);
  EXPECT_EQ(castobj(list_, "m.VALUE", "Blue"), 0);  // the program's choice before a request's
  EXPECT_EQ(m->value(), "Blue^@<b>^@Red^@Green^$");
  EXPECT_EQ(m->origin(attr::VALUE), Origin::request);
  EXPECT_EQ(adduniqobj(list_, "m.VALUE", "Red^@Green^$"), 0);
  EXPECT_FALSE(m->marked(attr::VALUE));

  EXPECT_EQ(adduniqobj(list_, "r.VALUE", "from a row", Origin::record), 0);
  EXPECT_EQ(adduniqobj(list_, "r.TITLE", "Title"), 0);
  std::optional<attrview> v = getattrfromlist(list_, "r.VALUE");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->text, "from a row");
  EXPECT_EQ(v->origin, Origin::record);
  EXPECT_FALSE(getattrfromlist(list_, "r.TITLE")->marked());
  EXPECT_EQ(getattrfromlist(list_, "r.HELP"), std::nullopt);
  EXPECT_EQ(adduniqobj(list_, "r.VALUE", ""), 0);
  EXPECT_EQ(list_[2].origin(attr::VALUE), Origin::config);  // an absent attribute is no one's
}
