// Hex, Base64 and the fixed-width integers.
#include "base/bytes.h"
#include "base/uint.h"

#include <gtest/gtest.h>

namespace orwenna {
namespace {

TEST(Hex, RoundTripsAndRefusesMalformedText) {
  Bytes b{0x00, 0x01, 0xab, 0xff};
  EXPECT_EQ(toHex(b), "0001abff");
  EXPECT_EQ(toHex0x(b), "0x0001abff");
  EXPECT_EQ(fromHex("0x0001ABff"), b);
  EXPECT_EQ(fromHex(""), Bytes{});
  EXPECT_FALSE(fromHex("0x0001abff", false));
  EXPECT_FALSE(fromHex("abc"));
  EXPECT_FALSE(fromHex("zz"));
  EXPECT_FALSE(fromHex("0x0x00"));
}

TEST(Base64, MatchesTheRfc4648Vectors) {
  // RFC 4648 section 10.
  const std::pair<const char*, const char*> vectors[] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},
                                                        {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
                                                        {"foobar", "Zm9vYmFy"}};
  for (auto [plain, encoded] : vectors) {
    EXPECT_EQ(toBase64(asBytes(plain)), encoded);
    EXPECT_EQ(asString(*fromBase64(encoded)), plain);
  }
  Bytes b{0xfb, 0xff, 0xfe};
  EXPECT_EQ(toBase64(b), "+//+");
  EXPECT_EQ(toBase64Url(b), "-__-");
  EXPECT_EQ(toBase64Url(asBytes("f")), "Zg");
  EXPECT_EQ(fromBase64Url("-__-"), b);
  EXPECT_EQ(asString(*fromBase64Url("Zg")), "f");
  EXPECT_EQ(asString(*fromBase64Url("Zg==")), "f");
}

TEST(Base64, RefusesWhatIsNotCanonical) {
  for (const char* bad : {"Zg", "Zg=", "Z===", "Zh==", "Zm9v!", "Zm 9v", "-__-", "Zm9vYg==Zg==", "="}) {
    EXPECT_FALSE(fromBase64(bad)) << bad;
  }
  for (const char* bad : {"+//+", "Z", "Zh", "Zg="}) EXPECT_FALSE(fromBase64Url(bad)) << bad;
}

TEST(UInt256, ParsesAndPrintsDecimalAndHex) {
  const char* max = "115792089237316195423570985008687907853269984665640564039457584007913129639935";
  EXPECT_EQ(toDecimalString(*parseUInt256(max)), max);
  EXPECT_FALSE(parseUInt256("115792089237316195423570985008687907853269984665640564039457584007913129639936"));
  EXPECT_FALSE(parseUInt256(""));
  EXPECT_FALSE(parseUInt256("-1"));
  EXPECT_FALSE(parseUInt256("1.0"));
  EXPECT_EQ(*parseUInt128("340282366920938463463374607431768211455"), std::numeric_limits<UInt128>::max());
  EXPECT_FALSE(parseUInt128("340282366920938463463374607431768211456"));

  EXPECT_EQ(toHexQuantity(0), "0x0");
  EXPECT_EQ(toHexQuantity(*parseUInt256Hex("0x00ff")), "0xff");
  EXPECT_EQ(*parseUInt256Hex("DE0B6B3A7640000"), UInt256(1000000000000000000ull));
  EXPECT_EQ(*parseUInt256Hex("0x" + std::string(64, 'f')), std::numeric_limits<UInt256>::max());
  EXPECT_FALSE(parseUInt256Hex("0x1" + std::string(64, '0')));
  EXPECT_EQ(*parseUInt256Hex("0x" + std::string(70, '0') + "1"), UInt256(1));
  EXPECT_FALSE(parseUInt256Hex("0x"));
  EXPECT_FALSE(parseUInt256Hex("0xg1"));
}

TEST(UInt256, ConvertsToBigEndianAndChecksOverflow) {
  UInt256 v = *parseUInt256Hex("0x0102");
  auto full = toBigEndian32(v);
  ASSERT_EQ(full.size(), 32u);
  EXPECT_EQ(full[30], 1);
  EXPECT_EQ(full[31], 2);
  EXPECT_EQ(toBigEndianMinimal(v), (Bytes{1, 2}));
  EXPECT_TRUE(toBigEndianMinimal(0).empty());
  EXPECT_EQ(fromBigEndian(full), v);
  UInt256 max = std::numeric_limits<UInt256>::max();
  EXPECT_FALSE(checkedAdd(max, 1));
  EXPECT_EQ(*checkedAdd(max - 1, 1), max);
  EXPECT_FALSE(checkedMul(max / 2 + 1, 2));
  EXPECT_EQ(*checkedMul(max / 2, 2), max - 1);
}

}  // namespace
}  // namespace orwenna
