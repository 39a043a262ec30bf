// Small helpers shared by the core tests: decimals from text, a market with
// the fields sizing reads, a clock that stands still, and the message of an
// expected failure of one type.
#pragma once

#include <cstdint>
#include <string>

#include "base/clock.h"
#include "base/decimal.h"
#include "trading/market.h"

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

class FixedClock final : public Clock {
 public:
  explicit FixedClock(std::int64_t now) : now_(now) {}
  std::int64_t nowMillis() const override { return now_; }
  std::int64_t monotonicMillis() const override { return now_; }
  void sleepFor(std::int64_t) override {}

 private:
  std::int64_t now_;
};

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
