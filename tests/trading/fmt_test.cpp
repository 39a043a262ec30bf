#include "trading/fmt.h"
#include "support/core_fixtures.h"

#include <gtest/gtest.h>

namespace orwenna {
namespace {

using testing::D;

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
  };
  for (const auto& c : cases) EXPECT_EQ(Fmt::usd(D(c.value)), c.want) << c.value;
}

// num keeps at most `digits` of fraction (more for small prices); sig keeps
// `digits` significant digits. Both group thousands.
TEST(FmtTest, NumAndSig) {
  struct Case {
    std::string (*format)(const Decimal&, int);
    const char* value;
    int digits;
    const char* want;
  } cases[] = {
      {Fmt::num, "1234.5", 2, "1,234.5"},
      {Fmt::num, "1234.567", 2, "1,234.57"},
      {Fmt::num, "1234.567", 0, "1,235"},
      {Fmt::num, "-1234.567", 1, "-1,234.6"},
      {Fmt::num, "-0.001", 2, "0"},  // never "-0"
      {Fmt::num, "0.1", 5, "0.1"},
      {Fmt::num, "1000000", 2, "1,000,000"},
      {Fmt::num, "0.00001234567", 6, "0.00001235"},  // grows to 8 digits: four significant shown
      {Fmt::num, "0.000123456", 6, "0.0001235"},
      {Fmt::num, "0.123456789", 6, "0.123457"},  // already ≥ 1000 at 6 digits: stays
      {Fmt::num, "65000.123456789", 6, "65,000.123457"},
      {Fmt::num, "0", 6, "0"},
      {Fmt::num, "-0.00001234567", 6, "-0.00001235"},
      {Fmt::num, "0.000000000000000001234", 6, "0"},  // capped at 17 digits
      {Fmt::num, "0.00000000000001234", 8, "0.00000000000001234"},
      {Fmt::num, "0.00001234567", 5, "0.00001"},  // growing starts above 5 only
      {Fmt::sig, "1234.5678", 3, "1,230"},
      {Fmt::sig, "1234.5678", 6, "1,234.57"},
      {Fmt::sig, "0.00012345", 2, "0.00012"},
      {Fmt::sig, "0.00012355", 3, "0.000124"},
      {Fmt::sig, "9.996", 3, "10"},
      {Fmt::sig, "-98765", 2, "-99,000"},
      {Fmt::sig, "0", 4, "0"},
      {Fmt::sig, "1.5", 4, "1.5"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.format(D(c.value), c.digits), c.want) << c.value << " " << c.digits;
}

}  // namespace
}  // namespace orwenna
