// The form readers: URL-encoded entries from the query string or from the
// body, the choice between them and the multipart reader, and the lookups.
// Names and values are decoded as they are read ("+" a blank, "%XX" a byte).
#include "toolkit/request/kivcgiform.h"


#include "platform/exit.h"
#include "platform/output.h"
#include "toolkit/request/kivcgiclient.h"
#include "toolkit/base/kivcgitrace.h"
#include "toolkit/text/kivtext.h"
#include "toolkit/request/multipart.h"

namespace kiv {

namespace {

std::FILE* g_input = nullptr;

bool is_hex(int c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The value of one digit; other characters by the same arithmetic.
unsigned hexval(char ch) {
  unsigned c = static_cast<unsigned char>(ch);
  return c >= 'A' ? ((c & 0xDFu) - 'A' + 10u) : (c - '0');
}

bool starts_nocase(const std::optional<std::string>& text, std::string_view prefix) {
  return text && kiv::starts_nocase(*text, prefix);
}

// Characters of a text, EOF at its end.
struct StringSource {
  std::string_view text;
  size_t pos = 0;
  int get() { return pos < text.size() ? static_cast<unsigned char>(text[pos++]) : EOF; }
  static unsigned char pair(char first, char second) { return dds2c(first, second); }
};

// Characters of a stream, EOF after `left` bytes or at the stream's end.
struct StreamSource {
  std::FILE* in;
  long left;
  int get() {
    if (left <= 0) return EOF;
    int c = std::getc(in);
    if (c == EOF) {
      left = 0;
      return EOF;
    }
    --left;
    return c;
  }
  static unsigned char pair(char first, char second) { return dd2c(second, first); }
};

// Reads one name (stopping at "=" too) or value from `c` on, decoded, into
// `out`; gives the character that ended it ("&", "=" or EOF).
template <class Src>
int read_part(Src& src, int c, std::string& out, bool is_name) {
  while (c != EOF && c != '&' && !(is_name && c == '=')) {
    if (c == '+') {
      out += ' ';
    } else if (c == '%') {
      int hi = src.get();
      if (!is_hex(hi)) {  // not an escape: keep the "%" and look at hi again
        out += '%';
        c = hi;
        continue;
      }
      int lo = src.get();
      if (!is_hex(lo)) {
        out += '%';
        out += static_cast<char>(hi);
        c = lo;
        continue;
      }
      out += static_cast<char>(Src::pair(static_cast<char>(hi), static_cast<char>(lo)));
    } else {
      out += static_cast<char>(c);
    }
    c = src.get();
  }
  return c;
}

template <class Src>
form_entries read_urlencoded(Src& src) {
  form_entries list;
  int c = src.get();
  for (;;) {
    while (c != EOF && (is_space(c) || c == '&')) c = src.get();
    if (c == EOF) break;
    form_entry e;
    std::string name;
    c = read_part(src, c, name, true);
    if (!name.empty()) e.name = std::move(name);
    if (c == '=') {
      std::string value;
      c = read_part(src, src.get(), value, false);
      e.value = std::move(value);
    }
    list.push_back(std::move(e));
    if (c == EOF) break;
    c = src.get();  // past the "&"
  }
  return list;
}

}  // namespace

std::FILE* form_input() { return g_input ? g_input : stdin; }
void set_form_input(std::FILE* in) { g_input = in; }

unsigned char dds2c(char high, char low) {
  return static_cast<unsigned char>((hexval(high) * 16u + hexval(low)) & 0xFFu);
}

unsigned char dd2c(char low, char high) { return dds2c(high, low); }

std::string mask_query_passwords(std::string_view q) {
  std::string r;
  size_t start = 0;
  for (;;) {
    size_t amp = q.find('&', start);
    std::string_view piece = q.substr(start, amp == std::string_view::npos ? amp : amp - start);
    size_t eq = piece.find('=');
    if (eq != std::string_view::npos && is_password_name(piece.substr(0, eq))) {
      r.append(piece.substr(0, eq + 1));
      r += kHiddenPassword;
    } else {
      r.append(piece);
    }
    if (amp == std::string_view::npos) break;
    r += '&';
    start = amp + 1;
  }
  return r;
}

form_entries get_fes_from_string(std::optional<std::string_view> text) {
  kivtrace("QUERY STRING='%s'\n", text ? mask_query_passwords(*text) : std::string("(null)"));
  if (!text) return {};
  StringSource src{*text};
  return read_urlencoded(src);
}

form_entries get_fes_from_stream(long length, std::FILE* stream) {
  if (!stream || length <= 0) return {};
  StreamSource src{stream, length};
  return read_urlencoded(src);
}

form_entries get_form_entries(const cgiinfo& info) {
  if (starts_nocase(info.request_method, "POST") &&
      starts_nocase(info.content_type, "application/x-www-form-urlencoded")) {
    if (info.content_length_bad || info.content_length > kMaxContentLength) {
      err() << "Bad CONTENT_LENGTH\n";
      throw Exit{1};
    }
    return get_fes_from_stream(info.content_length, form_input());
  }
  if (starts_nocase(info.request_method, "GET")) {
    if (!info.query_string) return get_fes_from_string(std::nullopt);
    return get_fes_from_string(std::string_view(*info.query_string));
  }
  return parse_multipart(form_input());
}

void free_form_entries(form_entries& list) { form_entries().swap(list); }

const std::string* parmval(const form_entries& list, std::string_view name) {
  for (const form_entry& e : list) {
    if (!e.name || !equal_nocase(*e.name, name)) continue;
    return e.value ? &*e.value : nullptr;
  }
  return nullptr;
}

}  // namespace kiv
