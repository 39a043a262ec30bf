// The guardian's decision on the published edge cases, then whole passes
// against the fake exchange along a scripted price path: trailing (new stop
// first, then the old one cancelled), breakeven once after a partial take, a
// rejected replacement tried again, and rules removed only after a good read.
#include "execution/guardian.h"

#include <gtest/gtest.h>

#include "fakes/fake_hyperliquid.h"
#include "fakes/test_trade_signer.h"
#include "signing/hl_action.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

using testing::FakeHyperliquid;

Decimal px(const char* text) { return Decimal::parse(text); }

std::optional<Decimal> movedTo(const std::optional<Guardian::Action>& a) {
  if (!a || !std::holds_alternative<Guardian::StopTo>(*a)) return std::nullopt;
  return std::get<Guardian::StopTo>(*a).price;
}

TEST(GuardianStep, TrailsOnlyByAtLeastATenthAndNeverPastTheMark) {
  ExitRules r = ExitRules::opened(px("1"), px("100"), false, px("2"));
  EXPECT_EQ(movedTo(Guardian::step(r, px("1"), px("97"), px("100"))), px("98"));
  EXPECT_FALSE(Guardian::step(r, px("1"), px("97.9"), px("100")));  // 0.1 < 0.2
  EXPECT_FALSE(Guardian::step(r, px("1"), std::nullopt, px("100")));  // no stop, no trail
  // The mark fell through the candidate: no move, and the peak stays.
  ExitRules fell = r;
  fell.peak = px("110");
  EXPECT_FALSE(Guardian::step(fell, px("1"), px("97"), px("107")));
  EXPECT_EQ(fell.peak, px("110"));
  // A new high raises the peak even when nothing moves.
  EXPECT_FALSE(Guardian::step(r, px("1"), px("99.9"), px("101")));
  EXPECT_EQ(r.peak, px("101"));

  ExitRules s = ExitRules::opened(px("-1"), px("100"), false, px("2"));
  EXPECT_FALSE(Guardian::step(s, px("-1"), px("102.2"), px("101")));  // not above 102.2
  EXPECT_FALSE(Guardian::step(s, px("-1"), px("102.3"), px("103")));  // the mark is past 102
  EXPECT_EQ(movedTo(Guardian::step(s, px("-1"), px("102.3"), px("101"))), px("102"));
  EXPECT_EQ(movedTo(Guardian::step(s, px("-1"), px("102.3"), px("99.5"))), px("101.49"));
}

TEST(GuardianStep, BreakevenOnceWhenThePositionShrinks) {
  ExitRules r = ExitRules::opened(px("2"), px("100"), true, px("2"));
  EXPECT_FALSE(Guardian::step(r, px("2"), px("99"), px("100")));
  auto a = Guardian::step(r, px("1"), px("95"), px("105"));
  ASSERT_TRUE(a && std::holds_alternative<Guardian::StopToBreakeven>(*a));
  EXPECT_TRUE(r.movedToBreakeven);
  // Then only trailing: 105 × 0.98 = 102.9 above 100 + 0.21.
  EXPECT_EQ(movedTo(Guardian::step(r, px("1"), px("100"), px("105"))), px("102.9"));
}

TEST(GuardianStep, RoundsTheCandidateBeforeComparingWithTheMark) {
  // 100.004 × 0.99 = 99.00396; rounded to two places it equals the mark.
  ExitRules r = ExitRules::opened(px("1"), px("100.004"), false, px("1"));
  auto round = [](const Decimal& p) { return HLAction::roundPrice(p, 4, false); };
  EXPECT_TRUE(Guardian::step(r, px("1"), px("90"), px("99.004")));
  EXPECT_FALSE(Guardian::step(r, px("1"), px("90"), px("99.00"), round));
}

