// The executor end to end against the fakes: the fake exchange (which
// recovers every signature), a fake Relay and a fake Solana node, signing in
// process with the published test phrase. A trade funded from withdrawable
// and one funded through Relay; the price re-check; the refusals at prepare;
// one plan opening one position; the bridge's checks, expiry, refund and
// credit threshold; and what the journal says after each.
#include "execution/executor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "chains/solana_fake_node.h"
#include "chains/solana_transaction.h"
#include "defi/relay.h"
#include "execution/execution_error.h"
#include "execution/hl_nonces.h"
#include "fakes/fake_hyperliquid.h"
#include "fakes/fake_relay.h"
#include "fakes/test_trade_signer.h"
#include "signing/accounts.h"
#include "signing/base58.h"
#include "signing/derivation.h"
#include "signing/mnemonic.h"
#include "support/test_support.h"

// A namespace of its own: unity builds put these tests beside the order tests.
namespace orwenna::executor_test {
namespace {

using testing::FakeHyperliquid;
using testing::FakeRelay;
using testing::FakeSolanaNode;

Decimal dec(const char* text) { return Decimal::parse(text); }

// The test phrase's Hyperliquid key, and its Solana key for Relay deposits.
class DeskSigner final : public TradeSigner {
 public:
  DeskSigner() {
    SecretBytes seed = Mnemonic::seed(testing::TestTradeSigner::kPhrase, "");
    solanaKey_ = Derivation::ed25519(seed.span(), WalletPath::solana(0));
    solana_ = SolanaAccount::address(solanaKey_.span());
  }
  const std::string& solana() const { return solana_; }
  const std::string& evm() const { return hl_.address(); }
  int l1() const { return hl_.l1Signatures(); }
  int solanaSignatures() const { return solanaCount_.load(); }
  // L1 signatures from this one on are declined (-1: none).
  std::atomic<int> refuseFrom{-1};

  Bytes signSolana(const signer_request::SignSolana& request) override {
    ++solanaCount_;
    Bytes message = SolanaTransaction::checkForSigning(request.wire, solana_);
    auto signature = Ed25519::sign(solanaKey_.span(), message);
    return SolanaTransaction::attach(request.wire, signature);
  }
  EVMSignature signHyperliquidL1(const MsgPack& action, std::uint64_t nonce, bool mainnet) override {
    if (refuseFrom >= 0 && l1Asked_++ >= refuseFrom) throw SignerError("The approval was declined.");
    return hl_.signHyperliquidL1(action, nonce, mainnet);
  }
  EVMSignature signHyperliquidUser(const MsgPack& a, bool m, const std::vector<std::string>& r) override {
    return hl_.signHyperliquidUser(a, m, r);
  }
  EVMSignature signRelayNonceMapping(const signer_request::SignRelayNonceMapping& r) override {
    return hl_.signRelayNonceMapping(r);
  }
  Bytes signEVMTransaction(const signer_request::SignEVMTransaction& r) override { return hl_.signEVMTransaction(r); }
  std::string approvalName() const override { return "the test key"; }
  Bytes signEVMBatch(const signer_request::SignEVMBatch& r) override { return hl_.signEVMBatch(r); }
  Bytes signNearIntentDeposit(const signer_request::SignNearIntentDeposit& r) override {
    return hl_.signNearIntentDeposit(r);
  }
  Bytes signNearTransfer(const signer_request::SignNearTransfer& r) override { return hl_.signNearTransfer(r); }
  Bytes signNearDeleteAccount(const signer_request::SignNearDeleteAccount& r) override {
    return hl_.signNearDeleteAccount(r);
  }

 private:
  testing::TestTradeSigner hl_;
  SecretBytes solanaKey_;
  std::string solana_;
  std::atomic<int> solanaCount_{0};
  std::atomic<int> l1Asked_{0};
};

struct Desk {
  testing::FixedClock clock{1'800'000'000'000};
  FakeHyperliquid exchange{clock};
  FakeRelay relayServer;
  FakeSolanaNode node;
  DeskSigner signer;
  testing::TempDir dir;
  Journal journal{dir.path() / "journal.jsonl"};
  HLNonces nonces{clock};
  HLOrders orders{{CurlHttpClient::shared(), clock, signer, journal, nonces, exchange.endpoints(), true, signer.evm()}};
  SolanaRPC solana{SolanaRPC::pinnedTo(CurlHttpClient::shared(), clock, node.url())};
  RelayClient relay{CurlHttpClient::shared(), relayServer.url()};
  std::vector<std::string> reported;
  Executor executor{{{signer.solana(), signer.evm()}, orders, clock, CurlHttpClient::shared(), &solana, &relay,
                     [this](const std::string& l) { reported.push_back(l); }}};

