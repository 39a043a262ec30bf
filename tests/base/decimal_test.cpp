#include "base/decimal.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace orwenna {
namespace {

Decimal D(const char* s) { return Decimal::parse(s); }

TEST(Decimal, ParsesAndPrintsPlainText) {
  struct Case { const char* in; const char* out; };
  for (Case c : {Case{"0", "0"}, {"-0", "0"}, {"0.000", "0"}, {"007", "7"}, {"1.50", "1.5"}, {"-12.340", "-12.34"},
                 {"100", "100"}, {"0.0001", "0.0001"}, {"123456789012345678901234567890.12345678", "123456789012345678901234567890.12345678"},
                 {"0.00000000000000000000000000000000000001", "0.00000000000000000000000000000000000001"},
                 {"1000000000000000000000000000000000000000000", "1000000000000000000000000000000000000000000"}}) {
    EXPECT_EQ(D(c.in).toString(), c.out) << c.in;
  }
}

TEST(Decimal, RefusesAnythingButPlainDecimalText) {
  for (const char* bad : {"", "-", "1,5", "1e5", "1E5", "--1", "+1", " 1", "1 ", ".5", "5.", "1.2.3", "0x10", "NaN",
                          "inf", "١٢", "1_000", "1'000"}) {
    try {
      (void)Decimal::parse(bad);
      ADD_FAILURE() << "accepted \"" << bad << "\"";
    } catch (const NumberFormatError& e) {
      EXPECT_EQ(std::string(e.what()), std::string("Unexpected number format: ") + bad);
    }
    EXPECT_FALSE(Decimal::tryParse(bad).has_value()) << bad;
  }
}

TEST(Decimal, RoundsInputBeyondThirtyEightDigitsHalfAwayFromZero) {
  // 39 significant digits: the last one decides.
  EXPECT_EQ(D("1.00000000000000000000000000000000000005").toString(), "1.0000000000000000000000000000000000001");
  EXPECT_EQ(D("1.00000000000000000000000000000000000004").toString(), "1");
  EXPECT_EQ(D("-9.99999999999999999999999999999999999995").toString(), "-10");
  EXPECT_EQ(D("99999999999999999999999999999999999999.5").toString(), "100000000000000000000000000000000000000");
}

TEST(Decimal, ArithmeticIsExactThenRoundsOnceToThirtyEightDigits) {
  struct Case { const char* a; char op; const char* b; const char* out; };
  for (Case c : {
           Case{"0.1", '+', "0.2", "0.3"},
           {"9.56", '+', "0.425898", "9.985898"},
           {"99.99", '+', "0.01", "100"},  // carry through every digit
           {"1", '-', "1.000001", "-0.000001"},
           {"-5", '+', "5", "0"},
           {"-2.5", '-', "-2.5", "0"},
           {"123456789012345678901234567890", '+', "0.000001", "123456789012345678901234567890.000001"},
           // 1 + 1e-38 needs 39 digits; the extra unit is below the 38th digit.
           {"1", '+', "0.00000000000000000000000000000000000001", "1"},
           {"1", '+', "0.00000000000000000000000000000000000005", "1.0000000000000000000000000000000000001"},
           {"1", '-', "0.000000000000000000000000000000000000000000000001", "1"},
           {"-1.5", '*', "2", "-3"},
           {"-1.5", '*', "-0.2", "0.3"},
           {"0", '*', "-7", "0"},
           {"99999999999999999999", '*', "99999999999999999999", "9999999999999999999800000000000000000000"},
           {"9999999999999999999", '*', "9999999999999999999", "99999999999999999980000000000000000001"},
           {"3", '*', "3.3333333333333333333333333333333333335", "10.000000000000000000000000000000000001"},
           {"-3", '*', "3.3333333333333333333333333333333333335", "-10.000000000000000000000000000000000001"},
           {"1", '/', "3", "0.33333333333333333333333333333333333333"},
           {"2", '/', "3", "0.66666666666666666666666666666666666667"},
           {"-2", '/', "3", "-0.66666666666666666666666666666666666667"},
           {"1", '/', "8", "0.125"},
           {"100", '/', "0.25", "400"},
           {"1", '/', "0.0000000000000000000000000000000000003", "3333333333333333333333333333333333333.3"},
       }) {
    Decimal a = D(c.a), b = D(c.b);
    Decimal r = c.op == '+' ? a + b : c.op == '-' ? a - b : c.op == '*' ? a * b : a / b;
    EXPECT_EQ(r.toString(), c.out) << c.a << ' ' << c.op << ' ' << c.b;
    EXPECT_EQ(r, D(c.out)) << c.a << ' ' << c.op << ' ' << c.b;  // one form per value, no negative zero
  }
  EXPECT_EQ((D("4.78") * D("198") * D("0.00045")).toString(), "0.425898");
  EXPECT_EQ((Decimal(10) / D("2.0891")).rounded(2, RoundingMode::down).toString(), "4.78");
  // A number far below the other's last digit cannot change it, whatever its sign.
  Decimal big = D("12345678901234567890123456789012345678").scaledByPowerOfTen(60);
  Decimal tiny = D("0.000000000000000000000000000000000000000000000000001");
  EXPECT_EQ(big + tiny, big);
  EXPECT_EQ(big - tiny, big);
  EXPECT_THROW((void)(D("1") / Decimal()), std::domain_error);
}

TEST(Decimal, RoundsToAScaleInEveryMode) {
  struct Case { const char* in; int scale; RoundingMode mode; const char* out; };
  const RoundingMode down = RoundingMode::down, up = RoundingMode::up, zero = RoundingMode::towardZero,
                     half = RoundingMode::halfAwayFromZero;
  for (Case c : {Case{"2.345", 2, half, "2.35"}, {"-2.345", 2, half, "-2.35"}, {"2.344", 2, half, "2.34"},
                 {"2.341", 2, up, "2.35"}, {"-2.341", 2, up, "-2.34"}, {"2.349", 2, down, "2.34"},
                 {"-2.341", 2, down, "-2.35"}, {"-2.349", 2, zero, "-2.34"}, {"2.349", 2, zero, "2.34"},
                 {"9.999", 2, half, "10"}, {"9.999", 2, up, "10"}, {"0.004", 2, half, "0"}, {"0.005", 2, half, "0.01"},
                 {"-0.004", 2, down, "-0.01"}, {"0.0000001", 0, up, "1"}, {"-0.0000001", 0, up, "0"},
                 {"1.5", 5, down, "1.5"}, {"1250", -2, half, "1300"}, {"1249", -2, half, "1200"},
                 {"99999999999999999999999999999999999999", -1, half, "100000000000000000000000000000000000000"},
                 {"0.00000000000000000000000000000000000000000001", 2, up, "0.01"},
                 {"0.00000000000000000000000000000000000000000001", 2, half, "0"}}) {
    EXPECT_EQ(D(c.in).rounded(c.scale, c.mode).toString(), c.out)
        << c.in << " to " << c.scale << " mode " << static_cast<int>(c.mode);
  }
}

TEST(Decimal, ComparesByValue) {
  EXPECT_EQ(D("1.50"), D("1.5"));
  EXPECT_LT(D("-2"), D("-1.99"));
  EXPECT_LT(D("-0.001"), Decimal());
  EXPECT_GT(D("0.001"), Decimal());
  EXPECT_LT(D("99.9"), D("100"));
  EXPECT_LT(D("0.00012"), D("0.0012"));
  EXPECT_GT(D("1000000000000000000000000000000000000000"), D("999999999999999999999999999999999999990"));
  EXPECT_TRUE(D("10") > 9);
  EXPECT_EQ(std::hash<Decimal>()(D("2.50")), std::hash<Decimal>()(D("2.5")));
}

TEST(Decimal, ReadsJsonNumbersThroughTheirShortestText) {
  using J = nlohmann::ordered_json;
  EXPECT_EQ(Decimal::fromJson(J::parse("0.1")).toString(), "0.1");
  EXPECT_EQ(Decimal::fromJson(J::parse("0.30000000000000004")).toString(), "0.30000000000000004");
  EXPECT_EQ(Decimal::fromJson(J::parse("1e-7")).toString(), "0.0000001");
  EXPECT_EQ(Decimal::fromJson(J::parse("2.5e3")).toString(), "2500");
  EXPECT_EQ(Decimal::fromJson(J::parse("-12")).toString(), "-12");
  EXPECT_EQ(Decimal::fromJson(J::parse("18446744073709551615")).toString(), "18446744073709551615");
  EXPECT_EQ(Decimal::fromJson(J::parse("\"64231.5\"")).toString(), "64231.5");
  EXPECT_THROW((void)Decimal::fromJson(J::parse("\"1e5\"")), NumberFormatError);
  EXPECT_THROW((void)Decimal::fromJson(J::parse("true")), NumberFormatError);
  EXPECT_THROW((void)Decimal::fromJson(J::parse("null")), NumberFormatError);
  J j = D("-0.25");
  EXPECT_EQ(j.dump(), "\"-0.25\"");
}

TEST(Decimal, ConvertsToIntegersOnlyWhenExact) {
  EXPECT_EQ(D("42").toInt64(), 42);
  EXPECT_EQ(D("-9223372036854775808").toInt64(), INT64_MIN);
  EXPECT_FALSE(D("9223372036854775808").toInt64());
  EXPECT_FALSE(D("1.5").toInt64());
  EXPECT_FALSE(D("100000000000000000000000000000").toInt64());
  EXPECT_EQ(D("1.005").toFixed(2), "1.01");
  EXPECT_EQ(D("3").toFixed(2), "3.00");
  EXPECT_EQ(D("0.5").toFixed(0), "1");
}

TEST(Decimal, RefusesValuesBeyondItsRange) {
  Decimal big = D("99999999999999999999999999999999999999").scaledByPowerOfTen(Decimal::kMaxExponent);
  EXPECT_THROW((void)(big * Decimal(10)), std::overflow_error);
  EXPECT_THROW((void)Decimal::parse(("1" + std::string(200, '0')).c_str()), NumberFormatError);
}

}  // namespace
}  // namespace orwenna
