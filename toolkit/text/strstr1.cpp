// Plain substring search.
#include "toolkit/text/rowcol.h"

namespace kiv {

size_t strstr1(std::string_view text, std::string_view part) { return text.find(part); }

}  // namespace kiv