  // What Relay credits on Hyperliquid once the deposit lands, as a share of its quote's output.
  Decimal creditShare = dec("0.995");
  std::atomic<int> statusCalls{0};
  std::uint64_t height = 50;

  explicit Desk(const char* perpUSDC = "1000") {
    exchange.addMarket("BTC", 5, dec("60000"));
    exchange.addMarket("ETH", 4, dec("2000"));
    exchange.addAccount(signer.evm(), dec(perpUSDC));
    node.result("getTokenAccountsByOwner",
                Json{{"value", Json::array({Json{{"pubkey", "TokenAcc1111111111111111111111111111111111"},
                                                 {"account",
                                                  {{"data",
                                                    {{"parsed",
                                                      {{"info",
                                                        {{"mint", SolanaPrograms::kUsdcMint},
                                                         {"owner", signer.solana()},
                                                         {"tokenAmount", {{"amount", "500000000"}, {"decimals", 6}}}}}}}}}}}}})}});
    node.result("getLatestBlockhash",
                Json{{"value", {{"blockhash", "EkSnNWid2cvwEVnVx9aBqawnmiCNiDgp3gUdkDPTKN1N"}, {"lastValidBlockHeight", 100}}}});
    node.result("simulateTransaction", Json{{"value", {{"err", nullptr}, {"logs", Json::array()}}}});
    node.on("sendTransaction", [this](const Json& params) {
      // Relay fills the order: the credit shows on Hyperliquid.
      auto bytes = fromBase64(params[0].get<std::string>());
      auto parsed = SolanaTransaction::parse(*bytes);
      const Decimal credit = (lastQuoteOut() * creditShare).rounded(6, RoundingMode::down);
      exchange.addAccount(signer.evm(), exchange.perpUSDC(signer.evm()) + credit);
      return FakeSolanaNode::ok(Base58::encode(parsed.signatures[0]));
    });
    confirmOnFirstLook();
    node.on("getBlockHeight", [this](const Json&) { return FakeSolanaNode::ok(Json(height)); });
  }

  void confirmOnFirstLook() {
    node.result("getSignatureStatuses", Json{{"value", Json::array({Json{{"err", nullptr}, {"confirmationStatus", "confirmed"}}})}});
  }

  Decimal lastQuoteOut() {
    Decimal out(0);
    for (const auto& r : relayServer.server().requests()) {
      if (r.path != "/quote/v2") continue;
      out = Decimal::parse((*parseJson(r.body))["amount"].get<std::string>()) / Decimal(1'000'000) * dec("0.99");
    }
    return out;
  }

  Market eth() const {
    Market m;
    m.name = "ETH";
    m.markPx = dec("2000");
    m.szDecimals = 4;
    m.maxLeverage = 25;
    m.index = 1;
    return m;
  }

  Executor::Prepared prepare(const char* risk = "20") {
    TradeIntent intent;
    intent.asset = "ETH";
    intent.riskUSD = dec(risk);
    intent.stopPct = dec("2");
    intent.takePct = dec("4");
    intent.leverage = dec("5");
    Market m = eth();
    Evaluation ev = RiskCalc::evaluate(intent, &m);
    EXPECT_TRUE(ev.canPlace()) << ev.problem.value_or("");
    return executor.prepare(intent, m, *ev.sizing);
  }

  std::vector<std::string> notes(const std::string& chain) const {
    std::vector<std::string> out;
    for (const auto& e : journal.entries())
      if (e.chain == chain) out.push_back(std::string(Journal::kindName(e.kind)) + " " + e.note);
    return out;
  }
  std::vector<std::string> kinds(const std::string& chain) const {
    std::vector<std::string> out;
    for (const auto& e : journal.entries())
      if (e.chain == chain) out.emplace_back(Journal::kindName(e.kind));
    return out;
  }
};

std::string failureOf(const std::function<void()>& run) {
  try {
    run();
  } catch (const ExecutionError& e) {
    return e.what();
  }
  return "(no failure)";
}

bool anyStartsWith(const std::vector<std::string>& lines, const std::string& prefix) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.starts_with(prefix); });
}

