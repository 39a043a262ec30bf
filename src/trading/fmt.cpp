#include "trading/fmt.h"

#include <algorithm>
#include <cassert>
#include <string_view>

namespace orwenna::Fmt {
namespace {

constexpr std::string_view kMinusSign = "\u2212";

// Plain non-negative decimal text ("1234.5") with a comma every three digits of
// the whole part.
std::string grouped(const std::string& plain) {
  std::size_t point = plain.find('.');
  std::string_view whole = std::string_view(plain).substr(0, point);
  std::string out;
  out.reserve(plain.size() + whole.size() / 3);
  for (std::size_t i = 0; i < whole.size(); ++i) {
    if (i > 0 && (whole.size() - i) % 3 == 0) out += ',';
    out += whole[i];
  }
  if (point != std::string::npos) out += plain.substr(point);
  return out;
}

// Magnitude already rounded; sign handled here so "-0" never appears.
std::string signedGrouped(const Decimal& rounded) {
  if (rounded.isZero()) return "0";
  std::string body = grouped(rounded.abs().toString());
  if (rounded.isNegative()) body.insert(body.begin(), '-');
  return body;
}

int adjustedExponent(const Decimal& value) {
  return value.exponent() + value.significantDigits() - 1;
}

}  // namespace

std::string usd(const Decimal& value) {
  Decimal magnitude = value.abs().rounded(2);
  std::string text;
  if (value.isNegative() && !magnitude.isZero()) text.append(kMinusSign);
  text.push_back('$');
  text.append(grouped(magnitude.toFixed(2)));
  return text;
}

std::string signedUsd(const Decimal& value) {
  std::string text = usd(value);
  return value.isPositive() && text != "$0.00" ? "+" + text : text;
}

std::string num(const Decimal& value, int fraction) {
  assert(fraction >= 0 && fraction <= 17);
  int digits = fraction;
  if (fraction > 5 && !value.isZero()) {
    Decimal magnitude = value.abs();
    while (digits < 17 && magnitude.scaledByPowerOfTen(digits) < Decimal(1000)) ++digits;
  }
  return signedGrouped(value.rounded(digits));
}

std::string sig(const Decimal& value, int digits) {
  assert(digits >= 1);
  if (value.isZero()) return "0";
  int scale = digits - 1 - adjustedExponent(value);
  return signedGrouped(value.rounded(scale));
}

}  // namespace orwenna::Fmt
