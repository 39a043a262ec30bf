// The order flows against the fake exchange, which recovers every signature
// and refuses reused nonces: the full open with stop and take, each scripted
// failure, stop and take moves, transfers, testnet, and the journal trail.
#include "execution/hl_orders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <thread>

#include "base/text.h"
#include "execution/execution_error.h"
#include "fakes/fake_hyperliquid.h"
#include "fakes/test_trade_signer.h"
#include "hyperliquid/exchange.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

using testing::FakeHyperliquid;
using Failure = FakeHyperliquid::Failure;
using OpenState = HLOrders::OpenResult::Position;

Decimal dec(const char* text) { return Decimal::parse(text); }

bool hasLine(const HLOrders::Report& r, const std::string& piece) {
  return std::any_of(r.lines.begin(), r.lines.end(), [&](const std::string& l) { return l.find(piece) != std::string::npos; });
}

// One account on the fake exchange, its signer, journal and nonces.
struct Desk {
  testing::FixedClock clock{1'800'000'000'000};
  FakeHyperliquid exchange;
  testing::TestTradeSigner signer;
  testing::TempDir dir;
  Journal journal{dir.path() / "journal.jsonl"};
  HLNonces nonces{clock};
  HLOrders orders;

  explicit Desk(bool mainnet = true, bool exchangeMainnet = true)
      : exchange(clock, exchangeMainnet),
        orders({CurlHttpClient::shared(), clock, signer, journal, nonces, exchange.endpoints(), mainnet,
                signer.address()}) {
    exchange.addMarket("BTC", 5, dec("60000"));
    exchange.addMarket("ETH", 4, dec("2000"));
    exchange.addAccount(signer.address(), dec("10000"), dec("50"));
  }

  HLAsset eth() const { return {"ETH", 1, 4, std::nullopt}; }

  HLOrders::OpenPlan ethLong() const {
    HLOrders::OpenPlan p;
    p.asset = eth();
    p.isLong = true;
    p.size = dec("0.5");
    p.mid = dec("2000");
    p.leverage = 5;
    p.stop = dec("1900");
    p.take = dec("2200");
    return p;
  }

  std::vector<std::string> acceptedTypes() const {
    std::vector<std::string> out;
    for (const auto& a : exchange.accepted()) {
      out.push_back(a.type);
      EXPECT_EQ(a.signer, signer.address());
    }
    return out;
  }

  // Every nonce's entries in order, e.g. "signed confirmed".
  std::map<std::string, std::string> trail() const {
    std::map<std::string, std::string> out;
    for (const auto& e : journal.entries()) {
      std::string& t = out[e.id];
      t += (t.empty() ? "" : " ") + std::string(Journal::kindName(e.kind));
    }
    return out;
  }
};

TEST(HLOpenPosition, LeverageEntryStopAndTakeAllSignedAcceptedAndJournaled) {
  Desk d;
  HLOrders::OpenPlan plan = d.ethLong();
  plan.partialTake = dec("2100");
  auto result = d.orders.openPosition(plan);

  EXPECT_EQ(result.position, OpenState::protectedByStop);
  EXPECT_EQ(result.lines.front(), "Leverage 5×, isolated margin.");
  EXPECT_TRUE(hasLine(result, "Entry filled 0.5 at 2000."));
  EXPECT_TRUE(hasLine(result, "Stop at 1900 and take-profit at 2200 placed."));
  EXPECT_EQ(d.acceptedTypes(), (std::vector<std::string>{"updateLeverage", "order", "order", "order"}));
  EXPECT_EQ(d.exchange.actions().size(), 4u);

  auto actions = d.exchange.accepted();
  EXPECT_EQ(actions[0].action.dump(), R"({"type":"updateLeverage","asset":1,"isCross":false,"leverage":5})");
  // IOC one percent through the mid; triggers bounded ten percent past their price.
  EXPECT_EQ(actions[1].action["orders"][0]["p"], "2020");
  EXPECT_EQ(actions[1].action["orders"][0]["t"]["limit"]["tif"], "Ioc");
  EXPECT_EQ(actions[1].action["grouping"], "na");
  const Json& protection = actions[2].action;
  EXPECT_EQ(protection["grouping"], "positionTpsl");
  EXPECT_EQ(protection["orders"][0]["p"], "1710");
  EXPECT_EQ(protection["orders"][0]["t"]["trigger"]["tpsl"], "sl");
  EXPECT_EQ(protection["orders"][1]["p"], "1980");
  EXPECT_EQ(protection["orders"][1]["t"]["trigger"]["triggerPx"], "2200");
  EXPECT_EQ(actions[3].action["orders"][0]["s"], "0.25");

  auto positions = d.exchange.positions(d.signer.address());
  ASSERT_EQ(positions.size(), 1u);
  EXPECT_EQ(positions[0].szi, dec("0.5"));
  EXPECT_EQ(d.exchange.orders(d.signer.address()).size(), 3u);

  auto trail = d.trail();
  ASSERT_EQ(trail.size(), 4u);
  for (const auto& [id, kinds] : trail) EXPECT_EQ(kinds, "signed confirmed") << id;
  EXPECT_EQ(d.journal.entries()[1].note, "ok");
  EXPECT_EQ(d.journal.entries()[3].note, "filled 0.5 at 2000");
}

