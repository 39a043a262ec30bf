// RLP against the published vectors and their malformed twins, ABI encoding
// against the Solidity documentation's worked example, token amounts, refusals
// of typed transactions (their bytes are compared with the reference library
// elsewhere), and the fee caps.
#include <gtest/gtest.h>

#include "base/json.h"
#include "chains/abi.h"
#include "chains/evm_network.h"
#include "chains/evm_transaction.h"
#include "chains/rlp.h"
#include "signing/accounts.h"
#include "signing/evm_signer.h"
#include "signing/wallet_error.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

using testing::errorOf;
using testing::loadTestJson;

RLP itemOf(const Json& j) {
  if (j.is_array()) {
    RLP::List items;
    for (const auto& e : j) items.push_back(itemOf(e));
    return RLP::list(std::move(items));
  }
  if (j.is_number_unsigned()) return RLP::uint(UInt256(j.get<std::uint64_t>()));
  std::string s = j.get<std::string>();
  if (!s.empty() && s[0] == '#') return RLP::uint(*parseUInt256(s.substr(1)));
  return RLP::bytes(asBytes(s));
}

std::string hexOf(ByteView b) { return toHex(b); }

TEST(RLPTest, PublishedVectorsEncodeAndDecodeBack) {
  Json data = loadTestJson("rlp.json");
  ASSERT_GE(data["valid"].size(), 20u);
  for (const auto& v : data["valid"]) {
    SCOPED_TRACE(v["name"].get<std::string>());
    RLP item = itemOf(v["in"]);
    Bytes encoded = item.encode();
    EXPECT_EQ(hexOf(encoded), v["out"].get<std::string>());
    auto back = RLP::decode(encoded);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, item);
  }
}

TEST(RLPTest, MalformedTwinsAreRefused) {
  Json data = loadTestJson("rlp.json");
  ASSERT_GE(data["invalid"].size(), 8u);
  for (const auto& v : data["invalid"]) {
    SCOPED_TRACE(v["name"].get<std::string>());
    auto bytes = fromHex(v["hex"].get<std::string>());
    ASSERT_TRUE(bytes.has_value());
    EXPECT_FALSE(RLP::decode(*bytes).has_value());
  }
}

TEST(RLPTest, LengthBoundariesOfStringsAndLists) {
  struct Case {
    std::size_t size;
    std::string prefix;
  };
  // 55 and 56 bytes are published vectors; these are the next length-of-length steps.
  for (const Case& c : {Case{255, "b8ff"}, Case{256, "b90100"}, Case{65536, "ba010000"}}) {
    Bytes body(c.size, 0xaa);
    Bytes encoded = RLP::bytes(body).encode();
    EXPECT_EQ(hexOf(encoded).substr(0, c.prefix.size()), c.prefix) << c.size;
    EXPECT_EQ(encoded.size(), c.size + c.prefix.size() / 2);
    EXPECT_EQ(RLP::decode(encoded)->asBytes(), body);
  }
  // A list whose payload is 55 bytes keeps the short form; 56 takes the long.
  RLP::List items55(55, RLP::bytes(Bytes{0x01}));
  EXPECT_EQ(hexOf(RLP::list(items55).encode()).substr(0, 2), "f7");
  RLP::List items56(56, RLP::bytes(Bytes{0x01}));
  EXPECT_EQ(hexOf(RLP::list(items56).encode()).substr(0, 4), "f838");
  RLP::List many(3000, RLP::bytes(Bytes{0x81, 0x82}));
  Bytes longList = RLP::list(many).encode();
  EXPECT_EQ(hexOf(longList).substr(0, 8), "f9232882");  // 3000 × 3 = 9000 bytes, then the first item
  EXPECT_EQ(RLP::decode(longList)->asList().size(), 3000u);
}

