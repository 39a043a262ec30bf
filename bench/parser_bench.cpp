// The whole parser chain over realistic command lines and chat messages: each
// line goes through the parsers in the router's order until one reads it (or
// none does), as canRun does for every model answer.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "language/chat_words.h"
#include "language/command_reader.h"

namespace {

using namespace orwenna;

const MarketNames& markets() {
  static const MarketNames names = [] {
    MarketNames n = {"BTC", "ETH", "SOL", "HYPE", "NEAR", "LINK", "kPEPE", "kBONK", "CL", "BRENTOIL", "GOLD",
                     "SILVER", "DOGE", "AVAX", "SUI", "ARB", "OP", "TIA", "WIF", "JUP", "xyz:TSLA", "xyz:NVDA"};
    // A realistic market list is a couple of hundred names.
    for (int i = 0; i < 180; ++i) {
      std::string name = std::to_string(i);
      name.insert(name.begin(), 'T');
      name.push_back('X');
      n.push_back(name);
    }
    return n;
  }();
  return names;
}

std::vector<std::string> corpus() {
  const std::vector<std::string> templates = {
      "long BTC risk $50 stop 2% take 3R leverage 5x",
      "short ETH risk 20 stop 1,5% take 4% by the book",
      "лонг эфир риск 5 стоп 2%",
      "шорт нефть риск 30 стоп 3% плечо 3х",
      "long kPEPE 200 USDC stop 5% trailing 2%",
      "risk 100",
      "take 5%",
      "limit 61000",
      "stop 1.2%",
      "buy SOL for 10 USDC",
      "купи SOL на 25 usdc",
      "sell 1.5 SOL",
      "buy BONK on solana for 5 USDC",
      "buy SOL for 10 USDC every day",
      "Jupiter DCA 100 USDC into JUP in 5 orders every day",
      "withdraw 100 USDC to Solana",
      "lend 50 USDC",
      "deposit 100 USDC to kamino",
      "stake 3 SOL",
      "spread 1000 USDC across the best rates max 40% per protocol without kamino",
      "lend 100 USDC on Aave on base",
      "move 100 USDC from Base to Solana",
      "переведи 40 usdc с бейса на арбитрум",
      "send 5 USDC to Mom",
      "send 0.5 SOL to Alice",
      "send all BONK on solana to Alice",
      "buy TSLA stock for 100 USDC",
      "buy AERO on base for 20 USDC",
      "swap 1 ETH for WBTC on arbitrum",
      "swap 2 ETH on base for SOL on solana",
      "add gas on arbitrum for 3 USDC",
      "pay POST https://api.example.com/v1/run {\"q\": \"weather\"}",
      "sweep dust under $3",
      "revoke approval of 0x833589fCD6eDb6E08f4c7C32D4f71b54bdA02913 to "
      "0x000000000022D473030F116dDEE9F6B43aC78BA3 on base",
      "call base 0x833589fCD6eDb6E08f4c7C32D4f71b54bdA02913 transfer(address,uint256) me 1000000",
      "close half",
      "move stop to 61500",
      "перенеси стоп на 2450",
      "trail 1.5%",
      "stop to breakeven",
      "save 0x833589fCD6eDb6E08f4c7C32D4f71b54bdA02913 as Mom",
      "watch token DezXAZ8z7PnrnRJjz3wXBoRgixCa6xjnB7YaB1pPB263 on solana",
      "remember: I keep savings in USDC",
      "chart ETH week",
      "movers",
      "save this canvas to the folder Trading",
      "PnL this week for BTC",
      "when ETH below 2500: long ETH risk 10",
      "every day at 9:00: buy SOL for 10 USDC",
      "check: ETH funding is negative",
      "hello, how are you?",
      "what do you think about SOL right now?",
      "сколько стоит биткоин?",
  };
  std::vector<std::string> lines;
  // Vary the numbers so the corpus holds a few hundred distinct lines.
  for (int round = 0; round < 6; ++round) {
    for (const std::string& t : templates) {
      std::string line = t;
      for (char& c : line) {
        if (c >= '1' && c <= '8' && round > 0) c = static_cast<char>(c + (round % 2));
      }
      lines.push_back(line);
    }
  }
  return lines;
}

void BM_ParserChainPerLine(benchmark::State& state) {
  const std::vector<std::string> lines = corpus();
  std::optional<TradeIntent> plan = IntentParser::parse("long BTC risk 50 stop 2%", markets(), std::nullopt);
  std::size_t i = 0;
  std::size_t read = 0;
  for (auto _ : state) {
    const std::string& line = lines[i];
    i = (i + 1) % lines.size();
    for (const std::string& step : CommandLines::steps(line)) {
      auto command = CommandReader::read(step, markets(), plan);
      read += command.has_value();
      benchmark::DoNotOptimize(command);
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  state.counters["lines"] = static_cast<double>(lines.size());
  benchmark::DoNotOptimize(read);
}
BENCHMARK(BM_ParserChainPerLine)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_ChatWordsPerMessage(benchmark::State& state) {
  const std::vector<std::string> messages = {"yes", "да, давай", "no", "не надо", "yes, but 200", "dale",
                                             "what do you think?", "cancel it please"};
  std::size_t i = 0;
  for (auto _ : state) {
    const std::string& m = messages[i];
    i = (i + 1) % messages.size();
    benchmark::DoNotOptimize(ChatWords::isYes(m) || ChatWords::isCancel(m) || ChatWords::changeWords(m));
  }
}
BENCHMARK(BM_ChatWordsPerMessage)->Unit(benchmark::kMicrosecond);

}  // namespace