TEST(Executor, TradeFundedFromWithdrawableOpensOnePositionWithItsStop) {
  Desk d;
  Executor::Prepared p = d.prepare();
  EXPECT_FALSE(p.bridge);
  EXPECT_EQ(p.steps.front(), "Leverage 5×, isolated margin.");
  EXPECT_TRUE(anyStartsWith(p.steps, "Stop at "));
  EXPECT_EQ(d.signer.l1(), 0) << "prepare signs nothing";

  std::optional<Executor::Opened> told;
  d.executor.onTraded([&](const Executor::Opened& opened) { told = opened; });
  Executor::Opened o = d.executor.perform(p);
  EXPECT_TRUE(o.protectedByStop);
  EXPECT_EQ(o.size, p.sizing.size);
  ASSERT_TRUE(told);
  EXPECT_EQ(told->size, o.size);
  EXPECT_EQ(o.entry, dec("2000"));
  ASSERT_EQ(d.exchange.positions(d.signer.evm()).size(), 1u);
  auto orders = d.exchange.orders(d.signer.evm());
  EXPECT_TRUE(std::any_of(orders.begin(), orders.end(), [](const auto& x) { return x.tpsl == "sl"; }));
  std::vector<std::string> hl = d.notes("hyperliquid");
  for (const char* note : {"signed leverage", "signed entry", "signed stop and take-profit"})
    EXPECT_TRUE(anyStartsWith(hl, note)) << note;
  EXPECT_TRUE(d.journal.open().empty()) << "every signed action has its outcome";

  // A double Confirm: the same plan again, or a copy of it, opens nothing more.
  const int signedBefore = d.signer.l1();
  Executor::Prepared copy = p;
  EXPECT_EQ(failureOf([&] { d.executor.perform(copy); }),
            "This plan was already confirmed once; one plan opens one position. Nothing was signed.");
  EXPECT_EQ(d.signer.l1(), signedBefore);
  EXPECT_EQ(d.exchange.positions(d.signer.evm()).size(), 1u);
}

TEST(Executor, RefusesAtPrepareAndBeforeAnySignature) {
  {
    Desk d;
    Executor::Prepared p = d.prepare();
    d.exchange.setMid("ETH", dec("2024"));  // 1.2% up since the card
    EXPECT_EQ(failureOf([&] { d.executor.perform(p); }),
              "ETH moved more than 1% since you confirmed. Nothing was signed.");
    EXPECT_EQ(d.signer.l1(), 0);
    EXPECT_TRUE(d.journal.entries().empty());
  }
  {
    Desk d;
    // A resting limit order on the market: a GTC buy well under the mid.
    HLOrders::LimitPlan resting{HLAsset{"ETH", 1, 4, std::nullopt}, true, dec("0.01"), dec("1500"), std::nullopt,
                                std::nullopt};
    (void)d.orders.placeLimit(resting);
    EXPECT_EQ(failureOf([&] { d.prepare(); }),
              "There's already a position or order on ETH. Manage it in chat («stop to breakeven», «close half», "
              "«cancel the limit») or pick another asset.");
  }
  {
    Desk d;
    // A plan prepared, then a position opened elsewhere before Confirm.
    Executor::Prepared p = d.prepare();
    d.exchange.setPosition(d.signer.evm(), "ETH", dec("0.1"), dec("2000"));
    EXPECT_NE(failureOf([&] { d.executor.perform(p); }).find("There's already a position or order on ETH."),
              std::string::npos);
    EXPECT_EQ(d.signer.l1(), 0);
  }
  {
    Desk d;
    Market m = d.eth();
    Sizing tiny;
    tiny.size = dec("0.004");
    tiny.entry = dec("2000");
    tiny.notional = dec("8");
    tiny.stopPrice = dec("1960");
    TradeIntent intent;
    intent.asset = "ETH";
    intent.riskUSD = dec("1");
    intent.stopPct = dec("2");
    std::string msg = failureOf([&] { d.executor.prepare(intent, m, tiny); });
    EXPECT_TRUE(msg.ends_with("the $10 minimum order.")) << msg;
    intent.stopPct.reset();
    EXPECT_EQ(failureOf([&] { d.executor.prepare(intent, m, tiny); }), "The plan isn't ready: missing stop in %.");
  }
  {
    Desk d;
    // A declined entry: nothing went out, so nothing was signed.
    Executor::Prepared p = d.prepare();
    d.signer.refuseFrom = 0;
    EXPECT_EQ(failureOf([&] { d.executor.perform(p); }),
              "The signer didn't sign the trade (The approval was declined). Nothing was signed.");
  }
  {
    Desk d;
    // The leverage signed, the entry declined: no longer "nothing".
    Executor::Prepared p = d.prepare();
    d.signer.refuseFrom = 1;
    EXPECT_EQ(failureOf([&] { d.executor.perform(p); }),
              "The signer didn't sign the trade (The approval was declined). No order was placed.");
    EXPECT_TRUE(d.exchange.positions(d.signer.evm()).empty());
  }
}