TEST(HLOpenPosition, StopAndTakeFollowTheFilledSizeNotThePlan) {
  Desk d;
  d.exchange.fail(Failure::partialFill);
  auto result = d.orders.openPosition(d.ethLong());
  EXPECT_EQ(result.size, dec("0.25"));
  for (const auto& o : d.exchange.orders(d.signer.address())) EXPECT_EQ(o.size, dec("0.25"));
}

TEST(HLOpenPosition, ARejectedStopClosesThePositionAndCancelsTheOrphanedTake) {
  Desk d;
  d.exchange.fail(Failure::rejectStop);
  auto result = d.orders.openPosition(d.ethLong());
  EXPECT_EQ(result.position, OpenState::closed);
  EXPECT_TRUE(hasLine(result, "The stop didn't go through: Invalid TP/SL price. asset=1. Closing the position so it "
                              "isn't left unprotected."));
  EXPECT_TRUE(hasLine(result, "Cancelled the orphaned take-profit."));
  EXPECT_TRUE(d.exchange.positions(d.signer.address()).empty());
  EXPECT_TRUE(d.exchange.orders(d.signer.address()).empty());
  // The protection action failed as a whole; the close and the cancel went through.
  std::vector<std::string> outcomes;
  for (const auto& e : d.journal.entries()) {
    if (e.kind != Journal::Entry::Kind::signed_) outcomes.push_back(std::string(Journal::kindName(e.kind)));
  }
  EXPECT_EQ(outcomes, (std::vector<std::string>{"confirmed", "confirmed", "failed", "confirmed", "confirmed"}));
}

TEST(HLOpenPosition, ARejectedTakeKeepsThePositionItsStopGuards) {
  Desk d;
  d.exchange.fail(Failure::rejectTake);
  auto result = d.orders.openPosition(d.ethLong());
  EXPECT_EQ(result.position, OpenState::protectedByStop);
  EXPECT_TRUE(hasLine(result, "The take-profit didn't go through: Invalid TP/SL price. asset=1. The stop is in place"));
  ASSERT_EQ(d.exchange.positions(d.signer.address()).size(), 1u);
  auto resting = d.exchange.orders(d.signer.address());
  ASSERT_EQ(resting.size(), 1u);
  EXPECT_EQ(resting[0].tpsl, "sl");
  EXPECT_EQ(d.exchange.accepted().size(), 3u);  // no close was sent
}

TEST(HLOpenPosition, ALostOrUnreadableEntryReplyReadsThePositionsAndPlacesTheStop) {
  for (Failure failure : {Failure::loseReply, Failure::html502}) {
    Desk d;
    d.exchange.fail(failure);
    auto result = d.orders.openPosition(d.ethLong());
    EXPECT_EQ(result.position, OpenState::protectedByStop);
    EXPECT_TRUE(hasLine(result, "The entry's reply didn't come, but the long position is open: placing its stop."));
    EXPECT_EQ(result.size, dec("0.5"));
    EXPECT_EQ(d.exchange.orders(d.signer.address()).size(), 2u);
    // The entry's outcome was never read: its journal entry stays open.
    auto open = d.journal.open();
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].note, "entry");
  }
}

