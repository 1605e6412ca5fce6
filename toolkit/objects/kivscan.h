// The scanner shared by the object-file reader and the page template engine.
// It runs over an input text in states (outside blocks, inside an object
// block, inside a value, inside a comment), takes at each position the rule
// of its state that matches there, and copies the text no rule takes to its
// output. The template engine adds its markers as rules of the outer state.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "toolkit/objects/kivobj.h"

namespace kiv {

class Sink;
struct kivhtml;  // the template context of the page template engine

enum class ScanState { outer, block, value, comment };

struct Scanner;

// Template markers as outer-state rules, installed by the template engine:
// `match` gives the length of the marker at the start of `rest` (0: none
// there); `action` then runs it, after the text before it has been copied.
// `starts`, when given, holds the bytes at which a marker can begin: the
// scanner passes over every other byte without asking `match`.
struct MarkerRules {
  size_t (*match)(std::string_view rest);
  void (*action)(Scanner& s, std::string_view marker);
  const std::array<bool, 256>* starts = nullptr;
};

// The scanner's state: one instance per reading, so nothing carries over from
// one reading to the next.
struct Scanner {
  std::string_view yyin;  // the input; a NUL byte ends it
  size_t pos = 0;
  Sink* yyout = nullptr;  // where text no rule takes goes; none: thrown away

  // Outer-state rules: "OBJECT{" opens an object block where object_blocks
  // is on (it is tried first); then the template markers, if any.
  bool object_blocks = true;
  const MarkerRules* markers = nullptr;
  kivhtml* lex_kivhtml = nullptr;

  // Object blocks.
  objlist* lex_aohead = nullptr;    // the list being built
  std::unique_ptr<kivobj> nobjp;    // the object between "OBJECT{" and "};"
  std::string fbuf;                 // the value being collected
  int fattr = 0;                    // the attribute number of that value
  char lastc = 0;                   // last character stored into a value or comment
  ScanState state = ScanState::outer;
};

// The scanner of the process, for callers that keep no scanner of their own.
Scanner& scanner();

// Runs the scanner over the rest of its input; gives 0. Whatever was being
// collected when the input ends (an unclosed block, an unended value) is
// dropped, and the scanner is left without input, ready for the next one.
int yylex(Scanner& s);
int yylex();

}  // namespace kiv
