// Number formatting for what the user reads: dollar amounts, plain numbers and
// prices, with the grouping and separators of US English ("1,234.50"). Fixed
// rules, never the process locale. Pure functions; thread-safe.
#pragma once

#include <string>

#include "base/decimal.h"

namespace orwenna::Fmt {

// "$1,234.50"; a negative amount that does not round to zero gets U+2212 before
// the dollar sign ("−$12.50").
std::string usd(const Decimal& value);

// As usd, with "+" before a positive amount that does not round to zero
// ("+$12.50", "−$3.00", "$0.00").
std::string signedUsd(const Decimal& value);

// Up to `fraction` digits after the point (trailing zeros dropped), grouped.
// With `fraction` above 5 and a non-zero value, more digits are shown while the
// magnitude times ten to that many stays below 1000 (at most 17), so a small
// price still shows about four significant digits.
// REQUIRES: 0 <= fraction <= 17.
std::string num(const Decimal& value, int fraction);

// The value rounded to `digits` significant digits, grouped, trailing zeros
// after the point dropped. REQUIRES: digits >= 1.
std::string sig(const Decimal& value, int digits);

}  // namespace orwenna::Fmt