TEST(ExitRulesStore, KeepsTheTableAcrossLoadsAndDropsWhatDoesNotDecode) {
  testing::TempDir dir;
  Defaults defaults(dir.path() / "defaults.json");
  ExitRules r = ExitRules::opened(px("-0.5"), px("2000"), true, px("1.5"));
  {
    ExitRulesStore store(defaults);
    store.put("ETH", r);
  }
  EXPECT_EQ(ExitRulesStore(defaults).get("ETH"), r);
  Json table = *defaults.value("exitRules");
  table["BTC"] = Json{{"entry", "1"}};
  defaults.setValue("exitRules", table, "test");
  ExitRulesStore again(defaults);
  EXPECT_EQ(again.all().size(), 1u);
  EXPECT_FALSE(again.get("BTC"));
}

TEST(ManualStop, RefusesAStopBeyondTheRiskRule) {
  RiskPolicy policy;  // 2% per trade
  ManualStop ok = manualStop(px("2000"), px("-0.5"), px("2"), px("10000"), policy);
  EXPECT_EQ(ok.stop, px("2040"));
  EXPECT_FALSE(ok.refusal);  // 20 + 0.5 × 4040 × 0.00045 = 20.909 < 200
  ManualStop no = manualStop(px("2000"), px("5"), px("3"), px("10000"), policy);
  EXPECT_EQ(no.stop, px("1940"));
  // 60 × 5 + 5 × 3940 × 0.00045 = 308.865
  EXPECT_EQ(no.refusal, "A 3% stop means −$308.87, 3.09% of capital. The rule: at most 2%. Stop not moved.");
  EXPECT_FALSE(manualStop(px("2000"), px("5"), px("3"), std::nullopt, policy).refusal);
}

// An ETH long on the fake exchange with a resting stop, and a guardian over it.
struct Watch {
  testing::FixedClock clock{1'800'000'000'000};
  FakeHyperliquid exchange{clock};
  testing::TestTradeSigner signer;
  testing::TempDir dir;
  Journal journal{dir.path() / "journal.jsonl"};
  HLNonces nonces{clock};
  HLOrders orders{{CurlHttpClient::shared(), clock, signer, journal, nonces, exchange.endpoints(), true,
                   signer.address()}};
  ExitRulesStore rules{Defaults(dir.path() / "defaults.json")};
  Decimal mark = px("2000");
  std::vector<Notice> notices;
  Guardian guardian{{orders, rules,
                     [this] {
                       Market m;
                       m.name = "ETH";
                       m.index = 0;
                       m.szDecimals = 4;
                       m.markPx = mark;
                       MarketTable t;
                       t.merge({{"ETH", m}});
                       return t;
                     },
                     [this](const Notice& n) { notices.push_back(n); }}};

  Watch(const char* size, bool breakeven, std::optional<Decimal> trailing) {
    exchange.addMarket("ETH", 4, px("2000"));
    exchange.addAccount(signer.address(), px("10000"));
    exchange.setPosition(signer.address(), "ETH", px(size), px("2000"));
    (void)orders.moveStop(eth(), px("1900"), px("2000"));
    rules.put("ETH", ExitRules::opened(px(size), px("2000"), breakeven, trailing));
  }
  HLAsset eth() const { return {"ETH", 0, 4, std::nullopt}; }
  std::vector<Decimal> stops() const {
    std::vector<Decimal> out;
    for (const auto& o : exchange.orders(signer.address())) {
      if (o.isTrigger && o.tpsl == "sl") out.push_back(o.triggerPx);
    }
    return out;
  }
  std::vector<std::string> types() const {
    std::vector<std::string> out;
    for (const auto& a : exchange.accepted()) out.push_back(a.type);
    return out;
  }
};

