// Small helpers shared by the trading, language, router and app tests:
// decimals from text, a market with the fields sizing reads, and the message
// of an expected failure of one type.
#pragma once

#include <cstdint>
#include <string>

#include "base/decimal.h"
#include "trading/market.h"
#include "support/test_support.h"

namespace orwenna::testing {

inline Decimal D(const char* text) { return Decimal::parse(text); }

inline Market market(const char* name, const char* markPx, int szDecimals, int maxLeverage) {
  Market m;
  m.name = name;
  m.markPx = D(markPx);
  m.szDecimals = szDecimals;
  m.maxLeverage = maxLeverage;
  return m;
}

// The message of the E that `f` throws; "" when it returns normally. Any other
// exception escapes and fails the test, so the type is checked too.
template <class E, class F>
std::string failureOf(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "";
}

}  // namespace orwenna::testing
