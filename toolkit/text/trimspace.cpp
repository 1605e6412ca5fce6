// Trimming a text: white space cut at both ends, inner runs of blanks folded.
// Done in place: the object-file reader trims every value it reads. Most
// values have nothing to trim, so that case costs one look at each end and
// one search for a double blank.
#include "toolkit/text/kivtext.h"
#include "toolkit/text/rowcol.h"

namespace kiv {

std::optional<std::string_view> trimspace_view(std::string_view text) {
  size_t end = text.size();
  while (end > 0 && is_space(text[end - 1])) --end;
  size_t start = 0;
  while (start < end && is_space(text[start])) ++start;
  text = text.substr(start, end - start);
  // One pass over the bytes: values are short and hold many single blanks.
  for (size_t i = 1; i < text.size(); ++i)
    if (text[i] == ' ' && text[i - 1] == ' ') return std::nullopt;
  return text;
}

std::string& trimspace(std::string& text) {
  if (std::optional<std::string_view> v = trimspace_view(text)) {
    if (v->size() == text.size()) return text;
    const size_t start = static_cast<size_t>(v->data() - text.data());
    text.erase(start + v->size());
    text.erase(0, start);
    return text;
  }
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
