// Typed data from web pages: the refusal policy over documents a drainer would
// send and ordinary ones, every reading failure with its sentence, and the
// reading details that change what gets signed (exact numbers, inferred domain
// types, booleans).
#include "signing/typed_data.h"

#include <gtest/gtest.h>

#include "base/files.h"
#include "signing/wallet_error.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

std::string parseError(const std::string& text) {
  try {
    (void)TypedData::parse(text);
  } catch (const WalletError& e) {
    return e.what();
  }
  return "(read without error)";
}

// A one-field document around a message value, written as raw JSON text so
// numbers reach the reader exactly as a page wrote them.
std::string oneField(const std::string& type, const std::string& valueJson) {
  return R"({"types":{"EIP712Domain":[{"name":"name","type":"string"}],"T":[{"name":"x","type":")" + type +
         R"("}]},"primaryType":"T","domain":{"name":"D"},"message":{"x":)" + valueJson + "}}";
}

TEST(TypedDataPolicy, RefusesWhatDrainersSendAndPassesOrdinaryDocuments) {
  Json data = testing::loadTestJson("typed_data_policy.json");
  int refused = 0, passed = 0, unreadable = 0;
  for (const Json& c : data["cases"]) {
    SCOPED_TRACE(c["name"].get<std::string>());
    std::string text = c["document"].dump();
    if (c.contains("error")) {
      EXPECT_EQ(parseError(text), c["error"].get<std::string>());
      ++unreadable;
      continue;
    }
    TypedData typed = TypedData::parse(text);
    auto refusal = TypedData::refusal(typed);
    if (c["refusal"].is_null()) {
      EXPECT_EQ(refusal, std::nullopt);
      ++passed;
    } else {
      EXPECT_EQ(refusal.value_or("(allowed)"), c["refusal"].get<std::string>());
      ++refused;
    }
  }
  // The table must keep exercising all three outcomes.
  EXPECT_GE(refused, 15);
  EXPECT_GE(passed, 5);
  EXPECT_GE(unreadable, 2);
}

TEST(TypedDataParse, FailsWithTheSentenceForEachUnreadableDocument) {
  const std::string max = "115792089237316195423570985008687907853269984665640564039457584007913129639935";
  const std::string over = "115792089237316195423570985008687907853269984665640564039457584007913129639936";
  std::vector<std::pair<std::string, std::string>> cases{
      {"not json", "Unreadable typed data."},
      {"[]", "Unreadable typed data."},
      {R"({"types":{},"primaryType":"T","domain":{}})", "Unreadable typed data."},
      {R"({"types":[],"primaryType":"T","domain":{},"message":{}})", "Unreadable typed data."},
      {R"({"types":{"T":[]},"primaryType":7,"domain":{},"message":{}})", "Unreadable typed data."},
      {R"({"types":{"T":[]},"primaryType":"T","domain":"x","message":{}})", "Unreadable typed data."},
      {R"({"types":{"U":[]},"primaryType":"T","domain":{},"message":{}})", "Unreadable typed data."},
      {R"({"types":{"T":{}},"primaryType":"T","domain":{},"message":{}})", "Unreadable typed data."},
      {R"({"types":{"T":[{"name":"x"}]},"primaryType":"T","domain":{},"message":{}})", "A field without a name or type."},
      {R"({"types":{"T":[{"name":1,"type":"string"}]},"primaryType":"T","domain":{},"message":{}})",
       "A field without a name or type."},
      {R"({"types":{"EIP712Domain":[{"type":"string"}],"T":[]},"primaryType":"T","domain":{},"message":{}})",
       "A field without a name or type."},
      {R"({"types":{"T":[{"name":"p","type":"Person"}],"Person":[{"name":"n","type":"string"}]},"primaryType":"T","domain":{},"message":{"p":{"n":"a"}}})",
       "orwenna doesn't sign nested typed data (Person) yet."},
      {oneField("address", "null"), "No address."},
      {oneField("address", R"("")"), "No address."},
      {oneField("address", R"("0x12")"), "Invalid address: 0x12"},
      {oneField("address", R"("0x7E5F4552091A69125d5DfCb7b8C2659029395Bdg")"),
       "Invalid address: 0x7E5F4552091A69125d5DfCb7b8C2659029395Bdg"},
      {oneField("bytes32", R"("0x1234")"), "Invalid bytes32."},
      {oneField("bytes32", "12"), "Invalid bytes32."},
      {oneField("bytes32", "\"0x" + std::string(66, 'a') + "\""), "Invalid bytes32."},
      {oneField("bytes", R"("0x123")"), "Invalid bytes."},
      {oneField("bytes", R"("zz")"), "Invalid bytes."},
      {oneField("uint256", R"("12a")"), "Not a number: 12a"},
      {oneField("uint256", "-5"), "Not a number: -5"},
      {oneField("uint256", "1.5"), "Not a number: 1.5"},
      {oneField("uint256", R"("0x")"), "Not a number: 0x"},
      {oneField("uint256", R"(" 5")"), "Not a number:  5"},
      {oneField("uint256", R"("")"), "Not a number: "},
      {oneField("uint256", "true"), "Not a number: true"},
      {oneField("uint64", "null"), "Not a number: "},
      {oneField("uint256", "\"" + over + "\""), "Number out of uint256 range."},
      {oneField("uint256", over), "Number out of uint256 range."},
      {oneField("uint256", "\"0x1" + std::string(64, '0') + "\""), "Number out of uint256 range."},
      {oneField("uint256", "\"" + std::string(5000, '9') + "\""), "Number out of uint256 range."},
      {oneField("int256", "5"), "orwenna doesn't sign type int256 yet."},
      {oneField("bytes4", R"("0x12345678")"), "orwenna doesn't sign type bytes4 yet."},
      {oneField("uint256[]", "[1,2]"), "orwenna doesn't sign type uint256[] yet."},
      {oneField("uint", "5"), "orwenna doesn't sign type uint yet."},
      {oneField("uint7", "5"), "orwenna doesn't sign type uint7 yet."},
  };
  for (const auto& [text, message] : cases) EXPECT_EQ(parseError(text), message) << text;
  // The largest value and leading zeros are fine.
  EXPECT_NO_THROW((void)TypedData::parse(oneField("uint256", max)));
  EXPECT_NO_THROW((void)TypedData::parse(oneField("uint256", "\"000" + max + "\"")));
}

