// printf-style formatting into std::string, type-safe.
// Arguments are carried as FmtArg, so a std::string passes as it is and a
// mismatched conversion is converted rather than misread. An optional escape
// applies to text arguments only (%s, %c), never to the format: this is how
// messages show request text in a page without letting it become markup.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kiv {

class FmtArg {
 public:
  enum class Kind { integer, unsigned_integer, floating, text, null_text };

  FmtArg(int v) : kind_(Kind::integer), i_(v) {}
  FmtArg(long v) : kind_(Kind::integer), i_(v) {}
  FmtArg(long long v) : kind_(Kind::integer), i_(v) {}
  FmtArg(unsigned v) : kind_(Kind::unsigned_integer), u_(v) {}
  FmtArg(unsigned long v) : kind_(Kind::unsigned_integer), u_(v) {}
  FmtArg(unsigned long long v) : kind_(Kind::unsigned_integer), u_(v) {}
  FmtArg(char c) : kind_(Kind::integer), i_(static_cast<unsigned char>(c)) {}
  FmtArg(double v) : kind_(Kind::floating), d_(v) {}
  FmtArg(const char* s) : kind_(s ? Kind::text : Kind::null_text), s_(s ? s : "") {}
  FmtArg(const std::string& s) : kind_(Kind::text), s_(s) {}
  FmtArg(std::string_view s) : kind_(Kind::text), s_(s) {}

  Kind kind() const { return kind_; }
  long long as_integer() const;
  unsigned long long as_unsigned() const;
  double as_double() const;
  std::string as_text() const;

 private:
  Kind kind_;
  long long i_ = 0;
  unsigned long long u_ = 0;
  double d_ = 0;
  std::string_view s_;
};

using Escaper = std::string (*)(std::string_view);

// Formats `format` with `args` as printf would. Conversions without an
// argument give nothing; %n is ignored. `escape`, when given, is applied to
// what each %s and %c produces.
std::string vformat(std::string_view format, std::span<const FmtArg> args,
                    Escaper escape = nullptr);

template <class... A>
std::string sformat(std::string_view format, const A&... a) {
  const std::array<FmtArg, sizeof...(A)> args{FmtArg(a)...};
  return vformat(format, args);
}

}  // namespace kiv
