// A printf interpreter over FmtArg (see kivfmt.h). Each conversion is handed
// to snprintf on its own with an argument of the type it expects, except %s,
// which is done here so that texts with embedded NULs and any length work.
#include "toolkit/base/kivfmt.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kiv {

long long FmtArg::as_integer() const {
  switch (kind_) {
    case Kind::integer: return i_;
    case Kind::unsigned_integer: return static_cast<long long>(u_);
    case Kind::floating:
      if (std::isnan(d_) || std::fabs(d_) > 9.2e18) return 0;
      return static_cast<long long>(d_);
    case Kind::text: return std::strtoll(std::string(s_).c_str(), nullptr, 10);
    case Kind::null_text: return 0;
  }
  return 0;
}

unsigned long long FmtArg::as_unsigned() const {
  if (kind_ == Kind::unsigned_integer) return u_;
  return static_cast<unsigned long long>(as_integer());
}

double FmtArg::as_double() const {
  switch (kind_) {
    case Kind::floating: return d_;
    case Kind::integer: return static_cast<double>(i_);
    case Kind::unsigned_integer: return static_cast<double>(u_);
    case Kind::text: return std::strtod(std::string(s_).c_str(), nullptr);
    case Kind::null_text: return 0;
  }
  return 0;
}

std::string FmtArg::as_text() const {
  switch (kind_) {
    case Kind::text: return std::string(s_);
    case Kind::null_text: return "(null)";
    case Kind::integer: return std::to_string(i_);
    case Kind::unsigned_integer: return std::to_string(u_);
    case Kind::floating: return std::to_string(d_);
  }
  return {};
}

namespace {

struct Spec {
  std::string flags;
  int width = -1;
  int precision = -1;
  char conv = 0;
};

// snprintf of one conversion `spec` (a complete "%...X" text) with one value.
template <class T>
std::string one(const std::string& spec, T value) {
  int n = std::snprintf(nullptr, 0, spec.c_str(), value);
  if (n <= 0) return {};
  std::string s(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(s.data(), s.size(), spec.c_str(), value);
  s.resize(static_cast<size_t>(n));
  return s;
}

std::string spec_text(const Spec& sp, const char* length) {
  std::string s = "%" + sp.flags;
  if (sp.width >= 0) s += std::to_string(sp.width);
  if (sp.precision >= 0) {
    s += '.';
    s += std::to_string(sp.precision);
  }
  s += length;
  s += sp.conv;
  return s;
}

std::string pad(std::string text, const Spec& sp) {
  if (sp.width < 0 || text.size() >= static_cast<size_t>(sp.width)) return text;
  std::string fill(static_cast<size_t>(sp.width) - text.size(), ' ');
  bool left = sp.flags.find('-') != std::string::npos;
  return left ? text + fill : fill + text;
}

std::string convert(const Spec& sp, const FmtArg& a, Escaper escape) {
  switch (sp.conv) {
    case 'd':
    case 'i': return one(spec_text(sp, "ll"), a.as_integer());
    case 'u':
    case 'o':
    case 'x':
    case 'X': return one(spec_text(sp, "ll"), a.as_unsigned());
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
    case 'a':
    case 'A': return one(spec_text(sp, ""), a.as_double());
    case 'p': return one(spec_text({sp.flags, sp.width, -1, 'p'}, ""),
                         reinterpret_cast<void*>(static_cast<uintptr_t>(a.as_unsigned())));
    case 'c': {
      std::string c;
      if (a.kind() == FmtArg::Kind::text || a.kind() == FmtArg::Kind::null_text) {
        std::string t = a.as_text();
        c = t.substr(0, 1);
      } else {
        c.assign(1, static_cast<char>(a.as_integer()));
      }
      c = pad(c, sp);
      return escape ? escape(c) : c;
    }
    case 's': {
      std::string t = a.as_text();
      if (sp.precision >= 0 && t.size() > static_cast<size_t>(sp.precision))
        t.resize(static_cast<size_t>(sp.precision));
      t = pad(t, sp);
      return escape ? escape(t) : t;
    }
  }
  return {};
}

bool is_flag(char c) { return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0' || c == '\''; }
bool is_length(char c) {
  return c == 'h' || c == 'l' || c == 'L' || c == 'q' || c == 'j' || c == 'z' || c == 't';
}

// Reads a number or a '*' (taken from the arguments) at `i`.
int read_count(std::string_view f, size_t& i, std::span<const FmtArg> args, size_t& next) {
  if (i < f.size() && f[i] == '*') {
    ++i;
    if (next >= args.size()) return -1;
    long long v = args[next++].as_integer();
    return v < 0 ? -1 : static_cast<int>(std::min<long long>(v, 1 << 20));
  }
  int n = -1;
  while (i < f.size() && f[i] >= '0' && f[i] <= '9') {
    n = (n < 0 ? 0 : n) * 10 + (f[i] - '0');
    if (n > (1 << 20)) n = 1 << 20;
    ++i;
  }
  return n;
}

}  // namespace

std::string vformat(std::string_view f, std::span<const FmtArg> args, Escaper escape) {
  std::string outtext;
  outtext.reserve(f.size() + 32);
  size_t next = 0;
  for (size_t i = 0; i < f.size(); ++i) {
    if (f[i] != '%') {
      outtext += f[i];
      continue;
    }
    size_t start = i++;
    if (i < f.size() && f[i] == '%') {
      outtext += '%';
      continue;
    }
    Spec sp;
    while (i < f.size() && is_flag(f[i])) sp.flags += f[i++];
    sp.width = read_count(f, i, args, next);
    if (i < f.size() && f[i] == '.') {
      ++i;
      sp.precision = read_count(f, i, args, next);
      if (sp.precision < 0) sp.precision = 0;
    }
    while (i < f.size() && is_length(f[i])) ++i;
    if (i >= f.size()) {
      outtext.append(f.substr(start));
      break;
    }
    sp.conv = f[i];
    if (sp.conv == 'n') continue;
    if (!std::strchr("diuoxXfFeEgGaApcs", sp.conv)) {
      outtext.append(f.substr(start, i - start + 1));
      continue;
    }
    if (next >= args.size()) continue;
    outtext += convert(sp, args[next++], escape);
  }
  return outtext;
}

}  // namespace kiv
