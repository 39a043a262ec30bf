// Hyperliquid action builders and the L1 action hash: wire key order, number
// text, cloid and index checks, price and size rounding, and the connection id
// the exchange's own SDK publishes.
#include "signing/hl_action.h"

#include <gtest/gtest.h>

#include "base/files.h"
#include "signing/hl_signer.h"
#include "signing/wallet_error.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

Decimal dec(const char* text) { return Decimal::parse(text); }

using testing::errorOf;

// An order as the vector files describe it.
HLOrder orderFrom(const Json& d) {
  HLOrder o;
  o.asset = d["asset"].get<std::int64_t>();
  o.isBuy = d["isBuy"].get<bool>();
  o.price = dec(d["price"].get<std::string>().c_str());
  o.size = dec(d["size"].get<std::string>().c_str());
  o.reduceOnly = d["reduceOnly"].get<bool>();
  if (d.contains("trigger")) {
    o.kind = HLOrder::Trigger{dec(d["trigger"].get<std::string>().c_str()), d["isMarket"].get<bool>(),
                              d["tpsl"].get<std::string>()};
  } else {
    o.kind = HLOrder::Limit{d["tif"].get<std::string>()};
  }
  if (d.contains("cloid")) o.cloid = d["cloid"].get<std::string>();
  return o;
}

TEST(HLOrderWire, BuildersMatchPublishedActions) {
  Json data = testing::loadTestJson("hl_signing.json");
  int built = 0;
  for (const char* group : {"connectionIds", "l1"}) {
    for (const Json& v : data[group]) {
      if (!v.contains("order")) continue;
      HLOrder order = orderFrom(v["order"]);
      MsgPack action = HLAction::order(std::span(&order, 1), "na");
      EXPECT_EQ(toHex(action.encoded()), toHex(MsgPack::fromPlainJson(v["action"]).encoded())) << v["name"];
      ++built;
    }
  }
  EXPECT_EQ(built, 4);
}

TEST(HLOrderWire, RefusesBadNumbersCloidsAndIndexes) {
  HLOrder good;
  good.isBuy = true;
  good.price = dec("1");
  good.size = dec("1");
  struct Case {
    std::function<void(HLOrder&)> change;
    std::string message;
  };
  const std::string cloidMessage = "cloid must be 0x plus 32 hex characters.";
  const Case cases[] = {
      {[](HLOrder& o) { o.price = dec("1.123456789"); }, "1.123456789: more than 8 decimal places."},
      {[](HLOrder& o) { o.size = dec("0.000000001"); }, "0.000000001: more than 8 decimal places."},
      {[](HLOrder& o) { o.kind = HLOrder::Trigger{dec("2.000000005"), true, "sl"}; },
       "2.000000005: more than 8 decimal places."},
      {[](HLOrder& o) { o.cloid = "0123456789abcdef0123456789abcdef"; }, cloidMessage},
      {[](HLOrder& o) { o.cloid = "0x0123456789abcdef0123456789abcde"; }, cloidMessage},
      {[](HLOrder& o) { o.cloid = "0x0123456789abcdef0123456789abcdef0"; }, cloidMessage},
      {[](HLOrder& o) { o.cloid = "0x0123456789abcdef0123456789abcdeg"; }, cloidMessage},
      {[](HLOrder& o) { o.cloid = "0X0123456789abcdef0123456789abcdef"; }, cloidMessage},
      {[](HLOrder& o) { o.cloid = ""; }, cloidMessage},
      {[](HLOrder& o) { o.asset = -1; }, "Invalid asset index -1: it can't be negative."},
  };
  for (const Case& c : cases) {
    HLOrder bad = good;
    c.change(bad);
    // The bad order second: nothing is built for the good one either.
    std::vector<HLOrder> orders{good, bad};
    EXPECT_EQ(errorOf([&] { (void)HLAction::order(orders, "na"); }), c.message);
  }
  EXPECT_EQ(errorOf([&] { (void)HLAction::order(std::vector<HLOrder>{good}, "na"); }), "");
}

