// The option scanner (see getopt.h).
#include "tools/getopt.h"

#include <cstring>

#include "platform/output.h"
#include "toolkit/base/kivfmt.h"

namespace kiv {

std::string progname(const char* argv0) {
  std::string_view p = argv0 ? argv0 : "";
  size_t slash = p.rfind('/');
  return std::string(slash == std::string_view::npos ? p : p.substr(slash + 1));
}

int getopt(GetoptState& st, int argc, const char* const argv[], std::string_view options) {
  st.optarg.clear();
  if (st.nextchar == 0) {
    if (st.optind >= argc) return -1;
    const char* word = argv[st.optind];
    if (word[0] != '-' || word[1] == '\0') return -1;
    if (std::strcmp(word, "--") == 0) {
      ++st.optind;
      return -1;
    }
    st.nextchar = 1;
  }
  const char* word = argv[st.optind];
  char letter = word[st.nextchar++];
  bool word_done = word[st.nextchar] == '\0';
  size_t at = letter == ':' ? std::string_view::npos : options.find(letter);
  if (at == std::string_view::npos) {
    err() << sformat("%s: illegal option -- %c\n", progname(argv[0]), letter);
    if (word_done) {
      ++st.optind;
      st.nextchar = 0;
    }
    return '?';
  }
  bool takes_arg = at + 1 < options.size() && options[at + 1] == ':';
  if (!takes_arg) {
    if (word_done) {
      ++st.optind;
      st.nextchar = 0;
    }
    return letter;
  }
  // The argument: the rest of this word, or else the whole next word.
  ++st.optind;
  if (!word_done) {
    st.optarg = word + st.nextchar;
  } else if (st.optind < argc) {
    st.optarg = argv[st.optind++];
  } else {
    st.nextchar = 0;
    err() << sformat("%s: option requires an argument -- %c\n", progname(argv[0]), letter);
    return '?';
  }
  st.nextchar = 0;
  return letter;
}

}  // namespace kiv
