// EIP-712 struct hashing: the EIP's own Mail example, referenced-type ordering,
// and the encodings a wrong byte would break (padding, widths, bad input).
#include "signing/eip712.h"

#include <gtest/gtest.h>

#include "base/files.h"
#include "base/json.h"
#include "signing/keccak.h"
#include "signing/wallet_error.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

using testing::expectFailure;

using Field = EIP712::Field;
using Value = EIP712::Value;

Value person(const Json& p) {
  return Value::structure("Person", {Field{"name", "string", Value::string(p["name"].get<std::string>())},
                                     Field{"wallet", "address", Value::address(p["wallet"].get<std::string>())}});
}

EIP712::Typed mail(const Json& data) {
  const Json& d = data["domain"];
  const Json& m = data["message"];
  return EIP712::Typed{
      {Field{"name", "string", Value::string(d["name"].get<std::string>())},
       Field{"version", "string", Value::string(d["version"].get<std::string>())},
       Field{"chainId", "uint256", Value::uint(d["chainId"].get<std::uint64_t>())},
       Field{"verifyingContract", "address", Value::address(d["verifyingContract"].get<std::string>())}},
      "Mail",
      {Field{"from", "Person", person(m["from"])}, Field{"to", "Person", person(m["to"])},
       Field{"contents", "string", Value::string(m["contents"].get<std::string>())}}};
}

std::string hex(const EIP712::Hash& h) { return toHex(h); }

std::string repeat(const std::string& s, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += s;
  return out;
}

TEST(EIP712, ReproducesTheMailExample) {
  Json data = testing::loadTestJson("eip712_mail.json");
  EIP712::Typed typed = mail(data);
  std::string type = EIP712::encodeType(typed.type, typed.message);
  EXPECT_EQ(type, data["encodeType"].get<std::string>());
  EXPECT_EQ(toHex(Keccak::hash256(std::string_view(type))), data["typeHash"].get<std::string>());
  EIP712::Parts parts = EIP712::parts(typed);
  EXPECT_EQ(hex(parts.domain), data["domainSeparator"].get<std::string>());
  EXPECT_EQ(hex(parts.message), data["hashStruct"].get<std::string>());
  EXPECT_EQ(hex(EIP712::domainSeparator(typed.domain)), data["domainSeparator"].get<std::string>());
  EXPECT_EQ(hex(EIP712::hashStruct("Mail", typed.message)), data["hashStruct"].get<std::string>());
  EXPECT_EQ(hex(EIP712::digest(typed)), data["digest"].get<std::string>());
  EXPECT_EQ(hex(EIP712::digest(parts)), data["digest"].get<std::string>());
}

TEST(EIP712, TwinsOfTheMailExampleDoNotReproduceIt) {
  Json data = testing::loadTestJson("eip712_mail.json");
  const Json& bad = data["invalid"];
  std::string digest = data["digest"].get<std::string>();

  EIP712::Typed swapped = mail(data);
  std::swap(swapped.message[0], swapped.message[1]);
  EXPECT_EQ(EIP712::encodeType(swapped.type, swapped.message), bad["swappedFieldOrder"].get<std::string>());
  EXPECT_NE(hex(EIP712::digest(swapped)), digest);

  EIP712::Typed text = mail(data);
  text.message[2].value = Value::string(bad["contentsWithoutBang"].get<std::string>());
  EXPECT_NE(hex(EIP712::digest(text)), digest);

  Json shortWallet = data;
  shortWallet["message"]["from"]["wallet"] = bad["shortWallet"];
  EIP712::Typed wallet = mail(shortWallet);
  expectFailure([&] { (void)EIP712::digest(wallet); }, "Invalid address: " + bad["shortWallet"].get<std::string>());
}

