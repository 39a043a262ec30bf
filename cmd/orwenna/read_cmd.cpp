// orwenna read [--provider ID] [--model ID] [--evm ADDRESS] [--solana ADDRESS] MESSAGE
//   (the hosted second check joins in when ORWENNA_OPENROUTER_KEY holds its key)
// orwenna exam [--provider ID] [--model ID]
//
// Reads one chat message with the connected model, as the chat would, and
// prints the reading as JSON with the lookups the model made (and, for a
// question, the answer from the user's facts); or runs the fixed exam of
// messages and prints how many the model read right.
#include <cstdlib>
#include <iostream>
#include <memory>
#include <mutex>

#include "app/agent.h"
#include "app/gas_lookup.h"
#include "app/market_lookup.h"
#include "app/model_exam.h"
#include "app/raw_reads.h"
#include "base/clock.h"
#include "base/http.h"
#include "base/log.h"
#include "router/chat_router.h"
#include "trading/fmt.h"
#include "hyperliquid/info.h"
#include "language/intent_parser.h"
#include "app/solana_balance.h"
#include "llm/providers.h"
#include "orwenna/command.h"
#include "platform/credential_store.h"

namespace orwenna::cmd {
namespace {

struct Chosen {
  std::shared_ptr<LLMClient> client;
  std::string model;
};

Chosen connect(const std::string& providerID, const std::string& modelID) {
  LLMEnvironment environment{CurlHttpClient::shared(), SystemClock::shared(), SecureRandom::shared(),
                             FileCredentialStore::shared()};
  auto providers = makeProviders(environment);
  LLMCredentials credentials{FileCredentialStore::shared()};
  LLMProvider* chosen = nullptr;
  std::optional<Credential> credential;
  for (auto& p : providers) {
    const ProviderInfo& info = p->info();
    if (!providerID.empty()) {
      if (info.id != providerID) continue;
      chosen = p.get();
      credential = credentials.load(info.id);
      break;
    }
    if (info.unavailable || info.kind == ProviderKind::local) continue;
    if ((credential = credentials.load(info.id))) {
      chosen = p.get();
      break;
    }
  }
  if (!chosen) {
    throw CommandFailure(providerID.empty()
                             ? "No model provider is connected. Run `orwenna login PROVIDER` first, or pass --provider."
                             : "There is no model provider \"" + providerID + "\".");
  }
  const ProviderInfo& info = chosen->info();
  if (info.unavailable) throw CommandFailure(*info.unavailable);
  std::string model = modelID.empty() ? info.defaultModel : modelID;
  if (model.empty()) throw CommandFailure(info.name + " has no default model; pick one with --model.");
  return Chosen{chosen->makeClient(credential, model), model};
}

Hyperliquid::InfoApi infoApi() {
  return {CurlHttpClient::shared(), SystemClock::shared(), Hyperliquid::InfoApi::rootFromEnvironment()};
}

// The market table, read once on first use; lookups of one turn ask for it
// from several threads.
class LazyMarkets {
 public:
  const MarketTable& table() {
    std::call_once(once_, [this] {
      try {
        table_ = Hyperliquid::loadMarketTable(infoApi());
      } catch (const std::exception& e) {
        log::warn("markets not loaded: {}", e.what());
      }
    });
    return table_;
  }

 private:
  std::once_flag once_;
  MarketTable table_;
};

// What the command line can know of the user's money: the balances of the
// addresses it was given. Positions, orders and history live in the app.
class AddressPortfolio final : public Agent::PortfolioSource {
 public:
  explicit AddressPortfolio(Agent::UserAddresses me) : me_(std::move(me)) {}

  Agent::PortfolioSnapshot snapshot() const override {
    Agent::PortfolioSnapshot s;
    s.notRead = {"open positions", "open orders", "closed trades", "alerts", "recurring buys", "recent activity"};
    if (!me_.evm && !me_.solana) s.notRead.insert(s.notRead.begin(), "balances (no --evm or --solana address given)");
    if (me_.evm) {
      try {
        auto b = Hyperliquid::balance(infoApi(), *me_.evm);
        s.balances.push_back("Hyperliquid: " + Fmt::usd(b.accountValue) + " account value, " +
                             Fmt::usd(b.withdrawable) + " withdrawable, " + Fmt::usd(b.spotUSDC) + " spot USDC");
      } catch (const std::exception& e) {
        s.notRead.push_back(std::string("the Hyperliquid balance (") + e.what() + ")");
      }
    }
    if (me_.solana) {
      try {
        auto b = Solana::balance({CurlHttpClient::shared(), Solana::RpcNode::urlFromEnvironment()}, *me_.solana);
        std::string line = "Solana wallet: " + b.usdc.toString() + " USDC, " + b.sol.toString() + " SOL";
        if (!b.tokens.empty()) line += ", " + std::to_string(b.tokens.size()) + " other tokens";
        s.balances.push_back(line);
      } catch (const std::exception& e) {
        s.notRead.push_back(std::string("the Solana balance (") + e.what() + ")");
      }
    }
    return s;
  }

 private:
  Agent::UserAddresses me_;
};

struct ReadTools {
  Agent::UserAddresses me;
  LazyMarkets markets;
  AddressPortfolio portfolio;

  explicit ReadTools(Agent::UserAddresses addresses) : me(std::move(addresses)), portfolio(me) {}

