// `orwenna pnl [PERIOD] [--asset COIN] [--json] --hl ADDRESS`: the profit and
// loss of an account's period (day, week, month, all) from Hyperliquid's own
// records, as the chat would answer it. Each run records the account's value
// in data/portfolio-history.json, which later runs measure the change from.
#include <iostream>
#include <memory>
#include <string>

#include "app/services.h"
#include "base/files.h"
#include "hyperliquid/history.h"
#include "orwenna/command.h"
#include "trading/fmt.h"

namespace orwenna::cmd {
namespace {

struct PnLOptions {
  std::string period = "day";
  std::string asset;
  std::string address;
  bool json = false;
  bool testnet = false;
};

void runPnL(const PnLOptions& o) {
  auto period = PnL::periodFromName(o.period);
  if (!period) throw CommandFailure("The period is day, week, month or all, not «" + o.period + "».");
  AppPaths paths = AppPaths::fromEnvironment();
  paths.ensureExist();
  const Services services = Services::fromProcess();
  const bool testnet = o.testnet || services.hyperliquidTestnet;
  const Hyperliquid::InfoApi info{services.http, services.clock, services.endpoints.hyperliquid.root(!testnet)};
  PortfolioHistory history(paths.dataDir / "portfolio-history.json");
  std::optional<std::string> coin;
  if (!o.asset.empty()) coin = o.asset;
  PnL::Report report = HyperliquidHistory::pnlReport(info, o.address, *period, coin, &history);
  if (o.json) {
    Json out = PnL::toJson(report);
    out["text"] = PnL::text(report);
    std::cout << out.dump(2) << '\n';
    return;
  }
  for (const auto& line : PnL::text(report)) std::cout << line << '\n';
  for (const auto& a : report.byAsset) {
    std::cout << "  " << a.coin << ": " << Fmt::signedUsd(a.realized) << ", " << a.closedTrades << " closed\n";
  }
}

CommandRegistrar pnlRegistrar([](CLI::App& app) {
  auto o = std::make_shared<PnLOptions>();
  CLI::App* pnl = app.add_subcommand("pnl", "profit and loss of a period from Hyperliquid's records");
  pnl->add_option("PERIOD", o->period, "day, week, month or all (default day)");
  pnl->add_option("--asset", o->asset, "one coin only, e.g. ETH");
  pnl->add_option("--hl", o->address, "the Hyperliquid account's 0x address")->required();
  pnl->add_flag("--json", o->json, "print JSON");
  pnl->add_flag("--testnet", o->testnet, "read Hyperliquid's testnet");
  pnl->callback([o] { runPnL(*o); });
});

}  // namespace
}  // namespace orwenna::cmd
