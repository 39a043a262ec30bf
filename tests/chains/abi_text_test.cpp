// Contract reads as text: signatures, argument words and the decoding of
// eth_call answers, against the worked example f(uint256,uint32[],bytes10,bytes)
// of the Solidity documentation (docs.soliditylang.org, the ABI chapter) and
// its broken twins.
#include "chains/abi_text.h"

#include <gtest/gtest.h>

#include "base/bytes.h"
#include "signing/wallet_error.h"

namespace orwenna {
namespace {

// f(0x123, [0x456, 0x789], "1234567890", "Hello, world!") without its selector.
constexpr const char* kExample =
    "0000000000000000000000000000000000000000000000000000000000000123"
    "0000000000000000000000000000000000000000000000000000000000000080"
    "3132333435363738393000000000000000000000000000000000000000000000"
    "00000000000000000000000000000000000000000000000000000000000000e0"
    "0000000000000000000000000000000000000000000000000000000000000002"
    "0000000000000000000000000000000000000000000000000000000000000456"
    "0000000000000000000000000000000000000000000000000000000000000789"
    "000000000000000000000000000000000000000000000000000000000000000d"
    "48656c6c6f2c20776f726c642100000000000000000000000000000000000000";

Bytes hex(std::string_view h) { return *fromHex(h); }

std::string word(std::string_view tail) { return std::string(64 - tail.size(), '0') + std::string(tail); }

TEST(ABIText, SignaturesParseToCanonicalTypesAndRefuseWhatIsNotOne) {
  auto f = ABIFunction::parse("f(uint,uint32[],bytes10,bytes)(bool)");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->signature(), "f(uint256,uint32[],bytes10,bytes)");
  auto g = ABIFunction::parse("positions(bytes32)((address,int24)[2],string)");
  ASSERT_TRUE(g);
  ASSERT_EQ(g->outputs.size(), 2u);
  EXPECT_EQ(g->outputs[0].name(), "(address,int24)[2]");
  EXPECT_FALSE(g->outputs[0].isDynamic());
  EXPECT_TRUE(g->outputs[1].isDynamic());
  EXPECT_TRUE(ABIFunction::parse("decimals()(uint8)"));

  for (const char* bad : {"balanceOf(address)", "balanceOf(address)()", "balanceOf (address)(uint256)",
                          "1f()(bool)", "f(uint7)(bool)", "f(uint264)(bool)", "f(bytes33)(bool)", "f(bytes0)(bool)",
                          "f(uint256[0])(bool)", "f(uint256[01])(bool)", "f(address,)(bool)", "f(())(bool)",
                          "f((address)(bool)", "f(address))(bool)", "f(address)(bool)x", "f(uint256[999][999][999])(bool)",
                          "f()(((((((((((((uint8)))))))))))))"}) {
    EXPECT_FALSE(ABIFunction::parse(bad).has_value()) << bad;
  }
}

TEST(ABIText, TheSolidityExampleEncodesAndDecodesBothWays) {
  auto f = ABIFunction::parse("f(uint256,uint32[],bytes10,bytes)(uint256,uint32[],bytes10,bytes)");
  ASSERT_TRUE(f);
  auto words = abi_text::words(R"(0x123 ["0x456", 1929] 0x31323334353637383930 0x48656c6c6f2c20776f726c6421)");
  ASSERT_TRUE(words);
  ASSERT_EQ(words->size(), 4u);
  std::vector<ABI::Value> values;
  for (std::size_t i = 0; i < words->size(); ++i) values.push_back(abi_text::value(f->inputs[i], (*words)[i]));
  EXPECT_EQ(toHex(ABI::call(f->signature(), values)), std::string("8be65246") + kExample);

  auto decoded = abi_text::decode(f->outputs, hex(kExample));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->dump(), R"(["291",["1110","1929"],"0x31323334353637383930","0x48656c6c6f2c20776f726c6421"])");
}

