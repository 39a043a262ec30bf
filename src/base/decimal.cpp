#include "base/decimal.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <ostream>

#include <boost/multiprecision/cpp_int.hpp>
#include <nlohmann/json.hpp>

namespace orwenna {

namespace {

using U128 = unsigned __int128;
using Wide = boost::multiprecision::uint512_t;

constexpr U128 pow10u128(int n) {
  U128 r = 1;
  for (int i = 0; i < n; ++i) r *= 10;
  return r;
}

const std::array<U128, 39>& pow10Table() {
  static const std::array<U128, 39> table = [] {
    std::array<U128, 39> t{};
    for (int i = 0; i <= 38; ++i) t[i] = pow10u128(i);
    return t;
  }();
  return table;
}

const Wide& widePow10(int n) {
  // 10^154 is the largest power of ten below 2^512.
  static const std::array<Wide, 155> table = [] {
    std::array<Wide, 155> t{};
    t[0] = 1;
    for (int i = 1; i < 155; ++i) t[i] = t[i - 1] * 10;
    return t;
  }();
  return table.at(static_cast<std::size_t>(n));
}

const U128 kLimit = pow10u128(Decimal::kMaxDigits);  // coefficients stay below 10^38

int digitCount(U128 v) {
  const auto& t = pow10Table();
  int n = 1;
  while (n <= 38 && v >= t[n]) ++n;
  return n;
}

int digitCount(const Wide& v) {
  int n = 1;
  while (n < 155 && v >= widePow10(n)) ++n;
  return n;
}

U128 toU128(const Wide& w) {
  return static_cast<U128>(static_cast<std::uint64_t>(w >> 64)) << 64 |
         static_cast<std::uint64_t>(w & Wide(UINT64_MAX));
}

// Rounds a wide magnitude to at most 38 digits, half away from zero, and builds
// the value.
Decimal fromWide(bool negative, Wide w, int exponent) {
  int digits = digitCount(w);
  if (digits > Decimal::kMaxDigits) {
    int drop = digits - Decimal::kMaxDigits;
    const Wide& p = widePow10(drop);
    Wide q = w / p;
    Wide r = w % p;
    if (r * 2 >= p) q += 1;
    w = q;
    exponent += drop;
    if (w >= Wide(kLimit)) {
      w /= 10;  // 99…9 rounded up to 10…0: the dropped digit is zero
      exponent += 1;
    }
  }
  return Decimal::fromParts(negative, toU128(w), exponent);
}

struct ParsedText {
  bool negative = false;
  std::string digits;  // without leading zeros beyond the first significant one
  int exponent = 0;
};

// Plain decimal text, optionally with an exponent part when `allowExponent`.
std::optional<ParsedText> scan(std::string_view s, bool allowExponent) {
  ParsedText out;
  std::size_t i = 0;
  if (i < s.size() && s[i] == '-') {
    out.negative = true;
    ++i;
  }
  std::size_t intStart = i;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') out.digits.push_back(s[i++]);
  if (i == intStart) return std::nullopt;
  if (i < s.size() && s[i] == '.') {
    ++i;
    std::size_t fracStart = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') out.digits.push_back(s[i++]);
    if (i == fracStart) return std::nullopt;
    out.exponent = -static_cast<int>(i - fracStart);
  }
  if (allowExponent && i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    bool expNegative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) expNegative = s[i++] == '-';
    std::size_t expStart = i;
    long e = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
      e = e * 10 + (s[i++] - '0');
      if (e > 100000) return std::nullopt;
    }
    if (i == expStart) return std::nullopt;
    out.exponent += static_cast<int>(expNegative ? -e : e);
  }
  if (i != s.size()) return std::nullopt;
  return out;
}