TEST(EIP712, ReferencedTypesFollowTheirUserSortedByName) {
  // Zebra is referenced first and itself refers to Apple; the type string still
  // lists Apple before Zebra, each once.
  Value apple = Value::structure("Apple", {Field{"weight", "uint16", Value::uint(3)}});
  Value zebra = Value::structure("Zebra", {Field{"food", "Apple", apple}, Field{"stripes", "bool", Value::boolean(true)}});
  std::vector<Field> top{Field{"z", "Zebra", zebra}, Field{"a", "Apple", apple}, Field{"note", "bytes", Value::bytes({1, 2})}};
  EXPECT_EQ(EIP712::encodeType("Top", top),
            "Top(Zebra z,Apple a,bytes note)Apple(uint16 weight)Zebra(Apple food,bool stripes)");

  // One struct name with two field lists cannot have one type hash.
  Value otherApple = Value::structure("Apple", {Field{"weight", "uint32", Value::uint(3)}});
  std::vector<Field> clash{Field{"a", "Apple", apple}, Field{"b", "Apple", otherApple}};
  expectFailure([&] { (void)EIP712::hashStruct("Basket", clash); },
                    "The struct type Apple is used with two different field lists.");
}

TEST(EIP712, EncodesEachValueKindAsTheStandardWords) {
  struct Case {
    Field field;
    std::string word;
  };
  UInt256 max = ~UInt256(0);
  std::vector<Case> cases{
      {Field{"a", "address", Value::address("0x00000000000000000000000000000000DeaDBeef")},
       "00000000000000000000000000000000000000000000000000000000deadbeef"},
      {Field{"n", "uint256", Value::uint(max)}, std::string(64, 'f')},
      {Field{"b", "bool", Value::boolean(true)}, std::string(63, '0') + "1"},
      {Field{"h", "bytes32", Value::bytes32(Bytes(32, 0xab))}, repeat("ab", 32)},
      // string and bytes are hashed: the empty ones give Keccak-256 of nothing.
      {Field{"s", "string", Value::string("")}, "c5d2460186f7233c927e7db2dcc703c0e500b653ca82273b7bfad8045d85a470"},
      {Field{"d", "bytes", Value::bytes({})}, "c5d2460186f7233c927e7db2dcc703c0e500b653ca82273b7bfad8045d85a470"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(toHex(EIP712::encodeValue(c.field)), c.word) << c.field.type << " " << c.field.name;
  }
  // A string and the same bytes hash alike; bytes32 is never hashed.
  EXPECT_EQ(EIP712::encodeValue(Field{"s", "string", Value::string("abc")}),
            EIP712::encodeValue(Field{"d", "bytes", Value::bytes({'a', 'b', 'c'})}));
}

TEST(EIP712, RefusesValuesThatDoNotFitTheirType) {
  std::vector<std::pair<Field, std::string>> cases{
      {Field{"a", "address", Value::address("0x00000000000000000000000000000000DeaDBee")},
       "Invalid address: 0x00000000000000000000000000000000DeaDBee"},
      {Field{"a", "address", Value::address("0X00000000000000000000000000000000DeaDBeef")},
       "Invalid address: 0X00000000000000000000000000000000DeaDBeef"},
      {Field{"a", "address", Value::address("0x00000000000000000000000000000000DeaDBeeg")},
       "Invalid address: 0x00000000000000000000000000000000DeaDBeeg"},
      {Field{"a", "address", Value::address("00000000000000000000000000000000DeaDBeef00")},
       "Invalid address: 00000000000000000000000000000000DeaDBeef00"},
      {Field{"h", "bytes32", Value::bytes32(Bytes(31, 1))}, "bytes32 must be 32 bytes."},
      {Field{"h", "bytes32", Value::bytes32(Bytes(33, 1))}, "bytes32 must be 32 bytes."},
      {Field{"n", "uint64", Value::string("5")}, "The field n is declared uint64 but holds a string value."},
      {Field{"n", "uint7", Value::uint(5)}, "The field n is declared uint7 but holds a uint value."},
      {Field{"n", "uint264", Value::uint(5)}, "The field n is declared uint264 but holds a uint value."},
      {Field{"n", "uint08", Value::uint(5)}, "The field n is declared uint08 but holds a uint value."},
      {Field{"n", "int256", Value::uint(5)}, "The field n is declared int256 but holds a uint value."},
      {Field{"f", "string", Value::boolean(true)}, "The field f is declared string but holds a bool value."},
      {Field{"p", "Person", Value::structure("People", {})}, "The field p is declared Person but holds a struct value."},
  };
  for (const auto& [field, message] : cases) {
    expectFailure([&] { (void)EIP712::hashStruct("T", {field}); }, message);
  }
}

}  // namespace
}  // namespace orwenna
