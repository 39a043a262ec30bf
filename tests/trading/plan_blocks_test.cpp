// The blocks beside a pending trade, and the stored risk policy.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "base/files.h"
#include "base/json.h"
#include "trading/plan_blocks.h"
#include "trading/risk_policy.h"
#include "support/core_fixtures.h"

namespace orwenna {
namespace {

using testing::D;

TradeIntent worked() {
  TradeIntent t;
  t.asset = "BTC";
  t.riskUSD = D("10");
  t.stopPct = D("2");
  t.takePct = D("4");
  t.leverage = D("5");
  return t;
}

Live live() {
  Live l;
  l.hlAddressSet = true;
  l.hlWithdrawable = D("500");
  l.marketsLoaded = true;
  l.market = testing::market("BTC", "100", 2, 50);
  l.equity = D("1000");
  l.openRisk = Decimal(0);
  return l;
}

TEST(PlanBlocks, WorkedTradeShowsItsFigures) {
  TradeIntent t = worked();
  t.partialTake = true;
  t.trailingPct = D("1.5");
  Live l = live();
  l.notes = {"Leverage 5×, the rules' cap; the stop sets the loss, leverage only shrinks the margin."};
  auto blocks = Plan::blocks(t, l);
  ASSERT_EQ(blocks.size(), 4u);
  EXPECT_EQ(blocks[0], (Block{"funding", "Margin", "Funding",
                              {"Hyperliquid: $500.00 free for margin.", "Margin $95.60 comes from the Hyperliquid balance."},
                              Block::Status::ready}));
  EXPECT_EQ(blocks[1], (Block{"position", "Long BTC", "Position · Hyperliquid",
                              {"4.78 BTC at ≈ 100 (mark).", "Notional $478.00, margin $95.60 at 5× leverage.",
                               "Liquidation ≈ 80.808081, isolated margin."},
                              Block::Status::ready}));
  EXPECT_EQ(blocks[2], (Block{"protection", "Protection", "Stop & take-profit",
                              {"Stop 2% → 98. Loss ≈ $9.99 incl. $0.43 fees.", "Take-profit 4% → 104. Profit ≈ $18.68.",
                               "In parts: half at 1R → 102, then stop to breakeven (while orwenna is open).",
                               "Trailing 1.5% from the best price; moves while orwenna is open.",
                               "Triggers on mark price; a market exit may fill worse."},
                              Block::Status::ready}));
  EXPECT_EQ(blocks[3], (Block{"risk", "Rules met", "Risk management",
                              {"Leverage 5×, the rules' cap; the stop sets the loss, leverage only shrinks the margin.",
                               "Risk 1% of capital, within 2%.", "Reward/risk 1:1.9."},
                              Block::Status::ready}));
}

TEST(PlanBlocks, LimitEntryDefaultLeverageAndShortPosition) {
  TradeIntent t = worked();
  t.leverage.reset();
  t.entryPx = D("99");
  auto blocks = Plan::blocks(t, live());
  EXPECT_EQ(blocks[1].lines, (std::vector<std::string>{
                                 "Limit: 4.83 BTC at 99, now 100. Waiting; stop and take-profit start after entry.",
                                 "Notional $478.17, margin $478.17 at 1× leverage (default).",
                                 "Liquidation ≈ 0, isolated margin."}));

  TradeIntent s = worked();
  s.side = Side::short_;
  auto sb = Plan::blocks(s, live());
  EXPECT_EQ(sb[1].label, "Short BTC");
  EXPECT_EQ(sb[2].lines[0], "Stop 2% → 102. Loss ≈ $9.99 incl. $0.43 fees.");
  EXPECT_EQ(sb[2].lines[1], "Take-profit 4% → 96. Profit ≈ $18.70.");
}

TEST(PlanBlocks, PartsBelowTheMinimumAreRefused) {
  TradeIntent t = worked();
  t.riskUSD = D("0.3");  // 0.1 BTC-unit at 100: $10, half of it $5.10 at 1R
  t.partialTake = true;
  Live l = live();
  l.market->szDecimals = 1;
  auto blocks = Plan::blocks(t, l);
  EXPECT_EQ(blocks[2].lines[2], "Can't take in parts: half the position is below the $10 minimum order.");
}

TEST(PlanBlocks, NoMarketOrMissingInputs) {
  Live l = live();
  l.market.reset();
  auto loaded = Plan::blocks(worked(), l);
  EXPECT_EQ(loaded[1].lines, std::vector<std::string>{"No BTC market on Hyperliquid."});
  EXPECT_EQ(loaded[1].status, Block::Status::noData);
  l.marketsLoaded = false;
  EXPECT_EQ(Plan::blocks(worked(), l)[1].lines, std::vector<std::string>{"Price: no data."});

  TradeIntent t = worked();
  t.riskUSD.reset();
  auto missing = Plan::blocks(t, live());
  EXPECT_EQ(missing[1].lines, std::vector<std::string>{"Needed: risk in $."});
  EXPECT_EQ(missing[1].status, Block::Status::needsInput);
  EXPECT_EQ(missing[3].status, Block::Status::needsInput);
}

TEST(PlanBlocks, RiskSummaryWordsAndProblems) {
  Live l = live();
  l.equity = D("300");  // 9.99 of 300 is 3.3%
  auto broken = Plan::blocks(worked(), l);
  EXPECT_EQ(broken[3].label, "Rule broken");
  EXPECT_EQ(broken[3].status, Block::Status::blocked);

  l = live();
  l.openRisk.reset();
  auto warned = Plan::blocks(worked(), l);
  EXPECT_EQ(warned[3].label, "Warnings");
  EXPECT_EQ(warned[3].status, Block::Status::warning);

  TradeIntent t = worked();
  t.leverage = D("50");
  auto liq = Plan::blocks(t, live());
  EXPECT_EQ(liq[1].status, Block::Status::blocked);
  EXPECT_EQ(liq[1].lines.back(), "Liquidation (98.989899) comes before the stop. Lower the leverage.");
}

TEST(PlanBlocks, FundingFromAnotherWallet) {
  Live l = live();
  l.hlWithdrawable = D("50");
  l.from = std::make_pair(std::string("Solana wallet"), D("200"));
  l.quote = FundingQuote{"Relay", D("60"), D("0.35"), 90};
  auto b = Plan::blocks(worked(), l)[0];
  EXPECT_EQ(b.lines, (std::vector<std::string>{"Hyperliquid: $50.00 free for margin.",
                                               "Short by $45.60: bridge from Solana wallet ($200.00 USDC).",
                                               "Bridge via Relay: ≈ $60.00 arrives on Hyperliquid, fee $0.35, about 2 min."}));
  EXPECT_EQ(b.status, Block::Status::ready);

  l.quote->receiveUSDC = D("45");
  EXPECT_EQ(Plan::blocks(worked(), l)[0].status, Block::Status::warning);

  l.from.reset();
  l.quote.reset();
  EXPECT_EQ(Plan::blocks(worked(), l)[0].status, Block::Status::blocked);

  l.hlAddressSet = false;
  EXPECT_EQ(Plan::blocks(worked(), l)[0].status, Block::Status::needsInput);
}

class RiskPolicyFile : public ::testing::Test {
 protected:
  testing::TempDir tmp_;
  std::filesystem::path dir_ = tmp_.path();
  std::filesystem::path file_ = dir_ / "defaults.json";
};

TEST_F(RiskPolicyFile, SavesUnderItsKeyAndKeepsTheOthers) {
  writeFileAtomically(file_, R"({"exitRules":{"BTC":{"trailingPct":2}}})");
  RiskPolicy p;
  p.maxRiskPct = D("1.5");
  p.maxLeverage = D("3");
  p.save(file_);
  EXPECT_EQ(RiskPolicy::load(file_), p);
  Json stored = *parseJson(*readFile(file_));
  EXPECT_EQ(stored["exitRules"]["BTC"]["trailingPct"], 2);
  std::vector<std::string> keys;
  for (const auto& [k, _] : stored["riskPolicy"].items()) keys.push_back(k);
  EXPECT_EQ(keys, (std::vector<std::string>{"maxRiskPct", "defaultRiskPct", "minRewardRisk", "defaultRewardRisk",
                                            "maxLeverage", "atrStopMultiple", "maxOpenRiskPct"}));
  EXPECT_EQ(stored["riskPolicy"]["maxRiskPct"], 1.5);
}

TEST_F(RiskPolicyFile, WhatDoesNotDecodeGivesTheDefaults) {
  Json good = RiskPolicy{}.toJson();
  good["maxRiskPct"] = 3;
  Json sixKeys = good;
  sixKeys.erase("maxOpenRiskPct");
  Json zero = good;
  zero["maxLeverage"] = 0;
  Json text = good;
  text["atrStopMultiple"] = "two";
  for (const std::string& contents : {std::string("{}"), std::string("not json"), std::string("[1,2]"),
                                      Json{{"riskPolicy", sixKeys}}.dump(), Json{{"riskPolicy", zero}}.dump(),
                                      Json{{"riskPolicy", text}}.dump(), Json{{"riskPolicy", "x"}}.dump()}) {
    SCOPED_TRACE(contents);
    writeFileAtomically(file_, contents);
    EXPECT_EQ(RiskPolicy::load(file_), RiskPolicy{});
  }
  writeFileAtomically(file_, Json{{"riskPolicy", good}}.dump());
  EXPECT_EQ(RiskPolicy::load(file_).maxRiskPct, D("3"));
  EXPECT_EQ(RiskPolicy::load(dir_ / "missing.json"), RiskPolicy{});
}

TEST_F(RiskPolicyFile, ABrokenDefaultsFileIsNotOverwritten) {
  writeFileAtomically(file_, "{broken");
  EXPECT_THROW(RiskPolicy{}.save(file_), FileError);
  EXPECT_EQ(readFile(file_), "{broken");
}

TEST_F(RiskPolicyFile, DefaultLocationFollowsTheEnvironment) {
  const char* before = std::getenv("ORWENNA_HOME");
  const std::optional<std::string> saved = before ? std::optional<std::string>(before) : std::nullopt;
  ::setenv("ORWENNA_HOME", dir_.c_str(), 1);
  EXPECT_EQ(RiskPolicy::defaultsFile(), AppPaths::fromEnvironment().configDir / "defaults.json");
  RiskPolicy p;
  p.defaultRiskPct = D("0.5");
  p.save();
  EXPECT_EQ(RiskPolicy::load(), p);
  if (saved) {
    ::setenv("ORWENNA_HOME", saved->c_str(), 1);
  } else {
    ::unsetenv("ORWENNA_HOME");
  }
}

}  // namespace
}  // namespace orwenna
