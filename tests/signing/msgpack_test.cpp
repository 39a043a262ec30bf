// MessagePack encoding of action values against the published test suite and
// at the largest header width; the tagged JSON form and its strict decoder; the
// exchange's plain JSON form.
#include "signing/msgpack.h"

#include <gtest/gtest.h>

#include "base/files.h"
#include "signing/wallet_error.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

std::string hexOf(const MsgPack& v) { return toHex(v.encoded()); }

TEST(MsgPackEncoding, MatchesPublishedSuite) {
  Json data = testing::loadTestJson("msgpack.json");
  ASSERT_GT(data["valid"].size(), 30u);
  for (const Json& v : data["valid"]) {
    MsgPack value = MsgPack::fromPlainJson(v["value"]);
    EXPECT_EQ(hexOf(value), v["msgpack"].get<std::string>()) << v["value"].dump();
    EXPECT_EQ(value.toPlainJson(), v["value"]);
  }
  // Negative and fractional numbers have no case: refused, not approximated.
  for (const Json& v : data["invalid"]) {
    EXPECT_THROW((void)MsgPack::fromPlainJson(v), WalletError) << v.dump();
    EXPECT_THROW((void)MsgPack::fromPlainJson(Json{{"n", v}}), WalletError) << v.dump();
  }
}

TEST(MsgPackEncoding, LargestHeadersAndTheRefusalBeyondThem) {
  // Smaller widths are compared with the reference encoder across every
  // boundary; here, the last length a header can hold and what lies past it.
  auto arrayOf = [](std::size_t n) { return MsgPack::array(MsgPack::Array(n, MsgPack::uint(1))); };
  auto mapOf = [](std::size_t n) {
    MsgPack m = MsgPack::map({});
    for (std::size_t i = 0; i < n; ++i) m.append("k", MsgPack::null());  // duplicates are kept
    return m;
  };
  EXPECT_EQ(hexOf(arrayOf(65535)).substr(0, 6), "dcffff");
  EXPECT_EQ(mapOf(16).encoded().size(), 3u + 16 * 3);
  // No header exists beyond 65535 entries: refused rather than truncated.
  EXPECT_THROW((void)arrayOf(65536).encoded(), WalletError);
  EXPECT_THROW((void)mapOf(65536).encoded(), WalletError);
}

TEST(MsgPackEncoding, MapsKeepInsertionOrderAndDuplicates) {
  MsgPack ba = MsgPack::map({{"b", MsgPack::uint(1)}, {"a", MsgPack::uint(2)}});
  MsgPack ab = MsgPack::map({{"a", MsgPack::uint(2)}, {"b", MsgPack::uint(1)}});
  EXPECT_EQ(hexOf(ba), "82a16201a16102");
  EXPECT_FALSE(ba == ab);
  MsgPack dup = MsgPack::map({{"a", MsgPack::uint(1)}, {"a", MsgPack::uint(2)}});
  EXPECT_EQ(hexOf(dup), "82a16101a16102");
  EXPECT_EQ(*dup.find("a")->uintValue(), 1u);  // lookups see the first pair
  EXPECT_EQ(dup.find("z"), nullptr);
  EXPECT_EQ(MsgPack::uint(3).find("a"), nullptr);
}

MsgPack sampleAction() {
  return MsgPack::map({
      {"type", MsgPack::string("order")},
      {"orders", MsgPack::array({MsgPack::map({{"a", MsgPack::uint(4)},
                                               {"b", MsgPack::boolean(true)},
                                               {"p", MsgPack::string("1670.1")},
                                               {"n", MsgPack::null()},
                                               {"big", MsgPack::uint(18446744073709551615ULL)}})})},
      {"grouping", MsgPack::string("na")},
  });
}

TEST(MsgPackJson, TaggedFormRoundTrips) {
  MsgPack action = sampleAction();
  Json tagged = action.toJson();
  EXPECT_EQ(tagged["kind"], "map");
  EXPECT_EQ(tagged["keys"], Json::parse(R"(["type","orders","grouping"])"));
  EXPECT_EQ(tagged["values"][0], Json::parse(R"({"kind":"string","string":"order"})"));
  const Json& wire = tagged["values"][1]["array"][0];
  EXPECT_EQ(wire["values"][3], Json::parse(R"({"kind":"null"})"));
  EXPECT_EQ(wire["values"][4]["uint"].get<std::uint64_t>(), 18446744073709551615ULL);
  // Through text and back, byte for byte.
  MsgPack back = MsgPack::fromJson(Json::parse(tagged.dump()));
  EXPECT_EQ(back.encoded(), action.encoded());
}

TEST(MsgPackJson, TaggedDecoderRefusesAnythingElse) {
  const char* bad[] = {
      R"(5)",
      R"({})",
      R"({"kind":5})",
      R"({"kind":"int","int":5})",
      R"({"kind":"null","null":null})",
      R"({"kind":"bool"})",
      R"({"kind":"bool","bool":1})",
      R"({"kind":"uint","uint":-1})",
      R"({"kind":"uint","uint":1.5})",
      R"({"kind":"uint","uint":"5"})",
      R"({"kind":"uint","uint":18446744073709551616})",
      R"({"kind":"uint","uint":5,"string":"x"})",
      R"({"kind":"string","string":null})",
      R"({"kind":"array","array":{}})",
      R"({"kind":"array","array":[5]})",
      R"({"kind":"map","keys":["a"]})",
      R"({"kind":"map","keys":["a"],"values":[]})",
      R"({"kind":"map","keys":[1],"values":[{"kind":"null"}]})",
      R"({"kind":"map","keys":["a"],"values":[{"kind":"uint","uint":-3}]})",
  };
  for (const char* text : bad) {
    EXPECT_THROW((void)MsgPack::fromJson(Json::parse(text)), WalletError) << text;
  }
  // Nesting is bounded, so hostile input cannot exhaust the stack.
  Json deep = Json::parse(R"({"kind":"null"})");
  for (int i = 0; i < 200; ++i) deep = Json{{"kind", "array"}, {"array", Json::array({deep})}};
  EXPECT_THROW((void)MsgPack::fromJson(deep), WalletError);
  // The refusal names the value it could not take.
  EXPECT_NE(testing::errorOf([] { (void)MsgPack::fromJson(Json::parse(R"({"kind":"uint","uint":-1})")); }).find("-1"),
            std::string::npos);
}

TEST(MsgPackJson, PlainFormKeepsOrderAndRefusesWhatCannotBeSent) {
  Json plain = Json::parse(R"({"type":"scheduleCancel","time":123456789,"z":[true,null,"1.5"]})");
  MsgPack v = MsgPack::fromPlainJson(plain);
  EXPECT_EQ(v.mapValue()->at(0).first, "type");
  EXPECT_EQ(v.mapValue()->at(1).first, "time");
  EXPECT_EQ(v.toPlainJson().dump(), plain.dump());
  EXPECT_THROW((void)MsgPack::fromPlainJson(Json::parse(R"({"p":1670.1})")), WalletError);
  // A map that repeats a key has no JSON form that reads back as the same bytes.
  MsgPack dup = MsgPack::map({{"a", MsgPack::uint(1)}, {"a", MsgPack::uint(2)}});
  EXPECT_THROW((void)dup.toPlainJson(), WalletError);
}

}  // namespace
}  // namespace orwenna