TEST(Executor, TradeFundedThroughRelayIsCreditedAt99Point5Percent) {
  Desk d("50");
  Executor::Prepared p = d.prepare();
  ASSERT_TRUE(p.bridge);
  EXPECT_TRUE(anyStartsWith(p.steps, "Bring ")) << p.steps.front();
  EXPECT_EQ(d.signer.solanaSignatures(), 0);

  Executor::Opened o = d.executor.perform(p);
  EXPECT_TRUE(o.protectedByStop);
  EXPECT_EQ(d.signer.solanaSignatures(), 1);
  EXPECT_TRUE(anyStartsWith(d.reported, "Bridge done in "));
  std::vector<std::string> relay = d.kinds("relay");
  EXPECT_EQ(relay, (std::vector<std::string>{"signed", "settled"}));
  EXPECT_NE(d.notes("relay")[0].find("; valid until block 100"), std::string::npos);
  EXPECT_EQ(d.exchange.positions(d.signer.evm()).size(), 1u);
  EXPECT_TRUE(d.journal.open().empty());
}

TEST(Executor, RelayCreditUnder99PercentIsNotSeenAndTheTradeWaits) {
  Desk d("50");
  d.creditShare = dec("0.98");
  Executor::Prepared p = d.prepare();
  std::string msg = failureOf([&] { d.executor.perform(p); });
  EXPECT_TRUE(msg.starts_with("Relay didn't credit the USDC within 4 minutes. Order 0xrequest")) << msg;
  EXPECT_TRUE(msg.ends_with(" is in the journal; the trade wasn't opened.")) << msg;
  EXPECT_EQ(d.kinds("relay"), (std::vector<std::string>{"signed"})) << "left open for recovery";
  EXPECT_TRUE(d.exchange.positions(d.signer.evm()).empty());
  EXPECT_EQ(d.signer.l1(), 0);
}