TEST(ABITest, SolidityDocumentationExample) {
  // f(uint256,uint32[],bytes10,bytes) with (0x123, [0x456, 0x789], "1234567890", "Hello, world!").
  Bytes data = ABI::call("f(uint256,uint32[],bytes10,bytes)",
                         {ABI::Value::uint(0x123),
                          ABI::Value::array({ABI::Value::uint(0x456), ABI::Value::uint(0x789)}),
                          ABI::Value::fixedBytes(asBytes("1234567890")), ABI::Value::bytes(asBytes("Hello, world!"))});
  EXPECT_EQ(toHex(data),
            "8be65246"
            "0000000000000000000000000000000000000000000000000000000000000123"
            "0000000000000000000000000000000000000000000000000000000000000080"
            "3132333435363738393000000000000000000000000000000000000000000000"
            "00000000000000000000000000000000000000000000000000000000000000e0"
            "0000000000000000000000000000000000000000000000000000000000000002"
            "0000000000000000000000000000000000000000000000000000000000000456"
            "0000000000000000000000000000000000000000000000000000000000000789"
            "000000000000000000000000000000000000000000000000000000000000000d"
            "48656c6c6f2c20776f726c642100000000000000000000000000000000000000");
  // baz(uint32,bool) with (69, true), the documentation's static example.
  EXPECT_EQ(toHex(ABI::call("baz(uint32,bool)", {ABI::Value::uint(69), ABI::Value::boolean(true)})),
            "cdcd77c0"
            "0000000000000000000000000000000000000000000000000000000000000045"
            "0000000000000000000000000000000000000000000000000000000000000001");
}

TEST(ABITest, AddressesAreCheckedAndLeftPadded) {
  auto w = ABI::addressWord("0xA0b86991c6218b36c1d19d4a2e9eb0ce3606eB48");
  EXPECT_EQ(toHex(w), "000000000000000000000000a0b86991c6218b36c1d19d4a2e9eb0ce3606eb48");
  for (const char* bad : {"0xa0b86991c6218b36c1d19d4a2e9eb0ce3606eb4", "a0b86991c6218b36c1d19d4a2e9eb0ce3606eb4800",
                          "0xg0b86991c6218b36c1d19d4a2e9eb0ce3606eb48", ""}) {
    EXPECT_EQ(errorOf([&] { (void)ABI::addressWord(bad); }), std::string("Not an address: ") + bad);
  }
}

TEST(ABITest, TokenAmountsFromDecimalText) {
  struct Ok {
    const char* text;
    int decimals;
    const char* units;
  };
  for (const Ok& c : {Ok{"12.5", 6, "12500000"}, Ok{"0.000001", 6, "1"}, Ok{"1.500000000", 6, "1500000"},
                      Ok{"7", 0, "7"}, Ok{".5", 1, "5"}, Ok{"3.", 2, "300"},
                      Ok{"115792089237316195423570985008687907853269984665640564039457584007913129639935", 0,
                         "115792089237316195423570985008687907853269984665640564039457584007913129639935"}}) {
    EXPECT_EQ(toDecimalString(ABI::tokenAmount(c.text, c.decimals)), c.units) << c.text;
  }
  struct Bad {
    std::string text;
    int decimals;
    std::string message;
  };
  for (const Bad& c : {Bad{"0.0000001", 6, "Not a whole token amount: 0.0000001"},
                       Bad{"1.0000005", 6, "Not a whole token amount: 1.0000005"},
                       Bad{"115792089237316195423570985008687907853269984665640564039457584007913129639936", 0,
                           "Amount too large for a word: "
                           "115792089237316195423570985008687907853269984665640564039457584007913129639936"},
                       Bad{"1" + std::string(60, '0'), 18, "Amount too large for a word: 1" + std::string(60, '0')},
                       Bad{"-1", 6, "Not an amount: -1"}, Bad{"1e6", 6, "Not an amount: 1e6"},
                       Bad{".", 6, "Not an amount: ."}, Bad{"1.2.3", 6, "Not an amount: 1.2.3"}}) {
    EXPECT_EQ(errorOf([&] { (void)ABI::tokenAmount(c.text, c.decimals); }), c.message);
  }
}

