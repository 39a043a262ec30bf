// Spreading and rebalancing as command lines: the ranking, the caps, the
// skip rule for EVM places, and that every line reads back as the command
// it stands for.
#include <gtest/gtest.h>

#include "app/yield_allocation.h"
#include "language/wallet_command.h"

namespace orwenna {
namespace {

YieldSpot spot(const std::string& protocol, const std::string& network, const char* apy, const char* supplied = "0") {
  YieldSpot s{protocol, protocol + "@" + network, network, Decimal::parse(apy), Decimal::parse(supplied),
              YieldAllocation::roundTripUSD(network)};
  return s;
}

struct Case {
  const char* what;
  std::vector<YieldSpot> places;
  const char* amount;
  std::optional<Decimal> maxShare;
  std::vector<std::string> without;
  std::string chain;
  const char* unplaced;
  std::size_t skipped;
};

TEST(YieldAllocation, Allocate) {
  const std::vector<Case> cases = {
      {"all to the best", {spot("jupiter", "solana", "6"), spot("kamino", "solana", "7")}, "1000", std::nullopt, {},
       "deposit 1000 USDC to kamino", "0", 0},
      {"capped at 40%, then the next",
       {spot("kamino", "solana", "7"), spot("jupiter", "solana", "6"), spot("aave", "base", "5")}, "1000",
       Decimal(40), {},
       "deposit 400 USDC to kamino then lend 400 USDC then move 200 USDC from Solana to base then lend 200 USDC on "
       "Aave on base",
       "0", 0},
      {"an excluded protocol", {spot("kamino", "solana", "7"), spot("jupiter", "solana", "6")}, "100", std::nullopt,
       {"Kamino"}, "lend 100 USDC", "0", 0},
      // $0.60 there and back against half a year of 8% on $10 ($0.40): skipped.
      {"a small slice to an EVM place", {spot("aave", "base", "8"), spot("jupiter", "solana", "5")}, "10",
       std::nullopt, {}, "lend 10 USDC", "0", 1},
      // … but worth it on $100 ($4).
      {"a larger one", {spot("aave", "base", "8"), spot("jupiter", "solana", "5")}, "100", std::nullopt, {},
       "move 100 USDC from Solana to base then lend 100 USDC on Aave on base", "0", 0},
      {"more than the caps hold", {spot("jupiter", "solana", "5")}, "100", Decimal(30), {}, "lend 30 USDC", "70", 0},
  };
  for (const auto& c : cases) {
    YieldPlan plan = YieldAllocation::allocate(c.places, Decimal::parse(c.amount), c.maxShare, c.without);
    EXPECT_EQ(plan.chain(), c.chain) << c.what;
    EXPECT_EQ(plan.unplaced, Decimal::parse(c.unplaced)) << c.what;
    EXPECT_EQ(plan.skipped.size(), c.skipped) << c.what;
  }
}

TEST(YieldAllocation, TheSkipSaysWhy) {
  YieldPlan plan = YieldAllocation::allocate({spot("aave", "ethereum", "8")}, Decimal(100), std::nullopt);
  ASSERT_EQ(plan.skipped.size(), 1u);
  EXPECT_EQ(plan.skipped[0],
            "aave@ethereum: the bridges and gas there and back ($20) cost more than half a year of this slice's "
            "interest ($4).");
  EXPECT_TRUE(plan.lines.empty());
  YieldSpot unknown = spot("morpho", "base", "0");
  unknown.apy.reset();
  EXPECT_EQ(YieldAllocation::allocate({unknown}, Decimal(100), std::nullopt).skipped.at(0),
            "morpho@base: no rate to compare.");
}

TEST(YieldAllocation, RebalanceWithdrawsFirstThenDeposits) {
  // 600 at 4% on Aave, 400 at 7% on Kamino, at most half a place.
  YieldPlan plan = YieldAllocation::rebalance(
      {spot("aave", "arbitrum", "4", "600"), spot("kamino", "solana", "7", "400"), spot("jupiter", "solana", "6")},
      Decimal(50));
  EXPECT_EQ(plan.chain(),
            "withdraw 600 USDC from Aave on arbitrum then move 600 USDC from Arbitrum to Solana then deposit 100 USDC "
            "to kamino then lend 500 USDC");
  // Already in place: nothing to do, and a move under a dollar isn't made.
  EXPECT_TRUE(YieldAllocation::rebalance({spot("kamino", "solana", "7", "1000.5")}, std::nullopt).lines.empty());
}

TEST(YieldAllocation, EveryLineReadsBackAsItsCommand) {
  for (const auto& p : {spot("jupiter", "solana", "1"), spot("kamino", "solana", "1"), spot("aave", "optimism", "1"),
                        spot("morpho", "base", "1"), spot("aave", "base", "1")}) {
    for (const auto& joined : {YieldAllocation::depositLine(p, Decimal::parse("12.5")),
                               YieldAllocation::withdrawLine(p, Decimal::parse("12.5"))}) {
      std::size_t at = 0;
      for (;;) {
        std::size_t next = joined.find(" then ", at);
        std::string line = joined.substr(at, next == std::string::npos ? std::string::npos : next - at);
        auto parsed = WalletCommand::parse(line);
        ASSERT_TRUE(parsed) << line;
        EXPECT_EQ(parsed->line(), line);
        if (next == std::string::npos) break;
        at = next + 6;
      }
    }
  }
}

}  // namespace
}  // namespace orwenna
