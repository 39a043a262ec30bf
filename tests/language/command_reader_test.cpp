#include "language/command_reader.h"

#include <gtest/gtest.h>

namespace orwenna {
namespace {

TEST(CommandReaderTest, EachLineGoesToTheFirstParserThatReadsIt) {
  const MarketNames markets = {"BTC", "ETH", "SOL", "NEAR"};
  TradeIntent plan;
  plan.asset = "BTC";
  plan.riskUSD = Decimal(50);
  struct Case {
    const char* text;
    const char* type;  // nullptr: no parser reads it
  } cases[] = {
      {"New canvas.", "AppWord"},
      {"create an automation wallet", "AppWord"},
      {"send 5 USDC to Mom", "WalletCommand"},
      {"show token 0x833589fCD6eDb6E08f4c7C32D4f71b54bdA02913", "TokenCommand"},
      {"trail 1%", "PositionCommand"},  // an open position comes before the plan
      {"long BTC trail 2%", "TradeIntent"},
      {"save this canvas to the folder Ideas", "FolderCommand"},
      {"chart ETH", "ChartCommand"},
      {"when ETH above 2500: close", "AlertCommand"},
      {"add Mom to favorites", "AddressBookCommand"},
      {"pnl today", "PnLCommand"},
      {"every monday at 9:00: buy SOL for 10 USDC", "Scheduled"},
      {"cancel all scheduled tasks", "CancelScheduledTasks"},
      {"remember: I trade only BTC", "MemoryCommand"},
      {"check: is ETH funding negative", "Check"},
      {"risk 100", "TradeIntent"},
      {"near", nullptr},
      {"hello there", nullptr},
  };
  for (const Case& c : cases) {
    auto got = CommandReader::read(c.text, markets, plan);
    EXPECT_EQ(got ? CommandReader::typeName(*got) : "nothing", std::string_view(c.type ? c.type : "nothing"))
        << c.text;
    if (!got) continue;
    // What is written back reads as the same command.
    auto back = CommandReader::read(CommandReader::line(*got), markets, plan);
    EXPECT_TRUE(back && *back == *got) << c.text << " → " << CommandReader::line(*got);
  }
}

}  // namespace
}  // namespace orwenna