EVMTransaction sampleTx() {
  EVMTransaction tx;
  tx.chainId = 8453;
  tx.nonce = 0;
  tx.maxPriorityFeePerGas = 1'000'000;
  tx.maxFeePerGas = 20'000'000;
  tx.gasLimit = 21'000;
  tx.to = "0x833589fCD6eDb6E08f4c7C32D4f71b54bdA02913";
  tx.value = UInt256(10) * 1'000'000'000'000'000'000ull;
  tx.data = {0xde, 0xad};
  return tx;
}

TEST(EVMTransactionTest, BadAddressesAndSignaturesAreRefused) {
  EVMTransaction shortTo = sampleTx();
  shortTo.to = "0x833589fcd6edb6e08f4c7c32d4f71b54bda0291";
  EXPECT_EQ(errorOf([&] { (void)EVMTransaction::signingHash(shortTo); }),
            "Invalid recipient address: 0x833589fcd6edb6e08f4c7c32d4f71b54bda0291");
  EVMTransaction badAuthorization = sampleTx();
  badAuthorization.authorizations.push_back({1, "batch", 0, EVMSignature{}});
  EXPECT_EQ(errorOf([&] { (void)EVMTransaction::signingHash(badAuthorization); }),
            "Invalid authorization address: batch");
  EVMSignature bad;
  bad.v = 1;
  EXPECT_THROW((void)EVMTransaction::signedBytes(sampleTx(), bad), WalletError);
}

TEST(EVMNetworkTest, FeeCapsPerChain) {
  struct Case {
    std::uint64_t chain;
    const char* cap;
  };
  for (const Case& c : {Case{1, "50000000000000000"}, Case{42161, "10000000000000000"}, Case{8453, "10000000000000000"},
                        Case{4663, "10000000000000000"}, Case{10, "10000000000000000"}, Case{56, "10000000000000000"},
                        Case{999, "20000000000000000"}, Case{137, "10000000000000000000"},
                        Case{4217, "10000000000000000000"}}) {
    UInt256 cap = *parseUInt256(c.cap);
    EXPECT_EQ(EVMNetwork::feeCap(c.chain), cap) << c.chain;
    EXPECT_FALSE(EVMNetwork::feeProblem(cap, c.chain).has_value()) << c.chain;
    EXPECT_TRUE(EVMNetwork::feeProblem(cap + 1, c.chain).has_value()) << c.chain;
  }
  EXPECT_EQ(*EVMNetwork::feeProblem(UInt256(60'000'000'000'000'000ull), 1),
            "A network fee of 0.06 ETH is more than orwenna signs on Ethereum (up to 0.05 ETH).");
  EXPECT_EQ(*EVMNetwork::feeProblem(UInt256(11) * 1'000'000'000'000'000'000ull, 137),
            "A network fee of 11 POL is more than orwenna signs on Polygon (up to 10 POL).");
  EXPECT_EQ(EVMNetwork::feeCap(5), 0);
  EXPECT_TRUE(EVMNetwork::feeProblem(1, 5).has_value());
  EXPECT_EQ(EVMNetwork::byKey("BNB Chain")->chainId, 56u);
  EXPECT_EQ(EVMNetwork::byKey("hyperevm")->usdc, "0xb88339cb7199b77e23db6e890353e22632ba630f");
  EXPECT_EQ(EVMNetwork::byChainId(56)->usdcDecimals, 18);  // BNB Chain's USDC is not 6
}

TEST(EVMNetworkTest, FormatUnitsIsExact) {
  EXPECT_EQ(formatUnits(0, 18), "0");
  EXPECT_EQ(formatUnits(1, 18), "0.000000000000000001");
  EXPECT_EQ(formatUnits(*parseUInt256("123456789000000000000"), 18), "123.456789");
  EXPECT_EQ(formatUnits(5, 0), "5");
}

}  // namespace
}  // namespace orwenna
