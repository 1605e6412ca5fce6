// Trimming a text: white space cut at both ends, inner runs of blanks folded.
// Done in place: the object-file reader trims every value it reads.
#include "toolkit/rowcol.h"

namespace kiv {

namespace {
bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}
}  // namespace

std::string& trimspace(std::string& text) {
  size_t end = text.size();
  while (end > 0 && is_space(text[end - 1])) --end;
  size_t start = 0;
  while (start < end && is_space(text[start])) ++start;
  // Characters up to the first run of blanks stay where they are.
  size_t i = start + 1;
  while (i < end && !(text[i] == ' ' && text[i - 1] == ' ')) ++i;
  size_t w = i < end ? i : end;
  for (; i < end; ++i) {
    if (text[i] == ' ' && text[w - 1] == ' ') continue;
    text[w++] = text[i];
  }
  text.resize(w);
  text.erase(0, start);
  return text;
}

}  // namespace kiv