TEST(TypedDataParse, ReadsNumbersExactlyInEveryForm) {
  auto digestOf = [](const std::string& type, const std::string& value) {
    return TypedData::parse(oneField(type, value)).digest;
  };
  const std::string max = "115792089237316195423570985008687907853269984665640564039457584007913129639935";
  // Past 2^53 and past 2^64 a double would round; all forms must agree exactly.
  for (const std::string& n : {std::string("9007199254740993"), std::string("18446744073709551617"), max}) {
    EXPECT_EQ(digestOf("uint256", n), digestOf("uint256", "\"" + n + "\"")) << n;
  }
  EXPECT_EQ(digestOf("uint256", "\"0x" + std::string(64, 'f') + "\""), digestOf("uint256", max));
  EXPECT_EQ(digestOf("uint256", "\"0xFF\""), digestOf("uint256", "255"));
  EXPECT_NE(digestOf("uint256", "18446744073709551617"), digestOf("uint256", "18446744073709551616"));
  EXPECT_NE(digestOf("uint256", "9007199254740993"), digestOf("uint256", "9007199254740992"));
  // The display keeps the page's own text.
  EXPECT_EQ(TypedData::parse(oneField("uint256", "18446744073709551617")).fields[0].value, "18446744073709551617");
  EXPECT_EQ(TypedData::parse(oneField("uint256", "\"0xFF\"")).fields[0].value, "0xFF");
}

TEST(TypedDataParse, BooleansAreTrueOnlyForTrue) {
  auto digestOf = [](const std::string& value) { return TypedData::parse(oneField("bool", value)).digest; };
  auto yes = digestOf("true");
  auto no = digestOf("false");
  EXPECT_NE(yes, no);
  EXPECT_EQ(digestOf(R"("true")"), yes);
  for (const char* other : {"1", R"("TRUE")", R"("yes")", "null", "{}"}) EXPECT_EQ(digestOf(other), no) << other;
}

