// The object store: every screen, field, setting and rule is an object, a
// named record of ten optional text attributes, kept in object lists (one per
// object file). Values are addressed by keys "<object name>.<ATTRIBUTE>";
// getvalfromlist is the lookup of the whole system (objtext when an absent
// value reads as empty), adduniqobj the way values are set. The functions take
// the list or the object by reference.
#pragma once

#include <array>
#include <cassert>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kiv {

// Attribute numbers, as modattrib and castattrib take them.
namespace attr {
enum : int { NAME = 1, VALUE, DBKEY, CONTROL, TYPE, VTYPE, ENFORCE, TITLE, LEN, HELP };
}
inline constexpr int kAttrCount = 10;

// The word of attribute n ("NAME" .. "HELP"), or an empty text for another n.
std::string_view attrword(int n);
// The number of an attribute word (exact, upper case), or 0 for any other word.
int attrnumber(std::string_view word);

// NAME of the head object that begins every list.
inline constexpr std::string_view kHeadName = "XXXheadlistXXXX";

class objlist;

// Where an attribute's text came from. Page markers print configuration and
// the program's own texts as they are (configuration may hold markup), and
// HTML-escape texts that a request or a database record supplied. The mark
// lives in memory only: object files never carry it.
enum class Origin : unsigned char {
  config,   // an object file, the state file, or the program itself
  request,  // a request variable copied onto the object
  record,   // a database record, or text derived from one
};

// The origin of a text made from two others (a menu's new choice in front of
// its items): marked when either part is, so that nothing a request or a
// record supplied is printed raw because configuration text stands beside it.
constexpr Origin origin_of_both(Origin newer, Origin older) {
  return newer != Origin::config ? newer : older;
}

// An attribute as a lookup finds it: its text, owned by the object (valid
// while the object's attribute is not changed), and where it came from.
struct attrview {
  std::string_view text;
  Origin origin = Origin::config;
  bool marked() const { return origin != Origin::config; }
};

class kivobj;

// Sets attribute n (1..10) to a copy of the text; an empty text leaves it
// absent. The text is marked with `origin` (configuration unless told).
// 0, or -1 for another number (nothing changed). The head object's name
// belongs to the head alone: a NAME of "XXXheadlistXXXX", and a new NAME for
// the head of a list, are refused (traced, -1, nothing changed), since an
// object file keeps no other object of that name.
int modattrib(kivobj& node, int n, std::string_view text, Origin origin = Origin::config);

// As modattrib, but a VALUE cast onto an object whose TYPE is exactly "MENU"
// puts the text in front of the menu: text "^@" old value, or text "^$" when
// there was none. The menu's value is then marked when the text or the old
// value was (origin_of_both).
int castattrib(kivobj& node, int n, std::string_view text, Origin origin = Origin::config);

// One object. An attribute is a non-empty text or absent (held as an empty
// text); all changes go through modattrib and castattrib, so that the list
// the object belongs to keeps its name index right.
class kivobj {
 public:
  kivobj() = default;
  // A copy has the same attributes and belongs to no list (it may be added
  // to one); assigning over an object would bypass its list's index.
  kivobj(const kivobj& other) : attrs_(other.attrs_), origins_(other.origins_) {}
  kivobj& operator=(const kivobj&) = delete;

  // The text of attribute n; empty when absent or n is not 1..10.
  const std::string& attr(int n) const;
  bool has(int n) const { return !attr(n).empty(); }
  const std::string& name() const { return attrs_[0]; }
  const std::string& value() const { return attrs_[attr::VALUE - 1]; }
  // Where attribute n came from; config for an absent one or another n.
  Origin origin(int n) const;
  // True when attribute n came from a request or a record.
  bool marked(int n) const { return origin(n) != Origin::config; }

 private:
  friend class objlist;
  friend int modattrib(kivobj& node, int n, std::string_view text, Origin origin);
  friend int castattrib(kivobj& node, int n, std::string_view text, Origin origin);
  void set(int n, std::string text, Origin origin = Origin::config);
  bool is_head() const { return owner_ && seq_ == 0; }

  std::array<std::string, kAttrCount> attrs_;
  std::array<Origin, kAttrCount> origins_{};
  objlist* owner_ = nullptr;       // the list the object was added to
  kivobj* next_same_ = nullptr;    // the next object of the same name, in list order
  size_t seq_ = 0;                 // position of the object in its list
};

// An object list: the head object, then the objects in the order they were
// read or added. Objects keep their address for the life of the list, or
// until removeobj takes them out. Lookups by name go through an index that
// follows every append, rename and removal.
class objlist {
 public:
  objlist();  // a list holding its head object
  objlist(const objlist&) = delete;
  objlist& operator=(const objlist&) = delete;

  size_t size() const { return nodes_.size(); }
  kivobj& operator[](size_t i) const {
    assert(i < nodes_.size());
    return *nodes_[i];
  }
  // Makes room for about `objects` objects at once (the list and its name
  // index), so that a reader that knows the count grows them only once.
  void reserve(size_t objects);
  // The first object of that name in list order, or nullptr; nameless
  // objects are never found.
  kivobj* find(std::string_view name) const;
  // The next object of the same name after `node`, or nullptr.
  static kivobj* next_named(const kivobj& node) { return node.next_same_; }