  Agent::Lookups lookups() {
    std::map<std::string, Agent::LookupHandler> tools;
    tools["portfolio"] = Agent::portfolioLookup(portfolio);
    tools["movers"] = [this](const std::string&) { return Agent::movers(markets.table()); };
    tools["market"] = Agent::marketLookupHandler([this] {
      Agent::MarketLookupInputs in;
      in.markets = &markets.table();
      in.policy = RiskPolicy::load();
      // Positions are not read here, so the open-risk rule has nothing to add.
      in.openRisk = Decimal(0);
      if (me.evm) {
        try {
          in.equity = Hyperliquid::balance(infoApi(), *me.evm).accountValue;
        } catch (const std::exception& e) {
          log::warn("capital not read: {}", e.what());
        }
      }
      in.atrPct = [](const std::string& coin) -> std::optional<Decimal> { return Hyperliquid::atrPct(infoApi(), coin); };
      return in;
    });
    tools["gas"] = Agent::gasLookupHandler(
        {CurlHttpClient::shared(), SystemClock::shared(),
         [this](const std::string& coin) -> std::optional<Decimal> {
           if (const Market* m = markets.table().find(coin)) return m->markPx;
           return std::nullopt;
         },
         {}});
    tools["hl"] = Agent::hlLookup(infoApi(), me);
    tools["rpc"] = Agent::rpcLookup({CurlHttpClient::shared(), SystemClock::shared(), me, std::nullopt, {}});
    tools["fetch"] = Agent::fetchLookup(Agent::FetchPolicy::publicDataApis(), CurlHttpClient::shared(), me);
    return Agent::Lookups(std::move(tools));
  }
};

void registerExam(CLI::App& app) {
  auto* cmd = app.add_subcommand("exam", "Score the connected model on the fixed set of chat messages");
  auto provider = std::make_shared<std::string>();
  auto model = std::make_shared<std::string>();
  cmd->add_option("--provider", *provider, "Provider id (default: the first connected one)");
  cmd->add_option("--model", *model, "Model id (default: the provider's default model)");
  cmd->callback([provider, model] {
    Chosen c = connect(*provider, *model);
    auto result = ModelExam::run(ChatRouter::askWith(*c.client, c.model), SystemClock::shared());
    std::cout << result.passed << "/" << result.total << " in " << result.seconds << " s\n";
    for (const auto& miss : result.misses) std::cout << "  missed: " << miss << '\n';
  });
}

void registerRead(CLI::App& app) {
  auto* cmd = app.add_subcommand("read", "Read one chat message with the connected model and print the reading");
  struct Options {
    std::string provider, model, message, evm, solana;
  };
  auto o = std::make_shared<Options>();
  cmd->add_option("--provider", o->provider, "Provider id (default: the first connected one)");
  cmd->add_option("--model", o->model, "Model id (default: the provider's default model)");
  cmd->add_option("--evm", o->evm, "Your EVM / Hyperliquid address, for the portfolio and \"me\" in reads");
  cmd->add_option("--solana", o->solana, "Your Solana address, for the portfolio and \"{solana}\" in reads");
  cmd->add_option("MESSAGE", o->message, "The chat message")->required();
  cmd->callback([o] {
    Chosen c = connect(o->provider, o->model);
    std::shared_ptr<LLMClient> client = c.client;
    const std::string& model = c.model;

    ChatRouter::Context context = ChatRouter::Context::makeDefault(SystemClock::shared());
    context.replyLanguage = ChatRouter::replyLanguage(ChatRouter::ChatLanguage::auto_, {o->message});
    context.memory = Agent::Memory::load(Defaults::standard()).phrases();
    ChatRouter::Callbacks callbacks;
    callbacks.ask = ChatRouter::askWith(*client, model);
    Agent::UserAddresses me;
    if (!o->evm.empty()) me.evm = o->evm;
    if (!o->solana.empty()) me.solana = o->solana;
    auto tools = std::make_shared<ReadTools>(me);
    callbacks.lookup = tools->lookups().callback();
    callbacks.canRun = [tools](const std::string& line) { return ChatRouter::canRun(line, tools->markets.table().names()); };
    // The hosted second check joins the model's reader when its key is given.
    std::optional<std::string> checkKey;
    if (const char* key = std::getenv("ORWENNA_OPENROUTER_KEY"); key && *key) checkKey = key;
    auto classifier = std::make_shared<SecondCheckClassifier>(CurlHttpClient::shared(), checkKey);
    callbacks.secondReader =
        Agent::bothReaders(Agent::secondReader(callbacks.ask, o->message, context),
                           [classifier, reader = Agent::classifierReader(*classifier, {}, o->message)](
                               const std::string& command) { return reader(command); });
    try {
      ChatRouter::Reading reading = ChatRouter::read(o->message, context, callbacks);
      Json out = toJson(reading);
      if (reading.route.kind == ChatRouter::Route::Kind::question) {
        // The facts hold the by-the-book trade of the market the question names.
        std::optional<std::string> marketBlock;
        if (auto coin = IntentParser::asset(o->message, tools->markets.table().names()))
          marketBlock = tools->lookups().run("market", *coin);
        out["answer"] = Agent::answerQuestion(o->message, context.replyLanguage, tools->portfolio.snapshot(),
                                              marketBlock, callbacks.ask);
      }
      std::cout << out.dump(2) << '\n';
    } catch (const ChatRouter::Unreadable& e) {
      throw CommandFailure(std::string(e.what()) + " The model wrote: " + e.reply);
    }
  });
}

const CommandRegistrar readRegistrar{registerRead};
const CommandRegistrar examRegistrar{registerExam};

}  // namespace
}  // namespace orwenna::cmd