TEST(Executor, BridgeChecksBeforeSigningAndTellsWhereTheMoneyIs) {
  {
    // A re-quote that delivers less than approved: nothing is signed.
    Desk d("50");
    Executor::Prepared p = d.prepare();
    d.relayServer.setPayout(dec("0.9"));
    std::string msg = failureOf([&] { d.executor.perform(p); });
    EXPECT_TRUE(msg.starts_with("The price moved past what was approved: ")) << msg;
    EXPECT_TRUE(msg.ends_with("Nothing was signed.")) << msg;
    EXPECT_EQ(d.signer.solanaSignatures(), 0);
    EXPECT_TRUE(d.journal.entries().empty());
  }
  {
    // A quote paying someone else fails the binding check.
    Desk d("50");
    Executor::Prepared p = d.prepare();
    d.relayServer.redirectTo("0x2222222222222222222222222222222222222222");
    std::string msg = failureOf([&] { d.executor.perform(p); });
    EXPECT_TRUE(msg.ends_with("Nothing was signed.")) << msg;
    EXPECT_EQ(d.signer.solanaSignatures(), 0);
  }
  {
    // A stale blockhash: the height passes, the last look finds nothing.
    Desk d("50");
    Executor::Prepared p = d.prepare();
    d.node.result("getSignatureStatuses", Json{{"value", Json::array({nullptr})}});
    d.height = 101;
    EXPECT_EQ(failureOf([&] { d.executor.perform(p); }),
              "The bridge transaction didn't make it into a block. The money stayed on Solana; you can retry.");
    EXPECT_EQ(d.kinds("relay"), (std::vector<std::string>{"signed", "expired"}));
  }
  {
    // It landed just as the height passed: the last look sees it, and the trade goes on.
    Desk d("50");
    Executor::Prepared p = d.prepare();
    auto looks = std::make_shared<std::atomic<int>>(0);
    d.node.on("getSignatureStatuses", [looks](const Json&) {
      if ((*looks)++ == 0) return FakeSolanaNode::ok(Json{{"value", Json::array({nullptr})}});
      return FakeSolanaNode::ok(Json{{"value", Json::array({Json{{"err", nullptr}, {"confirmationStatus", "confirmed"}}})}});
    });
    d.height = 101;
    EXPECT_TRUE(d.executor.perform(p).protectedByStop);
    EXPECT_EQ(d.kinds("relay"), (std::vector<std::string>{"signed", "settled"}));
  }
  {
    // Relay refunds instead of filling.
    Desk d("50");
    d.creditShare = dec("0");
    d.relayServer.setStatus("refund");
    Executor::Prepared p = d.prepare();
    std::string msg = failureOf([&] { d.executor.perform(p); });
    EXPECT_TRUE(msg.starts_with("Relay returned ")) << msg;
    EXPECT_TRUE(msg.ends_with(". Check your Solana balance.")) << msg;
    EXPECT_EQ(d.kinds("relay"), (std::vector<std::string>{"signed", "failed"}));
  }
  {
    Desk d("50");
    d.relayServer.dropAmount();
    EXPECT_EQ(failureOf([&] { d.prepare(); }), "Relay didn't give the amount to send.");
  }
  {
    // A bridge keeping 10% loses more than the larger of $1 and 3%: refused at prepare.
    Desk d("50");
    d.relayServer.setPayout(dec("0.9"));
    std::string msg = failureOf([&] { d.prepare(); });
    EXPECT_TRUE(msg.starts_with("Bringing ")) << msg;
    EXPECT_TRUE(msg.ends_with(", more than a move may lose on its own. Nothing was signed.")) << msg;
  }
}

TEST(Executor, PriceMovedWhileTheUSDCTravelled) {
  Desk d("50");
  Executor::Prepared p = d.prepare();
  d.node.on("sendTransaction", [&d](const Json& params) {
    auto parsed = SolanaTransaction::parse(*fromBase64(params[0].get<std::string>()));
    d.exchange.addAccount(d.signer.evm(), d.exchange.perpUSDC(d.signer.evm()) + dec("200"));
    d.exchange.setMid("ETH", dec("2030"));
    return FakeSolanaNode::ok(Base58::encode(parsed.signatures[0]));
  });
  EXPECT_EQ(failureOf([&] { d.executor.perform(p); }),
            "ETH moved more than 1% while the USDC travelled. No trade; the money is on your Hyperliquid balance.");
  EXPECT_EQ(d.signer.l1(), 0);
}

TEST(Executor, OtherHyperliquidMovesKeepTheirMinimums) {
  Desk d;
  EXPECT_EQ(failureOf([&] { d.executor.vaultDeposit("0xdfc24b077bc1425ad1dea75bcb6f8158e10df303", dec("4")); }),
            "Hyperliquid accepts vault deposits from $5. Nothing was signed.");
  EXPECT_EQ(failureOf([&] { d.executor.spotBuy("HYPE", dec("9")); }),
            "Hyperliquid's spot book takes orders from 10 USDC. Nothing was signed.");
  HLOrders::Report r = d.executor.classTransfer(dec("25"), false);
  EXPECT_EQ(r.lines, (std::vector<std::string>{"Spot balance: +25 USDC from perp."}));
  EXPECT_EQ(d.exchange.spotUSDC(d.signer.evm()), dec("25"));
  EXPECT_EQ(failureOf([&] { d.executor.usdSend(d.signer.evm(), dec("5")); }),
            "That is this wallet's own Hyperliquid account.");
}

}  // namespace
}  // namespace orwenna::executor_test