TEST(HLCancel, BuildsInOrderAndRefusesNegatives) {
  std::vector<HLCancel> cancels{{5, 91490942}, {0, 4294967296}};
  EXPECT_EQ(HLAction::cancel(cancels).toPlainJson().dump(),
            R"({"type":"cancel","cancels":[{"a":5,"o":91490942},{"a":0,"o":4294967296}]})");
  EXPECT_EQ(errorOf([] { (void)HLAction::cancel(std::vector<HLCancel>{{1, 2}, {1, -7}}); }),
            "Invalid order id -7: it can't be negative.");
  EXPECT_EQ(errorOf([] { (void)HLAction::cancel(std::vector<HLCancel>{{-2, 2}}); }),
            "Invalid asset index -2: it can't be negative.");
}

TEST(HLLeverageAndVault, KeysInTheExchangesOrderAndRefusals) {
  EXPECT_EQ(HLAction::updateLeverage(4, false, 10).toPlainJson().dump(),
            R"({"type":"updateLeverage","asset":4,"isCross":false,"leverage":10})");
  EXPECT_TRUE(HLAction::isAgentAction(HLAction::updateLeverage(0, false, 1)));
  EXPECT_EQ(errorOf([] { (void)HLAction::updateLeverage(1, false, 0); }), "Invalid leverage 0: it must be at least 1.");
  // "usd" is in millionths of a dollar.
  EXPECT_EQ(HLAction::vaultTransfer("0xdfc24b077bc1425ad1dea75bcb6f8158e10df303", false, dec("12.000001"))
                .toPlainJson()
                .dump(),
            R"({"type":"vaultTransfer","vaultAddress":"0xdfc24b077bc1425ad1dea75bcb6f8158e10df303",)"
            R"("isDeposit":false,"usd":12000001})");
  EXPECT_EQ(errorOf([] { (void)HLAction::vaultTransfer("0x01", true, dec("1.0000001")); }),
            "Invalid vault amount 1.0000001: it must be positive, with at most 6 decimals.");
  EXPECT_EQ(errorOf([] { (void)HLAction::vaultTransfer("0x01", true, dec("0")); }),
            "Invalid vault amount 0: it must be positive, with at most 6 decimals.");
}

TEST(HLWireDecimal, PlainTextWithAtMostEightDecimals) {
  const std::pair<const char*, const char*> good[] = {
      {"1.50000000", "1.5"}, {"0.00000000", "0"}, {"-0", "0"}, {"0.00000001", "0.00000001"}, {"120000", "120000"},
  };
  for (const auto& [in, out] : good) {
    EXPECT_EQ(HLAction::wireDecimal(dec(in)), out) << in;
  }
  const std::pair<const char*, const char*> bad[] = {
      {"0.000000001", "0.000000001: more than 8 decimal places."},
      {"0.999999999", "0.999999999: more than 8 decimal places."},
  };
  for (const auto& [in, message] : bad) {
    EXPECT_EQ(errorOf([&] { (void)HLAction::wireDecimal(dec(in)); }), message) << in;
  }
  // Builders of user-signed actions hold amounts to the same rule.
  EXPECT_EQ(errorOf([] { (void)HLAction::usdSend("0x1", dec("0.123456789"), 1, true); }),
            "0.123456789: more than 8 decimal places.");
}

TEST(HLRounding, PricesKeepFiveSignificantFiguresWithinTheDecimalBudget) {
  struct Case {
    const char* price;
    int szDecimals;
    bool spot;
    const char* expected;
  };
  const Case cases[] = {
      {"1234.567", 0, false, "1234.6"},       // e = 3: one decimal
      {"0.0123456", 0, false, "0.012346"},    // five significant figures
      {"98765.4", 5, false, "98765"},         // then at most one decimal
      {"123456.7", 0, false, "123457"},       // whole prices are never rounded to tens
      {"1000", 2, false, "1000"},             // a power of ten: e = 3 exactly
      {"999.995", 0, false, "1000"},          // rounding carries into a new digit
      {"0.00012345678", 0, true, "0.00012346"},
      {"0.00012345678", 0, false, "0.000123"},  // perp allows six decimals only
      {"1.23456", 3, false, "1.235"},
      {"1.23455", 0, false, "1.2346"},        // half rounds up
      {"43.21", 6, true, "43.21"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HLAction::roundPrice(dec(c.price), c.szDecimals, c.spot).toString(), c.expected)
        << c.price << " sz" << c.szDecimals << (c.spot ? " spot" : " perp");
  }
  EXPECT_EQ(errorOf([] { (void)HLAction::roundPrice(dec("0"), 0, false); }),
            "A price of 0 can't be rounded: it must be above zero.");
  EXPECT_EQ(errorOf([] { (void)HLAction::roundPrice(dec("-5"), 0, false); }),
            "A price of -5 can't be rounded: it must be above zero.");
}

