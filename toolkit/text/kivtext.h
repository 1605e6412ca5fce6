// Small text helpers: white space, the cut of blanks at a text's ends, a
// number read as scanf reads "%d", line breaks folded out of a one-line text,
// and case-blind comparisons. The system compares some words without regard to case
// (KIVACTION and MENUTRIG, security actions, login_config keys, header names,
// database type words, sort types, month names, format keys, chart values);
// these are ASCII comparisons, whatever locale the process runs in, so a
// byte above 127 matches only itself.
#pragma once

#include <climits>
#include <string>
#include <string_view>

namespace kiv {

// True for the white space of the C locale (blank, tab, line feed, carriage
// return, vertical tab, form feed), whatever locale the process runs in. Takes
// a byte or what getc gave (EOF is none).
constexpr bool is_space(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The text without the blanks and tabs at its ends (a view into it).
constexpr std::string_view trim_blanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Reads one "%d" from `s` at `i` as scanf does: white space (the C
// locale's), an optional sign, digits, held at INT_MAX (a negative one at
// -INT_MAX). True with the number in `out` and `i` past its digits; false,
// `out` untouched, when no digit follows.
constexpr bool scan_int(std::string_view s, size_t& i, int& out) {
  while (i < s.size() && is_space(s[i])) ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  if (i >= s.size() || s[i] < '0' || s[i] > '9') return false;
  long long v = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    v = v * 10 + (s[i] - '0');
    if (v > INT_MAX) v = INT_MAX;
    ++i;
  }
  out = static_cast<int>(neg ? -v : v);
  return true;
}

// The ASCII lower-case form of one byte; other bytes as they are.
constexpr char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// True when `a` and `b` have the same length and the same letters in any case.
constexpr bool equal_nocase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
  return true;
}

// The order of `a` and `b` with letters compared in any case, byte by byte
// as unsigned values, a shorter text before a longer one it begins: <0, 0
// or >0, as strcasecmp orders them in the C locale.
constexpr int compare_nocase(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = static_cast<unsigned char>(ascii_lower(a[i]));
    const unsigned char y = static_cast<unsigned char>(ascii_lower(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

// True when `text` begins with `prefix`, letters compared in any case.
constexpr bool starts_nocase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && equal_nocase(text.substr(0, prefix.size()), prefix);
}

// True when `part` occurs in `text`, letters compared in any case.
constexpr bool contains_nocase(std::string_view text, std::string_view part) {
  if (part.size() > text.size()) return false;
  for (size_t i = 0; i + part.size() <= text.size(); ++i)
    if (equal_nocase(text.substr(i, part.size()), part)) return true;
  return false;
}

// True for form fields that hold a password (their names contain "pass" in
// any case): their values are never traced.
constexpr bool is_password_name(std::string_view name) { return contains_nocase(name, "pass"); }
// What the trace shows in place of a password.
inline constexpr std::string_view kHiddenPassword = "*****";

static_assert(is_space('\v') && !is_space('\0') && !is_space(-1) && !is_space('\xA0'));
static_assert([] {
  size_t i = 0;
  int n = 0;
  const bool read = scan_int(" \t-12/7", i, n) && n == -12 && i == 5;
  size_t j = 0;
  int big = 0;
  const bool held = scan_int("99999999999", j, big) && big == INT_MAX;
  size_t k = 0;
  int none = 5;
  return read && held && !scan_int(" +x", k, none) && none == 5;
}());
static_assert(trim_blanks(" \t a b\t ") == "a b" && trim_blanks(" \t").empty() && trim_blanks("\na\n") == "\na\n");
static_assert(equal_nocase("PassR", "PASSR") && !equal_nocase("pass", "passr"));
static_assert(starts_nocase("VTASKS_today", "vtasks") && !starts_nocase("vt", "vtasks"));
static_assert(contains_nocase("oldPassword.VALUE", "pass") && !contains_nocase("login", "pass"));
static_assert(!equal_nocase("\xC4", "\xE4"));  // no locale folds bytes above 127
static_assert(compare_nocase("open", "Open") == 0 && compare_nocase("Closed", "open") < 0 &&
              compare_nocase("ab", "AB c") < 0 && compare_nocase("_", "a") < 0 && compare_nocase("\xE4", "z") > 0);

// A text that must stay on one line (a mail header, a mail subject kept in an
// object file): each run of CR and LF becomes one blank, so that no text
// starts a header line of its own, and every other control byte (the rest of
// C0, DEL) one blank each, so that none reaches a mail reader's display.
inline std::string header_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  bool in_break = false;
  for (char c : text) {
    if (c == '\r' || c == '\n') {
      if (!in_break) out += ' ';
      in_break = true;
      continue;
    }
    in_break = false;
    const unsigned char u = static_cast<unsigned char>(c);
    out += u < 0x20 || u == 0x7f ? ' ' : c;
  }
  return out;
}

// The months' English abbreviations, "Jan" to "Dec", which dates, labels
// and mail headers carry whatever locale the process has.
inline constexpr const char* kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace kiv
