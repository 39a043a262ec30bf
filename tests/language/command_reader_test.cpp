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

TEST(CommandReaderTest, ClosingAPositionIsNeverAPlanOnTheOtherSide) {
  const MarketNames markets = {"BTC", "ETH", "SOL"};
  TradeIntent longPlan;
  longPlan.asset = "BTC";
  longPlan.side = Side::long_;
  longPlan.riskUSD = Decimal(50);
  struct Case {
    const char* text;
    const char* line;  // the command written back; nullptr: nothing reads it
  } cases[] = {
      {"close the short", "close"},
      {"Close my long", "close"},
      {"exit the short", "close"},
      {"exit my BTC long position", "close"},
      {"flatten", "close"},
      {"flatten the short", "close"},
      {"cover my short", "close"},
      {"close half of my long", "close 50%"},
      {"close 30% of the short", "close 30%"},
      {"закрой шорт", "close"},
      {"закрой лонг по BTC", "close"},
      {"закрой половину шорта", "close 50%"},
      {"выйди из шорта", "close"},
      {"выход из лонга", "close"},
      // Hesitation and impossible shares read as nothing, never as a plan.
      {"don't close the short", nullptr},
      {"не закрывай шорт", nullptr},
      {"should I close my long?", nullptr},
      {"close 150% of the short", nullptr},
      // Neighbours that still are plans.
      {"short BTC", "short BTC risk $50"},
      {"шорт эфир", "short ETH risk $50"},
      {"long BTC close to the low stop 2%", "long BTC risk $50 stop 2%"},
  };
  for (const Case& c : cases) {
    auto got = CommandReader::read(c.text, markets, longPlan);
    EXPECT_EQ(got ? CommandReader::line(*got) : "nothing", std::string(c.line ? c.line : "nothing")) << c.text;
    if (got && std::string_view(c.line) == "close") {
      EXPECT_EQ(CommandReader::typeName(*got), "PositionCommand") << c.text;
    }
  }
}

}  // namespace
}  // namespace orwenna

namespace orwenna {
namespace {

// Bytes that are not UTF-8 (a model's or a terminal's broken output) are no
// command, never an error out of the regular expressions.
TEST(CommandReaderTest, BrokenUtf8IsNoCommand) {
  const MarketNames markets = {"BTC", "ETH", "SOL"};
  for (const std::string& line : {std::string("send 1 SOL to \xff\xfe"), std::string("close \xc3 ETH"),
                                 std::string("long ETH risk $5 \xed\xa0\x80")}) {
    SCOPED_TRACE(line);
    EXPECT_FALSE(CommandReader::read(line, markets, std::nullopt).has_value());
    EXPECT_FALSE(WalletCommand::parse(line).has_value());
    EXPECT_FALSE(PositionCommand::parse(line).has_value());
    EXPECT_FALSE(IntentParser::parse(line, markets, std::nullopt).has_value());
    EXPECT_FALSE(AlertCommand::parse(line, markets).has_value());
  }
  EXPECT_TRUE(WalletCommand::parse("send 1 SOL to alice").has_value()) << "the twin that is whole reads";
}

}  // namespace
}  // namespace orwenna