TEST(TypedDataParse, InfersTheDomainTypeFromTheKeysPresent) {
  // No EIP712Domain: chainId then verifyingContract, whatever the JSON key order.
  std::string text = R"({"types":{"Hello":[{"name":"contents","type":"string"}]},"primaryType":"Hello",
    "domain":{"verifyingContract":"0xA0b86991c6218b36c1d19D4a2e9Eb0cE3606eB48","chainId":8453,"unknownKey":"x"},
    "message":{"contents":"hi","extra":"not signed"}})";
  TypedData typed = TypedData::parse(text);
  using F = EIP712::Field;
  using V = EIP712::Value;
  EIP712::Typed expected{{F{"chainId", "uint256", V::uint(8453)},
                          F{"verifyingContract", "address", V::address("0xA0b86991c6218b36c1d19D4a2e9Eb0cE3606eB48")}},
                         "Hello",
                         {F{"contents", "string", V::string("hi")}}};
  EXPECT_EQ(EIP712::encodeType("EIP712Domain", expected.domain),
            "EIP712Domain(uint256 chainId,address verifyingContract)");
  EXPECT_EQ(typed.digest, EIP712::digest(expected));
  EXPECT_EQ(typed.domainName, "");
  EXPECT_EQ(typed.chainId, "8453");
  EXPECT_EQ(typed.verifyingContract, "0xa0b86991c6218b36c1d19d4a2e9eb0ce3606eb48");
  ASSERT_EQ(typed.fields.size(), 1u);  // undeclared message keys are neither shown nor signed
  EXPECT_EQ(typed.fields[0], (TypedData::Field{"contents", "string", "hi"}));

  // A declared EIP712Domain wins over inference: the same domain object with a
  // declared name-only type gives another digest.
  std::string declared = R"({"types":{"EIP712Domain":[{"name":"chainId","type":"uint256"}],"Hello":[{"name":"contents","type":"string"}]},
    "primaryType":"Hello","domain":{"verifyingContract":"0xA0b86991c6218b36c1d19D4a2e9Eb0cE3606eB48","chainId":8453},
    "message":{"contents":"hi"}})";
  EXPECT_NE(TypedData::parse(declared).digest, typed.digest);
  EXPECT_EQ(TypedData::parse(declared).verifyingContract, "0xa0b86991c6218b36c1d19d4a2e9eb0ce3606eb48");
}

TEST(TypedDataParse, TheMailExampleIsRefusedAsNestedAndItsFlatFormMatchesTheLibrary) {
  Json mail = testing::loadTestJson("eip712_mail.json");
  Json doc = {{"types",
               {{"EIP712Domain",
                 Json::array({{{"name", "name"}, {"type", "string"}},
                              {{"name", "version"}, {"type", "string"}},
                              {{"name", "chainId"}, {"type", "uint256"}},
                              {{"name", "verifyingContract"}, {"type", "address"}}})},
                {"Person", Json::array({{{"name", "name"}, {"type", "string"}}, {{"name", "wallet"}, {"type", "address"}}})},
                {"Mail",
                 Json::array({{{"name", "from"}, {"type", "Person"}},
                              {{"name", "to"}, {"type", "Person"}},
                              {{"name", "contents"}, {"type", "string"}}})}}},
              {"primaryType", "Mail"},
              {"domain", mail["domain"]},
              {"message", mail["message"]}};
  EXPECT_EQ(parseError(doc.dump()), "orwenna doesn't sign nested typed data (Person) yet.");

  // Person alone is flat: its digest is the library's hashStruct of Cow under the Mail domain.
  doc["primaryType"] = "Person";
  doc["message"] = mail["message"]["from"];
  TypedData person = TypedData::parse(doc.dump());
  using F = EIP712::Field;
  using V = EIP712::Value;
  Bytes separator = *fromHex(mail["domainSeparator"].get<std::string>());
  EIP712::Hash domain{};
  std::copy(separator.begin(), separator.end(), domain.begin());
  EIP712::Parts parts{domain,
                      EIP712::hashStruct("Person", {F{"name", "string", V::string("Cow")},
                                                    F{"wallet", "address", V::address(mail["signer"].get<std::string>())}})};
  EXPECT_EQ(person.digest, EIP712::digest(parts));
  EXPECT_EQ(TypedData::refusal(person), std::nullopt);
  Json j = person.toJson();
  EXPECT_EQ(j["domainName"], "Ether Mail");
  EXPECT_EQ(j["chainId"], "1");
  EXPECT_EQ(j["verifyingContract"], "0xcccccccccccccccccccccccccccccccccccccccc");
  EXPECT_EQ(j["fields"][1]["value"], "0xCD2a3d9F938E13CD947Ec05AbC7FE734Df8DD826");
  EXPECT_EQ(*fromBase64(j["digest"].get<std::string>()), Bytes(person.digest.begin(), person.digest.end()));
}

}  // namespace
}  // namespace orwenna
