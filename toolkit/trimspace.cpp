// Trimming a text: white space cut at both ends, inner runs of blanks folded.
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
  std::string r;
  r.reserve(end - start);
  for (size_t i = start; i < end; ++i) {
    if (text[i] == ' ' && !r.empty() && r.back() == ' ') continue;
    r += text[i];
  }
  text.swap(r);
  return text;
}

}  // namespace kiv