TEST(ABIText, AnswersThatDoNotHoldTheTypesDecodeToNothing) {
  auto types = [](const char* list) { return *ABIType::parseList(list); };
  const Bytes example = hex(kExample);
  const auto f = types("uint256,uint32[],bytes10,bytes");

  Bytes truncated(example.begin(), example.end() - 32);
  EXPECT_FALSE(abi_text::decode(f, truncated)) << "the bytes' content is missing";
  Bytes farOffset = example;
  farOffset[63] = 0xff;  // the list's offset points past the end
  EXPECT_FALSE(abi_text::decode(f, farOffset));
  Bytes longList = example;
  longList[32 * 4 + 31] = 0x40;  // 64 elements claimed, 2 present
  EXPECT_FALSE(abi_text::decode(f, longList));
  Bytes hugeList = example;
  for (int i = 0; i < 24; ++i) hugeList[32 * 4 + i] = 0xff;  // a length far beyond any memory
  EXPECT_FALSE(abi_text::decode(f, hugeList));
  EXPECT_FALSE(abi_text::decode(types("uint256"), {})) << "an empty answer (a call to no contract)";

  // Each elementary type refuses a word it cannot hold; the twin that it can holds.
  struct Case {
    const char* type;
    std::string good, goodText, bad;
  };
  const std::vector<Case> cases{
      {"uint8", word("ff"), R"(["255"])", word("100")},
      {"int8", std::string(62, 'f') + "80", R"(["-128"])", std::string(62, '0') + "80"},
      {"int16", std::string(60, 'f') + "ff85", R"(["-123"])", std::string(58, '0') + "01" + "ff85"},
      {"bool", word("1"), "[true]", word("2")},
      {"address", word("833589fcd6edb6e08f4c7c32d4f71b54bda02913"), R"(["0x833589fCD6eDb6E08f4c7C32D4f71b54bdA02913"])",
       word("01833589fcd6edb6e08f4c7c32d4f71b54bda02913")},
      {"bytes2", "abcd" + std::string(60, '0'), R"(["0xabcd"])", "abcd01" + std::string(58, '0')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    auto good = abi_text::decode(types(c.type), hex(c.good));
    ASSERT_TRUE(good);
    EXPECT_EQ(good->dump(), c.goodText);
    EXPECT_FALSE(abi_text::decode(types(c.type), hex(c.bad)));
  }
}

TEST(ABIText, ArgumentWordsAreCheckedAgainstTheirTypes) {
  auto value = [](const char* type, Json word) { return abi_text::value(*ABIType::parse(type), word); };
  EXPECT_EQ(value("int8", "-128").number, UInt256(0) - 128);
  EXPECT_EQ(value("uint256", "max").number, ~UInt256(0));
  EXPECT_EQ(value("uint16", "max").number, UInt256(65535));
  EXPECT_EQ(value("int256", "max").number, (~UInt256(0)) >> 1);
  EXPECT_EQ(value("(address,bool)", Json::parse(R"(["0x833589fCD6eDb6E08f4c7C32D4f71b54bdA02913", true])")).items.size(), 2u);

  struct Bad {
    const char* type;
    Json word;
  };
  for (const auto& b : std::vector<Bad>{{"int8", "-129"}, {"int8", "128"}, {"uint8", "256"}, {"uint256", "-1"},
                                        {"uint256", "1.5"}, {"bool", "yes"}, {"address", "0x1234"},
                                        {"bytes4", "0x123456"}, {"bytes", "abcd"}, {"uint256[2]", Json::parse("[1]")},
                                        {"(address,bool)", Json::parse("[true]")}, {"uint256[]", "1,2"}}) {
    SCOPED_TRACE(b.type + std::string(" ") + b.word.dump());
    EXPECT_THROW(value(b.type, b.word), WalletError);
  }

  auto words = abi_text::words(R"(me "two words" [1, "a b"] {"k": "]"} last)");
  ASSERT_TRUE(words);
  ASSERT_EQ(words->size(), 5u);
  EXPECT_EQ((*words)[1], "two words");
  EXPECT_EQ((*words)[2], Json::parse(R"([1, "a b"])"));
  EXPECT_EQ((*words)[3]["k"], "]");
  EXPECT_FALSE(abi_text::words(R"(me [1, 2)"));
}

}  // namespace
}  // namespace orwenna
