// `orwenna trade "LINE"`: a trade line as the chat would carry it out. Without
// --confirm it prepares (nothing is signed) and prints the steps and changes
// of the card; with --confirm it performs them, the signer's own prompt being
// the real gate. The endpoints in use apply; --testnet (or the "testnet"
// setting) trades on Hyperliquid's testnet.
#include <iostream>
#include <memory>
#include <string>

#include "app/app_executor.h"
#include "app/services.h"
#include "base/files.h"
#include "base/json.h"
#include "base/text.h"
#include "hyperliquid/info.h"
#include "language/intent_parser.h"
#include "orwenna/command.h"
#include "trading/review.h"
#include "trading/risk_policy.h"

namespace orwenna::cmd {
namespace {

struct TradeOptions {
  std::string line;
  std::string evm, solana;
  bool json = false;
  bool confirm = false;
  bool testnet = false;
};

void runTrade(const TradeOptions& o) {
  AppPaths paths = AppPaths::fromEnvironment();
  paths.ensureExist();
  const Services services = Services::fromProcess();
  const bool testnet = o.testnet || services.hyperliquidTestnet;
  const Hyperliquid::InfoApi info{services.http, services.clock, services.endpoints.hyperliquid.root(!testnet)};
  MarketTable table = Hyperliquid::loadMarketTable(info);
  std::optional<TradeIntent> asked = IntentParser::parse(o.line, table.names(), std::nullopt);
  if (!asked || asked->asset.empty()) throw CommandFailure("Can't read «" + o.line + "» as a trade on a market.");
  const Market* market = table.find(asked->asset);
  if (!market) throw CommandFailure("Hyperliquid has no " + asked->asset + " market.");
  Review r = review(*asked, market, std::nullopt, RiskPolicy::load(), std::nullopt);
  if (!r.evaluation.missing.empty()) {
    throw CommandFailure("The plan isn't ready: missing " + text::join(r.evaluation.missing, ", ") + ".");
  }
  if (r.evaluation.problem) throw CommandFailure(*r.evaluation.problem);

  TradeDesk desk(services, {SignerLocation::forApp(paths), paths.dataDir, {o.solana, o.evm}, testnet, nullptr,
                            [&o](const std::string& line) {
                              if (!o.json) std::cout << line << '\n' << std::flush;
                            }});
  Executor& executor = desk.executor();
  Executor::Prepared p = executor.prepare(r.rules.intent, *market, *r.evaluation.sizing);
  Json out{{"command", r.rules.intent.command()}, {"steps", p.steps}, {"changes", p.changes}};
  if (!o.json) {
    std::cout << r.rules.intent.command() << (testnet ? " (testnet)" : "") << "\nSteps:\n";
    for (const auto& s : p.steps) std::cout << "  " << s << '\n';
    std::cout << "Changes:\n";
    for (const auto& c : p.changes) std::cout << "  " << c << '\n';
  }
  if (o.confirm) {
    Executor::Opened opened = executor.perform(p);
    if (!o.json)
      for (const auto& line : opened.lines) std::cout << line << '\n';
    out["opened"] = {{"asset", opened.asset},
                     {"size", opened.size.toString()},
                     {"entry", opened.entry.toString()},
                     {"stop", opened.stop.toString()},
                     {"pending", opened.pending},
                     {"protected", opened.protectedByStop},
                     {"lines", opened.lines}};
    if (opened.take) out["opened"]["take"] = opened.take->toString();
  } else if (!o.json) {
    std::cout << "Nothing was signed. Add --confirm to carry it out.\n";
  }
  if (o.json) std::cout << out.dump(2) << '\n';
}

CommandRegistrar tradeRegistrar([](CLI::App& app) {
  auto o = std::make_shared<TradeOptions>();
  CLI::App* trade = app.add_subcommand("trade", "prepare a trade line (nothing signed); --confirm carries it out");
  trade->add_option("LINE", o->line, "the trade, e.g. \"long ETH risk $20 stop 2% take 4% leverage 5x\"")->required();
  trade->add_flag("--json", o->json, "print JSON");
  trade->add_flag("--confirm", o->confirm, "perform it: the signer asks before it signs");
  trade->add_flag("--testnet", o->testnet, "trade on Hyperliquid's testnet");
  trade->add_option("--evm", o->evm, "the Hyperliquid account (default: the signer's active wallet)");
  trade->add_option("--solana", o->solana, "the Solana wallet that funds it (default: the signer's)");
  trade->callback([o] { runTrade(*o); });
});

}  // namespace
}  // namespace orwenna::cmd