TEST(HLOpenPosition, ALostReplyWithNoPositionOrNoReadableStateSaysSo) {
  Desk d;
  HLOrders::OpenPlan plan = d.ethLong();
  d.exchange.fail(Failure::loseReply);
  d.exchange.fail(Failure::infoDown);
  auto unknown = d.orders.openPosition(plan);
  EXPECT_EQ(unknown.position, OpenState::unknown);
  EXPECT_TRUE(hasLine(unknown, "check Hyperliquid now."));
  EXPECT_EQ(d.exchange.orders(d.signer.address()).size(), 0u);

  // A stale mid leaves the IOC unfilled: a plain rejection, not a lost reply.
  Desk e;
  plan.mid = dec("1900");
  auto unfilled = e.orders.openPosition(plan);
  EXPECT_EQ(unfilled.position, OpenState::none);
  EXPECT_EQ(unfilled.lines.back(),
            "The entry didn't fill (Order could not immediately match against any resting orders. asset=1). No "
            "position; the money is on your Hyperliquid balance.");
}

TEST(HLOpenPosition, RefusedLeverageStopsBeforeAnyOrderAndASmallHalfSkipsThePartialTake) {
  Desk d;
  d.exchange.fail(Failure::rejectLeverage);
  EXPECT_EQ(testing::errorOf([&] { d.orders.openPosition(d.ethLong()); }),
            "Hyperliquid rejected leverage 5×: Invalid leverage value. No order was placed.");
  EXPECT_TRUE(d.exchange.accepted().empty());
  EXPECT_EQ(d.trail().begin()->second, "signed failed");

  // $18 of ETH: half is $9, under the $10 minimum.
  Desk s;
  HLOrders::OpenPlan plan = s.ethLong();
  plan.size = dec("0.009");
  plan.partialTake = dec("2100");
  auto result = s.orders.openPosition(plan);
  EXPECT_EQ(result.lines.back(), "Partial take-profit skipped: half the position is below the $10 minimum order.");
  EXPECT_EQ(s.exchange.orders(s.signer.address()).size(), 2u);
}

TEST(HLOrdersMoves, MoveStopPlacesTheNewStopFirstThenCancelsTheOld) {
  Desk d;
  d.orders.openPosition(d.ethLong());
  auto before = d.exchange.orders(d.signer.address());
  EXPECT_EQ(testing::errorOf([&] { d.orders.moveStop(d.eth(), dec("2050"), dec("2000")); }),
            "Stop 2050 is at or above the price 2000: it would trigger at once. To exit, type «close».");

  auto moved = d.orders.moveStop(d.eth(), dec("1950"), dec("2000"));
  EXPECT_EQ(moved.lines.front(), "Stop moved to 1950.");
  auto types = d.acceptedTypes();
  EXPECT_EQ(std::vector<std::string>(types.end() - 2, types.end()), (std::vector<std::string>{"order", "cancel"}));
  auto after = d.exchange.orders(d.signer.address());
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(after[0].tpsl, "tp");
  EXPECT_EQ(after[1].triggerPx, dec("1950"));

  // The book decides whether a failed cancel left two stops.
  d.exchange.fail(Failure::rejectCancel);
  auto twice = d.orders.moveStop(d.eth(), dec("1960"), dec("2000"));
  EXPECT_EQ(twice.lines.back(),
            "Hyperliquid didn't cancel the old stop at 1950 (Cancel failed.): both stops rest, cancel the old one on "
            "Hyperliquid.");
  ASSERT_EQ(d.exchange.orders(d.signer.address()).size(), 3u);
  d.orders.cancel(d.eth(), {d.exchange.orders(d.signer.address())[1].oid}, "old stop");

  auto even = d.orders.moveStop(d.eth(), dec("2001"), dec("2010"), dec("2000"));
  EXPECT_EQ(even.lines.front(),
            "Stop moved to 2001 (entry 2000 plus fees). The trade can no longer end in a loss, barring slippage.");

  auto take = d.orders.moveTake(d.eth(), dec("2300"), dec("2000"));
  EXPECT_EQ(take.text(), "Take-profit moved to 2300.");
  after = d.exchange.orders(d.signer.address());
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(after[1].triggerPx, dec("2300"));

  EXPECT_EQ(d.orders.partialClose(d.eth(), dec("0.2"), dec("2000")).text(),
            "Closed 0.2 ETH at 2000, 0.3 left, stop and take-profit in place.");
  d.exchange.setMid("ETH", dec("2010"));
  auto closed = d.orders.close(d.eth(), dec("2010"));
  EXPECT_TRUE(hasLine(closed, "Closed the long 0.3 ETH: filled 0.3 at 2010 (PnL before the close: 3 USDC)."));
  EXPECT_TRUE(d.exchange.positions(d.signer.address()).empty());
  EXPECT_TRUE(d.exchange.orders(d.signer.address()).empty());
  EXPECT_EQ(testing::errorOf([&] { d.orders.close(d.eth(), dec("2000")); }), "No open ETH position.");
}