std::optional<Decimal> fromScanned(const ParsedText& p) {
  std::size_t first = p.digits.find_first_not_of('0');
  if (first == std::string::npos) return Decimal();
  std::string_view sig = std::string_view(p.digits).substr(first);
  int exponent = p.exponent;
  // Digits past the 40th can only matter as "something non-zero was dropped";
  // with half-away rounding they cannot change the result, so cut them here.
  if (sig.size() > 40) {
    exponent += static_cast<int>(sig.size() - 40);
    sig = sig.substr(0, 40);
  }
  Wide w = 0;
  for (char c : sig) w = w * 10 + (c - '0');
  try {
    return fromWide(p.negative, w, exponent);
  } catch (const std::overflow_error&) {
    return std::nullopt;
  }
}

}  // namespace

NumberFormatError::NumberFormatError(std::string_view text)
    : Error("Unexpected number format: " + std::string(text)), text_(text) {}

Decimal Decimal::fromParts(bool negative, U128 coefficient, int exponent) {
  if (coefficient >= kLimit) {
    Wide w = 0;
    w = (Wide(static_cast<std::uint64_t>(coefficient >> 64)) << 64) |
        Wide(static_cast<std::uint64_t>(coefficient));
    return fromWide(negative, w, exponent);
  }
  Decimal d(negative, coefficient, exponent);
  d.normalize();
  return d;
}

void Decimal::normalize() {
  if (coefficient_ == 0) {
    exponent_ = 0;
    negative_ = false;
    return;
  }
  while (coefficient_ % 10 == 0) {
    coefficient_ /= 10;
    ++exponent_;
  }
  if (exponent_ < kMinExponent) {
    // Too small to matter for any amount: round at the smallest exponent.
    int drop = kMinExponent - exponent_;
    int digits = digitCount(coefficient_);
    if (drop > digits) {
      *this = Decimal();
      return;
    }
    U128 p = pow10Table()[drop];
    U128 q = coefficient_ / p;
    if ((coefficient_ % p) * 2 >= p) q += 1;
    coefficient_ = q;
    exponent_ = kMinExponent;
    if (coefficient_ == 0) {
      *this = Decimal();
      return;
    }
    while (coefficient_ % 10 == 0) {
      coefficient_ /= 10;
      ++exponent_;
    }
  }
  if (exponent_ > kMaxExponent) {
    int room = kMaxDigits - digitCount(coefficient_);
    int need = exponent_ - kMaxExponent;
    if (need > room) throw std::overflow_error("Decimal overflow");
    coefficient_ *= pow10Table()[need];
    exponent_ = kMaxExponent;
  }
}

Decimal Decimal::parse(std::string_view text) {
  auto scanned = scan(text, false);
  if (!scanned) throw NumberFormatError(text);
  auto d = fromScanned(*scanned);
  if (!d) throw NumberFormatError(text);
  return *d;
}

std::optional<Decimal> Decimal::tryParse(std::string_view text) noexcept {
  auto scanned = scan(text, false);
  if (!scanned) return std::nullopt;
  return fromScanned(*scanned);
}

Decimal Decimal::fromDouble(double value) {
  if (!std::isfinite(value)) throw NumberFormatError(std::to_string(value));
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  std::string_view text(buf, static_cast<std::size_t>(end - buf));
  if (ec != std::errc()) throw NumberFormatError(text);
  auto scanned = scan(text, true);
  std::optional<Decimal> d = scanned ? fromScanned(*scanned) : std::nullopt;
  if (!d) throw NumberFormatError(text);
  return *d;
}

Decimal Decimal::fromJson(const nlohmann::ordered_json& value) {
  switch (value.type()) {
    case nlohmann::json::value_t::number_integer:
      return Decimal(value.get<std::int64_t>());
    case nlohmann::json::value_t::number_unsigned:
      return Decimal(value.get<std::uint64_t>());
    case nlohmann::json::value_t::number_float:
      return fromDouble(value.get<double>());
    case nlohmann::json::value_t::string:
      return parse(value.get_ref<const std::string&>());
    default:
      throw NumberFormatError(value.dump());
  }
}

int Decimal::significantDigits() const { return coefficient_ == 0 ? 1 : digitCount(coefficient_); }