  // Iteration in list order from the head; objects appended while iterating
  // are visited too.
  struct sentinel {};
  class iterator {
   public:
    iterator(const objlist* l, size_t i) : l_(l), i_(i) {}
    kivobj& operator*() const { return (*l_)[i_]; }
    kivobj* operator->() const { return &(*l_)[i_]; }
    iterator& operator++() {
      ++i_;
      return *this;
    }
    bool operator!=(sentinel) const { return i_ < l_->size(); }
    bool operator==(sentinel s) const { return !(*this != s); }

   private:
    const objlist* l_;
    size_t i_;
  };
  iterator begin() const { return iterator(this, 0); }
  sentinel end() const { return {}; }

 private:
  friend kivobj* addobj(objlist& list, std::unique_ptr<kivobj> node);
  friend std::unique_ptr<kivobj> removeobj(objlist& list, const kivobj& node);
  friend class kivobj;
  kivobj* append(std::unique_ptr<kivobj> node);
  std::unique_ptr<kivobj> take(const kivobj* node);
  void link_name(kivobj* node);
  void unlink_name(kivobj* node);

  struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  std::vector<std::unique_ptr<kivobj>> nodes_;
  std::unordered_map<std::string, kivobj*, NameHash, std::equal_to<>> index_;
};

// A new object with every attribute absent.
std::unique_ptr<kivobj> getnewobj();

// Appends the object at the tail of the list and gives its address there; an
// absent object does nothing and gives nullptr. An object named like the
// list's head is refused (traced, nullptr): the head's name belongs to the
// head alone.
kivobj* addobj(objlist& list, std::unique_ptr<kivobj> node);

// Takes the object out of the list and gives it to the caller, who may keep
// it (its address stays valid) or add it to a list again; the objects behind
// it move up one place and the name index forgets it, so that a lookup of its
// name finds its next namesake. nullptr, nothing changed, for an object of
// another list and the list's head. A loop over the list that removes the
// object it stands on must not step past the next one.
std::unique_ptr<kivobj> removeobj(objlist& list, const kivobj& node);

// modattrib/castattrib by attribute word; 0, or -1 for a word other than
// NAME .. HELP (nothing changed).
int modattribbyname(kivobj& node, std::string_view word, std::string_view text,
                    Origin origin = Origin::config);
int castattribbyname(kivobj& node, std::string_view word, std::string_view text,
                     Origin origin = Origin::config);

// A copy of the attribute the key names on this object ("<NAME>.<ATTRIBUTE>",
// compared whole and with case), or none.
std::optional<std::string> getobjval(const kivobj& node, std::string_view key);
// getobjval, an absent attribute read as an empty text.
std::string getobjval_or_empty(const kivobj& node, std::string_view key);

// The first non-empty attribute for the key along the list, or none: an
// object that lacks the attribute does not hide a later namesake that has it.
// objtext is this lookup with an absent value read as an empty text.
std::optional<std::string> getvalfromlist(const objlist& list, std::string_view key);

// The same lookup without a copy: the attribute's text in its object, and
// its origin, for printers that escape what a request or a record supplied.
std::optional<attrview> getattrfromlist(const objlist& list, std::string_view key);

// Sets the attribute of the key (the object name before the first point, the
// attribute word after it; no point: VALUE) on the first object of that name,
// creating and appending the object when there is none; the text is marked
// with `origin`. 0; -1 for an empty key ("Illegal head NULL \n") or a point
// with nothing behind it, and -1 (traced, nothing changed) for a key of the
// head object or a NAME of "XXXheadlistXXXX": a save writes no object of the
// head's name, so such a change would be lost without a word.
int adduniqobj(objlist& list, std::string_view key, std::string_view text,
               Origin origin = Origin::config);

// Casts the attribute of the key on an existing object only; a key needs its
// point. 0; -1 for a bad key, and for the head's key or name as adduniqobj.
int castobj(objlist& list, std::string_view key, std::string_view text, Origin origin = Origin::config);

// ---- the readers and the setter of object values ----------------------------
// The text of an attribute key ("<object>.<ATTRIBUTE>") or of an object's
// attribute along an object list, empty when no object of that name has the
// attribute (an absent object and an empty value are the same), that text
// with its origin, and the VALUE of an object set with the origin of its text.

// getvalfromlist, an absent value read as an empty text.
std::string objtext(const objlist& list, std::string_view key);

// objtext of "<name>.<attribute>".
std::string objtext(const objlist& list, std::string_view name, std::string_view attribute);

// An attribute's text, copied, and where it came from.
struct objattr_text {
  std::string text;
  Origin origin = Origin::config;
};

// The attribute of "<name>.<attribute>" as objtext finds it, with its
// origin; an empty configuration text when no object of that name has it.
objattr_text objattr(const objlist& list, std::string_view name, std::string_view attribute);

// Sets "<name>.VALUE" (adduniqobj), the text marked with `origin`.
int setobjvalue(objlist& list, std::string_view name, std::string_view text, Origin origin);

// ---- no list -----------------------------------------------------------------
// The page printer's lookup with no list to look in prints this message and
// finds nothing.

// Prints "bad object head  NULL\n"; none.
std::nullopt_t absent_list_lookup();

}  // namespace kiv