TEST(HLRounding, SizesRoundTowardZero) {
  EXPECT_EQ(HLAction::roundSize(dec("1.239"), 2).toString(), "1.23");
  EXPECT_EQ(HLAction::roundSize(dec("0.999"), 0).toString(), "0");
  EXPECT_EQ(HLAction::roundSize(dec("-1.239"), 2).toString(), "-1.23");
  EXPECT_EQ(HLAction::roundSize(dec("5"), 3).toString(), "5");
}

TEST(HLAgentActions, OnlyTradingTypesForATradingKey) {
  auto typed = [](MsgPack type) { return MsgPack::map({{"type", std::move(type)}}); };
  for (const char* t : {"order", "cancel", "updateLeverage", "batchModify", "modify"}) {
    EXPECT_TRUE(HLAction::isAgentAction(typed(MsgPack::string(t)))) << t;
  }
  const MsgPack refused[] = {
      typed(MsgPack::string("withdraw3")),      typed(MsgPack::string("approveAgent")),
      typed(MsgPack::string("Order")),          typed(MsgPack::string("vaultTransfer")),
      typed(MsgPack::uint(1)),                  MsgPack::map({{"kind", MsgPack::string("order")}}),
      MsgPack::array({MsgPack::string("order")}), MsgPack::string("order"),
  };
  for (const MsgPack& a : refused) EXPECT_FALSE(HLAction::isAgentAction(a)) << a.toJson().dump();
}

TEST(HLActionHash, MatchesPublishedConnectionIdAndTwinsDiffer) {
  Json data = testing::loadTestJson("hl_signing.json");
  const Json& v = data["connectionIds"][0];
  std::string id = toHex0x(HLSigner::actionHash(MsgPack::fromPlainJson(v["action"]), std::nullopt,
                                                v["nonce"].get<std::uint64_t>(), std::nullopt));
  EXPECT_EQ(id, v["connectionId"].get<std::string>());
  for (const Json& twin : data["twins"]) {
    if (twin["of"] != "connectionIds/0") continue;
    std::optional<std::uint64_t> expires;
    if (twin.contains("expiresAfter")) expires = twin["expiresAfter"].get<std::uint64_t>();
    std::string other = toHex0x(HLSigner::actionHash(MsgPack::fromPlainJson(twin["action"]), std::nullopt,
                                                     twin["nonce"].get<std::uint64_t>(), expires));
    EXPECT_NE(other, id) << twin["why"];
  }
}

TEST(HLActionHash, TrailerLayout) {
  MsgPack action = MsgPack::map({{"type", MsgPack::string("scheduleCancel")}});
  Bytes body = action.encoded();
  const std::uint64_t nonce = 0x0102030405060708ULL;
  auto tail = [&](const Bytes& b) { return toHex(ByteView(b).subspan(body.size())); };

  Bytes plain = HLSigner::actionHashPreimage(action, std::nullopt, nonce, std::nullopt);
  EXPECT_EQ(tail(plain), "010203040506070800");

  Bytes vault = HLSigner::actionHashPreimage(action, "0x1719884EB866cb12b2287399b15f7db5e7d775ea", nonce, std::nullopt);
  EXPECT_EQ(tail(vault), "0102030405060708011719884eb866cb12b2287399b15f7db5e7d775ea");

  Bytes both = HLSigner::actionHashPreimage(action, "0x1719884eb866cb12b2287399b15f7db5e7d775ea", nonce, 255);
  EXPECT_EQ(tail(both), "0102030405060708011719884eb866cb12b2287399b15f7db5e7d775ea0000000000000000ff");

  for (const char* badVault : {"0x1719884eb866cb12b2287399b15f7db5e7d775", "0x1719884eb866cb12b2287399b15f7db5e7d775eaff",
                               "0xzz19884eb866cb12b2287399b15f7db5e7d775ea", "", "1719884eb866cb12b2287399b15f7db5e7d775e"}) {
    EXPECT_EQ(errorOf([&] { (void)HLSigner::actionHash(action, std::string(badVault), nonce, std::nullopt); }),
              "Invalid vault address.")
        << badVault;
  }
}

}  // namespace
}  // namespace orwenna