TEST(GuardianPass, ARisingMarkReplacesTheStopNewFirst) {
  Watch w("1", false, px("2"));
  w.mark = px("2005");  // candidate 1964.9 > 1900 + 4.01
  auto r = w.guardian.pass();
  EXPECT_EQ(r.moved, std::vector<std::string>{"ETH"});
  EXPECT_EQ(w.stops(), std::vector<Decimal>{px("1964.9")});
  EXPECT_EQ(w.types(), (std::vector<std::string>{"order", "order", "cancel"}));
  ASSERT_EQ(w.notices.size(), 1u);
  EXPECT_EQ(w.notices[0].key, "perp:ETH");
  EXPECT_EQ(w.notices[0].title, "Trailing stop on ETH");
  EXPECT_EQ(w.notices[0].textRU, "стоп передвинут на 1964.9");
  EXPECT_EQ(w.rules.get("ETH")->peak, px("2005"));
  // A step smaller than a tenth of the distance does nothing on the exchange.
  w.mark = px("2008");
  r = w.guardian.pass();
  EXPECT_TRUE(r.moved.empty());
  EXPECT_EQ(w.types().size(), 3u);
  EXPECT_EQ(w.rules.get("ETH")->peak, px("2008"));
}

TEST(GuardianPass, PartialTakeMovesToBreakevenOnceAndARejectionIsRetried) {
  Watch w("1", true, std::nullopt);
  w.exchange.setPosition(w.signer.address(), "ETH", px("0.5"), px("2000"));
  w.mark = px("2100");
  w.exchange.fail(FakeHyperliquid::Failure::rejectStop);
  auto r = w.guardian.pass();
  EXPECT_TRUE(r.moved.empty());
  ASSERT_EQ(r.failures.size(), 1u);
  EXPECT_FALSE(w.rules.get("ETH")->movedToBreakeven);
  EXPECT_EQ(w.stops(), std::vector<Decimal>{px("1900")});
  ASSERT_EQ(w.notices.size(), 1u);  // the failure, told once

  r = w.guardian.pass();
  EXPECT_EQ(r.moved, std::vector<std::string>{"ETH"});
  EXPECT_TRUE(w.rules.get("ETH")->movedToBreakeven);
  EXPECT_EQ(w.stops(), std::vector<Decimal>{px("2000")});
  ASSERT_EQ(w.notices.size(), 2u);
  EXPECT_EQ(w.notices[1].title, "Partial profit taken on ETH");
  EXPECT_EQ(w.notices[1].text, "Stop moved to breakeven.");
  EXPECT_EQ(w.notices[1].titleRU, "Частичная прибыль по ETH");

  const auto count = w.types().size();
  r = w.guardian.pass();
  EXPECT_TRUE(r.moved.empty());
  EXPECT_EQ(w.types().size(), count);
}

TEST(GuardianPass, ClosedPositionLosesItsRulesOnlyAfterAGoodRead) {
  Watch w("1", true, px("2"));
  w.exchange.setPosition(w.signer.address(), "ETH", px("0"), px("0"));
  w.exchange.fail(FakeHyperliquid::Failure::infoDown);
  auto r = w.guardian.pass();
  EXPECT_FALSE(r.ran);
  EXPECT_TRUE(w.rules.get("ETH"));
  w.exchange.clear(FakeHyperliquid::Failure::infoDown);
  r = w.guardian.pass();
  EXPECT_EQ(r.removed, std::vector<std::string>{"ETH"});
  EXPECT_FALSE(w.rules.get("ETH"));
  EXPECT_FALSE(Defaults(w.dir.path() / "defaults.json").value("exitRules")->contains("ETH"));

  // A later, flipped position of the same coin never inherits old rules.
  w.rules.put("ETH", ExitRules::opened(px("1"), px("2000"), true, std::nullopt));
  w.exchange.setPosition(w.signer.address(), "ETH", px("-0.5"), px("2100"));
  r = w.guardian.pass();
  EXPECT_EQ(r.removed, std::vector<std::string>{"ETH"});
  EXPECT_TRUE(r.moved.empty());
}

}  // namespace
}  // namespace orwenna