std::string Decimal::toString() const {
  std::string digits;
  U128 c = coefficient_;
  do {
    digits.push_back(static_cast<char>('0' + static_cast<int>(c % 10)));
    c /= 10;
  } while (c != 0);
  std::reverse(digits.begin(), digits.end());
  std::string out = negative_ ? "-" : "";
  if (exponent_ >= 0) {
    out += digits;
    if (coefficient_ != 0) out.append(static_cast<std::size_t>(exponent_), '0');
    return out;
  }
  std::size_t fraction = static_cast<std::size_t>(-exponent_);
  if (digits.size() > fraction) {
    out += digits.substr(0, digits.size() - fraction);
    out += '.';
    out += digits.substr(digits.size() - fraction);
  } else {
    out += "0.";
    out.append(fraction - digits.size(), '0');
    out += digits;
  }
  return out;
}

std::string Decimal::toFixed(int decimals) const {
  Decimal r = rounded(decimals, RoundingMode::halfAwayFromZero);
  std::string s = r.toString();
  if (decimals <= 0) return s;
  std::size_t dot = s.find('.');
  std::size_t have = dot == std::string::npos ? 0 : s.size() - dot - 1;
  if (dot == std::string::npos) s += '.';
  s.append(static_cast<std::size_t>(decimals) - have, '0');
  return s;
}

double Decimal::toDouble() const {
  double v = 0;
  std::string s = toString();
  std::from_chars(s.data(), s.data() + s.size(), v);
  return v;
}

std::optional<std::int64_t> Decimal::toInt64() const {
  if (exponent_ < 0) return std::nullopt;
  if (exponent_ + digitCount(coefficient_) > 19) return std::nullopt;
  U128 mag = coefficient_ * pow10Table()[exponent_];
  U128 limit = negative_ ? U128(INT64_MAX) + 1 : U128(INT64_MAX);
  if (mag > limit) return std::nullopt;
  if (negative_) return static_cast<std::int64_t>(-static_cast<__int128>(mag));
  return static_cast<std::int64_t>(mag);
}

Decimal Decimal::scaledByPowerOfTen(int n) const {
  if (isZero()) return *this;
  Decimal d(negative_, coefficient_, exponent_ + n);
  d.normalize();
  return d;
}

Decimal Decimal::rounded(int scale, RoundingMode mode) const {
  if (isZero() || -exponent_ <= scale) return *this;
  int drop = -exponent_ - scale;  // digits to remove, at least 1
  U128 q = 0;
  bool nonzeroRest = true;
  bool halfOrMore = false;
  if (drop <= 38) {
    U128 p = pow10Table()[drop];
    q = coefficient_ / p;
    U128 r = coefficient_ % p;
    nonzeroRest = r != 0;
    halfOrMore = r * 2 >= p;  // r < 10^38 so r*2 cannot overflow 2^128
  }
  bool awayFromZero = false;
  switch (mode) {
    case RoundingMode::down: awayFromZero = negative_ && nonzeroRest; break;
    case RoundingMode::up: awayFromZero = !negative_ && nonzeroRest; break;
    case RoundingMode::towardZero: awayFromZero = false; break;
    case RoundingMode::halfAwayFromZero: awayFromZero = halfOrMore; break;
  }
  if (awayFromZero) q += 1;
  return fromParts(negative_, q, -scale);
}

Decimal operator+(const Decimal& a, const Decimal& b) {
  if (a.isZero()) return b;
  if (b.isZero()) return a;
  const Decimal& hi = a.exponent_ >= b.exponent_ ? a : b;
  const Decimal& lo = a.exponent_ >= b.exponent_ ? b : a;
  int shift = hi.exponent_ - lo.exponent_;
  Decimal small = lo;
  if (shift > 110) {
    // `lo` lies wholly below the 40th digit of `hi`: only its sign matters, as a
    // nudge below the rounding digit. Keep it as one unit far down.
    shift = 110;
    small = Decimal(lo.negative_, 1, hi.exponent_ - shift);
  }
  Wide x = Wide(static_cast<std::uint64_t>(hi.coefficient_ >> 64)) << 64 |
           Wide(static_cast<std::uint64_t>(hi.coefficient_));
  x *= widePow10(shift);
  Wide y = Wide(static_cast<std::uint64_t>(small.coefficient_ >> 64)) << 64 |
           Wide(static_cast<std::uint64_t>(small.coefficient_));
  int exponent = hi.exponent_ - shift;
  if (hi.negative_ == small.negative_) return fromWide(hi.negative_, x + y, exponent);
  if (x >= y) return fromWide(hi.negative_, x - y, exponent);
  return fromWide(small.negative_, y - x, exponent);
}