TEST(HLOrdersMoves, LimitEntryRestsWithItsStopAndTakeAsChildren) {
  Desk d;
  auto report = d.orders.placeLimit({d.eth(), true, dec("0.5"), dec("1850.123"), dec("1800"), dec("1950")});
  EXPECT_EQ(report.text(), "Limit placed: long 0.5 ETH at 1850.1, stop 1800, take-profit 1950.");
  auto resting = d.exchange.orders(d.signer.address());
  ASSERT_EQ(resting.size(), 1u);
  EXPECT_EQ(resting[0].children.size(), 2u);
  EXPECT_EQ(d.exchange.accepted().back().action["grouping"], "normalTpsl");

  auto cancelled = d.orders.cancel(d.eth(), {resting[0].oid, 1}, "limit order");
  EXPECT_EQ(cancelled.lines, (std::vector<std::string>{
                                 "Hyperliquid didn't cancel the limit order: Order was never placed, already "
                                 "canceled, or filled. asset=1."}));
  EXPECT_TRUE(d.exchange.orders(d.signer.address()).empty());
}

TEST(HLSubmissions, ConcurrentSubmissionsGetUniqueStrictlyIncreasingNonces) {
  Desk d;
  constexpr int kThreads = 8;
  constexpr int kEach = 125;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kEach; ++i) d.orders.submit(HLAction::updateLeverage(0, false, 3), "leverage");
    });
  }
  for (auto& t : threads) t.join();
  auto seen = d.exchange.actions();
  ASSERT_EQ(seen.size(), 1000u);
  std::set<std::uint64_t> unique;
  for (std::size_t i = 0; i < seen.size(); ++i) {
    EXPECT_TRUE(seen[i].accepted) << seen[i].refusal;
    if (i > 0) {
      EXPECT_GT(seen[i].nonce, seen[i - 1].nonce);
    }
    unique.insert(seen[i].nonce);
  }
  EXPECT_EQ(unique.size(), 1000u);
  EXPECT_EQ(d.journal.entries().size(), 2000u);
}

