#include "core/fmt.h"

#include <gtest/gtest.h>

namespace orwenna {
namespace {

Decimal d(const char* text) { return Decimal::parse(text); }

TEST(FmtTest, UsdGroupsAndSigns) {
  struct Case {
    const char* value;
    const char* want;
  } cases[] = {
      {"0", "$0.00"},
      {"1234.5", "$1,234.50"},
      {"-12.5", "\u2212$12.50"},
      {"-0.004", "$0.00"},   // rounds to zero: no minus sign
      {"-0.005", "\u2212$0.01"},
      {"0.005", "$0.01"},   // half away from zero
      {"999.995", "$1,000.00"},
      {"1234567.891", "$1,234,567.89"},
      {"100000", "$100,000.00"},
      {"12", "$12.00"},
  };
  for (const auto& c : cases) EXPECT_EQ(Fmt::usd(d(c.value)), c.want) << c.value;
}

TEST(FmtTest, NumKeepsAtMostTheFractionAndGroups) {
  struct Case {
    const char* value;
    int fraction;
    const char* want;
  } cases[] = {
      {"1234.5", 2, "1,234.5"},
      {"1234.567", 2, "1,234.57"},
      {"1234.567", 0, "1,235"},
      {"-1234.567", 1, "-1,234.6"},
      {"-0.001", 2, "0"},  // never "-0"
      {"2", 2, "2"},
      {"0.1", 5, "0.1"},
      {"1000000", 2, "1,000,000"},
      {"999", 2, "999"},
  };
  for (const auto& c : cases) EXPECT_EQ(Fmt::num(d(c.value), c.fraction), c.want) << c.value;
}

TEST(FmtTest, NumGrowsDigitsForSmallPrices) {
  struct Case {
    const char* value;
    int fraction;
    const char* want;
  } cases[] = {
      {"0.00001234567", 6, "0.00001235"},  // grows to 8 digits: four significant shown
      {"0.000123456", 6, "0.0001235"},
      {"0.123456789", 6, "0.123457"},  // already ≥ 1000 at 6 digits: stays
      {"65000.123456789", 6, "65,000.123457"},
      {"0", 6, "0"},
      {"-0.00001234567", 6, "-0.00001235"},
      {"0.000000000000000001234", 6, "0"},  // capped at 17 digits
      {"0.00000000000001234", 8, "0.00000000000001234"},
      {"0.00001234567", 5, "0.00001"},  // growing starts above 5 only
  };
  for (const auto& c : cases) EXPECT_EQ(Fmt::num(d(c.value), c.fraction), c.want) << c.value;
}

TEST(FmtTest, SigRoundsToSignificantDigits) {
  struct Case {
    const char* value;
    int digits;
    const char* want;
  } cases[] = {
      {"1234.5678", 3, "1,230"},
      {"1234.5678", 6, "1,234.57"},
      {"0.00012345", 2, "0.00012"},
      {"0.00012355", 3, "0.000124"},
      {"9.996", 3, "10"},
      {"-98765", 2, "-99,000"},
      {"0", 4, "0"},
      {"1.5", 4, "1.5"},
  };
  for (const auto& c : cases) EXPECT_EQ(Fmt::sig(d(c.value), c.digits), c.want) << c.value;
}

}  // namespace
}  // namespace orwenna
