// Form entries of a request: the reader chosen by the request method and
// content type (a URL-encoded query string, a URL-encoded body, or a
// multipart body with uploads), and the lookups the start-up makes on them.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/request/form_entry.h"

namespace kiv {

struct cgiinfo;

// The stream the body is read from: standard input unless a test or the
// fuzzer installed another one (nullptr restores standard input).
std::FILE* form_input();
void set_form_input(std::FILE* in);

// The entries of the request described by `info`: a POST of
// application/x-www-form-urlencoded reads the body, a GET the query string,
// anything else the multipart reader. An empty list is "none".
form_entries get_form_entries(const cgiinfo& info);
void free_form_entries(form_entries& list);

// The value of the first entry whose name equals `name` without regard to
// case; nullptr when there is none or it has no value. Not a copy.
const std::string* parmval(const form_entries& list, std::string_view name);

// URL-encoded entries of a text (none: no entries).
form_entries get_fes_from_string(std::optional<std::string_view> text);
// URL-encoded entries of at most `length` bytes of a stream; an early end of
// the stream ends the text.
form_entries get_fes_from_stream(long length, std::FILE* stream);

// The byte of two hexadecimal digits, high digit first (dds2c) or low digit
// first (dd2c). Characters that are not hexadecimal digits give a value by
// the same arithmetic, modulo 256.
unsigned char dds2c(char high, char low);
unsigned char dd2c(char low, char high);

// The query string for the trace, with the values of password fields hidden.
std::string mask_query_passwords(std::string_view query);

}  // namespace kiv
