// Decimal: the one type for money, prices, sizes and percentages.
//
// A base-10 number with up to 38 significant digits and an exponent. Addition,
// subtraction and multiplication are exact while the result fits in 38 digits;
// beyond that (and for division) the result is rounded to 38 significant digits,
// half away from zero. Values are immutable and normalised (no trailing zeros in
// the coefficient), so equal numbers compare equal whatever text they came from.
// Thread-safe as a plain value.
#pragma once

#include <compare>
#include <concepts>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

#include "base/error.h"

namespace orwenna {

enum class RoundingMode {
  down,              // toward minus infinity
  up,                // toward plus infinity
  towardZero,
  halfAwayFromZero,  // "round half up" for positive numbers
};

// Thrown for text that is not a plain decimal number; the message is the
// system's own sentence: "Unexpected number format: " + the text.
class NumberFormatError : public Error {
 public:
  explicit NumberFormatError(std::string_view text);
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

class Decimal {
 public:
  static constexpr int kMaxDigits = 38;
  static constexpr int kMinExponent = -128;
  static constexpr int kMaxExponent = 127;

  constexpr Decimal() = default;
  template <std::integral T>
  Decimal(T value) {  // NOLINT(google-explicit-constructor): integers are exact
    if constexpr (std::is_signed_v<T>) {
      negative_ = value < 0;
      coefficient_ = negative_ ? static_cast<unsigned __int128>(-(static_cast<__int128>(value)))
                               : static_cast<unsigned __int128>(value);
    } else {
      coefficient_ = static_cast<unsigned __int128>(value);
    }
    normalize();
  }
  Decimal(double) = delete;  // binary floating point never becomes money implicitly
  Decimal(float) = delete;

  // Strict parse of plain decimal text: an optional "-", digits, and optionally
  // "." followed by digits. No exponent, sign "+", grouping, spaces or locale.
  // More than 38 significant digits are rounded half away from zero.
  // Throws NumberFormatError.
  [[nodiscard]] static Decimal parse(std::string_view text);
  [[nodiscard]] static std::optional<Decimal> tryParse(std::string_view text) noexcept;

  // A JSON number through its shortest round-trip text (so 0.1 is 0.1), or a
  // JSON string holding plain decimal text. Throws NumberFormatError otherwise.
  [[nodiscard]] static Decimal fromJson(const nlohmann::ordered_json& value);
  [[nodiscard]] static Decimal fromDouble(double value);  // shortest round-trip text

  // sign × coefficient × 10^exponent, rounded to 38 digits if needed.
  [[nodiscard]] static Decimal fromParts(bool negative, unsigned __int128 coefficient, int exponent);

  // Plain text: no exponent, "." separator, no trailing zeros, no "-0".
  std::string toString() const;
  // Fixed number of decimals after rounding half away from zero ("1.50").
  std::string toFixed(int decimals) const;
  double toDouble() const;  // for drawing only
  // The integer value when the number is a whole number that fits.
  std::optional<std::int64_t> toInt64() const;

  Decimal rounded(int scale, RoundingMode mode = RoundingMode::halfAwayFromZero) const;
  Decimal abs() const { return Decimal(false, coefficient_, exponent_); }
  Decimal operator-() const { return isZero() ? *this : Decimal(!negative_, coefficient_, exponent_); }
  // this × 10^n, exact.
  Decimal scaledByPowerOfTen(int n) const;

  bool isZero() const { return coefficient_ == 0; }
  bool isNegative() const { return negative_; }
  bool isPositive() const { return !negative_ && coefficient_ != 0; }
  bool isInteger() const { return exponent_ >= 0; }
  // Digits after the point in the plain text form (0 for whole numbers).
  int scale() const { return exponent_ < 0 ? -exponent_ : 0; }
  int exponent() const { return exponent_; }
  unsigned __int128 coefficient() const { return coefficient_; }
  int significantDigits() const;

  friend Decimal operator+(const Decimal& a, const Decimal& b);
  friend Decimal operator-(const Decimal& a, const Decimal& b) { return a + (-b); }
  friend Decimal operator*(const Decimal& a, const Decimal& b);
  // REQUIRES: b is not zero (throws std::domain_error otherwise).
  friend Decimal operator/(const Decimal& a, const Decimal& b);
  Decimal& operator+=(const Decimal& b) { return *this = *this + b; }
  Decimal& operator-=(const Decimal& b) { return *this = *this - b; }
  Decimal& operator*=(const Decimal& b) { return *this = *this * b; }
  Decimal& operator/=(const Decimal& b) { return *this = *this / b; }

  friend bool operator==(const Decimal&, const Decimal&) = default;
  friend std::strong_ordering operator<=>(const Decimal& a, const Decimal& b);

 private:
  constexpr Decimal(bool negative, unsigned __int128 coefficient, int exponent)
      : coefficient_(coefficient), exponent_(exponent), negative_(negative) {}
  void normalize();

  unsigned __int128 coefficient_ = 0;
  std::int32_t exponent_ = 0;
  bool negative_ = false;
};

std::ostream& operator<<(std::ostream& os, const Decimal& d);

void to_json(nlohmann::ordered_json& j, const Decimal& d);    // as plain text
void from_json(const nlohmann::ordered_json& j, Decimal& d);  // text or number

}  // namespace orwenna

template <>
struct std::hash<orwenna::Decimal> {
  std::size_t operator()(const orwenna::Decimal& d) const noexcept;
};