Decimal operator*(const Decimal& a, const Decimal& b) {
  if (a.isZero() || b.isZero()) return Decimal();
  Wide x = Wide(static_cast<std::uint64_t>(a.coefficient_ >> 64)) << 64 |
           Wide(static_cast<std::uint64_t>(a.coefficient_));
  Wide y = Wide(static_cast<std::uint64_t>(b.coefficient_ >> 64)) << 64 |
           Wide(static_cast<std::uint64_t>(b.coefficient_));
  return fromWide(a.negative_ != b.negative_, x * y, a.exponent_ + b.exponent_);
}

Decimal operator/(const Decimal& a, const Decimal& b) {
  if (b.isZero()) throw std::domain_error("Division by zero");
  if (a.isZero()) return Decimal();
  // Scale the dividend so the quotient has at least 40 digits; the rounding
  // digit is then exact and the remainder only says whether anything follows.
  int shift = std::max(0, 40 + digitCount(b.coefficient_) - digitCount(a.coefficient_));
  Wide x = Wide(static_cast<std::uint64_t>(a.coefficient_ >> 64)) << 64 |
           Wide(static_cast<std::uint64_t>(a.coefficient_));
  Wide y = Wide(static_cast<std::uint64_t>(b.coefficient_ >> 64)) << 64 |
           Wide(static_cast<std::uint64_t>(b.coefficient_));
  x *= widePow10(shift);
  Wide q = x / y;
  return fromWide(a.negative_ != b.negative_, q, a.exponent_ - b.exponent_ - shift);
}

std::strong_ordering operator<=>(const Decimal& a, const Decimal& b) {
  if (a.negative_ != b.negative_) {
    if (a.isZero() && b.isZero()) return std::strong_ordering::equal;
    return a.negative_ ? std::strong_ordering::less : std::strong_ordering::greater;
  }
  // Same sign: compare magnitudes by top digit position, then digits.
  auto magnitude = [](const Decimal& a, const Decimal& b) {
    if (a.isZero() || b.isZero()) {
      return a.isZero() == b.isZero() ? std::strong_ordering::equal
             : a.isZero()            ? std::strong_ordering::less
                                     : std::strong_ordering::greater;
    }
    int ta = a.exponent_ + digitCount(a.coefficient_);
    int tb = b.exponent_ + digitCount(b.coefficient_);
    if (ta != tb) return ta <=> tb;
    int e = std::min(a.exponent_, b.exponent_);
    U128 x = a.coefficient_ * pow10Table()[a.exponent_ - e];
    U128 y = b.coefficient_ * pow10Table()[b.exponent_ - e];
    return x <=> y;
  };
  auto m = magnitude(a, b);
  if (a.negative_) return 0 <=> m;
  return m;
}

std::ostream& operator<<(std::ostream& os, const Decimal& d) { return os << d.toString(); }

void to_json(nlohmann::ordered_json& j, const Decimal& d) { j = d.toString(); }
void from_json(const nlohmann::ordered_json& j, Decimal& d) { d = Decimal::fromJson(j); }

}  // namespace orwenna

std::size_t std::hash<orwenna::Decimal>::operator()(const orwenna::Decimal& d) const noexcept {
  auto c = d.coefficient();
  std::size_t h = std::hash<std::uint64_t>()(static_cast<std::uint64_t>(c)) ^
                  (std::hash<std::uint64_t>()(static_cast<std::uint64_t>(c >> 64)) << 1);
  h ^= std::hash<int>()(d.exponent()) * 31 + (d.isNegative() ? 17 : 0);
  return h;
}
