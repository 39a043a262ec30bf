#include "language/commands.h"

#include <gtest/gtest.h>

namespace orwenna {
namespace {

const MarketNames kMarkets = {"BTC", "ETH", "SOL", "NEAR", "kPEPE", "LINK"};

struct Case {
  const char* text;
  const char* want;  // toJson() without "type"; nullptr: not this command
};

// Parses every case, compares the payload, and reads each written-back line again.
template <class Parse>
void check(const std::vector<Case>& cases, Parse parse) {
  for (const Case& c : cases) {
    auto got = parse(c.text);
    EXPECT_EQ(got.has_value(), c.want != nullptr) << c.text << (got ? " read as " + got->toJson().dump() : "");
    if (!got || !c.want) continue;
    Json j = got->toJson();
    j.erase("type");
    EXPECT_EQ(j.dump(), c.want) << c.text;
    auto back = parse(got->line());
    EXPECT_TRUE(back && *back == *got) << c.text << " → " << got->line();
  }
}

TEST(PositionCommandTest, Forms) {
  check(
      {
          {"close", R"({"case":"close","fraction":"1"})"},
          {"закрой позицию", R"({"case":"close","fraction":"1"})"},
          {"close half", R"({"case":"close","fraction":"0.5"})"},
          {"закрой половину", R"({"case":"close","fraction":"0.5"})"},
          {"close 30%", R"({"case":"close","fraction":"0.3"})"},
          {"выйди на 12,5%", R"({"case":"close","fraction":"0.125"})"},
          {"close a quarter", R"({"case":"close","fraction":"0.25"})"},
          {"close a third", R"({"case":"close","fraction":"0.33333333333333333333333333333333333333"})"},
          {"move stop to 61500", R"({"case":"stopTo","price":"61500"})"},
          {"перенеси стоп на 2450,5", R"({"case":"stopTo","price":"2450.5"})"},
          {"set the stop-loss at $0.0012", R"({"case":"stopTo","price":"0.0012"})"},
          {"move take to 70000", R"({"case":"takeTo","price":"70000"})"},
          {"тейк на 3100", R"({"case":"takeTo","price":"3100"})"},
          {"trail 1.5%", R"({"case":"trail","percent":"1.5"})"},
          {"трейлинг 2%", R"({"case":"trail","percent":"2"})"},
          {"stop to breakeven", R"({"case":"stopToBreakeven"})"},
          {"стоп в безубыток", R"({"case":"stopToBreakeven"})"},
          {"move stop to entry", R"({"case":"stopToBreakeven"})"},
          {"cancel limit orders", R"({"case":"cancelOrders"})"},
          {"отмени лимитку", R"({"case":"cancelOrders"})"},
          // A stop in percent is a plan change, not a price.
          {"move stop to 2%", nullptr},
          {"don't close", nullptr},
          {"не закрывай", nullptr},
          {"should I close?", nullptr},
          {"а если закрыть?", nullptr},
          {"close 150%", nullptr},
          {"long BTC trail 2%", nullptr},
          {"how is my position?", nullptr},
      },
      [](std::string_view t) { return PositionCommand::parse(t); });
}

TEST(AddressBookCommandTest, Forms) {
  check(
      {
          {"save 0x833589fCD6eDb6E08f4c7C32D4f71b54bdA02913 as Mom",
           R"({"case":"save","address":"0x833589fCD6eDb6E08f4c7C32D4f71b54bdA02913","name":"Mom"})"},
          {"сохрани 0x833589fCD6eDb6E08f4c7C32D4f71b54bdA02913 как «Мама» на бейсе",
           R"({"case":"save","address":"0x833589fCD6eDb6E08f4c7C32D4f71b54bdA02913","name":"Мама","network":"base"})"},
          {"remember alice.near as Alice", R"({"case":"save","address":"alice.near","name":"Alice"})"},
          {"save DezXAZ8z7PnrnRJjz3wXBoRgixCa6xjnB7YaB1pPB263 on solana as Bonk Wallet",
           R"({"case":"save","address":"DezXAZ8z7PnrnRJjz3wXBoRgixCa6xjnB7YaB1pPB263","name":"Bonk Wallet","network":"solana"})"},
          {"save bc1qar0srrr7xfkvy5l643lydnw9re59gtzzwf5mdq as Cold",
           R"({"case":"save","address":"bc1qar0srrr7xfkvy5l643lydnw9re59gtzzwf5mdq","name":"Cold"})"},
          {"add Mom to favorites", R"({"case":"favorite","name":"Mom","on":true})"},
          {"добавь Маму в избранное", R"({"case":"favorite","name":"Маму","on":true})"},
          {"remove Mom from favourites", R"({"case":"favorite","name":"Mom","on":false})"},
          {"save Mom", nullptr},
          {"save 0x833589fCD6eDb6E08f4c7C32D4f71b54bdA02913", nullptr},
          {"who is Mom?", nullptr},
          {"add token JUP to favorites", nullptr},
      },
      [](std::string_view t) { return AddressBookCommand::parse(t); });
}

TEST(TokenCommandTest, Forms) {
  check(
      {
          {"show token 0x833589fCD6eDb6E08f4c7C32D4f71b54bdA02913 on base",
           R"({"case":"show","address":"0x833589fCD6eDb6E08f4c7C32D4f71b54bdA02913","chain":"base"})"},
          {"chart token DezXAZ8z7PnrnRJjz3wXBoRgixCa6xjnB7YaB1pPB263",
           R"({"case":"show","address":"DezXAZ8z7PnrnRJjz3wXBoRgixCa6xjnB7YaB1pPB263"})"},
          {"watch token DezXAZ8z7PnrnRJjz3wXBoRgixCa6xjnB7YaB1pPB263 on solana",
           R"({"case":"favorite","address":"DezXAZ8z7PnrnRJjz3wXBoRgixCa6xjnB7YaB1pPB263","chain":"solana"})"},
          {"следи за токеном 0x833589fCD6eDb6E08f4c7C32D4f71b54bdA02913 на робинхуде",
           R"({"case":"favorite","address":"0x833589fCD6eDb6E08f4c7C32D4f71b54bdA02913","chain":"robinhood"})"},
          {"remove token BONK from favorites", R"({"case":"unfavorite","symbol":"BONK"})"},
          {"убери токен bonk из избранного", R"({"case":"unfavorite","symbol":"BONK"})"},
          {"buy token 0x833589fCD6eDb6E08f4c7C32D4f71b54bdA02913 on base for 5 USDC", nullptr},
          {"show token", nullptr},
          {"what is this token?", nullptr},
      },
      [](std::string_view t) { return TokenCommand::parse(t); });
}

TEST(MemoryCommandTest, Forms) {
  check(
      {
          {"remember: I keep savings in USDC", R"({"case":"remember","text":"I keep savings in USDC"})"},
          {"Remember: «мой риск — 20 долларов».", R"({"case":"remember","text":"мой риск — 20 долларов"})"},
          {"forget: all", R"({"case":"forget","text":"all"})"},
          {"forget: my old address", R"({"case":"forget","text":"my old address"})"},
          {"what do you remember?", R"({"case":"list"})"},
          {"remember:", nullptr},
          {"remember: \"\"", nullptr},
          {"remember that I like SOL", nullptr},
          {"do you remember me?", nullptr},
      },
      [](std::string_view t) { return MemoryCommand::parse(t); });
}

TEST(ChartCommandTest, Forms) {
  check(
      {
          {"chart BTC", R"({"case":"chart","coin":"BTC","range":"day"})"},
          {"chart ETH week", R"({"case":"chart","coin":"ETH","range":"week"})"},
          {"покажи график эфира за месяц", R"({"case":"chart","coin":"ETH","range":"month"})"},
          {"show kpepe 7d", R"({"case":"chart","coin":"kPEPE","range":"week"})"},
          {"how's SOL doing", R"({"case":"chart","coin":"SOL","range":"day"})"},
          {"chart LINK", R"({"case":"chart","coin":"LINK","range":"day"})"},
          {"movers", R"({"case":"movers"})"},
          {"what's pumping today", R"({"case":"movers"})"},
          {"что растёт?", R"({"case":"movers"})"},
          {"chart link", nullptr},  // an ordinary word in lower case is not a ticker
          {"chart DOGE", nullptr},
          {"show approvals", nullptr},
      },
      [](std::string_view t) { return ChartCommand::parse(t, kMarkets); });
}

TEST(FolderCommandTest, Forms) {
  check(
      {
          {"save this canvas to the folder Trading", R"({"case":"save","folder":"Trading"})"},
          {"сохрани в папку «Идеи»", R"({"case":"save","folder":"Идеи"})"},
          {"move it into folder Long ideas.", R"({"case":"save","folder":"Long ideas"})"},
          {"note to the folder Trading: stop at 60k, re-enter on 5% dip",
           R"({"case":"note","folder":"Trading","text":"stop at 60k, re-enter on 5% dip"})"},
          {"запиши в папку Идеи: купить SOL", R"({"case":"note","folder":"Идеи","text":"купить SOL"})"},
          {"save to folder", nullptr},
          {"what's in the folder Trading?", nullptr},
      },
      [](std::string_view t) { return FolderCommand::parse(t); });
}

TEST(PnLCommandTest, Forms) {
  check(
      {
          {"PnL", R"({"period":"all"})"},
          {"pnl today", R"({"period":"day"})"},
          {"P&L this week for BTC", R"({"period":"week","coin":"BTC"})"},
          {"profit and loss for the month", R"({"period":"month"})"},
          {"сколько я заработал за неделю", R"({"period":"week"})"},
          {"пнл по eth за месяц", R"({"period":"month","coin":"ETH"})"},
          {"how much did I make on SOL", R"({"period":"all","coin":"SOL"})"},
          {"what is my balance", nullptr},
          {"profit", nullptr},
      },
      [](std::string_view t) { return PnLCommand::parse(t); });
}

TEST(AlertCommandTest, Forms) {
  check(
      {
          {"when ETH above 2500", R"({"case":"set","coin":"ETH","price":"2500","above":true,"steps":[]})"},
          {"alert me when ETH is below 2,500", R"({"case":"set","coin":"ETH","price":"2500","above":false,"steps":[]})"},
          {"when BTC at 60000", R"({"case":"set","coin":"BTC","price":"60000","steps":[]})"},
          {"когда эфир будет ниже 2400,5", R"({"case":"set","coin":"ETH","price":"2400.5","above":false,"steps":[]})"},
          {"when kpepe below 0.0085: long kPEPE risk 10 then trail 2%",
           R"({"case":"set","coin":"kPEPE","price":"0.0085","above":false,"steps":["long kPEPE risk 10","trail 2%"]})"},
          {"clear alerts", R"({"case":"clear"})"},
          {"удали все алерты", R"({"case":"clear"})"},
          {"when DOGE above 1", nullptr},
          {"when ETH above 0", nullptr},
          {"when ETH above 2500:", nullptr},
          {"when will ETH go up?", nullptr},
      },
      [](std::string_view t) { return AlertCommand::parse(t, kMarkets); });
}

TEST(CommandLinesTest, ScheduleCheckAndCancelForms) {
  struct Sched {
    const char* text;
    const char* when;  // nullptr: not a scheduled line
    const char* command;
  } sched[] = {
      {"every day at 9:00: buy SOL for 10 USDC", "every day at 9:00", "buy SOL for 10 USDC"},
      {"in 2 hours: close", "in 2 hours", "close"},
      {"tomorrow: PnL today", "tomorrow", "PnL today"},
      {"on 2027-01-15 at 10:30: move 5 USDC from base to Solana", "on 2027-01-15 at 10:30",
       "move 5 USDC from base to Solana"},
      {"every monday: rebalance USDC", "every monday", "rebalance USDC"},
      {"every month on the 1st: sweep dust", "every month on the 1st", "sweep dust"},
      {"at 18:45: chart BTC", "at 18:45", "chart BTC"},
      {"every 2 weeks: sweep rewards", "every 2 weeks", "sweep rewards"},
      {"every day", nullptr, nullptr},
      {"every day:", nullptr, nullptr},
      {"someday: buy SOL", nullptr, nullptr},
  };
  for (const Sched& s : sched) {
    auto got = CommandLines::scheduled(s.text);
    if (s.when == nullptr) {
      EXPECT_FALSE(got) << s.text;
    } else {
      EXPECT_EQ(got, (CommandLines::Scheduled{s.when, s.command})) << s.text;
    }
  }
  EXPECT_EQ(CommandLines::check("check: ETH funding is negative"), "ETH funding is negative");
  EXPECT_EQ(CommandLines::check("check:   "), std::nullopt);
  EXPECT_EQ(CommandLines::check("checklist: x"), std::nullopt);
  EXPECT_TRUE(CommandLines::cancelsScheduledTasks("cancel scheduled tasks"));
  EXPECT_TRUE(CommandLines::cancelsScheduledTasks("Delete all the scheduled tasks"));
  EXPECT_FALSE(CommandLines::cancelsScheduledTasks("show scheduled tasks"));
  EXPECT_EQ(CommandLines::steps(" buy SOL for 5 USDC THEN  stake 1 SOL then sweep dust "),
            (std::vector<std::string>{"buy SOL for 5 USDC", "stake 1 SOL", "sweep dust"}));
  EXPECT_EQ(CommandLines::steps("send 5 USDC to Athens"), (std::vector<std::string>{"send 5 USDC to Athens"}));
}

}  // namespace
}  // namespace orwenna