TEST(HLSubmissions, TheFakeAcceptsOnlyTheAccountOrItsAgentAndNeverANonceTwice) {
  Desk d;
  testing::TestTradeSigner agent(1);
  HLOrders viaAgent({CurlHttpClient::shared(), d.clock, agent, d.journal, d.nonces, d.exchange.endpoints(), true,
                     d.signer.address()});
  HLReply stranger = viaAgent.submit(HLAction::updateLeverage(0, false, 2), "leverage");
  EXPECT_EQ(stranger.text(), "User or API Wallet " + text::asciiLowercased(agent.address()) + " does not exist.");

  d.exchange.approveAgent(d.signer.address(), agent.address());
  EXPECT_EQ(viaAgent.submit(HLAction::updateLeverage(0, false, 2), "leverage").text(), "ok");
  EXPECT_EQ(d.exchange.actions().back().account, text::asciiLowercased(d.signer.address()));
  // Money moves need the account's own key.
  EXPECT_EQ(testing::errorOf([&] { viaAgent.usdClassTransfer(dec("1"), false); }),
            "Hyperliquid refused the transfer: User or API Wallet " + text::asciiLowercased(agent.address()) +
                " does not exist.");

  // The same signed body twice: the second is a reused nonce.
  MsgPack action = HLAction::updateLeverage(0, false, 4);
  Json body = HLExchange::body(action, 1'800'000'000'500, d.signer.signHyperliquidL1(action, 1'800'000'000'500, true),
                               std::nullopt);
  EXPECT_EQ(HLReply::parse(HLExchange::post(CurlHttpClient::shared(), body, true, d.exchange.endpoints())).text(), "ok");
  EXPECT_EQ(HLReply::parse(HLExchange::post(CurlHttpClient::shared(), body, true, d.exchange.endpoints())).text(),
            "Invalid nonce: duplicate nonce 1800000000500.");
  // Three days behind the clock is stale, even if never used.
  const std::uint64_t stale = 1'800'000'000'000 - 3 * 86'400'000;
  body = HLExchange::body(action, stale, d.signer.signHyperliquidL1(action, stale, true), std::nullopt);
  EXPECT_EQ(HLReply::parse(HLExchange::post(CurlHttpClient::shared(), body, true, d.exchange.endpoints())).text(),
            "Invalid nonce: nonce 1799740800000 is too far from the current time.");
}

TEST(HLSubmissions, TransfersAreUserSignedJournaledAndCheckedFirst) {
  Desk d;
  EXPECT_EQ(d.orders.usdClassTransfer(dec("30"), true).text(), "Moved 30 USDC from spot to perp.");
  EXPECT_EQ(d.exchange.spotUSDC(d.signer.address()), dec("20"));
  EXPECT_EQ(d.orders.sendToDex(dec("100"), "xyz").text(),
            "Transfer 100 USDC from the main Hyperliquid balance to the xyz exchange — its markets have their own "
            "margin.");
  EXPECT_EQ(d.exchange.accepted().back().action["token"], HLOrders::kUSDCToken);
  EXPECT_EQ(d.orders.vaultTransfer("0xdfc24b077bc1425ad1dea75bcb6f8158e10df303", true, dec("250.5")).text(),
            "Deposited 250.5 USDC into the vault 0xdfc24b077bc1425ad1dea75bcb6f8158e10df303.");
  EXPECT_EQ(d.exchange.accepted().back().action["usd"], 250500000);
  EXPECT_EQ(d.exchange.vaultEquity(d.signer.address(), "0xdfc24b077bc1425ad1dea75bcb6f8158e10df303"), dec("250.5"));

  int signaturesBefore = d.signer.userSignatures();
  EXPECT_EQ(testing::errorOf([&] { d.orders.usdSend(text::asciiLowercased(d.signer.address()), dec("5")); }),
            "That is this wallet's own Hyperliquid account.");
  EXPECT_EQ(d.signer.userSignatures(), signaturesBefore);
  EXPECT_EQ(testing::errorOf([&] {
              d.orders.submitUser([](std::uint64_t) { return HLAction::updateLeverage(0, false, 1); }, "x", {});
            }),
            "No nonce");
  for (const auto& [id, kinds] : d.trail()) EXPECT_EQ(kinds, "signed confirmed") << id;
  EXPECT_EQ(d.trail().size(), 3u);
}

TEST(HLSubmissions, TestnetSignsAndPostsForTestnet) {
  Desk testnet(false, false);
  EXPECT_EQ(testnet.orders.openPosition(testnet.ethLong()).position, OpenState::protectedByStop);
  EXPECT_EQ(testnet.orders.usdClassTransfer(dec("10"), false).text(), "Moved 10 USDC from perp to spot.");
  // A mainnet exchange recovers another signer from a testnet signature.
  Desk crossed(false, true);
  EXPECT_TRUE(testing::errorOf([&] { crossed.orders.openPosition(crossed.ethLong()); })
                  .starts_with("Hyperliquid rejected leverage 5×: User or API Wallet 0x"));
}

}  // namespace
}  // namespace orwenna
